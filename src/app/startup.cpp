#include "app/startup.h"

#include "os/os.h"

namespace ovix {
namespace {

// The message of each failure: prefix + subject + " (cheia " + key + " din "
// + settings file + ")" + middle + reason.
struct FailureText {
  StartupFailure::Kind kind;
  const char* prefix;
  const char* key;
  const char* middle;
};

constexpr FailureText kFailureTexts[] = {
    {StartupFailure::Kind::InvalidPort, "Portul serial COM=", "COM",
     " nu poate fi folosit: numar de port invalid."},
    {StartupFailure::Kind::PortNotOpened, "Portul serial ", "COM", " nu poate fi deschis: "},
    {StartupFailure::Kind::LogNotWritten, "Jurnalul ", "BONDIR", " nu poate fi scris: "},
};

}  // namespace

StartupFailure MakeStartupFailure(StartupFailure::Kind kind, const std::string& subject,
                                  const std::string& iniPath, const std::string& reason) {
  for (const FailureText& text : kFailureTexts) {
    if (text.kind == kind)
      return {kind, text.prefix + subject + " (cheia " + text.key + " din " + iniPath + ")" +
                        text.middle + reason};
  }
  return {kind, subject + reason};
}

std::string StartupFailureLine(const StartupFailure& failure) {
  return "-> EROARE LA PORNIRE: " + failure.message;
}

std::string SettingsProblemLine(const std::string& iniPath, const std::string& problem) {
  return "-> ATENTIE !! FISIERUL " + iniPath + " " + problem + "; SE FOLOSESC VALORILE IMPLICITE";
}

Startup PrepareStartup(Env& env, const std::string& programDir) {
  Startup startup;
  startup.env = &env;
  startup.iniPath = ProgramIniPath(programDir);
  startup.settings = LoadDriverSettings(env, startup.iniPath, &startup.settingsProblem);
  if (!TakeInstanceLocks(InstanceLockNames(env, programDir, startup.settings))) {
    startup.outcome = Startup::Outcome::AlreadyRunning;
    return startup;
  }
  const EventLog& log = startup.log.emplace(
      env, NativeDirectory(startup.settings.BONDIR) + std::string(kLogFileName));
  log.RotateAtStartup();
  std::string error;
  if (!log.WriteLines(StartBlock(startup.settings, LocalTimestampNow(env)), &error)) {
    startup.failure =
        MakeStartupFailure(StartupFailure::Kind::LogNotWritten, log.Path(), startup.iniPath, error);
    return startup;
  }
  if (!startup.settingsProblem.empty())
    log.WriteLines({SettingsProblemLine(startup.iniPath, startup.settingsProblem)});
  startup.device = SerialDeviceName(startup.settings.COM);
  if (startup.device.empty()) {
    startup.failure = MakeStartupFailure(StartupFailure::Kind::InvalidPort, startup.settings.COM,
                                         startup.iniPath);
    log.WriteLines({StartupFailureLine(*startup.failure), ""});
    return startup;
  }
  startup.outcome = Startup::Outcome::Ready;
  return startup;
}

}  // namespace ovix
