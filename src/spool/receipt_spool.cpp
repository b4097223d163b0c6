#include "spool/receipt_spool.h"

#include "link/frame_codec.h"
#include "spool/job_file.h"
#include "spool/keys.h"
#include "spool/receipt_line.h"
#include "spool/spool_files.h"
#include "spool/translation.h"

namespace ovix {
namespace fs = std::filesystem;

namespace {
// How long a file that could not be opened or moved is left alone before it
// is tried again.
constexpr std::chrono::seconds kRetryDelay{5};
// How many files met for the first time one tick stamps at the most.
constexpr int kFirstSightingsPerTick = 32;
}  // namespace

ReceiptSpool::ReceiptSpool(const DriverSettings& settings, PrinterLink& link, const EventLog& log,
                           DriverHost& host, Clock& clock, Timestamp timestamp)
    : settings_(settings),
      link_(link),
      log_(log),
      host_(host),
      clock_(clock),
      timestamp_(std::move(timestamp)),
      journal_(NativeDirectory(settings.BONDIR) + std::string(kJournalFileName)) {}

std::string ReceiptSpool::JobFileForLog() const {
  return settings_.BONDIR + VisibleText(JobFileName);
}

std::string ReceiptSpool::JobFileNative() const {
  return NativeDirectory(settings_.BONDIR) + JobFileName;
}

void ReceiptSpool::Log(const std::string& line) {
  // A line that cannot be written is skipped: the job matters more than its record.
  log_.WriteLogLine(line);
}

void ReceiptSpool::ReportOnce(const std::string& name, const std::string& line) {
  if (reported_.insert(name).second) Log(line);
}

ReceiptSpool::ScanResult ReceiptSpool::Scan(LookKind kind) {
  const std::string dir = NativeDirectory(settings_.BONDIR);
  const std::chrono::nanoseconds now = clock_.Now();
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : PathFromText(dir), ec);
  std::map<std::string, Stamp> visited;
  std::set<std::string> setAside;  // deferred files still there
  ScanResult result;
  std::optional<std::string>& taken = result.taken;
  int firstSightings = 0;
  bool wholeDirectory = true;
  bool heldByWriter = false;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    // A name the narrow file functions cannot spell could not be opened as a job.
    const std::optional<std::string> text = TextFromPath(it->path().filename());
    if (!text) continue;
    const std::string& name = *text;
    if (!CanBeJob(name) || IsHiddenFile(it->path())) continue;
    std::error_code statEc;
    if (!it->is_regular_file(statEc) || it->is_symlink(statEc)) continue;
    result.anyWaiting = true;
    if (stuck_.count(name)) continue;
    if (auto d = deferred_.find(name); d != deferred_.end()) {
      if (now < d->second) {
        setAside.insert(name);
        continue;
      }
      deferred_.erase(d);
    }
    // A file still open for writing is never taken. One renamed in is taken
    // at once only when the system proves that nobody writes it any more;
    // otherwise it waits for two timer looks like a file written in place.
    if (arrived_.count(name)) {
      const WriterCheck writer = CheckForWriter(dir + name);
      if (writer == WriterCheck::NoWriter) {
        taken = name;
        wholeDirectory = false;
        break;
      }
      arrived_.erase(name);
      heldByWriter = true;
    }
    if (kind == LookKind::Arrivals) continue;
    const Stamp stamp{it->file_size(statEc), it->last_write_time(statEc)};
    if (statEc) continue;
    auto previous = seen_.find(name);
    if (previous != seen_.end() && previous->second == stamp) {
      if (CheckForWriter(dir + name) == WriterCheck::Writing) {
        // Unchanged but still open for writing: the writer is not done yet.
        ReportOnce(name, "-> FISIERUL " + settings_.BONDIR + VisibleText(name) +
                             " ESTE INCA DESCHIS PENTRU SCRIERE; SE ASTEAPTA INCHIDEREA");
        heldByWriter = true;
        visited[name] = stamp;
        continue;
      }
      taken = name;
      wholeDirectory = false;
      break;
    }
    // Files met for the first time are stamped a bounded number a tick, so a
    // spool of thousands of new files costs neither a long tick nor memory.
    if (previous == seen_.end() && ++firstSightings > kFirstSightingsPerTick) {
      wholeDirectory = false;
      break;
    }
    visited[name] = stamp;
  }
  if (kind == LookKind::Arrivals) {
    result.lookAgain = heldByWriter;
    return result;
  }
  if (wholeDirectory) {
    // Files that are gone are forgotten.
    seen_ = std::move(visited);
    std::erase_if(deferred_, [&](const auto& d) { return !setAside.count(d.first); });
    std::erase_if(arrived_, [&](const std::string& name) { return name != taken; });
  } else {
    for (auto& [name, stamp] : visited) seen_[name] = stamp;
    if (taken) seen_.erase(*taken);
  }
  result.lookAgain = !wholeDirectory || heldByWriter || !seen_.empty() || !deferred_.empty();
  return result;
}

