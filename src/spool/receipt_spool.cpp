#include "spool/receipt_spool.h"

#include "spool/job_log.h"
#include "spool/keys.h"
#include "spool/spool_files.h"

namespace ovix {

ReceiptSpool::ReceiptSpool(const DriverSettings& settings, PrinterLink& link, const EventLog& log,
                           DriverHost& host, JobFiler& filer, std::function<void()> pauseLooks)
    : settings_(settings),
      link_(link),
      log_(log),
      host_(host),
      filer_(filer),
      pauseLooks_(std::move(pauseLooks)),
      sender_(settings, link, log, filer, exitRequested_) {}

void ReceiptSpool::Log(const std::string& line) {
  // A line that cannot be written is skipped: the job matters more than its record.
  log_.WriteLogLine(line);
}

void ReceiptSpool::SetRetake(const RetakeFile& file, Decision decision) {
  retake_ = file;
  operatorDecision_ = decision;
}

void ReceiptSpool::OnPortError(const std::string& reason) {
  if (portProblem_) return;
  portProblem_ = true;
  Log(job_log::PortError(settings_.COM, reason));
}

TickEnd ReceiptSpool::Run(const JobFileRef& file, const std::string& content) {
  return EndJob(file, RunJob(file, content));
}

TickEnd ReceiptSpool::RunForGoneFile(const JobFileRef& file, bool replaced) {
  return EndJob(file, VoidForGoneFile(), job_log::FileGone(ForLog(file), replaced));
}

TickEnd ReceiptSpool::AskPaymentFirst(const JobFileRef& file) {
  retake_.reset();
  phase_ = Phase::Lines;
  return EndJob(file, JobOutcome::PaymentUnconfirmed);
}

JobOutcome ReceiptSpool::RunJob(const JobFileRef& file, const std::string& content) {
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
  if (job.kind == JobKind::CurrencyProgramming) return sender_.SendCurrencies(job, newFirmware_);
  return sender_.SendReceipt(file, job, newFirmware_);
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

// The busy picture, the looks paused, the port open, the identification query.
std::optional<JobOutcome> ReceiptSpool::StartJob() {
  host_.SetTrayIcon(TrayPicture::Busy);
  pauseLooks_();
  phase_ = Phase::Queries;
  std::string error;
  if (!link_.EnsurePortOpen(&error)) {
    OnPortError("portul nu poate fi deschis: " + error);
    return JobOutcome::NoAnswer;
  }
  if (portProblem_) {
    portProblem_ = false;
    Log(job_log::PortWorksAgain(settings_.COM));
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
    failed = !sender_.CancelSequence() || link_.CommandFailed();
  } else if (status.byte6 != 1) {
    failed = !sender_.SendEachKey(std::string_view(&keys::kStatusKey, 1)) || link_.CommandFailed();
  }
  return AfterExchange(!failed);
}

// A decision counts as carried out only when the register answered every key
// of it (a refusal is an answer); otherwise it waits for the register.
std::optional<JobOutcome> ReceiptSpool::CarryOutDecision() {
  const bool cancel = operatorDecision_ == Decision::VoidAndFile;
  const bool answered =
      cancel ? sender_.CancelSequence() : sender_.SendEachKey(keys::kRetryPreparation);
  if (std::optional<JobOutcome> end = AfterExchange(answered)) return end;
  operatorDecision_ = Decision::None;
  link_.ForgetFailures();
  if (cancel) return JobOutcome::Cancelled;
  return std::nullopt;
}

TickEnd ReceiptSpool::EndJob(const JobFileRef& file, JobOutcome outcome,
                             const std::string& detail) {
  switch (outcome) {
    case JobOutcome::NoAnswer:
      if (!AskToGoOn(file)) return TickEnd::ProgramEnded;
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
      Log(job_log::StoppedForExit(ForLog(file), settings_.BONDIR));
      break;
    case JobOutcome::Interrupted:
      break;
    default:
      // The rest are the record keeper's alone; a file the register never
      // heard of leaves the tick going on as it was.
      filer_.Conclude(file, outcome, detail);
      if (!UsedRegister(outcome)) return TickEnd::Continues;
  }
  phase_ = Phase::Idle;
  return TickEnd::Over;
}

bool ReceiptSpool::AskToGoOn(const JobFileRef& file) {
  host_.SetTrayIcon(TrayPicture::Error);
  Log(job_log::NoAnswer());
  prompting_ = true;
  const bool goOn = host_.AskContinueWithoutRegister();
  prompting_ = false;
  // The exit closed the box: the operator did not choose to go on.
  if (exitRequested_) return true;
  if (!goOn) {
    host_.EndProgramNow();
    return false;
  }
  Log(job_log::RetryAfterNoAnswer());
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
  Log(job_log::PaymentUnconfirmed(ForLog(file)));
  prompting_ = true;
  const bool complete = host_.AskReceiptComplete(ForLog(file));
  prompting_ = false;
  if (exitRequested_) return JobOutcome::Interrupted;
  link_.ForgetFailures();
  if (complete) {
    Log(job_log::PaymentCameOut());
    operatorDecision_ = Decision::None;
    return JobOutcome::Printed;
  }
  Log(job_log::PaymentToReprint());
  operatorDecision_ = Decision::VoidAndReprint;
  return JobOutcome::ReprintAsked;
}

void ReceiptSpool::ShowPrintError(const JobFileRef& file) {
  host_.SetTrayIcon(TrayPicture::Error);
  Log(job_log::PrintError(ForLog(file)));
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
      Log(job_log::RetryChosen());
      operatorDecision_ = Decision::VoidAndReprint;
      // The operator chose to print it again: a restart voids and reprints it too.
      filer_.Record(file, JobState::Printing);
      break;
    case ErrorChoice::CancelReceipt:
      Log(job_log::CancelChosen());
      operatorDecision_ = Decision::VoidAndFile;
      // So that a restart cancels it too, instead of printing it again.
      filer_.Record(file, JobState::Cancelled);
      break;
    case ErrorChoice::GiveUp:
      Log(job_log::GiveUpChosen());
      link_.ForgetFailures();
      operatorDecision_ = Decision::None;
      retake_.reset();
      Log(job_log::GivenUpMoved(ForLog(file), settings_.ERRDIR));
      filer_.Record(file, JobState::GivenUp);
      filer_.FileIntoErrorDirectory(file);
      break;
  }
}

TickEnd ReceiptSpool::Clear(const std::string& timestamp) {
  Log(job_log::Clearing(timestamp));
  pauseLooks_();
  phase_ = Phase::Clearing;
  link_.SendCommandLong(keys::kClearingFirst);
  if (!exitRequested_) link_.SendCommandLong(keys::kClearingSecond);
  phase_ = Phase::Idle;
  return TickEnd::Over;
}

void ReceiptSpool::RequestExit() {
  exitRequested_ = true;
  // A released wait or a prompt that the exit ends takes the job to its end.
  if (phase_ == Phase::Queries || phase_ == Phase::Clearing) {
    link_.ReleaseWait();
    exitFinal_ = true;
  }
  if (prompting_) exitFinal_ = true;
}

bool ReceiptSpool::WithdrawExit() {
  if (!exitRequested_ || exitFinal_ || phase_ == Phase::Idle) return false;
  exitRequested_ = false;
  Log(job_log::ExitWithdrawn());
  return true;
}

}  // namespace ovix
