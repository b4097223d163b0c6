// The wire trace for support: with TRACE=1 in OVIX.INI every event on the
// register's line goes, one line each, into TRACE.OVX beside the log, so that
// a problem seen in a shop can be read, and replayed on a developer's machine
// by the register simulator (ovix-regsim --replay).
//
// Line format: text, every line ended by CR LF,
//   <date> <time> <event>[ <field>...]
// with the local date and time "YYYY-MM-DD HH:MM:SS.mmm" and fields separated
// by single spaces. Bytes are written as uppercase hex pairs ("10 02 41").
//   TX <bytes>        a command frame as written to the line
//   RX <bytes>        a reply frame as received, from the DLE that opened it to
//                     its DLE ETX, doubled DLEs as on the wire
//   ACK               the acknowledgement (06) written for the RX before it
//   STRAY <bytes>     received bytes that belong to no reply frame (noise, a
//                     frame cut off or dropped); a run of them with no other
//                     event in between shares a line, up to 256 bytes a line
//   WAIT <how> <n>s[ <status>]   the end of the wait after the last TX, n the
//                     wait's limit in seconds (5 or 9): REPLY (a reply came; it
//                     reported no error, or it was not read because the job had
//                     already failed), NOREPLY (n seconds passed without one),
//                     REFUSED (its status byte has an error bit, written in hex,
//                     or it has no status byte) or RELEASED (the exit ended the
//                     wait)
// What is received between a TX and its WAIT is that command's answer. The
// time stamp of a STRAY line is that of its first byte; the line is written
// when the next event comes, when it is full and when the trace ends, so a
// crash loses at most that one line's bytes. A line a crash left open is ended
// before the next start's first line.
//
// The file never grows past kTraceSizeLimit (event_log.h): before a line would
// take it past that, it becomes kOldTraceFileName beside it (replacing the one
// there) and a new file is begun, so the two together hold the latest events.
// A replay of both reads the old file followed by the current one.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/printer_link.h"
#include "os/env.h"
#include "os/os.h"
#include "shell/event_log.h"
#include "shell/settings.h"

namespace ovix {

class WireTrace : public LinkObserver {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  using TimeSource = std::function<TimePoint()>;

  // Opens the file at the native path `path` for appending, creating it when
  // missing (shared with the spool's group: Env::NewAppendableFile); a file
  // already at `sizeLimit` bytes or more is first moved to the old file. A
  // file that cannot be opened, written or moved is reported to `log` with
  // one line, once; the trace then writes nothing more, and every call still
  // returns at once. `now` gives the time of each event (the Env's wall clock
  // when empty). `env` and `log` must outlive the trace.
  WireTrace(Env& env, std::string path, const EventLog& log, TimeSource now = {},
            std::uintmax_t sizeLimit = kTraceSizeLimit);
  ~WireTrace() override;
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  const std::string& Path() const { return path_; }
  // False once the trace has stopped (its file could not be opened or written).
  bool Writing() const { return file_ != nullptr; }

  void OnTraffic(Traffic traffic, const Bytes& bytes) override;
  void OnWaitEnd(Exchange exchange, std::chrono::seconds limit,
                 std::optional<std::uint8_t> status) override;

 private:
  // Opens path_ for appending, first moving it to the old file when it is
  // `full` or holds sizeLimit_ bytes or more; false when that fails (the trace
  // is then stopped).
  bool Open(bool full);
  // Appends and flushes whole lines, moving a full file to the old one first;
  // on failure reports it and stops the trace.
  void Write(std::string_view text);
  void Stop(std::string_view reason);
  // Writes the pending STRAY line, if any.
  void EndStrayRun();
  // A complete line; writes the pending STRAY line first.
  void WriteLine(TimePoint when, std::string_view event);

  Env& env_;
  std::string path_;
  const EventLog& log_;
  TimeSource now_;
  std::uintmax_t sizeLimit_;
  std::unique_ptr<WritableFile> file_;  // empty once the trace has stopped
  std::uintmax_t size_ = 0;             // bytes in the file
  std::string strayLine_;               // the pending STRAY line, without its CR LF
  std::size_t strayCount_ = 0;          // bytes on it; 0: none pending
};

// Name of the trace file in the spool directory of the settings.
std::string WireTracePath(const DriverSettings& settings);

// The wire trace of the settings, to be handed to PrinterLink::SetObserver.
// nullptr when TRACE is off. Otherwise opens it (moving a full one to the old
// file) and writes the log line
// "-> TRASARE COMUNICATIE PORNITA: <BONDIR>TRACE.OVX"; when it cannot be opened, the log
// gets the one line that says why instead, and the result is nullptr too.
std::unique_ptr<WireTrace> StartWireTrace(Env& env, const DriverSettings& settings,
                                          const EventLog& log);

// "YYYY-MM-DD HH:MM:SS.mmm" in local time.
std::string TraceTime(WireTrace::TimePoint when);

}  // namespace ovix
