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
      timestamp_(std::move(timestamp)) {}

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
    if (arrived_.count(name)) {
      taken = name;
      wholeDirectory = false;
      break;
    }
    if (kind == LookKind::Arrivals) continue;
    const Stamp stamp{it->file_size(statEc), it->last_write_time(statEc)};
    if (statEc) continue;
    auto previous = seen_.find(name);
    if (previous != seen_.end() && previous->second == stamp) {
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
  if (kind == LookKind::Arrivals) return result;
  if (wholeDirectory) {
    // Files that are gone are forgotten.
    seen_ = std::move(visited);
    std::erase_if(deferred_, [&](const auto& d) { return !setAside.count(d.first); });
    std::erase_if(arrived_, [&](const std::string& name) { return name != taken; });
  } else {
    for (auto& [name, stamp] : visited) seen_[name] = stamp;
    if (taken) seen_.erase(*taken);
  }
  result.lookAgain = !wholeDirectory || !seen_.empty() || !deferred_.empty();
  return result;
}

std::optional<ReceiptSpool::Stamp> ReceiptSpool::StampOf(const std::string& name) const {
  std::error_code ec;
  const fs::path path = PathFromText(NativeDirectory(settings_.BONDIR) + name);
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(status)) return std::nullopt;
  Stamp stamp{fs::file_size(path, ec), {}};
  if (!ec) stamp.modified = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return stamp;
}

bool ReceiptSpool::CanBeJob(const std::string& name) const {
  return !name.empty() && name[0] != '.' && !IsOwnFile(name) &&
         MatchesMask(name, settings_.EXTENSIE);
}

bool ReceiptSpool::IsOwnFile(const std::string& name) const {
  // The log, the wire trace and the job record never count as jobs, whatever
  // the mask.
  for (std::string_view own : {kLogFileName, kTraceFileName, kJobRecordFileName}) {
    if (MatchesMask(name, own) || MatchesMask(name, std::string(own) + ".tmp")) return true;
  }
  return false;
}

bool ReceiptSpool::RecordJob(const char* state) {
  std::string error;
  const std::string path = NativeDirectory(settings_.BONDIR) + std::string(kJobRecordFileName);
  if (WriteFileDurably(path, std::string(state) + " " + VisibleText(JobFileName, true) + "\n",
                       &error))
    return true;
  Log("-> EROARE !! EVIDENTA BONULUI " + JobFileForLog() + " NU POATE FI SCRISA: " + error);
  return false;
}

void ReceiptSpool::ClearJobRecord() {
  std::string error;
  const std::string path = NativeDirectory(settings_.BONDIR) + std::string(kJobRecordFileName);
  if (fs::exists(PathFromText(path)) && !RemoveFileDurably(path, &error))
    Log("-> EROARE !! EVIDENTA " + path + " NU POATE FI STEARSA: " + error);
}

void ReceiptSpool::RecoverInterruptedJob() {
  const std::string path = NativeDirectory(settings_.BONDIR) + std::string(kJobRecordFileName);
  std::string error;
  const std::optional<std::vector<std::string>> lines = ReadLines(path, &error);
  if (!lines || lines->empty()) return;
  const std::string& record = lines->front();
  const std::size_t blank = record.find(' ');
  if (blank == std::string::npos) return ClearJobRecord();
  const std::string state = record.substr(0, blank);
  JobFileName = UnescapeText(record.substr(blank + 1));
  if (state == "PRINTED") {
    Log("-> RECUPERARE: BONUL " + JobFileForLog() + " A FOST TIPARIT INAINTE DE OPRIRE");
    if (fs::exists(PathFromText(JobFileNative()))) {
      FileIntoOkDirectory();
    } else {
      ClearJobRecord();
    }
    return;
  }
  if (state == "CANCEL") {
    // The operator cancelled it and the driver stopped before carrying that out.
    Log("-> RECUPERARE: BONUL " + JobFileForLog() +
        " A FOST ANULAT; SE ANULEAZA PE CASA SI SE MUTA IN DIRECTORUL " + settings_.ERRDIR);
    OperatorDecision = Decision::VoidAndFile;
  } else {
    // Cut off in the middle: the next job tick clears the half-printed receipt
    // on the register, as a retry would, before printing it again.
    Log("-> RECUPERARE: BONUL " + JobFileForLog() +
        " A FOST INTRERUPT; SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU");
    OperatorDecision = Decision::VoidAndReprint;
  }
  retake_ = JobFileName;
  retakeStamp_.reset();
}

void ReceiptSpool::OnPortError(const std::string& reason) {
  if (portProblem_) return;
  portProblem_ = true;
  Log("-> EROARE PORT SERIAL " + settings_.COM + ": " + reason);
}

void ReceiptSpool::Tick() {
  if (phase_ != Phase::Idle) return;
  if (retake_) return Retake();
  const ScanResult scan = Scan(LookKind::Timer);
  if (scan.taken) {
    RunJob(*scan.taken);
  } else if (!scan.anyWaiting && ClearRequested) {
    // A clearing never comes between a receipt and its retry, nor before a
    // file that is still being written or cannot be taken yet.
    PerformClearing();
  } else {
    SetTimer(!watching_ || scan.lookAgain || ClearRequested);
  }
}