bool ReceiptSpool::IsRegularFile(const std::string& name) const {
  std::error_code ec;
  const fs::path path = PathFromText(NativeDirectory(settings_.BONDIR) + name);
  return fs::is_regular_file(fs::symlink_status(path, ec));
}

bool ReceiptSpool::CanBeJob(const std::string& name) const {
  return !name.empty() && name[0] != '.' && !IsOwnFile(name) &&
         MatchesMask(name, settings_.EXTENSIE);
}

bool ReceiptSpool::IsOwnFile(const std::string& name) const {
  // The log, the wire trace and the journal never count as jobs, whatever
  // the mask.
  for (std::string_view own : {kLogFileName, kTraceFileName, kJournalFileName}) {
    if (MatchesMask(name, own) || MatchesMask(name, std::string(own) + ".tmp")) return true;
  }
  return false;
}

void ReceiptSpool::Record(JobState state) {
  std::string error;
  if (!journal_.Put({JobFileName, takenIdentity_, state}, &error))
    Log("-> EROARE !! EVIDENTA BONULUI " + JobFileForLog() + " NU POATE FI SCRISA: " + error);
}

void ReceiptSpool::Forget(const std::string& name) {
  std::string error;
  if (!journal_.Remove(name, &error))
    Log("-> EROARE !! EVIDENTA " + journal_.Path() + " NU POATE FI STEARSA: " + error);
}

void ReceiptSpool::RecoverInterruptedJob() {
  std::string error;
  if (!journal_.Load(&error)) {
    Log("-> EROARE !! EVIDENTA " + journal_.Path() + " NU POATE FI CITITA: " + error);
    return;
  }
  const std::vector<JournalEntry> entries = journal_.Entries();
  for (const JournalEntry& entry : entries) RecoverEntry(entry);
}

