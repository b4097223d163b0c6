#include "spool/job_filer.h"

#include <algorithm>
#include <optional>

#include "os/os.h"
#include "os/text.h"
#include "spool/job_log.h"

namespace ovix {

JobFiler::JobFiler(Env& env, const DriverSettings& settings, const EventLog& log,
                   FileChooser& chooser)
    : env_(env),
      settings_(settings),
      log_(log),
      chooser_(chooser),
      journal_(env, NativeDirectory(settings.BONDIR) + std::string(kJournalFileName)) {}

std::string JobFiler::ForLog(const JobFileRef& file) const {
  return settings_.BONDIR + VisibleText(file.name);
}

std::string JobFiler::NativePath(const JobFileRef& file) const {
  return NativeDirectory(settings_.BONDIR) + file.name;
}

void JobFiler::Log(const std::string& line) {
  // A line that cannot be written is skipped: the job matters more than its record.
  log_.WriteLogLine(line);
}

void JobFiler::Conclude(const JobFileRef& file, JobOutcome outcome, const std::string& detail) {
  switch (outcome) {
    case JobOutcome::Printed:
      Record(file, JobState::Printed);
      FileIntoOkDirectory(file);
      break;
    case JobOutcome::Cancelled:
      Log(job_log::Cancelled(ForLog(file), settings_.ERRDIR));
      Record(file, JobState::GivenUp);
      FileIntoErrorDirectory(file);
      break;
    case JobOutcome::CurrencyProgrammed:
      DeleteProgrammedFile(file);
      break;
    case JobOutcome::GoneFileVoided:
      Log(job_log::GoneFileVoided(detail));
      Forget(file.name);
      break;
    case JobOutcome::GonePaymentCleared:
      Log(job_log::GonePaymentCleared(detail));
      Forget(file.name);
      break;
    case JobOutcome::FileGone:
      Log(detail);
      Forget(file.name);
      break;
    case JobOutcome::FiledWithoutSending:
    case JobOutcome::DeletedWithoutSending:
      FileEmptyFile(file, outcome == JobOutcome::DeletedWithoutSending);
      break;
    default:
      break;
  }
}

void JobFiler::Record(const JobFileRef& file, JobState state) {
  std::string error;
  if (!journal_.Put({file.name, file.identity, state}, &error))
    Log(job_log::RecordNotWritten(ForLog(file), error));
}

void JobFiler::Forget(const std::string& name) {
  std::string error;
  if (!journal_.Remove(name, &error)) Log(job_log::JournalNotRemoved(journal_.Path(), error));
}

std::optional<std::vector<JournalEntry>> JobFiler::Recover() {
  std::string error;
  if (!journal_.Load(&error)) {
    if (!unreadReported_) Log(job_log::JournalNotRead(journal_.Path(), error));
    unreadReported_ = true;
    return std::nullopt;
  }
  std::vector<JournalEntry> needRegister;
  const std::vector<JournalEntry> entries = journal_.Entries();
  for (const JournalEntry& entry : entries) {
    if (RecoverEntry(entry)) needRegister.push_back(entry);
  }
  return needRegister;
}

bool JobFiler::RecoverEntry(const JournalEntry& entry) {
  const JobFileRef file{entry.name, entry.identity};
  // The file the entry speaks of is still there (a file that cannot be read
  // or looked at now counts as it: the tick that takes it tells).
  std::string error;
  const std::optional<FileChooser::ReadFile> read = chooser_.Read(entry.name, &error);
  const bool there = chooser_.Find(entry.name) != FileChooser::Presence::Gone &&
                     (!read || entry.Matches(read->identity));
  switch (entry.state) {
    case JobState::Printed:
    case JobState::GivenUp: {
      const bool printed = entry.state == JobState::Printed;
      Log(printed ? job_log::RecoveredPrinted(ForLog(file))
                  : job_log::RecoveredGivenUp(ForLog(file), settings_.ERRDIR));
      if (!there) {
        Forget(entry.name);
      } else if (printed) {
        FileIntoOkDirectory(file);
      } else {
        FileIntoErrorDirectory(file);
      }
      return false;
    }
    case JobState::Cancelled:
      // The operator cancelled it and the driver stopped before carrying that out.
      Log(job_log::RecoveredCancelled(ForLog(file), settings_.ERRDIR));
      return true;
    case JobState::Printing:
      // Cut off in the middle: the receipt is voided on the register, as a
      // retry does, before it is printed again.
      Log(job_log::RecoveredInterrupted(ForLog(file)));
      return true;
    case JobState::Paying:
      // Whether the payment closed it, only the paper tells.
      Log(job_log::RecoveredPaying(ForLog(file)));
      return true;
  }
  return false;
}

bool JobFiler::FileIntoOkDirectory(const JobFileRef& file) {
  std::string error;
  if (MoveJobTo(file, settings_.OKDIR, &error)) {
    FiledIntoOkDirectory(file);
    return true;
  }
  // A printed receipt never goes to the error directory, where receipts wait
  // to be printed again: it stays in the spool with its entry until a later
  // move (RetryUnfiled) or the next start files it.
  Log(job_log::OkMoveFailed(ForLog(file), settings_.OKDIR, error));
  KeepUnfiled(file, Target::OkDirectory);
  return false;
}

void JobFiler::FiledIntoOkDirectory(const JobFileRef& file) {
  Log(job_log::Filed(ForLog(file), settings_.OKDIR));
  Forget(file.name);
}

void JobFiler::KeepUnfiled(const JobFileRef& file, Target target) {
  std::erase_if(unfiled_, [&](const Unfiled& u) { return u.file.name == file.name; });
  unfiled_.push_back({file, target});
}

bool JobFiler::NeverAgain(const std::string& name) const {
  return std::any_of(unfiled_.begin(), unfiled_.end(),
                     [&](const Unfiled& u) { return u.file.name == name; });
}

void JobFiler::RetryUnfiled() {
  std::string error;
  journal_.WriteAgain(&error);
  std::vector<Unfiled> still;
  for (const Unfiled& unfiled : unfiled_) {
    if (!RetryOne(unfiled)) still.push_back(unfiled);
  }
  unfiled_ = std::move(still);
}

bool JobFiler::RetryOne(const Unfiled& unfiled) {
  const JobFileRef& file = unfiled.file;
  std::string error;
  const FileChooser::Presence presence = chooser_.Find(file.name);
  if (presence == FileChooser::Presence::Unknown) return false;
  const std::optional<FileChooser::ReadFile> read = chooser_.Read(file.name, &error);
  if (presence == FileChooser::Presence::Gone ||
      (read && file.identity && *file.identity != read->identity)) {
    // Gone, or another file took its name: nothing of this job is left to
    // file, and the new file is a job of its own.
    Forget(file.name);
    return true;
  }
  if (!read) return false;
  switch (unfiled.target) {
    case Target::OkDirectory:
      if (!MoveJobTo(file, settings_.OKDIR, &error)) return false;
      FiledIntoOkDirectory(file);
      return true;
    case Target::ErrorDirectory:
      if (!MoveJobTo(file, settings_.ERRDIR, &error)) return false;
      Log(job_log::MovedLater(ForLog(file), settings_.ERRDIR));
      break;
    case Target::Deleted:
      if (!Delete(file, &error)) return false;
      Log(job_log::DeletedLater(ForLog(file)));
      break;
  }
  Forget(file.name);
  return true;
}

bool JobFiler::FileIntoErrorDirectory(const JobFileRef& file) {
  std::string error;
  if (!MoveJobTo(file, settings_.ERRDIR, &error)) {
    Log(job_log::NotMoved(ForLog(file), error));
    KeepUnfiled(file, Target::ErrorDirectory);
    return false;
  }
  Forget(file.name);
  return true;
}

void JobFiler::FileEmptyFile(const JobFileRef& file, bool currency) {
  std::string error;
  if (currency) {
    if (!Delete(file, &error)) {
      Log(job_log::EmptyCurrencyNotDeleted(ForLog(file), error));
      KeepUnfiled(file, Target::Deleted);
    } else {
      Log(job_log::EmptyCurrencyDeleted(ForLog(file)));
    }
  } else if (!MoveJobTo(file, settings_.ERRDIR, &error)) {
    Log(job_log::EmptyNotMoved(ForLog(file), error));
    KeepUnfiled(file, Target::ErrorDirectory);
  } else {
    Log(job_log::EmptyMoved(ForLog(file), settings_.ERRDIR));
  }
  Forget(file.name);
}

void JobFiler::DeleteProgrammedFile(const JobFileRef& file) {
  std::string error;
  if (!Delete(file, &error)) {
    // Programmed already: never programmed again, even though the file stays.
    Log(job_log::NotDeleted(ForLog(file), error));
    KeepUnfiled(file, Target::Deleted);
  }
}

bool JobFiler::Delete(const JobFileRef& file, std::string* error) {
  return env_.RemoveFile(PathFromText(NativePath(file)), error);
}

bool JobFiler::MoveJobTo(const JobFileRef& file, const std::string& dirSetting,
                         std::string* error) {
  return MoveIntoDirectory(env_, NativePath(file), NativeDirectory(dirSetting), file.name, error);
}

}  // namespace ovix
