// The log lines of a job, from the file it was taken from to where its file
// went, in one place as the window texts are in ui_tables. Each function
// returns a whole line (without the line end). `file` is the job's file as
// the log shows it (JobFiler::ForLog); directories are the settings as set,
// with their separator. Most texts are the driver's established wording and
// are searched for by whoever reads the log: spellings such as "Sfirsit",
// the small letters of the start and end lines and the odd blanks are kept
// on purpose and must not be tidied.
#pragma once

#include <string>

#include "spool/job_file.h"

namespace ovix::job_log {

// The register and the spool directory.
std::string PortError(const std::string& com, const std::string& reason);
std::string PortWorksAgain(const std::string& com);
std::string NotWatched(const std::string& dir, const std::string& reason);
std::string WatchedAgain(const std::string& dir);
std::string WatchReplaced(const std::string& dir);
std::string Clearing(const std::string& timestamp);
std::string ExitWithdrawn();

// A job from its start to its end.
std::string CurrencyStart();
std::string ReceiptStart(const std::string& file);
std::string NoPaymentAfterFailure(const SentLine& line, const std::string& file);
std::string FailedAfterPayment(const SentLine& line, const std::string& file);
std::string ClosedByCredit(const SentLine& line, const std::string& file);
std::string Cancelled(const std::string& file, const std::string& errDir);
std::string StoppedForExit(const std::string& file, const std::string& spoolDir);
std::string FileGone(const std::string& file, bool replaced);
std::string GoneFileVoided(const std::string& goneLine);
std::string GonePaymentCleared(const std::string& goneLine);
std::string Unreadable(const std::string& file, const std::string& reason);

// The operator's prompts and answers.
std::string NoAnswer();
std::string RetryAfterNoAnswer();
std::string PaymentUnconfirmed(const std::string& file);
std::string PaymentCameOut();
std::string PaymentToReprint();
std::string PrintError(const std::string& file);
std::string RetryChosen();
std::string CancelChosen();
std::string GiveUpChosen();
std::string GivenUpMoved(const std::string& file, const std::string& errDir);

// The journal and the filing of the job's file.
std::string RecordNotWritten(const std::string& file, const std::string& reason);
std::string JournalNotRemoved(const std::string& journal, const std::string& reason);
std::string JournalNotRead(const std::string& journal, const std::string& reason);
std::string RecoveredPrinted(const std::string& file);
std::string RecoveredGivenUp(const std::string& file, const std::string& errDir);
std::string RecoveredCancelled(const std::string& file, const std::string& errDir);
std::string RecoveredInterrupted(const std::string& file);
std::string RecoveredPaying(const std::string& file);
std::string Filed(const std::string& file, const std::string& okDir);
std::string OkMoveFailed(const std::string& file, const std::string& okDir,
                         const std::string& reason);
std::string MovedLater(const std::string& file, const std::string& errDir);
std::string DeletedLater(const std::string& file);
std::string NotMoved(const std::string& file, const std::string& reason);
std::string NotDeleted(const std::string& file, const std::string& reason);
std::string EmptyCurrencyDeleted(const std::string& file);
std::string EmptyCurrencyNotDeleted(const std::string& file, const std::string& reason);
std::string EmptyMoved(const std::string& file, const std::string& errDir);
std::string EmptyNotMoved(const std::string& file, const std::string& reason);

}  // namespace ovix::job_log