void ReceiptSpool::RecoverEntry(const JournalEntry& entry) {
  JobFileName = entry.name;
  const std::string bon = "-> RECUPERARE: BONUL " + JobFileForLog();
  // The file the entry speaks of is still there (a file that cannot be read
  // now counts as it: the tick that takes it tells).
  std::string error;
  const std::optional<ReadFile> file = ReadJobFile(entry.name, &error);
  const bool there = IsRegularFile(entry.name) && (!file || entry.Matches(file->identity));
  if (file) takenIdentity_ = file->identity;
  RetakeFile retake{entry.name, entry.identity};
  switch (entry.state) {
    case JobState::Printed:
      Log(bon + " A FOST TIPARIT INAINTE DE OPRIRE");
      if (!there) return Forget(entry.name);
      FileIntoOkDirectory();
      return;
    case JobState::GivenUp:
      Log(bon + " NU SE MAI TIPARESTE; SE MUTA IN DIRECTORUL " + settings_.ERRDIR);
      if (!there) return Forget(entry.name);
      FileIntoErrorDirectory();
      return;
    case JobState::Cancelled:
      // The operator cancelled it and the driver stopped before carrying that out.
      Log(bon + " A FOST ANULAT; SE ANULEAZA PE CASA SI SE MUTA IN DIRECTORUL " + settings_.ERRDIR);
      recovered_.emplace_back(retake, Decision::VoidAndFile);
      return;
    case JobState::Printing:
      // Cut off in the middle: the receipt is voided on the register, as a
      // retry does, before it is printed again.
      Log(bon + " A FOST INTRERUPT; SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU");
      recovered_.emplace_back(retake, Decision::VoidAndReprint);
      return;
    case JobState::Paying:
      // Whether the payment closed it, only the paper tells.
      Log(bon + " ERA LA PLATA LA OPRIRE; SE INTREABA OPERATORUL");
      retake.askFirst = true;
      recovered_.emplace_back(retake, Decision::VoidAndReprint);
      return;
  }
}

void ReceiptSpool::OnPortError(const std::string& reason) {
  if (portProblem_) return;
  portProblem_ = true;
  Log("-> EROARE PORT SERIAL " + settings_.COM + ": " + reason);
}

void ReceiptSpool::Tick() {
  if (phase_ != Phase::Idle) return;
  if (!retake_ && !recovered_.empty()) {
    retake_ = recovered_.front().first;
    OperatorDecision = recovered_.front().second;
    recovered_.pop_front();
  }
  if (retake_) {
    Retake();
    return KeepLooking();
  }
  const ScanResult scan = Scan(LookKind::Timer);
  if (scan.taken) {
    TakeFile(*scan.taken);
    KeepLooking();
  } else if (!scan.anyWaiting && ClearRequested) {
    // A clearing never comes between a receipt and its retry, nor before a
    // file that is still being written or cannot be taken yet.
    PerformClearing();
  } else {
    SetTimer(!watching_ || scan.lookAgain || ClearRequested);
  }
}

void ReceiptSpool::KeepLooking() {
  if (phase_ == Phase::Idle && !ExitRequested) SetTimer(true);
}

void ReceiptSpool::Look() {
  if (phase_ != Phase::Idle || ExitRequested) return;
  // With the timer off nothing waited for a second look, so a full look now
  // cannot take a file written in place too early.
  if (!timerOn_) return Tick();
  if (retake_ || !recovered_.empty()) return;  // the failed file goes first, on the next tick
  const ScanResult scan = Scan(LookKind::Arrivals);
  if (scan.taken) TakeFile(*scan.taken);
}

void ReceiptSpool::SafetyLook() {
  if (phase_ != Phase::Idle || ExitRequested) return;
  std::string reason;
  if (watchLost_ && host_.WatchSpool(NativeDirectory(settings_.BONDIR), &reason)) {
    // The directory is back (made anew after it was removed or renamed away).
    watchLost_ = false;
    watching_ = true;
    Log("-> DIRECTORUL " + settings_.BONDIR + " ESTE SUPRAVEGHEAT DIN NOU");
  }
  if (timerOn_ || !watching_) return;
  if (!host_.WatchFollowsSpool()) {
    // The path names another directory now: the watch would report nothing of it.
    arrived_.clear();
    if (host_.WatchSpool(NativeDirectory(settings_.BONDIR), &reason)) {
      Log("-> DIRECTORUL " + settings_.BONDIR + " A FOST INLOCUIT; ESTE SUPRAVEGHEAT DIN NOU");
    } else {
      watching_ = false;
      watchLost_ = true;
      FallBackToPolling(reason);
      return SetTimer(true);
    }
  }
  Tick();
}

void ReceiptSpool::StartWatching() {
  std::string reason;
  if (host_.WatchSpool(NativeDirectory(settings_.BONDIR), &reason))
    watching_ = true;
  else
    FallBackToPolling(reason);
}

