// The driver's start-up and orderly end with the Windows front end: the
// command line, the application layer's start-up, the Win32 adapters and
// host; then the message loop until the exit; then the stop line.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/driver.h"
#include "app/startup.h"
#include "os/os.h"
#include "win32/command_line.h"
#include "win32/test_operator.h"
#include "win32/win32_dialogs.h"
#include "win32/win32_event_pump.h"
#include "win32/win32_host.h"
#include "win32/win32_serial_port.h"

namespace ovix {
namespace {

std::string ProgramDirectory() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  const std::filesystem::path directory = std::filesystem::path(path).parent_path();
  const std::optional<std::string> text = TextFromPath(directory);
  return directory.empty() || !text ? std::string(".") : *text;
}

// The arguments after the program's name, as text.
std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i)
    args.push_back(TextFromPath(std::filesystem::path(wide[i])).value_or(""));
  if (wide) LocalFree(wide);
  return args;
}

// Reports a start-up failure on standard error and in a message box; the
// scripted operator of the tests answers no box, so there it only prints.
// The box is the program's only window then, which a stop request closes.
int FailStartup(const StartupFailure& failure) {
  std::fprintf(stderr, "ovixnova: %s\n", failure.message.c_str());
  std::fflush(stderr);
  if (!TestOperatorRuns())
    MessageBoxW(nullptr, PathFromText(failure.message).wstring().c_str(), L"OVIXNOVA",
                MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
  return 1;
}

// The message loop runs on while an About box is open: it keeps the program
// until the operator clicks it away.
void WaitForAboutBox(Win32Host& host) {
  MSG msg;
  while (host.AboutWindow() && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (win32::PreTranslateDialogMessage(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The driver from the port's opening to its end: the exit status, or the
// failure of its start, which the caller shows once the host and its main
// window are gone.
std::optional<StartupFailure> RunDriver(const Startup& startup) {
  Win32Host host;
  Win32SerialPort port(host.MainWindow());
  Win32EventPump pump;
  pump.preTranslate = &win32::PreTranslateDialogMessage;
  host.AttachPort(&port);
  Driver driver(startup, port, pump, host);
  StartTestOperator(host);
  if (std::optional<StartupFailure> failure = driver.Start()) return failure;
  host.onSessionEnd = [&driver] { driver.WriteStopLine(); };

  pump.Run();
  driver.WriteStopLine();
  WaitForAboutBox(host);
  return std::nullopt;
}

int Run() {
  const Startup startup = PrepareStartup(SystemEnv(), ProgramDirectory());
  if (startup.outcome == Startup::Outcome::AlreadyRunning) return 0;
  if (startup.failure) return FailStartup(*startup.failure);
  if (const std::optional<StartupFailure> failure = RunDriver(startup))
    return FailStartup(*failure);
  return 0;
}

}  // namespace
}  // namespace ovix

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ovix::UseStartingConsole();
  const std::vector<std::string> args = ovix::Arguments();
  const ovix::ExtraOption stop{
      "--stop", ovix::ExtraOption::Value::Optional, "--stop [DIR]",
      "  --stop [DIR]  cere driverului pornit din directorul de program DIR (implicit\n"
      "             cel al acestui program) sa se opreasca in ordine, il asteapta\n"
      "             (cel mult 30 s) si iese: starea 0 cind nu mai ruleaza niciunul\n"
      "             acolo, 1 cind inca ruleaza (cererea de oprire este atunci\n"
      "             retrasa, daca driverul nu a inceput inca sa se opreasca)\n"};
  if (const std::optional<int> status = ovix::AnswerInformationOption(args, {stop})) return *status;
  if (!args.empty() && args[0] == "--stop")
    return ovix::StopDriversOf(args.size() > 1 ? args[1] : ovix::ProgramDirectory(),
                               ovix::StopWaitMs());
  return ovix::Run();
}
