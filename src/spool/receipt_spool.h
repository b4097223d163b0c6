// The job runner: one job of the spool, from the register's first query to
// its end. A receipt or a currency programming is sent line by line; a
// failure leads to the operator's prompts; and every job has one end
// (EndJob) that has the record keeper (JobFiler) journal and file it and
// logs what became of it. The runner keeps the file that must be run again
// before any other and the operator's decision for it, and the state of the
// exit while a job runs. Choosing files, the timer, the watch and the
// clearing's turn are the scheduler's (SpoolScheduler). Runs on the GUI
// thread; the settings, link, log, host and filer must outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "link/printer_link.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/driver_host.h"
#include "spool/file_chooser.h"
#include "spool/job_file.h"
#include "spool/job_filer.h"
#include "spool/job_outcome.h"
#include "spool/job_sender.h"

namespace ovix {

class ReceiptSpool {
 public:
  // The file the next tick takes first: the file of a job that ended at a
  // prompt, or of a journal entry left by an earlier run. Its decision is
  // OperatorDecision(); another file under its name is not it.
  struct RetakeFile {
    JobFileRef file;
    bool askFirst = false;  // the payment question comes before anything else
  };

  // `pauseLooks` is called when a job turns to the register: the scheduler's
  // timer must not tick meanwhile.
  ReceiptSpool(const DriverSettings& settings, PrinterLink& link, const EventLog& log,
               DriverHost& host, JobFiler& filer, std::function<void()> pauseLooks);

  // Runs the job of `file`, whose bytes are `content`, to its end: a pending
  // decision first, then its lines; a file with nothing to send is filed
  // without the register unless a decision for it is pending.
  TickEnd Run(const JobFileRef& file, const std::string& content);
  // The retake's file is gone, or another file took its name: a pending
  // decision still voids the unfinished receipt on the register.
  TickEnd RunForGoneFile(const JobFileRef& file, bool replaced);
  // A retake whose payment was in doubt at the last stop: the operator is
  // asked before anything is sent.
  TickEnd AskPaymentFirst(const JobFileRef& file);
  // Sends the clearing's two commands (the second not once the exit is
  // confirmed); its log line carries `timestamp`.
  TickEnd Clear(const std::string& timestamp);

  const std::optional<RetakeFile>& Retake() const { return retake_; }
  // The file the next tick takes first, with its decision.
  void SetRetake(const RetakeFile& file, Decision decision);
  // The retake's file cannot be taken now and has no decision: other files go first.
  void DropRetake() { retake_.reset(); }

  // Calls that may arrive while a job runs (from the event processing inside
  // a wait or a prompt), and what each may change:
  // - OnPortError: logs the failure once; nothing else.
  // - OnErrorDialogButton (only while the printer-error dialog is shown, for
  //   the file of the failed receipt): sets OperatorDecision(), journals it
  //   and logs; "Renunta" also moves the job file to the error directory and
  //   forgets the failures of the job.
  // - RequestExit: sets ExitRequested() and ends a running query or clearing
  //   wait at once; the job then ends with the exit.
  // - WithdrawExit: takes back the exit while it is still pending: the job
  //   that runs has not acted on it (it sends the lines of a receipt, and no
  //   wait was released nor a prompt shown since the request). The job then
  //   goes on as if the exit had never been requested, and the log says so.
  //   False, and nothing changes, when no exit was requested or it is past
  //   that point: no job runs, or a released wait or an ended prompt is
  //   ending it.
  void OnPortError(const std::string& reason);
  void OnErrorDialogButton(ErrorChoice choice);
  void RequestExit();
  bool WithdrawExit();
  // A job (or the clearing) runs.
  bool Running() const { return phase_ != Phase::Idle; }
  Decision OperatorDecision() const { return operatorDecision_; }
  bool ExitRequested() const { return exitRequested_; }

 private:
  enum class Phase { Idle, Queries, Lines, Clearing };

  // One job, step by step. A step that returns an outcome ends the job with
  // it; nullopt goes on with the next step.
  JobOutcome RunJob(const JobFileRef& file, const std::string& content);
  std::optional<JobOutcome> StartJob();
  std::optional<JobOutcome> PreJobCheck();
  std::optional<JobOutcome> CarryOutDecision();
  std::optional<JobOutcome> AfterExchange(bool answered) const;
  JobOutcome VoidForGoneFile();

  // The one end of every job: shows the prompt the outcome calls for or has
  // the record keeper journal, file and log what became of the file
  // (JobFiler::Conclude), and tells the scheduler how the tick goes on.
  // `detail` is the log line of a gone file.
  TickEnd EndJob(const JobFileRef& file, JobOutcome outcome, const std::string& detail = {});
  // The no-answer box; false when the operator ended the program with it.
  bool AskToGoOn(const JobFileRef& file);
  JobOutcome AskPayment(const JobFileRef& file);
  void ShowPrintError(const JobFileRef& file);

  void Log(const std::string& line);
  std::string ForLog(const JobFileRef& file) const { return filer_.ForLog(file); }

  const DriverSettings& settings_;
  PrinterLink& link_;
  const EventLog& log_;
  DriverHost& host_;
  JobFiler& filer_;
  std::function<void()> pauseLooks_;
  JobSender sender_;
  Phase phase_ = Phase::Idle;
  Decision operatorDecision_ = Decision::None;
  std::optional<RetakeFile> retake_;
  bool newFirmware_ = false;  // the register keys amounts with the decimal point
  bool exitRequested_ = false;
  bool exitFinal_ = false;  // the job acted on the exit: it can no longer be withdrawn
  bool prompting_ = false;  // the job waits for the operator at a prompt
  bool portProblem_ = false;
};

}  // namespace ovix
