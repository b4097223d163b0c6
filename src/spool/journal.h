// The journal of receipts whose outcome is not yet carried out: one entry for
// every job file that is being printed, whose payment was sent, that was
// printed but not yet filed, or that the operator cancelled or gave up but
// that is not yet where that outcome puts it. It lives in the spool directory,
// so that after a crash or a power cut the next start knows what each
// receipt still needs. Every change rewrites the whole journal through a
// temporary file renamed over it, so a crash leaves the old or the new
// journal, never a torn one. Runs on the GUI thread; not thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/env.h"

namespace ovix {

inline constexpr std::string_view kJournalFileName = "OVIXNOVA.JOB";

// What a job file's journal entry says is still to be done for it.
enum class JobState {
  Printing,   // lines were being sent: a cut-off receipt is voided and printed again
  Paying,     // a payment command was sent: only the operator can say whether it closed
  Printed,    // printed to its end: filed into the OK directory, never printed again
  Cancelled,  // "Anuleaza bon": voided on the register, then filed into the error directory
  GivenUp,    // filed into the error directory; nothing more is sent for it
};

// What tells two files of the same name apart: a file written anew under an
// old name differs in its content, its size or its modification time.
struct FileIdentity {
  std::uint64_t size = 0;
  std::int64_t modified = 0;      // modification time, in the file clock's ticks
  std::uint64_t contentHash = 0;  // FNV-1a (64 bits) of the bytes
  bool operator==(const FileIdentity&) const = default;
};

// The identity of a file whose bytes are `content`, with the size and
// modification time read from the file system.
FileIdentity IdentityOf(std::string_view content, std::int64_t modified);

struct JournalEntry {
  std::string name;  // the job file's name in the spool directory
  // Unknown for an entry written by an older driver, which recorded names
  // only: such an entry matches any file of its name.
  std::optional<FileIdentity> identity;
  JobState state = JobState::Printing;

  bool Matches(const FileIdentity& file) const { return !identity || *identity == file; }
};

class Journal {
 public:
  // The journal file at `path` (as the file functions take it), reached
  // through `env`, which must outlive the journal; nothing is read or written
  // until Load, Put or Remove.
  Journal(Env& env, std::string path);

  // Reads the journal file: a missing file is an empty journal. Lines that
  // cannot be read as entries are skipped. False with the reason when the
  // file exists but cannot be read; the journal is then empty.
  bool Load(std::string* error);

  const std::vector<JournalEntry>& Entries() const { return entries_; }
  std::optional<JournalEntry> Find(const std::string& name) const;

  // Adds the entry, or replaces the one of the same name, and writes the
  // journal to the disk. False with the reason when it cannot be written; the
  // journal in memory holds the change all the same, so that later writes
  // carry it.
  bool Put(const JournalEntry& entry, std::string* error);
  // Removes the entry of `name` (nothing when there is none) and writes the
  // journal; an empty journal removes the file. False with the reason when
  // the change cannot be written.
  bool Remove(const std::string& name, std::string* error);
  // Writes the journal again when the last write failed, so that the disk
  // catches up with the journal in memory; true when there was nothing to do.
  bool WriteAgain(std::string* error);

  const std::string& Path() const { return path_; }

 private:
  bool Write(std::string* error);
  // False only when the file is known to be missing.
  bool FileMayExist() const;

  Env& env_;
  std::string path_;
  std::vector<JournalEntry> entries_;
  bool unwritten_ = false;  // the last write failed: the disk is behind
};

// One entry as a journal line (without the line end) and back. The line is
// the state, a blank, size:modified:hash (or "-" when unknown), a blank, and
// the name in the reversible form of VisibleText. ParseJournalLine also reads
// the older "STATE name" lines.
std::string FormatJournalLine(const JournalEntry& entry);
std::optional<JournalEntry> ParseJournalLine(std::string_view line);

}  // namespace ovix
