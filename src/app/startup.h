// The driver's start-up up to the event loop, without any window: the
// information options, the settings, the single instance, the port's name,
// the log with its start block; and the one kind of failure that stops it,
// which the front end only shows.
#pragma once

#include <optional>
#include <string>

#include "shell/event_log.h"
#include "shell/settings.h"

namespace ovix {

// Why the driver cannot start, with the operator's message (Romanian, built
// here once); the front end prints it on standard error and shows it.
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
// log's path; `reason` the system's reason (unused for an invalid port).
StartupFailure MakeStartupFailure(StartupFailure::Kind kind, const std::string& subject,
                                  const std::string& reason = {});

// --help and --version, answered on standard output before anything else, so
// that they need no display. The exit status when an argument is one of them
// (the first such argument counts), else nothing.
std::optional<int> AnswerInformationOption(int argc, char** argv);

// What the start-up found: a driver ready to run, or the end of this copy.
struct Startup {
  enum class Outcome {
    Ready,           // settings, device and log are set
    AlreadyRunning,  // another copy serves this program directory or spool: end quietly
    Failed,          // `failure` says why
  };
  Outcome outcome = Outcome::Failed;
  DriverSettings settings;
  std::string device;
  std::optional<EventLog> log;
  std::optional<StartupFailure> failure;
};

// Reads OVIX.INI from `programDir` (in the system's own spelling), takes the
// instance locks (a second copy ends here, before it touches the log, the job
// record or the spool), names the serial device and starts the log: rotated,
// with its start block written.
Startup PrepareStartup(const std::string& programDir);

}  // namespace ovix
