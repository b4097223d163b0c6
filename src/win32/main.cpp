// The driver's start-up and orderly end on Windows: settings, single instance,
// port selection, log with its start block, wire trace, port, polling timer,
// tray icon; then the message loop until the exit; then the stop line.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "link/printer_link.h"
#include "os/os.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "shell/wire_trace.h"
#include "spool/receipt_spool.h"
#include "win32/test_operator.h"
#include "win32/win32_dialogs.h"
#include "win32/win32_event_pump.h"
#include "win32/win32_host.h"
#include "win32/win32_serial_port.h"

namespace ovix {
namespace {

std::string ExecutablePath() {
  char path[MAX_PATH * 4] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length);
}

// Reports a start-up failure on standard error and in a message box; the
// scripted operator of the tests answers no box, so there it only prints.
int FailStartup(const std::string& message) {
  std::fprintf(stderr, "ovixnova: %s\n", message.c_str());
  std::fflush(stderr);
  if (!GetEnvironmentVariableA("OVIXNOVA_TEST_OPERATOR", nullptr, 0))
    MessageBoxA(nullptr, message.c_str(), "OVIXNOVA", MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
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
int RunDriver(const DriverSettings& settings, const std::string& device, const EventLog& log) {
  const std::unique_ptr<WireTrace> trace = StartWireTrace(settings, log);
  Win32Host host;
  Win32SerialPort port(host.MainWindow());
  SteadyClock clock;
  Win32EventPump pump;
  pump.preTranslate = &win32::PreTranslateDialogMessage;
  PrinterLink link(port, clock, pump);
  link.SetObserver(trace.get());
  port.onByte = [&link](std::uint8_t b) { link.OnByte(b); };
  ReceiptSpool spool(settings, link, log, host, clock, [] { return LocalTimestampNow(); });
  port.onError = [&spool](const std::string& reason) { spool.OnPortError(reason); };
  host.Attach(&spool, &port);
  StartTestOperator(host);
  spool.RecoverInterruptedJob();

  std::string error;
  if (!port.Open(device, &error)) {
    return FailStartup("Portul serial " + device + " nu poate fi deschis: " + error);
  }
  link.StartReceiving();
  host.StartTimer();
  host.AddTrayIcon();
  bool stopWritten = false;
  const auto writeStopLine = [&] {
    if (stopWritten || !host.MainUnloaded()) return;
    stopWritten = true;
    log.WriteLines(StopLines(LocalTimestampNow()));
  };
  host.onSessionEnd = writeStopLine;

  pump.Run();
  writeStopLine();
  WaitForAboutBox(host);
  return 0;
}

int Run() {
  const std::string executable = ExecutablePath();
  const std::size_t slash = executable.find_last_of("\\/");
  const std::string programDir =
      slash == std::string::npos ? std::string(".") : executable.substr(0, slash);
  const DriverSettings settings = LoadDriverSettings(ProgramIniPath(programDir));
  // A second copy for this program directory or this spool ends here, before
  // it touches the log, the job record or the spool.
  if (!TakeInstanceLocks(InstanceLockNames(programDir, settings))) return 0;

  const std::string device = SerialDeviceName(settings.COM);
  if (device.empty()) {
    return FailStartup("Portul serial COM=" + settings.COM +
                       " nu poate fi folosit: numar de port invalid.");
  }
  const EventLog log(NativeDirectory(settings.BONDIR) + std::string(kLogFileName));
  log.RotateAtStartup();
  std::string error;
  if (!log.WriteLines(StartBlock(settings, LocalTimestampNow()), &error)) {
    return FailStartup("Jurnalul " + log.Path() + " nu poate fi scris: " + error);
  }
  return RunDriver(settings, device, log);
}

}  // namespace
}  // namespace ovix

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return ovix::Run();
}
