// The driver's start-up and orderly end with the Windows front end: the
// application layer's start-up, the Win32 adapters and host; then the message
// loop until the exit; then the stop line.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/driver.h"
#include "app/startup.h"
#include "win32/command_line.h"
#include "win32/test_operator.h"
#include "win32/win32_dialogs.h"
#include "win32/win32_event_pump.h"
#include "win32/win32_host.h"
#include "win32/win32_serial_port.h"

namespace ovix {
namespace {

std::string ProgramDirectory() {
  char path[MAX_PATH * 4] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string executable(path, length);
  const std::size_t slash = executable.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : executable.substr(0, slash);
}

// Reports a start-up failure on standard error and in a message box; the
// scripted operator of the tests answers no box, so there it only prints.
int FailStartup(const StartupFailure& failure) {
  std::fprintf(stderr, "ovixnova: %s\n", failure.message.c_str());
  std::fflush(stderr);
  if (!TestOperatorRuns())
    MessageBoxA(nullptr, failure.message.c_str(), "OVIXNOVA",
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

// The driver from the port's opening to its end; returns the exit status.
int RunDriver(const Startup& startup) {
  Win32Host host;
  Win32SerialPort port(host.MainWindow());
  Win32EventPump pump;
  pump.preTranslate = &win32::PreTranslateDialogMessage;
  host.AttachPort(&port);
  Driver driver(startup, port, pump, host);
  StartTestOperator(host);
  if (const std::optional<StartupFailure> failure = driver.Start()) return FailStartup(*failure);
  host.onSessionEnd = [&driver] { driver.WriteStopLine(); };

  pump.Run();
  driver.WriteStopLine();
  WaitForAboutBox(host);
  return 0;
}

int Run() {
  const Startup startup = PrepareStartup(SystemEnv(), ProgramDirectory());
  if (startup.outcome == Startup::Outcome::AlreadyRunning) return 0;
  if (startup.failure) return FailStartup(*startup.failure);
  return RunDriver(startup);
}

}  // namespace
}  // namespace ovix

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ovix::UseStartingConsole();
  if (__argc >= 2 && std::strcmp(__argv[1], "--stop") == 0)
    return ovix::StopDriversOf(__argc >= 3 ? __argv[2] : ovix::ProgramDirectory());
  const ovix::ExtraOption stop{
      "--stop [DIR]",
      "  --stop [DIR]  ask the driver running from program directory DIR (by\n"
      "                default this program's) to end in order, wait for it\n"
      "                (30 s at most) and exit: status 0 when none runs there\n"
      "                any more, 1 when it still runs\n"};
  if (const std::optional<int> status = ovix::AnswerInformationOption(__argc, __argv, stop))
    return *status;
  return ovix::Run();
}
