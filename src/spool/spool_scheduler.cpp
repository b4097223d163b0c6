#include "spool/spool_scheduler.h"

#include "os/os.h"
#include "spool/job_log.h"

namespace ovix {

SpoolScheduler::SpoolScheduler(Env& env, const DriverSettings& settings, PrinterLink& link,
                               const EventLog& log, DriverHost& host, Clock& clock,
                               Timestamp timestamp)
    : settings_(settings),
      log_(log),
      host_(host),
      timestamp_(std::move(timestamp)),
      chooser_(env, settings, clock, log,
               [this](const std::string& name) { return filer_.NeverAgain(name); }),
      filer_(env, settings, log, chooser_),
      job_(settings, link, log, host, filer_, [this] { SetTimer(false); }) {}

void SpoolScheduler::RecoverInterruptedJob() {
  const std::optional<std::vector<JournalEntry>> entries = filer_.Recover();
  journalUnread_ = !entries;
  if (!entries) return;
  for (const JournalEntry& entry : *entries) {
    const RetakeFile retake{{entry.name, entry.identity}, entry.state == JobState::Paying};
    recovered_.emplace_back(retake, entry.state == JobState::Cancelled ? Decision::VoidAndFile
                                                                       : Decision::VoidAndReprint);
  }
}

void SpoolScheduler::Tick() {
  if (job_.Running()) return;
  if (journalUnread_) {
    // No file is taken before the journal of the last run is read.
    RecoverInterruptedJob();
    if (journalUnread_) return SetTimer(true);
  }
  if (!job_.Retake() && !recovered_.empty()) {
    job_.SetRetake(recovered_.front().first, recovered_.front().second);
    recovered_.pop_front();
  }
  if (job_.Retake()) {
    Retake();
    return KeepLooking();
  }
  const FileChooser::ScanResult scan = chooser_.Scan(FileChooser::LookKind::Timer);
  if (scan.taken) {
    TakeFile(*scan.taken);
    KeepLooking();
  } else if (!scan.anyWaiting && clearRequested_) {
    // A clearing never comes between a receipt and its retry, nor before a
    // file that is still being written or cannot be taken yet.
    const TickEnd end = job_.Clear(timestamp_());
    clearRequested_ = false;
    Finish(end);
  } else {
    SetTimer(!watching_ || scan.lookAgain || clearRequested_);
  }
}

void SpoolScheduler::KeepLooking() {
  if (MayLook()) SetTimer(true);
}

void SpoolScheduler::Finish(TickEnd end) {
  if (end != TickEnd::Over) return;
  if (job_.ExitRequested()) return host_.UnloadMain();
  host_.SetTrayIcon(TrayPicture::Idle);
  SetTimer(true);
}

void SpoolScheduler::Look() {
  if (!MayLook()) return;
  // With the timer off nothing waited for a second look, so a full look now
  // cannot take a file written in place too early.
  if (!timerOn_) return Tick();
  // The failed file goes first, on the next tick; nothing goes before the journal is read.
  if (job_.Retake() || !recovered_.empty() || journalUnread_) return;
  const FileChooser::ScanResult scan = chooser_.Scan(FileChooser::LookKind::Arrivals);
  if (scan.taken) TakeFile(*scan.taken);
}

void SpoolScheduler::SafetyLook() {
  if (!MayLook()) return;
  filer_.RetryUnfiled();
  std::string reason;
  if (watchLost_ && host_.WatchSpool(NativeDirectory(settings_.BONDIR), &reason)) {
    // The directory is back (made anew after it was removed or renamed away).
    watchLost_ = false;
    watching_ = true;
    log_.WriteLogLine(job_log::WatchedAgain(settings_.BONDIR));
  }
  if (timerOn_ || !watching_) return;
  if (!host_.WatchFollowsSpool()) {
    // The path names another directory now: the watch would report nothing of it.
    chooser_.ForgetArrivals();
    if (!host_.WatchSpool(NativeDirectory(settings_.BONDIR), &reason)) {
      WatchLost(reason);
      return SetTimer(true);
    }
    log_.WriteLogLine(job_log::WatchReplaced(settings_.BONDIR));
  }
  Tick();
}

void SpoolScheduler::StartWatching() {
  std::string reason;
  if (host_.WatchSpool(NativeDirectory(settings_.BONDIR), &reason))
    watching_ = true;
  else
    log_.WriteLogLine(job_log::NotWatched(settings_.BONDIR, reason));
}

void SpoolScheduler::OnWatchFailed(const std::string& reason) {
  if (!watching_) return;
  WatchLost(reason);
  if (MayLook()) SetTimer(true);
}

void SpoolScheduler::WatchLost(const std::string& reason) {
  watching_ = false;
  watchLost_ = true;
  chooser_.ForgetArrivals();
  log_.WriteLogLine(job_log::NotWatched(settings_.BONDIR, reason));
}

bool SpoolScheduler::OnSpoolChange(SpoolChange change, const std::string& name) {
  if (!watching_ || !chooser_.NoteChange(change, name)) return false;
  // A running job turns the timer on at its end; an exit looks at nothing.
  if (!MayLook()) return false;
  return !timerOn_ || change == SpoolChange::Arrived;
}

void SpoolScheduler::SetTimer(bool enabled) {
  if (enabled == timerOn_) return;
  timerOn_ = enabled;
  host_.SetTimerEnabled(enabled);
}

void SpoolScheduler::Retake() {
  const RetakeFile retake = *job_.Retake();
  const std::string& name = retake.file.name;
  if (chooser_.IsSetAside(name)) {
    // Without a decision no other file can be wronged: the rest go on.
    if (job_.OperatorDecision() == Decision::None && !retake.askFirst) job_.DropRetake();
    return;
  }
  std::string error;
  const FileChooser::Presence presence = chooser_.Find(name, &error);
  if (presence == FileChooser::Presence::Unknown) return SetAside(retake.file, error);
  if (presence == FileChooser::Presence::Gone)
    return Finish(job_.RunForGoneFile(retake.file, false));
  const std::optional<FileChooser::ReadFile> read = chooser_.Read(name, &error);
  if (!read) return SetAside(retake.file, error);
  // Another file under the same name is a new job, taken by a later look.
  if (retake.file.identity && *retake.file.identity != read->identity)
    return Finish(job_.RunForGoneFile(retake.file, true));
  const JobFileRef file{name, read->identity};
  if (retake.askFirst) {
    SetTimer(false);
    return Finish(job_.AskPaymentFirst(file));
  }
  chooser_.Taken(name);
  Finish(job_.Run(file, read->content));
}

void SpoolScheduler::TakeFile(const std::string& name) {
  std::string error;
  const std::optional<FileChooser::ReadFile> read = chooser_.Read(name, &error);
  if (!read) return SetAside({name, std::nullopt}, error);
  chooser_.Taken(name);
  Finish(job_.Run({name, read->identity}, read->content));
}

// The file could not be read: it is left alone for a while.
void SpoolScheduler::SetAside(const JobFileRef& file, const std::string& reason) {
  chooser_.SetAside(file.name, job_log::Unreadable(filer_.ForLog(file), reason));
}

void SpoolScheduler::RequestClearing() {
  clearRequested_ = true;
  if (MayLook() && !timerOn_) SetTimer(true);
}

}  // namespace ovix
