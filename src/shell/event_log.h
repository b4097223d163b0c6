// The driver's plain-text event log: every line is appended with its own
// open, write and close, ended by CR LF, so other programs may read or delete
// the file between two writes.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "os/env.h"
#include "shell/settings.h"

namespace ovix {

// Name of the log in the spool directory.
inline constexpr std::string_view kLogFileName = "LOG.OVX";
// Name of the wire trace beside the log, written only when the trace is on.
inline constexpr std::string_view kTraceFileName = "TRACE.OVX";
// Name of the one older part of the wire trace kept beside it. The leading dot
// keeps it out of every spool scan, whatever the mask.
inline constexpr std::string_view kOldTraceFileName = ".TRACE.OVX.OLD";
// The wire trace is moved to kOldTraceFileName, replacing the one there, and
// begun afresh before a line would take it past this many bytes.
inline constexpr std::uintmax_t kTraceSizeLimit = 4'000'000;
// A log larger than this many bytes is deleted at start-up.
inline constexpr std::uintmax_t kLogSizeLimit = 1'000'000;

class EventLog {
 public:
  // `path` is the native path of the log file, reached through `env`, which
  // must outlive the log.
  EventLog(Env& env, std::string path) : env_(env), path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  // Appends each line followed by CR LF in one opening of the file, creating
  // it when missing (shared with the spool's group: Env::NewAppendableFile).
  // Returns false when the file cannot be opened or written, with the reason
  // in *error; the caller decides whether that matters.
  bool WriteLines(const std::vector<std::string>& lines, std::string* error = nullptr) const;
  bool WriteLogLine(std::string_view line, std::string* error = nullptr) const {
    return WriteLines({std::string(line)}, error);
  }

  // Start-up rotation: RotateFileAtStartup of the log.
  void RotateAtStartup() const;

 private:
  Env& env_;
  std::string path_;
};

// Start-up rotation of the log (the wire trace has its own, in wire_trace.h):
// deletes the file at the native path `path` when it is a regular file of more
// than kLogSizeLimit bytes. Nothing is kept of it; failures are ignored.
void RotateFileAtStartup(Env& env, const std::string& path);

// The lines written at start-up: 60 asterisks, the start line, an empty line
// and the configuration dump of the settings as loaded and corrected.
std::vector<std::string> StartBlock(const DriverSettings& settings, std::string_view timestamp);

// The lines written when the driver ends in order: the stop line and an empty line.
std::vector<std::string> StopLines(std::string_view timestamp);

// LocalTimestamp (os/os.h) of the Env's present moment.
std::string LocalTimestampNow(Env& env);

}  // namespace ovix