void ReceiptSpool::Look() {
  if (phase_ != Phase::Idle || ExitRequested) return;
  // With the timer off nothing waited for a second look, so a full look now
  // cannot take a file written in place too early.
  if (!timerOn_) return Tick();
  if (retake_) return;  // the failed file goes first, on the next tick
  const ScanResult scan = Scan(LookKind::Arrivals);
  if (scan.taken) RunJob(*scan.taken);
}

void ReceiptSpool::SafetyLook() {
  if (phase_ != Phase::Idle || ExitRequested || timerOn_ || !watching_) return;
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
  const std::string name = *retake_;
  const std::optional<Stamp> stamp = StampOf(name);
  if (!stamp) {
    JobFileName = name;
    return VoidForGoneFile();
  }
  if (auto d = deferred_.find(name); d != deferred_.end()) {
    if (clock_.Now() < d->second) {
      // Without a decision no other file can be wronged: the rest go on.
      if (OperatorDecision == Decision::None) retake_.reset();
      return;
    }
    deferred_.erase(d);
  }
  // A file rewritten since it failed is read only once it stopped changing.
  if (retakeStamp_ && *retakeStamp_ != *stamp) {
    retakeStamp_ = stamp;
    return;
  }
  RunJob(name);
}

void ReceiptSpool::RunJob(const std::string& name) {
  JobFileName = name;
  arrived_.erase(name);
  std::string error;
  std::optional<std::vector<std::string>> lines = ReadLines(JobFileNative(), &error);
  if (!lines) {
    ReportOnce(name, "-> EROARE !! FISIERUL " + JobFileForLog() + " NU POATE FI CITIT: " + error);
    deferred_[name] = clock_.Now() + kRetryDelay;
    SetTimer(true);  // the timer's looks try it again
    return;
  }
  takenStamp_ = StampOf(name);
  retake_.reset();
  reported_.erase(name);
  const JobFile job = MakeJobFile(std::move(*lines), settings_);
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
  return true;
}

// The decision for a file that has left the spool: the receipt it left
// unfinished on the register is voided all the same, so that the next
// receipt does not land in it.
void ReceiptSpool::VoidForGoneFile() {
  const std::string gone = "-> EROARE !! FISIERUL " + JobFileForLog() + " NU MAI EXISTA";
  retake_.reset();
  if (OperatorDecision == Decision::None) {
    Log(gone);
    ClearJobRecord();
    return;
  }
  if (StartJob() == Step::Ended || PreJobCheck() == Step::Ended) return;
  Log(gone + "; BONUL NETERMINAT A FOST ANULAT PE CASA");
  ClearJobRecord();
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
  if (link_.SecondStatus != 0) answered = SendEachKey(keys::kCancelSequenceTail) && answered;
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
  RecordJob("PRINTING");
  for (const SentLine& line : LinesToSend(job, settings_)) {
    const LineOutcome outcome = TranslateReceiptLine(line.text, settings_, NewFirmware, link_);
    // A credit payment closes the receipt only when the register carried out
    // it and every line before it; otherwise the receipt failed.
    if (outcome == LineOutcome::ReceiptPrinted)
      return link_.CommandFailed() ? PrintError() : FinishPrinted();
    if (outcome == LineOutcome::ReceiptFailed) return PrintError();
    // During the exit a failed command stops the receipt at once.
    if (ExitRequested && link_.CommandFailed()) return StopForExit();
  }
  if (link_.CommandFailed()) return PrintError();
  FinishPrinted();
}

void ReceiptSpool::FinishPrinted() {
  RecordJob("PRINTED");
  FileIntoOkDirectory();
  EndTick();
}

// Files a printed receipt and clears its record. False when it could not be
// filed anywhere: it stays, skipped until a restart files it by the record.
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
  ClearJobRecord();
  return true;
}

void ReceiptSpool::FinishCancelled() {
  Log("-> EROARE !!  FISIERUL" + JobFileForLog() + " ANULAT SI MUTAT IN DIRECTORUL" +
      settings_.ERRDIR);
  std::string error;
  if (!MoveJobTo(settings_.ERRDIR, &error)) {
    Log("-> EROARE !! FISIERUL " + JobFileForLog() + " NU POATE FI MUTAT: " + error);
    stuck_.insert(JobFileName);
  }
  ClearJobRecord();
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

void ReceiptSpool::RetakeNext() {
  retake_ = JobFileName;
  retakeStamp_ = takenStamp_;
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
      break;
    case ErrorChoice::CancelReceipt:
      Log("\t-> ANULARE BON...");
      OperatorDecision = Decision::VoidAndFile;
      // So that a restart cancels it too, instead of printing it again.
      RecordJob("CANCEL");
      break;
    case ErrorChoice::GiveUp: {
      Log("\t-> RENUNTARE...");
      link_.ForgetFailures();
      OperatorDecision = Decision::None;
      retake_.reset();
      Log("-> EROARE !! MUTARE " + JobFileForLog() + " IN DIRECTORUL " + settings_.ERRDIR);
      std::string error;
      if (!MoveJobTo(settings_.ERRDIR, &error)) {
        Log("-> EROARE !! FISIERUL " + JobFileForLog() + " NU POATE FI MUTAT: " + error);
        stuck_.insert(JobFileName);
      }
      ClearJobRecord();
      break;
    }
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