void ReceiptSpool::OnWatchFailed(const std::string& reason) {
  if (!watching_) return;
  watching_ = false;
  watchLost_ = true;
  arrived_.clear();
  FallBackToPolling(reason);
  if (phase_ == Phase::Idle && !ExitRequested) SetTimer(true);
}

void ReceiptSpool::FallBackToPolling(const std::string& reason) {
  Log("-> DIRECTORUL " + settings_.BONDIR + " NU POATE FI SUPRAVEGHEAT (" + reason +
      "); FISIERELE SE CAUTA LA FIECARE 100 ms");
}

bool ReceiptSpool::OnSpoolChange(SpoolChange change, const std::string& name) {
  if (!watching_) return false;
  switch (change) {
    case SpoolChange::Arrived:
      if (!CanBeJob(name)) return false;
      arrived_.insert(name);
      break;
    case SpoolChange::Changed:
      // Written after it arrived: read only once it stops changing.
      arrived_.erase(name);
      if (!CanBeJob(name)) return false;
      break;
    case SpoolChange::Unknown:
      arrived_.clear();
      break;
  }
  // A running job turns the timer on at its end; an exit looks at nothing.
  if (phase_ != Phase::Idle || ExitRequested) return false;
  return !timerOn_ || change == SpoolChange::Arrived;
}

void ReceiptSpool::SetTimer(bool enabled) {
  if (enabled == timerOn_) return;
  timerOn_ = enabled;
  host_.SetTimerEnabled(enabled);
}

void ReceiptSpool::Retake() {
  const RetakeFile retake = *retake_;
  JobFileName = retake.name;
  if (auto d = deferred_.find(retake.name); d != deferred_.end()) {
    if (clock_.Now() < d->second) {
      // Without a decision no other file can be wronged: the rest go on.
      if (OperatorDecision == Decision::None && !retake.askFirst) retake_.reset();
      return;
    }
    deferred_.erase(d);
  }
  if (!IsRegularFile(retake.name)) return VoidForGoneFile(false);
  std::string error;
  const std::optional<ReadFile> file = ReadJobFile(retake.name, &error);
  if (!file) return Unreadable(retake.name, error);
  // Another file under the same name is a new job, taken by a later look.
  if (retake.identity && *retake.identity != file->identity) return VoidForGoneFile(true);
  if (!retake.askFirst) return RunJob(retake.name, *file);
  takenIdentity_ = file->identity;
  retake_.reset();
  SetTimer(false);
  phase_ = Phase::Lines;
  AskPayment();
}

std::optional<ReceiptSpool::ReadFile> ReceiptSpool::ReadJobFile(const std::string& name,
                                                                std::string* error) const {
  const std::string path = NativeDirectory(settings_.BONDIR) + name;
  std::optional<std::string> content = ReadFileBytes(path, error);
  if (!content) return std::nullopt;
  std::error_code ec;
  const auto modified = fs::last_write_time(PathFromText(path), ec);
  const FileIdentity identity =
      IdentityOf(*content, ec ? 0 : static_cast<std::int64_t>(modified.time_since_epoch().count()));
  return ReadFile{std::move(*content), identity};
}

void ReceiptSpool::TakeFile(const std::string& name) {
  JobFileName = name;
  std::string error;
  const std::optional<ReadFile> file = ReadJobFile(name, &error);
  if (!file) return Unreadable(name, error);
  RunJob(name, *file);
}

void ReceiptSpool::Unreadable(const std::string& name, const std::string& error) {
  arrived_.erase(name);
  ReportOnce(name, "-> EROARE !! FISIERUL " + JobFileForLog() + " NU POATE FI CITIT: " + error);
  deferred_[name] = clock_.Now() + kRetryDelay;
}

