#include "spool/job_sender.h"

#include "spool/job_log.h"
#include "spool/keys.h"
#include "spool/receipt_line.h"
#include "spool/translation.h"

namespace ovix {

JobSender::JobSender(const DriverSettings& settings, PrinterLink& link, const EventLog& log,
                     JobFiler& filer, const bool& exitRequested)
    : settings_(settings), link_(link), log_(log), filer_(filer), exitRequested_(exitRequested) {}

JobOutcome JobSender::SendReceipt(const JobFileRef& file, const JobFile& job, bool newFirmware) {
  log_.WriteLogLine(job_log::ReceiptStart(filer_.ForLog(file)));
  filer_.Record(file, JobState::Printing);
  Progress progress;
  for (const SentLine& line : LinesToSend(job, settings_)) {
    if (std::optional<JobOutcome> end = SendLine(file, line, newFirmware, progress)) return *end;
  }
  if (progress.failedAfterPayment) return PaidDespiteFailure(file, *progress.failedAfterPayment);
  return link_.CommandFailed() ? JobOutcome::PrintFailed : JobOutcome::Printed;
}

// One line of a receipt. A payment is not sent once a line of the receipt
// failed: the receipt then stays open on the register, where a retry or a
// cancel voids it, instead of being closed and printed with the failure in
// it. The credit line alone keeps its own rule (CreditPaymentClosed).
std::optional<JobOutcome> JobSender::SendLine(const JobFileRef& file, const SentLine& line,
                                              bool newFirmware, Progress& progress) {
  const LineKind kind = ClassifyReceiptLine(line.text, settings_);
  const bool payment = IsPayment(kind);
  if (payment && kind != LineKind::Credit && !progress.paid && link_.CommandFailed()) {
    log_.WriteLogLine(
        job_log::NoPaymentAfterFailure(progress.firstFailure.value_or(line), filer_.ForLog(file)));
    return JobOutcome::PrintFailed;
  }
  // From its first payment on, a receipt may be closed on the register: it
  // is never printed again nor filed without the operator's word.
  if (payment && !progress.paying) {
    progress.paying = true;
    filer_.Record(file, JobState::Paying);
  }
  const bool failedBefore = link_.CommandFailed();
  const LineOutcome outcome = TranslateReceiptLine(line.text, settings_, newFirmware, link_);
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

// A receipt whose payment the register carried out is filed as printed, even
// though a later line failed: sending it again could print and pay it twice.
JobOutcome JobSender::PaidDespiteFailure(const JobFileRef& file, const SentLine& line) {
  log_.WriteLogLine(job_log::FailedAfterPayment(line, filer_.ForLog(file)));
  link_.ForgetFailures();
  return JobOutcome::Printed;
}

// A credit payment the register carried out closes the receipt, even after an
// earlier line failed; one it refused is a failed receipt.
JobOutcome JobSender::CreditPaymentClosed(const JobFileRef& file,
                                          const std::optional<SentLine>& firstFailure) {
  if (link_.LastVerdict() != Exchange::Reply) return JobOutcome::PrintFailed;
  if (firstFailure) log_.WriteLogLine(job_log::ClosedByCredit(*firstFailure, filer_.ForLog(file)));
  link_.ForgetFailures();
  return JobOutcome::Printed;
}

bool JobSender::CancelSequence() {
  const bool answered = SendEachKey(keys::kCancelSequence);
  if (!answered || link_.SecondStatus() == 0) return answered;
  return SendEachKey(keys::kCancelSequenceTail);
}

bool JobSender::SendEachKey(std::string_view keys) {
  bool answered = true;
  for (char key : keys) {
    if (exitRequested_) return false;
    const Exchange exchange = link_.SendCommand(std::string_view(&key, 1));
    if (key == keys::kVoid && exchange != Exchange::Reply) return false;
    answered = answered && (exchange == Exchange::Reply || exchange == Exchange::Refused);
  }
  return answered;
}

JobOutcome JobSender::SendCurrencies(const JobFile& job, bool newFirmware) {
  log_.WriteLogLine(job_log::CurrencyStart());
  for (const SentLine& line : LinesToSend(job, settings_))
    TranslateCurrencyLine(line.text, settings_, newFirmware, link_);
  return JobOutcome::CurrencyProgrammed;
}

}  // namespace ovix
