// The record keeper of the jobs: where a job's file goes once its outcome is
// known (the OK directory, the error directory, or deleted), the journal
// entry that tells a later start what is still to be done for it, and the
// files this run never takes again. Every failure is logged; a file that
// cannot be filed after its outcome is never taken again by this run
// (NeverAgain): it is moved again later (RetryUnfiled), and the journal
// files it at the next start.
// Runs on the GUI thread; the Env, settings, log and chooser must outlive it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "os/env.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/file_chooser.h"
#include "spool/job_outcome.h"
#include "spool/journal.h"

namespace ovix {

class JobFiler {
 public:
  // The journal is OVIXNOVA.JOB in the spool directory; nothing is read or
  // written before the first call.
  JobFiler(Env& env, const DriverSettings& settings, const EventLog& log, FileChooser& chooser);

  // The job file as the log shows it: the directory as set, control
  // characters of the name escaped.
  std::string ForLog(const JobFileRef& file) const;

  // The record of a job's end, for the outcomes that need no prompt (Printed,
  // Cancelled, CurrencyProgrammed, GoneFileVoided, GonePaymentCleared,
  // FileGone, FiledWithoutSending, DeletedWithoutSending): writes the
  // journal, files or deletes the job's file and logs what became of it.
  // `detail` is the log line of a gone file. Other outcomes change nothing.
  void Conclude(const JobFileRef& file, JobOutcome outcome, const std::string& detail);
  // Sets the file's journal entry to `state` (with its identity, when known).
  void Record(const JobFileRef& file, JobState state);
  // Removes the journal entry of `name`.
  void Forget(const std::string& name);

  // At start-up: reads the journal an earlier run left and logs what is done
  // for each entry. A receipt printed to its end is filed into the OK
  // directory, one given up into the error directory, and the entry of
  // either whose file is gone, or was replaced by another file of its name,
  // is dropped. Returns the entries that still need the register (printing,
  // paying or cancelled), in the journal's order. A journal that cannot be
  // read gives nullopt, logged the first time only: nothing may be printed
  // before it is read, or a receipt it holds could be printed twice.
  std::optional<std::vector<JournalEntry>> Recover();

  // Files a printed receipt into the OK directory and forgets its entry.
  // When the move fails, the failure is logged, the file stays in the spool
  // with its entry (Printed), is never taken as a job by this run, and
  // RetryUnfiled tries the move again; returns false then.
  bool FileIntoOkDirectory(const JobFileRef& file);
  // True for a file whose outcome is known but that is still in the spool
  // because the disk refused to file it: no job may be run on it again.
  bool NeverAgain(const std::string& name) const;
  // Tries again what could not be done to the files whose outcome is known
  // (a move into the OK or error directory, a delete), and the journal write
  // that failed last. A file that left the spool, or whose name another
  // file took, has its entry forgotten (the other file is a job again).
  // Logs each file it now filed; a failure again is not logged again.
  void RetryUnfiled();
  // Files a cancelled or given-up receipt into the error directory and
  // forgets its entry. False when it cannot be moved (its entry stays, and
  // RetryUnfiled moves it later).
  bool FileIntoErrorDirectory(const JobFileRef& file);
  // A file with nothing to send: a currency programming without currencies is
  // deleted, an empty receipt goes to the error directory; its entry is
  // forgotten either way.
  void FileEmptyFile(const JobFileRef& file, bool currency);
  // Deletes the file of a currency programming that was sent (or, when it
  // cannot be deleted, has RetryUnfiled delete it later).
  void DeleteProgrammedFile(const JobFileRef& file);

 private:
  // Logs the recovery of one entry and files it when it needs no register;
  // true when it needs the register.
  bool RecoverEntry(const JournalEntry& entry);
  // Where a file whose outcome is known still has to go.
  enum class Target { OkDirectory, ErrorDirectory, Deleted };
  struct Unfiled {
    JobFileRef file;
    Target target;
  };
  void FiledIntoOkDirectory(const JobFileRef& file);
  // The file stays in the spool, skipped by the scan, until RetryUnfiled
  // carries out its outcome.
  void KeepUnfiled(const JobFileRef& file, Target target);
  // True when the retried outcome was carried out or nothing is left to do.
  bool RetryOne(const Unfiled& unfiled);
  // True when the file is deleted; otherwise the reason is in `error`.
  bool Delete(const JobFileRef& file, std::string* error);
  bool MoveJobTo(const JobFileRef& file, const std::string& dirSetting, std::string* error);
  void Log(const std::string& line);
  // The job file as the operating system's file functions take it.
  std::string NativePath(const JobFileRef& file) const;

  Env& env_;
  const DriverSettings& settings_;
  const EventLog& log_;
  FileChooser& chooser_;
  Journal journal_;
  // Files whose outcome is known but that the disk refused to move or delete.
  std::vector<Unfiled> unfiled_;
  bool unreadReported_ = false;  // the journal could not be read; logged
};

}  // namespace ovix