void ReceiptSpool::RunJob(const std::string& name, const ReadFile& file) {
  JobFileName = name;
  arrived_.erase(name);
  takenIdentity_ = file.identity;
  retake_.reset();
  reported_.erase(name);
  const JobFile job = MakeJobFile(SplitLines(file.content), settings_);
  if (FileWithoutSending(job) || StartJob() == Step::Ended) return;
  switch (PreJobCheck()) {
    case Step::Ended:
      return;
    case Step::Cancelled:
      return FinishCancelled();
    case Step::GoOn:
      break;
  }
  phase_ = Phase::Lines;
  if (job.kind == JobKind::CurrencyProgramming) {
    RunCurrencyJob(job);
  } else {
    RunReceiptJob(job);
  }
}

// A file with nothing to send is filed at once, without talking to the
// register, unless a decision for it is still to be carried out there. True
// when the file was dealt with so.
bool ReceiptSpool::FileWithoutSending(const JobFile& job) {
  if (!HasNothingToSend(job) || OperatorDecision != Decision::None) return false;
  std::string error;
  if (job.kind == JobKind::CurrencyProgramming) {
    std::error_code ec;
    fs::remove(PathFromText(JobFileNative()), ec);
    if (ec) {
      Log("-> Programare Valute: " + JobFileForLog() +
          " FARA VALUTE; FISIERUL NU POATE FI STERS: " + ec.message());
      stuck_.insert(JobFileName);
    } else {
      Log("-> Programare Valute: " + JobFileForLog() + " FARA VALUTE; FISIER STERS");
    }
  } else if (!MoveJobTo(settings_.ERRDIR, &error)) {
    ReportOnce(JobFileName,
               "-> EROARE !! FISIERUL GOL " + JobFileForLog() + " NU POATE FI MUTAT: " + error);
    stuck_.insert(JobFileName);
  } else {
    Log("-> EROARE !! FISIERUL GOL " + JobFileForLog() + " MUTAT IN DIRECTORUL " +
        settings_.ERRDIR);
  }
  Forget(JobFileName);
  return true;
}

// The decision for a file that has left the spool, or was replaced by another
// file of its name: the receipt it left unfinished on the register is voided
// all the same, so that the next receipt does not land in it.
void ReceiptSpool::VoidForGoneFile(bool replaced) {
  const std::string gone = "-> EROARE !! FISIERUL " + JobFileForLog() +
                           (replaced ? " A FOST INLOCUIT CU ALT FISIER" : " NU MAI EXISTA");
  const std::string name = JobFileName;
  retake_.reset();
  if (OperatorDecision == Decision::None) {
    Log(gone);
    Forget(name);
    return;
  }
  if (StartJob() == Step::Ended || PreJobCheck() == Step::Ended) return;
  Log(gone + "; BONUL NETERMINAT A FOST ANULAT PE CASA");
  Forget(name);
  EndTick();
}

// The busy picture, the timer off, the port open, the identification query.
ReceiptSpool::Step ReceiptSpool::StartJob() {
  host_.SetTrayIcon(TrayPicture::Busy);
  SetTimer(false);
  phase_ = Phase::Queries;
  std::string error;
  if (!link_.EnsurePortOpen(&error)) {
    OnPortError("portul nu poate fi deschis: " + error);
    NoAnswer();
    return Step::Ended;
  }
  if (portProblem_) {
    portProblem_ = false;
    Log("-> PORT SERIAL " + settings_.COM + " FUNCTIONEAZA DIN NOU");
  }
  const Identification id = link_.QueryIdentification();
  if (AfterExchange(id.exchange != Exchange::NoReply) == Step::Ended) return Step::Ended;
  NewFirmware = id.NewFirmware();
  return Step::GoOn;
}

