// The driver's start-up up to the event loop, without any window: the
// settings, the single instance, the port's name,
// the log with its start block; and the one kind of failure that stops it,
// which the front end only shows.
#pragma once

#include <optional>
#include <string>

#include "os/env.h"
#include "shell/event_log.h"
#include "shell/settings.h"

namespace ovix {

// Why the driver cannot start, with the operator's message (Romanian, built
// here once), which names the setting to change and the settings file that
// holds it; the front end prints it on standard error and shows it, and the
// start-up writes it to the event log where the log can be written.
struct StartupFailure {
  enum class Kind {
    InvalidPort,    // COM names no usable port
    PortNotOpened,  // the port cannot be opened
    LogNotWritten,  // the event log cannot be written
  };
  Kind kind;
  std::string message;
};

// The failure of `kind`: `subject` is the COM setting, the device or the
// log's path; `iniPath` the settings file; `reason` the system's reason
// (unused for an invalid port).
StartupFailure MakeStartupFailure(StartupFailure::Kind kind, const std::string& subject,
                                  const std::string& iniPath, const std::string& reason = {});

// The failure's line in the event log: "-> EROARE LA PORNIRE: " and the message.
std::string StartupFailureLine(const StartupFailure& failure);

// The log line of an OVIX.INI that gave only defaults: "-> ATENTIE !!
// FISIERUL " + the file + " " + the problem + "; SE FOLOSESC VALORILE
// IMPLICITE".
std::string SettingsProblemLine(const std::string& iniPath, const std::string& problem);

// What the start-up found: a driver ready to run, or the end of this copy.
struct Startup {
  enum class Outcome {
    Ready,           // settings, device and log are set
    AlreadyRunning,  // another copy serves this program directory or spool: end quietly
    Failed,          // `failure` says why
  };
  Outcome outcome = Outcome::Failed;
  Env* env = nullptr;   // what every file of the driver is reached through; not owned
  std::string iniPath;  // OVIX.INI in the program directory
  DriverSettings settings;
  // Why OVIX.INI gave only defaults although it exists (LoadDriverSettings);
  // empty when it was read or is missing. Logged after the start block and
  // shown in the tray icon's tooltip.
  std::string settingsProblem;
  std::string device;
  std::optional<EventLog> log;
  std::optional<StartupFailure> failure;
};

// Reads OVIX.INI from `programDir` (in the system's own spelling), takes the
// instance locks (a second copy ends here, before it touches the log, the job
// record or the spool), starts the log (rotated, with its start block
// written, then SettingsProblemLine where OVIX.INI gave only defaults) and
// names the serial device; a COM setting that names no port is logged after
// the start block, which shows it. Every file is reached through
// `env` (SystemEnv() in the program), which must outlive the driver.
Startup PrepareStartup(Env& env, const std::string& programDir);

}  // namespace ovix
