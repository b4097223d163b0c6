// The spool's scheduler: each tick of the 100 ms polling timer looks for one
// job file in the spool directory and has the job runner (ReceiptSpool) run
// it to its end, or, when none waits, has it perform a requested clearing.
// It decides what is taken and when: the file of a failed job and the
// journal's entries before any other, files written in place only once they
// stopped changing, files renamed in at once. Where the front end can watch
// the directory, the timer stops while nothing waits and a change starts it
// again; a safety look every few seconds finds what the watch missed. It
// also ends the program once the exit is confirmed and no job runs. Runs on
// the GUI thread; the settings, link, log and host must outlive it. A log
// line that cannot be written is skipped: the spool matters more than its
// record.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "link/printer_link.h"
#include "os/env.h"
#include "os/platform.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/driver_host.h"
#include "spool/file_chooser.h"
#include "spool/job_filer.h"
#include "spool/receipt_spool.h"

namespace ovix {

// How often the host calls SafetyLook: slow enough that an idle driver
// wakes less than once a second.
inline constexpr std::chrono::seconds kSafetyLookPeriod{3};

class SpoolScheduler {
 public:
  using Timestamp = std::function<std::string()>;

  // `clock` times the pause before a file that could not be read is tried
  // again; `timestamp` gives the date and time of the clearing's log line.
  // The spool's files are reached through `env`, which must outlive it.
  SpoolScheduler(Env& env, const DriverSettings& settings, PrinterLink& link, const EventLog& log,
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
  // cannot, logs why and the timer looks every 100 ms as before. While
  // watching, an idle tick that finds nothing left to look at again (no file
  // waiting for its second look, none set aside, no clearing requested)
  // stops the timer.
  void StartWatching();
  // The watch stopped (the directory went away, the system gave up): logs it
  // and goes back to the 100 ms looks.
  void OnWatchFailed(const std::string& reason);
  // A change reported by the watch. A file renamed in is taken on the first
  // look that finds it; a file written in place still waits until two
  // consecutive timer looks find it unchanged. Returns true when the host
  // should call Look() soon, from the event processing (not from inside this
  // call): the timer is off, or a complete file arrived.
  bool OnSpoolChange(SpoolChange change, const std::string& name);
  // The safety look, which the host calls every kSafetyLookPeriod while the
  // program runs: moves again the printed receipts that the OK directory
  // refused (JobFiler::RetryUnfiled); with the timer off (idle and watched)
  // it makes sure the watch still follows the spool's path (watching it anew
  // when not) and looks at the spool as a timer tick does, so that a change
  // the system did not report (a lost notification, a replaced directory)
  // still finds its files. Does nothing while the timer runs or a tick runs.
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
  // a wait or a prompt):
  // - RequestClearing: sets ClearRequested(); the clearing waits for an idle tick.
  // - RequestExit: the exit is confirmed; the running tick ends the program
  //   (UnloadMain) once it is over, or the caller does when no tick runs
  //   (TickRunning). ReceiptSpool::RequestExit says what it ends at once.
  // - WithdrawExit, OnPortError, OnErrorDialogButton: as ReceiptSpool's;
  //   a withdrawn exit is logged ("-> OPRIREA CERUTA A FOST RETRASA").
  void RequestClearing();
  void RequestExit() { job_.RequestExit(); }
  bool WithdrawExit() { return job_.WithdrawExit(); }
  void OnPortError(const std::string& reason) { job_.OnPortError(reason); }
  void OnErrorDialogButton(ErrorChoice choice) { job_.OnErrorDialogButton(choice); }
  bool TickRunning() const { return job_.Running(); }

  // The operator's decision that the next tick carries out on the failed file.
  Decision OperatorDecision() const { return job_.OperatorDecision(); }
  // A clearing was asked for and not yet carried out.
  bool ClearRequested() const { return clearRequested_; }
  // The exit was confirmed: the program ends once the running tick is over.
  bool ExitRequested() const { return job_.ExitRequested(); }

 private:
  using RetakeFile = ReceiptSpool::RetakeFile;

  void Retake();
  void TakeFile(const std::string& name);
  void SetAside(const JobFileRef& file, const std::string& reason);
  // After a tick that took a file, whatever became of it: the timer runs, so
  // that its next look finds the files that came meanwhile.
  void KeepLooking();
  // After a job: the tick is over when the job used the register; the
  // program then ends (exit confirmed) or idles with the timer on.
  void Finish(TickEnd end);
  void SetTimer(bool enabled);
  // The watch is lost: logs why, and the timer looks every 100 ms.
  void WatchLost(const std::string& reason);
  // Idle, and no exit confirmed: a look may start a job.
  bool MayLook() const { return !job_.Running() && !job_.ExitRequested(); }

  const DriverSettings& settings_;
  const EventLog& log_;
  DriverHost& host_;
  Timestamp timestamp_;
  FileChooser chooser_;
  JobFiler filer_;
  ReceiptSpool job_;
  bool clearRequested_ = false;
  bool watching_ = false;       // the directory watch runs: the timer may stop
  bool watchLost_ = false;      // a running watch failed: the safety look tries again
  bool timerOn_ = true;         // as last set through the host (on from start-up)
  bool journalUnread_ = false;  // the last run's journal could not be read yet
  // Journal entries of an earlier run that need the register, with their
  // decisions: each becomes the job's retake in turn before any other file.
  std::deque<std::pair<RetakeFile, Decision>> recovered_;
};

}  // namespace ovix