// Where a job goes after the register was asked something: once the exit is
// confirmed nothing more is sent for it; without an answer it takes the
// no-answer path; otherwise it goes on.
ReceiptSpool::Step ReceiptSpool::AfterExchange(bool answered) {
  if (ExitRequested) {
    EndTick();
    return Step::Ended;
  }
  if (!answered) {
    NoAnswer();
    return Step::Ended;
  }
  return Step::GoOn;
}

// The status query, then a pending decision, or the keys the status asks for.
ReceiptSpool::Step ReceiptSpool::PreJobCheck() {
  const RegisterStatus status = link_.QueryStatus();
  // Without a status reply there is nothing to test: a pending decision
  // waits for an answer.
  if (AfterExchange(status.exchange != Exchange::NoReply) == Step::Ended) return Step::Ended;
  if (OperatorDecision != Decision::None) return CarryOutDecision();
  bool failed = false;
  if (status.HasErrorBits()) {
    failed = !CancelSequence() || link_.CommandFailed();
  } else if (status.byte6 != 1) {
    failed = !SendEachKey(std::string_view(&keys::kStatusKey, 1)) || link_.CommandFailed();
  }
  return AfterExchange(!failed);
}

// A decision counts as carried out only when the register answered every key
// of it (a refusal is an answer); otherwise it waits for the register.
ReceiptSpool::Step ReceiptSpool::CarryOutDecision() {
  const bool cancel = OperatorDecision == Decision::VoidAndFile;
  const bool answered = cancel ? CancelSequence() : SendEachKey(keys::kRetryPreparation);
  if (AfterExchange(answered) == Step::Ended) return Step::Ended;
  OperatorDecision = Decision::None;
  link_.ForgetFailures();
  return cancel ? Step::Cancelled : Step::GoOn;
}

// True when the register answered the keys of the cancel sequence.
bool ReceiptSpool::CancelSequence() {
  bool answered = SendEachKey(keys::kCancelSequence);
  if (link_.SecondStatus() != 0) answered = SendEachKey(keys::kCancelSequenceTail) && answered;
  return answered;
}

// Sends each key as a command of its own, whatever the one before gave; stops
// once the exit is confirmed. True when every key was answered.
bool ReceiptSpool::SendEachKey(std::string_view keys) {
  bool answered = true;
  for (char key : keys) {
    if (ExitRequested) return false;
    const Exchange exchange = link_.Send(std::string_view(&key, 1));
    answered = answered && (exchange == Exchange::Reply || exchange == Exchange::Refused);
  }
  return answered;
}

void ReceiptSpool::RunCurrencyJob(const JobFile& job) {
  Log("-> Programare Valute: ");
  for (const SentLine& line : LinesToSend(job, settings_))
    TranslateCurrencyLine(line.text, settings_, NewFirmware, link_);
  std::error_code ec;
  fs::remove(PathFromText(JobFileNative()), ec);
  if (ec) {
    // Programmed already: never again in this run, even though the file stays.
    Log("-> EROARE !! FISIERUL " + JobFileForLog() + " NU POATE FI STERS: " + ec.message());
    stuck_.insert(JobFileName);
  }
  EndTick();
}

