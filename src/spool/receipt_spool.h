// The job runner: each tick of the 100 ms polling timer looks for one job file
// in the spool directory and runs it to its end (print, file, recover), or,
// when none waits, performs a requested clearing. Where the front end can
// watch the directory, the timer stops while nothing waits and a change
// starts it again. Runs on the GUI thread; the spool does not own the
// settings, link, log or host, which must outlive it.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/printer_link.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/driver_host.h"
#include "spool/file_chooser.h"
#include "spool/job_file.h"
#include "spool/job_filer.h"
#include "spool/journal.h"

namespace ovix {

// The operator's decision after a failed receipt, carried out on the same file
// by the next job tick.
enum class Decision {
  None,            // nothing pending
  VoidAndReprint,  // "Re-incearca": void the unfinished receipt, print the file again
  VoidAndFile,     // "Anuleaza bon": void it, move the file to the error directory
};

// How a job ended. Each outcome has one end (ReceiptSpool::EndJob): what it
// writes to the journal and the log, where it files the job's file, and how
// the tick ends.
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
  Unreadable,             // the file could not be read: set aside for a while
};

// How often the host calls SafetyLook: slow enough that an idle driver
// wakes less than once a second.
inline constexpr std::chrono::seconds kSafetyLookPeriod{3};

class ReceiptSpool {
 public:
  using Timestamp = std::function<std::string()>;

  // `clock` times the pause before a file that could not be read is tried
  // again; `timestamp` gives the date and time of the clearing's log line.
  // The spool's files are reached through `env`, which must outlive it.
  ReceiptSpool(Env& env, const DriverSettings& settings, PrinterLink& link, const EventLog& log,
               DriverHost& host, Clock& clock, Timestamp timestamp);

  // One tick of the polling timer. Returns when the job it found is over.
  // A file whose job ended at a prompt (the no-answer box answered OK, the
  // printer-error dialog answered other than by giving up) is taken again by
  // the next tick before any other file, so the operator's decision lands on
  // it; when it has left the spool meanwhile, a pending decision still voids
  // the unfinished receipt on the register and no other file gets it. When no
  // file waits at all, a requested clearing is carried out instead.
  void Tick();

  // Directory watch. Asks the host to watch the spool directory; when it
  // cannot, logs why once and the timer looks every 100 ms as before. While
  // watching, an idle tick that finds nothing left to look at again (no file
  // waiting for its second look, none set aside, no clearing requested)
  // stops the timer.
  void StartWatching();
  // The watch stopped (the directory went away, the system gave up): logs it
  // once and goes back to the 100 ms looks.
  void OnWatchFailed(const std::string& reason);
  // A change reported by the watch. A file renamed in is taken on the first
  // look that finds it; a file written in place still waits until two
  // consecutive timer looks find it unchanged. Returns true when the host
  // should call Look() soon, from the event processing (not from inside this
  // call): the timer is off, or a complete file arrived.
  bool OnSpoolChange(SpoolChange change, const std::string& name);
  // The safety look, which the host calls every kSafetyLookPeriod while the
  // program runs: moves again the printed receipts that the OK directory
  // refused (JobFiler::RetryUnfiled); with the timer off (idle and watched) it makes sure the
  // watch still follows the spool's path (watching it anew when not) and
  // looks at the spool as a timer tick does, so that a change the system did
  // not report (a lost notification, a replaced directory) still finds its
  // files. Does nothing while the timer runs or a tick runs.
  void SafetyLook();
  // The look a change asked for. With the timer off, a full look as a tick
  // does, after which the timer runs if anything waits; with the timer on,
  // only arrived files are taken, so the timer's looks stay 100 ms apart.
  void Look();
  // At start-up, before the first tick: acts on the journal that an earlier
  // run left, and logs what it does for each entry. A receipt printed to its
  // end, or given up, is filed without sending anything; one cut off in the
  // middle is voided and printed again, one cancelled is voided and filed,
  // and for one whose payment was sent the operator is asked whether it came
  // out complete (AskReceiptComplete). Those needing the register are taken
  // by the first ticks, before any other file; an entry whose file has gone,
  // or was replaced by another file of its name, only has its receipt voided.
  // A journal that cannot be read is read again by each tick, which takes
  // no file before it succeeds.
  void RecoverInterruptedJob();

  // Calls that may arrive while a tick runs (from the event processing inside
  // a wait or a prompt), and what each may change:
  // - OnPortError: logs the failure once; nothing else.
  // - RequestClearing: sets ClearRequested(); the clearing waits for an idle tick.
  // - OnErrorDialogButton (only while the printer-error dialog is shown, for
  //   the file of the failed receipt): sets OperatorDecision(), journals it
  //   and logs; "Renunta" also moves the job file to the error directory and
  //   forgets the failures of the job.
  // - RequestExit: sets ExitRequested() and ends a running query or clearing
  //   wait at once; the running tick then ends the program (UnloadMain) once
  //   it is over, or the caller does when no tick runs (TickRunning).
  // - WithdrawExit: takes back the exit while it is still pending: the tick
  //   that runs has not acted on it (it sends the lines of a receipt, and no
  //   wait was released nor a prompt shown since the request). The tick then
  //   goes on as if the exit had never been requested, and the log says so
  //   ("-> OPRIREA CERUTA A FOST RETRASA"). False, and nothing changes, when
  //   no exit was requested or it is past that point: a tick no longer runs
  //   (the program was unloaded), or a released wait or an ended prompt is
  //   ending the tick, which then ends the program.
  void OnPortError(const std::string& reason);
  void RequestClearing();
  void OnErrorDialogButton(ErrorChoice choice);
  void RequestExit();
  bool WithdrawExit();
  bool TickRunning() const { return phase_ != Phase::Idle; }

