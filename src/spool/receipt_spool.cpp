#include "spool/receipt_spool.h"

#include "os/os.h"
#include "os/text.h"
#include "spool/job_file.h"
#include "spool/keys.h"
#include "spool/receipt_line.h"
#include "spool/spool_files.h"
#include "spool/translation.h"

namespace ovix {

ReceiptSpool::ReceiptSpool(Env& env, const DriverSettings& settings, PrinterLink& link,
                           const EventLog& log, DriverHost& host, Clock& clock, Timestamp timestamp)
    : settings_(settings),
      link_(link),
      log_(log),
      host_(host),
      timestamp_(std::move(timestamp)),
      chooser_(env, settings, clock, log),
      filer_(env, settings, log, chooser_) {}

std::string ReceiptSpool::GoneLine(const JobFileRef& file, bool replaced) const {
  return "-> EROARE !! FISIERUL " + filer_.ForLog(file) +
         (replaced ? " A FOST INLOCUIT CU ALT FISIER" : " NU MAI EXISTA");
}

void ReceiptSpool::Log(const std::string& line) {
  // A line that cannot be written is skipped: the job matters more than its record.
  log_.WriteLogLine(line);
}

void ReceiptSpool::RecoverInterruptedJob() {
  const std::optional<std::vector<JournalEntry>> entries = filer_.Recover();
  journalUnread_ = !entries;
  if (!entries) return;
  for (const JournalEntry& entry : *entries) {
    const RetakeFile retake{{entry.name, entry.identity}, entry.state == JobState::Paying};
    recovered_.emplace_back(retake, entry.state == JobState::Cancelled ? Decision::VoidAndFile
                                                                       : Decision::VoidAndReprint);
  }
}

void ReceiptSpool::OnPortError(const std::string& reason) {
  if (portProblem_) return;
  portProblem_ = true;
  Log("-> EROARE PORT SERIAL " + settings_.COM + ": " + reason);
}

void ReceiptSpool::Tick() {
  if (phase_ != Phase::Idle) return;
  if (journalUnread_) {
    // No file is taken before the journal of the last run is read.
    RecoverInterruptedJob();
    if (journalUnread_) return SetTimer(true);
  }
  if (!retake_ && !recovered_.empty()) {
    retake_ = recovered_.front().first;
    operatorDecision_ = recovered_.front().second;
    recovered_.pop_front();
  }
  if (retake_) {
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
    PerformClearing();
  } else {
    SetTimer(!watching_ || scan.lookAgain || clearRequested_);
  }
}

void ReceiptSpool::KeepLooking() {
  if (phase_ == Phase::Idle && !exitRequested_) SetTimer(true);
}

void ReceiptSpool::Look() {
  if (phase_ != Phase::Idle || exitRequested_) return;
  // With the timer off nothing waited for a second look, so a full look now
  // cannot take a file written in place too early.
  if (!timerOn_) return Tick();
  // The failed file goes first, on the next tick; nothing goes before the journal is read.
  if (retake_ || !recovered_.empty() || journalUnread_) return;
  const FileChooser::ScanResult scan = chooser_.Scan(FileChooser::LookKind::Arrivals);
  if (scan.taken) TakeFile(*scan.taken);
}

void ReceiptSpool::SafetyLook() {
  if (phase_ != Phase::Idle || exitRequested_) return;
  filer_.RetryUnfiled();
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
    chooser_.ForgetArrivals();
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
  chooser_.ForgetArrivals();
  FallBackToPolling(reason);
  if (phase_ == Phase::Idle && !exitRequested_) SetTimer(true);
}

void ReceiptSpool::FallBackToPolling(const std::string& reason) {
  Log("-> DIRECTORUL " + settings_.BONDIR + " NU POATE FI SUPRAVEGHEAT (" + reason +
      "); FISIERELE SE CAUTA LA FIECARE 100 ms");
}

bool ReceiptSpool::OnSpoolChange(SpoolChange change, const std::string& name) {
  if (!watching_ || !chooser_.NoteChange(change, name)) return false;
  // A running job turns the timer on at its end; an exit looks at nothing.
  if (phase_ != Phase::Idle || exitRequested_) return false;
  return !timerOn_ || change == SpoolChange::Arrived;
}

void ReceiptSpool::SetTimer(bool enabled) {
  if (enabled == timerOn_) return;
  timerOn_ = enabled;
  host_.SetTimerEnabled(enabled);
}

void ReceiptSpool::Retake() {
  const RetakeFile retake = *retake_;
  const std::string& name = retake.file.name;
  if (chooser_.IsSetAside(name)) {
    // Without a decision no other file can be wronged: the rest go on.
    if (operatorDecision_ == Decision::None && !retake.askFirst) retake_.reset();
    return;
  }
  std::string error;
  const FileChooser::Presence presence = chooser_.Find(name, &error);
  if (presence == FileChooser::Presence::Unknown)
    return EndJob(retake.file, JobOutcome::Unreadable, error);
  if (presence == FileChooser::Presence::Gone)
    return EndJob(retake.file, VoidForGoneFile(), GoneLine(retake.file, false));
  const std::optional<ReadFile> read = chooser_.Read(name, &error);
  if (!read) return EndJob(retake.file, JobOutcome::Unreadable, error);
  // Another file under the same name is a new job, taken by a later look.
  if (retake.file.identity && *retake.file.identity != read->identity)
    return EndJob(retake.file, VoidForGoneFile(), GoneLine(retake.file, true));
  const JobFileRef file{name, read->identity};
  if (!retake.askFirst) return EndJob(file, RunJob(file, read->content));
  retake_.reset();
  SetTimer(false);
  phase_ = Phase::Lines;
  EndJob(file, JobOutcome::PaymentUnconfirmed);
}

void ReceiptSpool::TakeFile(const std::string& name) {
  std::string error;
  const std::optional<ReadFile> read = chooser_.Read(name, &error);
  if (!read) return EndJob({name, std::nullopt}, JobOutcome::Unreadable, error);
  const JobFileRef file{name, read->identity};
  EndJob(file, RunJob(file, read->content));
}

JobOutcome ReceiptSpool::RunJob(const JobFileRef& file, const std::string& content) {
  chooser_.Taken(file.name);
  retake_.reset();
  const JobFile job = MakeJobFile(SplitLines(content), settings_);
  // A file with nothing to send is filed at once, without talking to the
  // register, unless a decision for it is still to be carried out there.
  if (HasNothingToSend(job) && operatorDecision_ == Decision::None) {
    return job.kind == JobKind::CurrencyProgramming ? JobOutcome::DeletedWithoutSending
                                                    : JobOutcome::FiledWithoutSending;
  }
  if (std::optional<JobOutcome> end = StartJob()) return *end;
  if (std::optional<JobOutcome> end = PreJobCheck()) return *end;
  phase_ = Phase::Lines;
  if (job.kind == JobKind::CurrencyProgramming) return RunCurrencyJob(job);
  return RunReceiptJob(file, job);
}

// The decision for a file that has left the spool, or was replaced by another
// file of its name: the receipt it left unfinished on the register is voided
// all the same, so that the next receipt does not land in it.
JobOutcome ReceiptSpool::VoidForGoneFile() {
  const bool paying = retake_ && retake_->askFirst;
  retake_.reset();
  if (operatorDecision_ == Decision::None) return JobOutcome::FileGone;
  if (std::optional<JobOutcome> end = StartJob()) return *end;
  // A cancel carried out is all the decision asks for here: nothing is filed.
  const std::optional<JobOutcome> end = PreJobCheck();
  if (end && *end != JobOutcome::Cancelled) return *end;
  return paying ? JobOutcome::GonePaymentCleared : JobOutcome::GoneFileVoided;
}

// The busy picture, the timer off, the port open, the identification query.
std::optional<JobOutcome> ReceiptSpool::StartJob() {
  host_.SetTrayIcon(TrayPicture::Busy);
  SetTimer(false);
  phase_ = Phase::Queries;
  std::string error;
  if (!link_.EnsurePortOpen(&error)) {
    OnPortError("portul nu poate fi deschis: " + error);
    return JobOutcome::NoAnswer;
  }
  if (portProblem_) {
    portProblem_ = false;
    Log("-> PORT SERIAL " + settings_.COM + " FUNCTIONEAZA DIN NOU");
  }
  const Identification id = link_.QueryIdentification();
  if (std::optional<JobOutcome> end = AfterExchange(id.exchange != Exchange::NoReply)) return end;
  newFirmware_ = id.NewFirmware();
  return std::nullopt;
}

// Where a job goes after the register was asked something: once the exit is
// confirmed nothing more is sent for it; without an answer it takes the
// no-answer path; otherwise it goes on.
std::optional<JobOutcome> ReceiptSpool::AfterExchange(bool answered) const {
  if (exitRequested_) return JobOutcome::Interrupted;
  if (!answered) return JobOutcome::NoAnswer;
  return std::nullopt;
}

// The status query, then a pending decision, or the keys the status asks for.
std::optional<JobOutcome> ReceiptSpool::PreJobCheck() {
  const RegisterStatus status = link_.QueryStatus();
  // Without a status reply there is nothing to test: a pending decision
  // waits for an answer.
  if (std::optional<JobOutcome> end = AfterExchange(status.exchange != Exchange::NoReply))
    return end;
  if (operatorDecision_ != Decision::None) return CarryOutDecision();
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
std::optional<JobOutcome> ReceiptSpool::CarryOutDecision() {
  const bool cancel = operatorDecision_ == Decision::VoidAndFile;
  const bool answered = cancel ? CancelSequence() : SendEachKey(keys::kRetryPreparation);
  if (std::optional<JobOutcome> end = AfterExchange(answered)) return end;
  operatorDecision_ = Decision::None;
  link_.ForgetFailures();
  if (cancel) return JobOutcome::Cancelled;
  return std::nullopt;
}

// True when the register answered the keys of the cancel sequence.
bool ReceiptSpool::CancelSequence() {
  const bool answered = SendEachKey(keys::kCancelSequence);
  if (!answered || link_.SecondStatus() == 0) return answered;
  return SendEachKey(keys::kCancelSequenceTail);
}

// Sends each key as a command of its own, whatever the one before gave, but
// for the void key: when the register did not carry it out, the receipt is
// still open and the keys after it would land in it (the total key of the
// retry preparation would pay it), so nothing more is sent and the keys count
// as unanswered. Stops once the exit is confirmed. True when every key was
// answered.
bool ReceiptSpool::SendEachKey(std::string_view keys) {
  bool answered = true;
  for (char key : keys) {
    if (exitRequested_) return false;
    const Exchange exchange = link_.SendCommand(std::string_view(&key, 1));
    if (key == keys::kVoid && exchange != Exchange::Reply) return false;
    answered = answered && (exchange == Exchange::Reply || exchange == Exchange::Refused);
  }
  return answered;
}

JobOutcome ReceiptSpool::RunCurrencyJob(const JobFile& job) {
  // Kept as it always read: the file is not named, and the line ends in a
  // blank.
  Log("-> Programare Valute: ");
  for (const SentLine& line : LinesToSend(job, settings_))
    TranslateCurrencyLine(line.text, settings_, newFirmware_, link_);
  return JobOutcome::CurrencyProgrammed;
}

JobOutcome ReceiptSpool::RunReceiptJob(const JobFileRef& file, const JobFile& job) {
  // The start and end lines of a receipt are in small letters, unlike the
  // rest of the log: kept as they always read, for whoever searches the log.
  Log("-> Inceput tiparire: " + filer_.ForLog(file));
  filer_.Record(file, JobState::Printing);
  ReceiptProgress progress;
  for (const SentLine& line : LinesToSend(job, settings_)) {
    if (std::optional<JobOutcome> end = SendReceiptLine(file, line, progress)) return *end;
  }
  if (progress.failedAfterPayment) return PaidDespiteFailure(file, *progress.failedAfterPayment);
  return link_.CommandFailed() ? JobOutcome::PrintFailed : JobOutcome::Printed;
}

// One line of a receipt. A payment is not sent once a line of the receipt
// failed: the receipt then stays open on the register, where a retry or a
// cancel voids it, instead of being closed and printed with the failure in
// it. The credit line alone keeps its own rule (CreditPaymentClosed).
std::optional<JobOutcome> ReceiptSpool::SendReceiptLine(const JobFileRef& file,
                                                        const SentLine& line,
                                                        ReceiptProgress& progress) {
  const LineKind kind = ClassifyReceiptLine(line.text, settings_);
  const bool payment = IsPayment(kind);
  if (payment && kind != LineKind::Credit && !progress.paid && link_.CommandFailed()) {
    Log(LineLogText("-> EROARE !! LINIA ", progress.firstFailure.value_or(line), file) +
        " A ESUAT; PLATA NU SE MAI TRIMITE");
    return JobOutcome::PrintFailed;
  }
  // From its first payment on, a receipt may be closed on the register: it
  // is never printed again nor filed without the operator's word.
  if (payment && !progress.paying) {
    progress.paying = true;
    filer_.Record(file, JobState::Paying);
  }
  const bool failedBefore = link_.CommandFailed();
  const LineOutcome outcome = TranslateReceiptLine(line.text, settings_, newFirmware_, link_);
  if (!failedBefore && link_.CommandFailed()) {
    (progress.paid ? progress.failedAfterPayment : progress.firstFailure) = line;
  }
  // Once a payment was carried out the receipt may be closed and printed:
  // whatever fails after it, it is never sent again.
  if (progress.paid && progress.failedAfterPayment &&
      (exitRequested_ || outcome != LineOutcome::GoOn || link_.LastVerdict() == Exchange::NoReply))
    return PaidDespiteFailure(file, *progress.failedAfterPayment);
  // During the exit a failed command stops the receipt at once.
  if (exitRequested_ && link_.CommandFailed()) return JobOutcome::StoppedForExit;
  if (payment && link_.LastVerdict() == Exchange::NoReply) return JobOutcome::PaymentUnconfirmed;
  if (outcome == LineOutcome::ReceiptPrinted)
    return CreditPaymentClosed(file, progress.firstFailure);
  if (outcome == LineOutcome::ReceiptFailed) return JobOutcome::PrintFailed;
  if (payment && link_.LastVerdict() == Exchange::Reply) progress.paid = true;
  return std::nullopt;
}

// "-> ... LINIA <n> (<text>) A BONULUI <file>": the start of the log lines
// that name a failed line of a receipt.
std::string ReceiptSpool::LineLogText(const std::string& prefix, const SentLine& line,
                                      const JobFileRef& file) const {
  return prefix + std::to_string(line.index + 1) + " (" + VisibleText(line.text) + ") A BONULUI " +
         filer_.ForLog(file);
}

// A receipt whose payment the register carried out is filed as printed, even
// though a later line failed: sending it again could print and pay it twice.
JobOutcome ReceiptSpool::PaidDespiteFailure(const JobFileRef& file, const SentLine& line) {
  Log(LineLogText("-> ATENTIE !! LINIA ", line, file) +
      " A ESUAT DUPA PLATA; BONUL NU SE TRIMITE DIN NOU");
  link_.ForgetFailures();
  return JobOutcome::Printed;
}

// A credit payment the register carried out closes the receipt, even after an
// earlier line failed; one it refused is a failed receipt.
JobOutcome ReceiptSpool::CreditPaymentClosed(const JobFileRef& file,
                                             const std::optional<SentLine>& firstFailure) {
  if (link_.LastVerdict() != Exchange::Reply) return JobOutcome::PrintFailed;
  if (firstFailure) {
    Log(LineLogText("-> ATENTIE !! LINIA ", *firstFailure, file) +
        " A ESUAT; BONUL A FOST INCHIS PRIN PLATA PE CREDIT");
  }
  link_.ForgetFailures();
  return JobOutcome::Printed;
}

void ReceiptSpool::EndJob(const JobFileRef& file, JobOutcome outcome, const std::string& detail) {
  switch (outcome) {
    case JobOutcome::Printed:
      filer_.Record(file, JobState::Printed);
      filer_.FileIntoOkDirectory(file);
      break;
    case JobOutcome::Cancelled:
      // Two blanks before FISIERUL and none before either path: the line as
      // it always read, not a slip to tidy.
      Log("-> EROARE !!  FISIERUL" + filer_.ForLog(file) + " ANULAT SI MUTAT IN DIRECTORUL" +
          settings_.ERRDIR);
      filer_.Record(file, JobState::GivenUp);
      filer_.FileIntoErrorDirectory(file);
      break;
    case JobOutcome::NoAnswer:
      if (!AskToGoOn(file)) return;
      break;
    case JobOutcome::PaymentUnconfirmed:
      return EndJob(file, AskPayment(file));
    case JobOutcome::ReprintAsked:
      filer_.Record(file, JobState::Printing);
      retake_ = RetakeFile{file};
      break;
    case JobOutcome::PrintFailed:
      if (exitRequested_) return EndJob(file, JobOutcome::StoppedForExit);
      ShowPrintError(file);
      break;
    case JobOutcome::StoppedForExit:
      Log("-> EROARE LA TIPARIRE BON " + filer_.ForLog(file) +
          " IN TIMPUL IESIRII; FISIERUL RAMINE IN DIRECTORUL " + settings_.BONDIR);
      break;
    case JobOutcome::Interrupted:
      break;
    case JobOutcome::CurrencyProgrammed:
      filer_.DeleteProgrammedFile(file);
      break;
    case JobOutcome::GoneFileVoided:
      Log(detail + "; BONUL NETERMINAT A FOST ANULAT PE CASA");
      filer_.Forget(file.name);
      break;
    case JobOutcome::GonePaymentCleared:
      // Its payment may have closed the receipt: only what was still open is voided.
      Log(detail + "; BONUL ERA LA PLATA; CE ERA DESCHIS PE CASA A FOST ANULAT");
      filer_.Forget(file.name);
      break;
    default:
      return EndWithoutRegister(file, outcome, detail);
  }
  EndTick();
}

// The ends of files no tick was started for: the tick goes on as it was.
void ReceiptSpool::EndWithoutRegister(const JobFileRef& file, JobOutcome outcome,
                                      const std::string& detail) {
  switch (outcome) {
    case JobOutcome::FileGone:
      Log(detail);
      filer_.Forget(file.name);
      return;
    case JobOutcome::FiledWithoutSending:
    case JobOutcome::DeletedWithoutSending:
      return filer_.FileEmptyFile(file, outcome == JobOutcome::DeletedWithoutSending);
    case JobOutcome::Unreadable:
      return chooser_.SetAside(file.name, "-> EROARE !! FISIERUL " + filer_.ForLog(file) +
                                              " NU POATE FI CITIT: " + detail);
    default:
      return;
  }
}

bool ReceiptSpool::AskToGoOn(const JobFileRef& file) {
  host_.SetTrayIcon(TrayPicture::Error);
  // The one log line that begins in English ("ERROR"): kept as it always was.
  Log("-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!");
  prompting_ = true;
  const bool goOn = host_.AskContinueWithoutRegister();
  prompting_ = false;
  // The exit closed the box: the operator did not choose to go on.
  if (exitRequested_) return true;
  if (!goOn) {
    host_.EndProgramNow();
    return false;
  }
  Log("\t-> RE-INCERCARE...");
  retake_ = RetakeFile{file};
  return true;
}

// A payment of the receipt got no reply, or the driver stopped while one was
// on its way: the operator says from the paper whether the receipt came out.
// "Da" files it as printed; "Nu" voids what is open on the register and
// prints it again, as a retry does. A box closed by the exit leaves the
// journal as it is, so the next start asks again.
JobOutcome ReceiptSpool::AskPayment(const JobFileRef& file) {
  host_.SetTrayIcon(TrayPicture::Error);
  Log("-> PLATA NECONFIRMATA: BONUL " + filer_.ForLog(file) +
      " A IESIT COMPLET DIN CASA DE MARCAT ??");
  prompting_ = true;
  const bool complete = host_.AskReceiptComplete(filer_.ForLog(file));
  prompting_ = false;
  if (exitRequested_) return JobOutcome::Interrupted;
  link_.ForgetFailures();
  if (complete) {
    Log("\t-> DA: BONUL A IESIT COMPLET");
    operatorDecision_ = Decision::None;
    return JobOutcome::Printed;
  }
  Log("\t-> NU: BONUL SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU");
  operatorDecision_ = Decision::VoidAndReprint;
  return JobOutcome::ReprintAsked;
}

void ReceiptSpool::ShowPrintError(const JobFileRef& file) {
  host_.SetTrayIcon(TrayPicture::Error);
  Log("-> EROARE LA TIPARIRE BON " + filer_.ForLog(file) + " !!!");
  // Unless the operator gives it up, the file is taken again first.
  retake_ = RetakeFile{file};
  prompting_ = true;
  host_.ShowPrintErrorDialog(file.name);
  prompting_ = false;
}

void ReceiptSpool::OnErrorDialogButton(ErrorChoice choice) {
  // The dialog is shown for the failed file, which the next tick takes again.
  if (!retake_) return;
  const JobFileRef file = retake_->file;
  switch (choice) {
    case ErrorChoice::Retry:
      Log("\t-> RE-INCEARCA...");
      operatorDecision_ = Decision::VoidAndReprint;
      // The operator chose to print it again: a restart voids and reprints it too.
      filer_.Record(file, JobState::Printing);
      break;
    case ErrorChoice::CancelReceipt:
      Log("\t-> ANULARE BON...");
      operatorDecision_ = Decision::VoidAndFile;
      // So that a restart cancels it too, instead of printing it again.
      filer_.Record(file, JobState::Cancelled);
      break;
    case ErrorChoice::GiveUp:
      Log("\t-> RENUNTARE...");
      link_.ForgetFailures();
      operatorDecision_ = Decision::None;
      retake_.reset();
      Log("-> EROARE !! MUTARE " + filer_.ForLog(file) + " IN DIRECTORUL " + settings_.ERRDIR);
      filer_.Record(file, JobState::GivenUp);
      filer_.FileIntoErrorDirectory(file);
      break;
  }
}

void ReceiptSpool::EndTick() {
  phase_ = Phase::Idle;
  if (exitRequested_) {
    host_.UnloadMain();
    return;
  }
  host_.SetTrayIcon(TrayPicture::Idle);
  SetTimer(true);
}

void ReceiptSpool::RequestClearing() {
  clearRequested_ = true;
  if (phase_ == Phase::Idle && !timerOn_ && !exitRequested_) SetTimer(true);
}

void ReceiptSpool::PerformClearing() {
  Log("-> EFECTUARE STERGERE: " + timestamp_());
  SetTimer(false);
  phase_ = Phase::Clearing;
  link_.SendCommandLong(keys::kClearingFirst);
  if (!exitRequested_) link_.SendCommandLong(keys::kClearingSecond);
  clearRequested_ = false;
  EndTick();
}

void ReceiptSpool::RequestExit() {
  exitRequested_ = true;
  // A released wait or a prompt that the exit ends takes the tick to its end.
  if (phase_ == Phase::Queries || phase_ == Phase::Clearing) {
    link_.ReleaseWait();
    exitFinal_ = true;
  }
  if (prompting_) exitFinal_ = true;
}

bool ReceiptSpool::WithdrawExit() {
  if (!exitRequested_ || exitFinal_ || phase_ == Phase::Idle) return false;
  exitRequested_ = false;
  Log("-> OPRIREA CERUTA A FOST RETRASA");
  return true;
}

}  // namespace ovix
