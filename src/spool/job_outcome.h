// The words the job runner and its parts share about how a job ends.
#pragma once

namespace ovix {

// The operator's decision after a failed receipt, carried out on the same file
// by the next job tick.
enum class Decision {
  None,            // nothing pending
  VoidAndReprint,  // "Re-incearca": void the unfinished receipt, print the file again
  VoidAndFile,     // "Anuleaza bon": void it, move the file to the error directory
};

// How a job ended. Each outcome has one end (ReceiptSpool::EndJob, and for
// the outcomes that need no prompt JobFiler::Conclude): what it writes to
// the journal and the log, where it files the job's file, and how the tick
// ends.
enum class JobOutcome {
  Printed,             // printed to its end: filed into the OK directory
  Cancelled,           // the operator's cancel was carried out: filed into the error directory
  NoAnswer,            // the register did not answer: the no-answer box
  PaymentUnconfirmed,  // a payment got no answer: the operator says whether it came out
  ReprintAsked,        // the operator says it did not: voided and printed again
  PrintFailed,         // the register refused a command: the printer-error dialog
  StoppedForExit,      // a command failed during the exit: the file stays
  Interrupted,         // the exit ended a query or a prompt: nothing more is done
  CurrencyProgrammed,  // a currency programming was sent: its file is deleted
  GoneFileVoided,      // the file of a decision is gone; its receipt was voided on the register
  GonePaymentCleared,  // the same for a receipt in doubt: whatever was open was voided
  // The ends of files the register never heard of: no tick was started for them.
  FileGone,               // the file of a retake is gone: its journal entry is dropped
  FiledWithoutSending,    // a receipt with nothing to send: into the error directory
  DeletedWithoutSending,  // a currency programming with nothing to send: deleted
};

// False for the outcomes of files the register never heard of.
constexpr bool UsedRegister(JobOutcome outcome) {
  return outcome != JobOutcome::FileGone && outcome != JobOutcome::FiledWithoutSending &&
         outcome != JobOutcome::DeletedWithoutSending;
}

// What the end of a job leaves for the scheduler to do.
enum class TickEnd {
  Continues,     // the register was not used: the tick goes on as it was
  Over,          // the job used the register and is over: the tick ends
  ProgramEnded,  // the operator ended the program at the no-answer box
};

}  // namespace ovix
