// Choosing the next job file in the spool directory, and what the driver
// remembers of the files it has met there: the size and modification time
// each had at the last timer look, the files renamed in since, the files set
// aside for a while because they could not be read, and the files whose
// problem has been logged. The files this run never takes again are the
// record keeper's (JobFiler), asked through `neverAgain`. Reads the directory
// and the files, never writes them; logs through the event log.
// Runs on the GUI thread; the Env, settings, clock and log must outlive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "os/env.h"
#include "os/platform.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/journal.h"

namespace ovix {

// A change in the spool directory, as the front end's watch reports it.
enum class SpoolChange {
  Arrived,  // the file was renamed into the directory: it is complete as it stands
  Changed,  // the file was made, written, removed or renamed away
  Unknown,  // changes were lost (the system's queue overflowed): anything may have changed
};

// A job's file as the steps of its job pass it along: its name in the spool
// directory and its identity when it was read (unknown for a journal entry of
// an older driver until its file is read).
struct JobFileRef {
  std::string name;
  std::optional<FileIdentity> identity;
};

class FileChooser {
 public:
  // A timer look stamps the files it meets and takes the first one unchanged
  // since the previous timer look; any look takes a file that arrived whole,
  // once no writer holds it.
  enum class LookKind { Timer, Arrivals };
  struct ScanResult {
    std::optional<std::string> taken;  // the file to run a job on
    bool anyWaiting = false;           // a job file is there, taken or not
    bool lookAgain = false;            // a later look may take a file this one did not
  };
  // A job file as read: its bytes and its identity.
  struct ReadFile {
    std::string content;
    FileIdentity identity;
  };

  // True for a name this run never takes again as a job.
  using NeverAgainTest = std::function<bool(const std::string& name)>;

  // Without `neverAgain`, every file may be taken again.
  FileChooser(Env& env, const DriverSettings& settings, Clock& clock, const EventLog& log,
              NeverAgainTest neverAgain = {});

  // Looks through the spool directory once. Skips names that cannot be jobs,
  // hidden files, symbolic links and anything not a regular file, the files
  // never taken again and those set aside until their time. A file still open
  // for writing is never taken (its state is logged once). Files met for the
  // first time are stamped at most 32 a look, so that a spool of thousands of
  // new files costs neither a long look nor memory; a timer look that went
  // through the whole directory forgets the files that are gone.
  ScanResult Scan(LookKind kind);

  // True when the name matches the mask, does not begin with a dot and is not
  // the log's, the wire trace's or the journal's (or their temporary files').
  bool CanBeJob(const std::string& name) const;
  // Whether the spool holds a regular file of this name (no link followed):
  // Unknown, with the reason in `error`, when its status cannot be read now,
  // which callers must not take for a file that is gone.
  enum class Presence { Here, Gone, Unknown };
  Presence Find(const std::string& name, std::string* error = nullptr) const;
  // Reads the whole file and its identity; nullopt with the reason in `error`
  // when it cannot be read.
  std::optional<ReadFile> Read(const std::string& name, std::string* error) const;

  // A change the watch reported. False when it concerns a name that cannot be
  // a job (nothing to look at then). A file written after it arrived is read
  // only once it stops changing.
  bool NoteChange(SpoolChange change, const std::string& name);
  // The watch no longer tells of arrivals: files renamed in wait for two timer
  // looks like any other.
  void ForgetArrivals();

  // A job was started on the file: it no longer counts as arrived, and a
  // problem it shows later is logged again.
  void Taken(const std::string& name);
  // The file could not be read: logs `line` (once until it could be read
  // again) and leaves the file alone for 5 s.
  void SetAside(const std::string& name, const std::string& line);
  // True while the file is set aside; once its time has come it is not any more.
  bool IsSetAside(const std::string& name);
  // Logs `line` unless a line was logged for this file since it was last taken.
  void ReportOnce(const std::string& name, const std::string& line);

 private:
  // Size and modification time of a candidate at the look that last saw it: a
  // file is taken once they are the same on two consecutive timer looks.
  struct Stamp {
    std::uintmax_t size;
    std::filesystem::file_time_type modified;
    bool operator==(const Stamp&) const = default;
  };
  // What one look has found so far.
  struct Look {
    std::string dir;
    std::chrono::nanoseconds now{0};
    std::map<std::string, Stamp> visited;
    std::set<std::string> setAside;  // set-aside files still there
    ScanResult result;
    int firstSightings = 0;
    bool heldByWriter = false;
  };
  // One directory entry of a look; false when the look stops there (a file
  // was taken, or enough new files were stamped).
  bool Visit(const DirEntry& entry, LookKind kind, Look& look);
  // Whether the file is set aside at `now`; a file whose time has come is
  // not any more.
  bool SetAsideAt(const std::string& name, std::chrono::nanoseconds now);
  bool StillSetAside(const std::string& name, Look& look);
  bool CompareStamp(const DirEntry& entry, const std::string& name, Look& look);
  ScanResult Conclude(LookKind kind, bool wholeDirectory, Look& look);
  bool IsOwnFile(const std::string& name) const;

  Env& env_;
  const DriverSettings& settings_;
  Clock& clock_;
  const EventLog& log_;
  // Files renamed into the spool since they were last taken or written.
  std::set<std::string> arrived_;
  std::map<std::string, Stamp> seen_;
  // Files that could not be read: skipped until the time given (clock_).
  std::map<std::string, std::chrono::nanoseconds> deferred_;
  // Files whose problem has been logged; logged again only after it went away.
  std::set<std::string> reported_;
  NeverAgainTest neverAgain_;
};

}  // namespace ovix
