// The driver's start-up and orderly end: --help and --version, settings,
// single instance, port selection, log with its start block, wire trace,
// polling timer, port, tray icon; then the event loop until the exit; then the
// stop line.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "link/printer_link.h"
#include "os/os.h"
#include "ovixnova_version.h"
#include "qt/qt_driver_host.h"
#include "qt/qt_event_pump.h"
#include "qt/qt_serial_port.h"
#include "qt/test_operator.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "shell/wire_trace.h"
#include "spool/receipt_spool.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ovix {
namespace {

constexpr char kUsage[] =
    "Usage: ovixnova [--help | --version]\n"
    "\n"
    "Print driver for a fiscal cash register on a serial port. It runs in the\n"
    "notification area, takes the receipt files that a point-of-sale program\n"
    "writes into the spool directory, prints them on the register and files them\n"
    "into the OK or the error directory, writing what it does to LOG.OVX in the\n"
    "spool directory. It reads its settings from OVIX.INI in the program's\n"
    "directory, beside the executable.\n"
    "\n"
    "Options:\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

// --help and --version, answered on standard output before any Qt object
// exists, so that they need no display. The exit status when an argument is
// one of them (the first such argument counts), else nothing.
std::optional<int> AnswerInformationOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("ovixnova %d.%d.%d\n", OVIXNOVA_VERSION_MAJOR, OVIXNOVA_VERSION_MINOR,
                  OVIXNOVA_VERSION_PATCH);
      return 0;
    }
  }
  return std::nullopt;
}

// Reports a start-up failure on standard error and, where a display exists, in
// a message box.
int FailStartup(const QString& message) {
  std::fprintf(stderr, "ovixnova: %s\n", message.toLocal8Bit().constData());
  if (QGuiApplication::platformName() != "offscreen" &&
      QGuiApplication::platformName() != "minimal") {
    QMessageBox::critical(nullptr, "OVIXNOVA", message);
  }
  return 1;
}

#ifndef _WIN32
int signalPipe[2] = {-1, -1};
void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}
#endif

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
#ifndef _WIN32
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
#endif
  return notifier;
}

// The driver from the port's opening to its end; returns the exit status.
int RunDriver(QApplication& app, const DriverSettings& settings, const std::string& device,
              const EventLog& log) {
  QtSerialPort port;
  SteadyClock clock;
  QtEventPump pump;
  const std::unique_ptr<WireTrace> trace = StartWireTrace(settings, log);
  PrinterLink link(port, clock, pump);
  link.SetObserver(trace.get());
  port.onByte = [&link](std::uint8_t b) { link.OnByte(b); };
  QtDriverHost host;
  ReceiptSpool spool(settings, link, log, host, clock, [] { return LocalTimestampNow(); });
  host.Attach(&spool);
  StartTestOperator(host);
  QObject::connect(&port, &QtSerialPort::portError, &host,
                   [&spool](const QString& reason) { spool.OnPortError(reason.toStdString()); });
  spool.RecoverInterruptedJob();

  // The port is opened before the polling timer starts, so that nothing runs
  // behind the message of a port that cannot be opened.
  std::string error;
  if (!port.Open(device, &error)) {
    return FailStartup(QString("Portul serial %1 nu poate fi deschis: %2")
                           .arg(QString::fromStdString(device), QString::fromStdString(error)));
  }
  link.StartReceiving();
  host.StartTimer();
  host.AddTrayIcon();
  onStop = [&host] { host.RunExitSequence(); };

  app.exec();
  if (host.MainUnloaded()) log.WriteLines(StopLines(LocalTimestampNow()));
  // An About box still open keeps the program until it is clicked away.
  if (QDialog* about = host.AboutWindow()) {
    QObject::connect(about, &QObject::destroyed, &app, &QCoreApplication::quit);
    onStop = [] { QCoreApplication::quit(); };
    app.exec();
  }
  onStop = [] {};
  return 0;
}

int Run(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  const std::unique_ptr<QSocketNotifier> stopNotifier = RouteStopRequests(app);
  std::setlocale(LC_TIME, "");

  // The program directory in the platform's own spelling (ANSI code page and
  // backslashes on Windows; unchanged on Linux).
  const std::string programDir =
      QFile::encodeName(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()))
          .toStdString();
  const DriverSettings settings = LoadDriverSettings(ProgramIniPath(programDir));
  // A second copy for this program directory or this spool ends here, before
  // it touches the log, the job record or the spool.
  if (!TakeInstanceLocks(InstanceLockNames(programDir, settings))) return 0;

  const std::string device = SerialDeviceName(settings.COM);
  if (device.empty()) {
    return FailStartup(QString("Portul serial COM=%1 nu poate fi folosit: numar de port invalid.")
                           .arg(QString::fromStdString(settings.COM)));
  }

  const EventLog log(NativeDirectory(settings.BONDIR) + std::string(kLogFileName));
  log.RotateAtStartup();
  std::string error;
  if (!log.WriteLines(StartBlock(settings, LocalTimestampNow()), &error)) {
    return FailStartup(QString("Jurnalul %1 nu poate fi scris: %2")
                           .arg(QString::fromStdString(log.Path()), QString::fromStdString(error)));
  }
  return RunDriver(app, settings, device, log);
}

}  // namespace
}  // namespace ovix

int main(int argc, char** argv) {
  if (const std::optional<int> status = ovix::AnswerInformationOption(argc, argv)) return *status;
  return ovix::Run(argc, argv);
}