  // The operator's decision that the next tick carries out on the failed file.
  Decision OperatorDecision() const { return operatorDecision_; }
  // A clearing was asked for and not yet carried out.
  bool ClearRequested() const { return clearRequested_; }
  // The exit was confirmed: the program ends once the running tick is over.
  bool ExitRequested() const { return exitRequested_; }

 private:
  enum class Phase { Idle, Queries, Lines, Clearing };
  // The file the next tick takes first: the file of a job that ended at a
  // prompt, or of a journal entry left by an earlier run. Its decision is in
  // operatorDecision_; another file under its name is not it.
  struct RetakeFile {
    JobFileRef file;
    bool askFirst = false;  // the payment question comes before anything else
  };
  using ReadFile = FileChooser::ReadFile;

  void Retake();
  // After a tick that took a file, whatever became of it: the timer runs, so
  // that its next look finds the files that came meanwhile.
  void KeepLooking();

  // One job, step by step. A step that returns an outcome ends the job with
  // it; nullopt goes on with the next step.
  void TakeFile(const std::string& name);
  JobOutcome RunJob(const JobFileRef& file, const std::string& content);
  std::optional<JobOutcome> StartJob();
  std::optional<JobOutcome> PreJobCheck();
  std::optional<JobOutcome> CarryOutDecision();
  std::optional<JobOutcome> AfterExchange(bool answered) const;
  JobOutcome VoidForGoneFile();
  JobOutcome RunCurrencyJob(const JobFile& job);
  JobOutcome RunReceiptJob(const JobFileRef& file, const JobFile& job);
  // How far a receipt has come: a payment sent, a payment carried out, and
  // the first line that failed before and after the payment.
  struct ReceiptProgress {
    bool paying = false;
    bool paid = false;
    std::optional<SentLine> firstFailure;
    std::optional<SentLine> failedAfterPayment;
  };
  std::optional<JobOutcome> SendReceiptLine(const JobFileRef& file, const SentLine& line,
                                            ReceiptProgress& progress);
  std::string LineLogText(const std::string& prefix, const SentLine& line,
                          const JobFileRef& file) const;
  JobOutcome PaidDespiteFailure(const JobFileRef& file, const SentLine& line);
  JobOutcome CreditPaymentClosed(const JobFileRef& file,
                                 const std::optional<SentLine>& firstFailure);

  // The one end of every job: writes the journal, files the job's file, logs,
  // and ends the tick (EndTick), except where the operator ended the program
  // at the no-answer box and for files no tick was started for. `detail` is
  // the log text of a gone file, or the reason a file could not be read.
  void EndJob(const JobFileRef& file, JobOutcome outcome, const std::string& detail = {});
  void EndWithoutRegister(const JobFileRef& file, JobOutcome outcome, const std::string& detail);
  // The no-answer box; false when the operator ended the program with it.
  bool AskToGoOn(const JobFileRef& file);
  JobOutcome AskPayment(const JobFileRef& file);
  void ShowPrintError(const JobFileRef& file);
  void PerformClearing();
  // The one end of every tick: the phase goes back to idle and the program
  // either ends (exit requested) or idles with the timer on.
  void EndTick();

  bool SendEachKey(std::string_view keys);
  bool CancelSequence();
  void SetTimer(bool enabled);
  void FallBackToPolling(const std::string& reason);
  void Log(const std::string& line);
  // The log line of a decision whose file is gone or was replaced.
  std::string GoneLine(const JobFileRef& file, bool replaced) const;

  const DriverSettings& settings_;
  PrinterLink& link_;
  const EventLog& log_;
  DriverHost& host_;
  Timestamp timestamp_;
  FileChooser chooser_;
  JobFiler filer_;
  Phase phase_ = Phase::Idle;
  Decision operatorDecision_ = Decision::None;
  bool newFirmware_ = false;  // the register keys amounts with the decimal point
  bool clearRequested_ = false;
  bool exitRequested_ = false;
  bool exitFinal_ = false;  // the tick acted on the exit: it can no longer be withdrawn
  bool prompting_ = false;  // the tick waits for the operator at a prompt
  bool portProblem_ = false;
  bool watching_ = false;   // the directory watch runs: the timer may stop
  bool watchLost_ = false;  // a running watch failed: the safety look tries again
  bool timerOn_ = true;     // as last set through the host (on from start-up)
  std::optional<RetakeFile> retake_;
  bool journalUnread_ = false;  // the last run's journal could not be read yet
  // Journal entries of an earlier run that need the register, with their
  // decisions: each becomes retake_ in turn before any other file is taken.
  std::deque<std::pair<RetakeFile, Decision>> recovered_;
};

}  // namespace ovix
