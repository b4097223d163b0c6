#include "app/startup.h"

#include "os/os.h"

namespace ovix {
namespace {

// The message of each failure: prefix + subject + middle + reason.
struct FailureText {
  StartupFailure::Kind kind;
  const char* prefix;
  const char* middle;
};

constexpr FailureText kFailureTexts[] = {
    {StartupFailure::Kind::InvalidPort,
     "Portul serial COM=", " nu poate fi folosit: numar de port invalid."},
    {StartupFailure::Kind::PortNotOpened, "Portul serial ", " nu poate fi deschis: "},
    {StartupFailure::Kind::LogNotWritten, "Jurnalul ", " nu poate fi scris: "},
};

}  // namespace

StartupFailure MakeStartupFailure(StartupFailure::Kind kind, const std::string& subject,
                                  const std::string& reason) {
  for (const FailureText& text : kFailureTexts) {
    if (text.kind == kind) return {kind, text.prefix + subject + text.middle + reason};
  }
  return {kind, subject + reason};
}

Startup PrepareStartup(const std::string& programDir) {
  Startup startup;
  startup.settings = LoadDriverSettings(ProgramIniPath(programDir));
  if (!TakeInstanceLocks(InstanceLockNames(programDir, startup.settings))) {
    startup.outcome = Startup::Outcome::AlreadyRunning;
    return startup;
  }
  startup.device = SerialDeviceName(startup.settings.COM);
  if (startup.device.empty()) {
    startup.failure = MakeStartupFailure(StartupFailure::Kind::InvalidPort, startup.settings.COM);
    return startup;
  }
  const EventLog& log =
      startup.log.emplace(NativeDirectory(startup.settings.BONDIR) + std::string(kLogFileName));
  log.RotateAtStartup();
  std::string error;
  if (!log.WriteLines(StartBlock(startup.settings, LocalTimestampNow()), &error)) {
    startup.failure = MakeStartupFailure(StartupFailure::Kind::LogNotWritten, log.Path(), error);
    return startup;
  }
  startup.outcome = Startup::Outcome::Ready;
  return startup;
}

}  // namespace ovix