void ReceiptSpool::RunReceiptJob(const JobFile& job) {
  Log("-> Inceput tiparire: " + JobFileForLog());
  Record(JobState::Printing);
  bool paying = false;
  std::optional<SentLine> firstFailure;
  for (const SentLine& line : LinesToSend(job, settings_)) {
    // From its first payment on, a receipt may be closed on the register: it
    // is never printed again nor filed without the operator's word.
    const bool payment = IsPayment(ClassifyReceiptLine(line.text, settings_));
    if (payment && !paying) {
      paying = true;
      Record(JobState::Paying);
    }
    const bool failedBefore = link_.CommandFailed();
    const LineOutcome outcome = TranslateReceiptLine(line.text, settings_, NewFirmware, link_);
    if (!failedBefore && link_.CommandFailed()) firstFailure = line;
    // During the exit a failed command stops the receipt at once.
    if (ExitRequested && link_.CommandFailed()) return StopForExit();
    if (payment && link_.LastVerdict() == Exchange::NoReply) return AskPayment();
    if (outcome == LineOutcome::ReceiptPrinted) {
      // A credit payment the register carried out closes the receipt, even
      // after an earlier line failed; one it refused is a failed receipt.
      if (link_.LastVerdict() != Exchange::Reply) return PrintError();
      if (firstFailure) {
        Log("-> ATENTIE !! LINIA " + std::to_string(firstFailure->index + 1) + " (" +
            VisibleText(firstFailure->text) + ") A BONULUI " + JobFileForLog() +
            " A ESUAT; BONUL A FOST INCHIS PRIN PLATA PE CREDIT");
      }
      link_.ForgetFailures();
      return FinishPrinted();
    }
    if (outcome == LineOutcome::ReceiptFailed) return PrintError();
  }
  if (link_.CommandFailed()) return PrintError();
  FinishPrinted();
}

void ReceiptSpool::FinishPrinted() {
  Record(JobState::Printed);
  FileIntoOkDirectory();
  EndTick();
}

// Files a printed receipt and forgets its entry. False when it could not be
// filed anywhere: it stays, skipped until a restart files it by the journal.
bool ReceiptSpool::FileIntoOkDirectory() {
  std::string okError;
  if (MoveJobTo(settings_.OKDIR, &okError)) {
    Log("-> Sfirsit tiparire: " + JobFileForLog() + "; Mutare in directorul " + settings_.OKDIR);
  } else {
    // The receipt is printed: it must not be printed again, so it goes to the
    // error directory, or stays where it is and is skipped until a restart.
    Log("-> EROARE !! MUTARE " + JobFileForLog() + " IN DIRECTORUL " + settings_.OKDIR +
        " ESUATA: " + okError);
    std::string errError;
    if (!MoveJobTo(settings_.ERRDIR, &errError)) {
      Log("-> Sfirsit tiparire: " + JobFileForLog() + "; BON TIPARIT, FISIER NEMUTAT: " + errError);
      stuck_.insert(JobFileName);
      return false;
    }
    Log("-> Sfirsit tiparire: " + JobFileForLog() + "; Mutare in directorul " + settings_.ERRDIR);
  }
  Forget(JobFileName);
  return true;
}

// Files a cancelled or given-up receipt into the error directory and forgets
// its entry. False when it cannot be moved: it stays, skipped until a restart
// files it by the journal (its entry says GivenUp: nothing more is sent).
bool ReceiptSpool::FileIntoErrorDirectory() {
  std::string error;
  if (!MoveJobTo(settings_.ERRDIR, &error)) {
    Log("-> EROARE !! FISIERUL " + JobFileForLog() + " NU POATE FI MUTAT: " + error);
    stuck_.insert(JobFileName);
    return false;
  }
  Forget(JobFileName);
  return true;
}

void ReceiptSpool::FinishCancelled() {
  Log("-> EROARE !!  FISIERUL" + JobFileForLog() + " ANULAT SI MUTAT IN DIRECTORUL" +
      settings_.ERRDIR);
  Record(JobState::GivenUp);
  FileIntoErrorDirectory();
  EndTick();
}

void ReceiptSpool::NoAnswer() {
  host_.SetTrayIcon(TrayPicture::Error);
  Log("-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!");
  const bool goOn = host_.AskContinueWithoutRegister();
  // The exit closed the box: the operator did not choose to go on.
  if (ExitRequested) return EndTick();
  if (!goOn) {
    host_.EndProgramNow();
    return;
  }
  Log("\t-> RE-INCERCARE...");
  RetakeNext();
  EndTick();
}

