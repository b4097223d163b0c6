// The driver's start-up and orderly end with the Qt front end: the
// application layer's start-up, the Qt adapters and host, stop requests
// routed into the event loop; then the event loop until the exit; then the
// stop line.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSocketNotifier>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "app/command_line.h"
#include "app/driver.h"
#include "app/startup.h"
#include "qt/qt_driver_host.h"
#include "qt/qt_event_pump.h"
#include "qt/qt_serial_port.h"
#include "qt/test_operator.h"

namespace ovix {
namespace {

// Reports a start-up failure on standard error and, where a display exists, in
// a message box.
int FailStartup(const StartupFailure& failure) {
  const QString message = QString::fromStdString(failure.message);
  std::fprintf(stderr, "ovixnova: %s\n", message.toLocal8Bit().constData());
  if (QGuiApplication::platformName() != "offscreen" &&
      QGuiApplication::platformName() != "minimal") {
    QMessageBox::critical(nullptr, "OVIXNOVA", message);
  }
  return 1;
}

int signalPipe[2] = {-1, -1};
void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// What a stop request (SIGTERM, SIGINT, the end of the session) does. Until
// start-up is complete there is nothing to stop in order: a request that
// arrives while a start-up failure is shown ends the process at once, as a
// failure.
std::function<void()> onStop = [] { std::_Exit(1); };

// From here on SIGTERM, SIGINT and the end of the session reach onStop
// through the event loop (signals by a socket pair, so that the handler does
// nothing but write a byte).
std::unique_ptr<QSocketNotifier> RouteStopRequests(QApplication& app) {
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                   [](QSessionManager&) { onStop(); });
  std::unique_ptr<QSocketNotifier> notifier;
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return notifier;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [] {
    char byte;
    [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &byte, 1);
    onStop();
  });
  return notifier;
}

// An About box still open keeps the program until it is clicked away.
void WaitForAboutBox(QApplication& app, QtDriverHost& host) {
  QDialog* about = host.AboutWindow();
  if (!about) return;
  QObject::connect(about, &QObject::destroyed, &app, &QCoreApplication::quit);
  onStop = [] { QCoreApplication::quit(); };
  app.exec();
}

// The driver from the port's opening to its end; returns the exit status.
int RunDriver(QApplication& app, const Startup& startup) {
  QtSerialPort port;
  QtEventPump pump;
  QtDriverHost host;
  Driver driver(startup, port, pump, host);
  StartTestOperator(host);
  if (const std::optional<StartupFailure> failure = driver.Start()) return FailStartup(*failure);
  onStop = [&host] { host.RunExitSequence(); };

  app.exec();
  driver.WriteStopLine();
  WaitForAboutBox(app, host);
  onStop = [] {};
  return 0;
}

// The options Qt itself reads from the command line (QGuiApplication,
// QApplication and the X11 platform), each also written with two dashes:
// the command line accepts them and Qt takes them.
std::vector<ExtraOption> QtOptions() {
  using V = ExtraOption::Value;
  const std::pair<const char*, V> names[] = {
      {"platform", V::Required},
      {"platformpluginpath", V::Required},
      {"platformtheme", V::Required},
      {"plugin", V::Required},
      {"qwindowgeometry", V::Required},
      {"qwindowicon", V::Required},
      {"qwindowtitle", V::Required},
      {"session", V::Required},
      {"style", V::Required},
      {"stylesheet", V::Required},
      {"display", V::Required},
      {"name", V::Required},
      {"qmljsdebugger", V::Required},
      {"reverse", V::None},
      {"widgetcount", V::None},
      {"nograb", V::None},
      {"dograb", V::None},
      {"sync", V::None},
  };
  std::vector<ExtraOption> options;
  for (const auto& [name, value] : names) {
    options.push_back({std::string("-") + name, value, "", ""});
    options.push_back({std::string("--") + name, value, "", ""});
  }
  options.front().help =
      "  -platform NUME, -display X, -style NUME, -session ID si celelalte\n"
      "             optiuni ale Qt (-reverse, -qwindowtitle TITLU, ...): trecute\n"
      "             mai departe la Qt\n";
  return options;
}

int Run(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  const std::unique_ptr<QSocketNotifier> stopNotifier = RouteStopRequests(app);
  std::setlocale(LC_TIME, "");

  const Startup startup = PrepareStartup(
      SystemEnv(), QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
  if (startup.outcome == Startup::Outcome::AlreadyRunning) return 0;
  if (startup.failure) return FailStartup(*startup.failure);
  return RunDriver(app, startup);
}

}  // namespace
}  // namespace ovix

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  if (const std::optional<int> status = ovix::AnswerInformationOption(args, ovix::QtOptions()))
    return *status;
  return ovix::Run(argc, argv);
}
