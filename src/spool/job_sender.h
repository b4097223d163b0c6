// What a job sends to the register: the lines of a receipt, one by one, and
// how the receipt ended; the lines of a currency programming; the key
// sequences of the register's preparation and of a void. A payment is never
// sent after a failed line; from the first payment on, the journal says the
// receipt is being paid; once a payment was carried out, nothing that fails
// after it sends the receipt again. Runs on the GUI thread inside a job of
// the runner (ReceiptSpool); the settings, link, log and filer must outlive
// it. A log line that cannot be written is skipped: the receipt matters more
// than its record.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/printer_link.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/job_file.h"
#include "spool/job_filer.h"
#include "spool/job_outcome.h"

namespace ovix {

class JobSender {
 public:
  // `exitRequested` is the runner's: true once the exit is confirmed, which
  // may happen while a line waits for its reply.
  JobSender(const DriverSettings& settings, PrinterLink& link, const EventLog& log, JobFiler& filer,
            const bool& exitRequested);

  // Sends the lines of `job`, the receipt in `file`, with amounts keyed as
  // the firmware wants (`newFirmware`: with the decimal point), and returns
  // how it ended: Printed, PrintFailed, PaymentUnconfirmed or StoppedForExit.
  JobOutcome SendReceipt(const JobFileRef& file, const JobFile& job, bool newFirmware);
  // Sends the currencies of a currency programming; CurrencyProgrammed.
  JobOutcome SendCurrencies(const JobFile& job, bool newFirmware);

  // Sends each key as a command of its own, whatever the one before gave,
  // but for the void key: when the register did not carry it out, the
  // receipt is still open and the keys after it would land in it (the total
  // key of the retry preparation would pay it), so nothing more is sent and
  // the keys count as unanswered. Stops once the exit is confirmed. True
  // when every key was answered (a refusal is an answer).
  bool SendEachKey(std::string_view keys);
  // The cancel sequence, with its tail when the register's second status
  // asks for it; true when the register answered its keys.
  bool CancelSequence();

 private:
  // How far a receipt has come: a payment sent, a payment carried out, and
  // the first line that failed before and after the payment.
  struct Progress {
    bool paying = false;
    bool paid = false;
    std::optional<SentLine> firstFailure;
    std::optional<SentLine> failedAfterPayment;
  };
  std::optional<JobOutcome> SendLine(const JobFileRef& file, const SentLine& line, bool newFirmware,
                                     Progress& progress);
  JobOutcome PaidDespiteFailure(const JobFileRef& file, const SentLine& line);
  JobOutcome CreditPaymentClosed(const JobFileRef& file,
                                 const std::optional<SentLine>& firstFailure);

  const DriverSettings& settings_;
  PrinterLink& link_;
  const EventLog& log_;
  JobFiler& filer_;
  const bool& exitRequested_;
};

}  // namespace ovix