// A payment of the receipt got no reply, or the driver stopped while one was
// on its way: the operator says from the paper whether the receipt came out.
// "Da" files it as printed; "Nu" voids what is open on the register and
// prints it again, as a retry does. A box closed by the exit leaves the
// journal as it is, so the next start asks again.
void ReceiptSpool::AskPayment() {
  host_.SetTrayIcon(TrayPicture::Error);
  Log("-> PLATA NECONFIRMATA: BONUL " + JobFileForLog() + " A IESIT COMPLET DIN CASA DE MARCAT ??");
  const bool complete = host_.AskReceiptComplete(JobFileForLog());
  if (ExitRequested) return EndTick();
  link_.ForgetFailures();
  if (complete) {
    Log("\t-> DA: BONUL A IESIT COMPLET");
    OperatorDecision = Decision::None;
    return FinishPrinted();
  }
  Log("\t-> NU: BONUL SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU");
  OperatorDecision = Decision::VoidAndReprint;
  Record(JobState::Printing);
  RetakeNext();
  EndTick();
}

void ReceiptSpool::RetakeNext() {
  retake_ = RetakeFile{JobFileName, takenIdentity_};
}

void ReceiptSpool::PrintError() {
  if (ExitRequested) return StopForExit();
  host_.SetTrayIcon(TrayPicture::Error);
  Log("-> EROARE LA TIPARIRE BON " + JobFileForLog() + " !!!");
  // Unless the operator gives it up, the file is taken again first.
  RetakeNext();
  host_.ShowPrintErrorDialog();
  EndTick();
}

void ReceiptSpool::StopForExit() {
  Log("-> EROARE LA TIPARIRE BON " + JobFileForLog() +
      " IN TIMPUL IESIRII; FISIERUL RAMINE IN DIRECTORUL " + settings_.BONDIR);
  EndTick();
}

void ReceiptSpool::OnErrorDialogButton(ErrorChoice choice) {
  switch (choice) {
    case ErrorChoice::Retry:
      Log("\t-> RE-INCEARCA...");
      OperatorDecision = Decision::VoidAndReprint;
      // The operator chose to print it again: a restart voids and reprints it too.
      Record(JobState::Printing);
      break;
    case ErrorChoice::CancelReceipt:
      Log("\t-> ANULARE BON...");
      OperatorDecision = Decision::VoidAndFile;
      // So that a restart cancels it too, instead of printing it again.
      Record(JobState::Cancelled);
      break;
    case ErrorChoice::GiveUp:
      Log("\t-> RENUNTARE...");
      link_.ForgetFailures();
      OperatorDecision = Decision::None;
      retake_.reset();
      Log("-> EROARE !! MUTARE " + JobFileForLog() + " IN DIRECTORUL " + settings_.ERRDIR);
      Record(JobState::GivenUp);
      FileIntoErrorDirectory();
      break;
  }
}

void ReceiptSpool::EndTick() {
  phase_ = Phase::Idle;
  if (ExitRequested) {
    host_.UnloadMain();
    return;
  }
  host_.SetTrayIcon(TrayPicture::Idle);
  SetTimer(true);
}

bool ReceiptSpool::MoveJobTo(const std::string& dirSetting, std::string* error) {
  return MoveIntoDirectory(JobFileNative(), NativeDirectory(dirSetting), JobFileName, error);
}

void ReceiptSpool::RequestClearing() {
  ClearRequested = true;
  if (phase_ == Phase::Idle && !timerOn_ && !ExitRequested) SetTimer(true);
}

void ReceiptSpool::PerformClearing() {
  Log("-> EFECTUARE STERGERE: " + timestamp_());
  SetTimer(false);
  phase_ = Phase::Clearing;
  link_.SendKeysLong(keys::kClearingFirst);
  if (!ExitRequested) link_.SendKeysLong(keys::kClearingSecond);
  ClearRequested = false;
  EndTick();
}

void ReceiptSpool::RequestExit() {
  ExitRequested = true;
  if (phase_ == Phase::Queries || phase_ == Phase::Clearing) link_.ReleaseWait();
}

}  // namespace ovix
