// The job runner: each tick of the 100 ms polling timer looks for one job file
// in the spool directory and runs it to its end (print, file, recover), or,
// when none waits, performs a requested clearing. Where the front end can
// watch the directory, the timer stops while nothing waits and a change
// starts it again. Runs on the GUI thread; the spool does not own the
// settings, link, log or host, which must outlive it.
#pragma once

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/printer_link.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/driver_host.h"
#include "spool/job_file.h"
#include "spool/journal.h"

namespace ovix {

// The operator's decision after a failed receipt, carried out on the same file
// by the next job tick.
enum class Decision {
  None,            // nothing pending
  VoidAndReprint,  // "Re-incearca": void the unfinished receipt, print the file again
  VoidAndFile,     // "Anuleaza bon": void it, move the file to the error directory
};

// A change in the spool directory, as the front end's watch reports it.
enum class SpoolChange {
  Arrived,  // the file was renamed into the directory: it is complete as it stands
  Changed,  // the file was made, written, removed or renamed away
  Unknown,  // changes were lost (the system's queue overflowed): anything may have changed
};

// How often the host calls SafetyLook: slow enough that an idle driver
// wakes less than once a second.
inline constexpr std::chrono::seconds kSafetyLookPeriod{3};

class ReceiptSpool {
 public:
  using Timestamp = std::function<std::string()>;

  // `clock` times the pause before a file that could not be read is tried
  // again; `timestamp` gives the date and time of the clearing's log line.
  ReceiptSpool(const DriverSettings& settings, PrinterLink& link, const EventLog& log,
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
  // program runs: with the timer off (idle and watched) it makes sure the
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
  void RecoverInterruptedJob();

  // Calls that may arrive while a tick runs (from the event processing inside
  // a wait or a prompt), and what each may change:
  // - OnPortError: logs the failure once; nothing else.
  // - RequestClearing: sets ClearRequested; the clearing waits for an idle tick.
  // - OnErrorDialogButton (only while the printer-error dialog is shown): sets
  //   OperatorDecision, journals it and logs; "Renunta" also moves the job
  //   file to the error directory and forgets the failures of the job.
  // - RequestExit: sets ExitRequested and ends a running query or clearing
  //   wait at once; the running tick then ends the program (UnloadMain) once
  //   it is over, or the caller does when no tick runs (TickRunning).
  void OnPortError(const std::string& reason);
  void RequestClearing();
  void OnErrorDialogButton(ErrorChoice choice);
  void RequestExit();
  bool TickRunning() const { return phase_ != Phase::Idle; }

  // Shared state, under the names the rest of the driver uses.
  std::string JobFileName;
  Decision OperatorDecision = Decision::None;
  bool NewFirmware = false;
  bool ClearRequested = false;
  bool ExitRequested = false;

 private:
  enum class Phase { Idle, Queries, Lines, Clearing };
  // How a step of a job ended: go on with the next step; the operator's
  // cancel was carried out on the register (the caller files the job); or
  // the tick is over (prompted, or stopped for the exit).
  enum class Step { GoOn, Cancelled, Ended };

  // Size and modification time of a candidate at the tick that last saw it: a
  // file is taken once they are the same on two consecutive ticks.
  struct Stamp {
    std::uintmax_t size;
    std::filesystem::file_time_type modified;
    bool operator==(const Stamp&) const = default;
  };
  struct ScanResult {
    std::optional<std::string> taken;  // the file to run a job on
    bool anyWaiting = false;           // a job file is there, taken or not
    bool lookAgain = false;            // a later look may take a file this one did not
  };
  // A job file as read: its bytes and its identity.
  struct ReadFile {
    std::string content;
    FileIdentity identity;
  };
  // The file the next tick takes first: the file of a job that ended at a
  // prompt, or of a journal entry left by an earlier run. Its decision is in
  // OperatorDecision; another file under its name is not it.
  struct RetakeFile {
    std::string name;
    std::optional<FileIdentity> identity;
    bool askFirst = false;  // the payment question comes before anything else
  };

  // Finding the next file. A timer look stamps the files it meets and takes
  // the first one unchanged since the previous timer look; any look takes a
  // file that arrived whole, once no writer holds it.
  enum class LookKind { Timer, Arrivals };
  ScanResult Scan(LookKind kind);
  void Retake();
  // After a tick that took a file, whatever became of it: the timer runs, so
  // that its next look finds the files that came meanwhile.
  void KeepLooking();

  // One job, step by step.
  std::optional<ReadFile> ReadJobFile(const std::string& name, std::string* error) const;
  void TakeFile(const std::string& name);
  void Unreadable(const std::string& name, const std::string& error);
  void RunJob(const std::string& name, const ReadFile& file);
  bool FileWithoutSending(const JobFile& job);
  Step StartJob();
  Step PreJobCheck();
  Step CarryOutDecision();
  Step AfterExchange(bool answered);
  void VoidForGoneFile(bool replaced);
  void RunCurrencyJob(const JobFile& job);
  void RunReceiptJob(const JobFile& job);
  void RecoverEntry(const JournalEntry& entry);

  // The ends of a job.
  void FinishPrinted();
  bool FileIntoOkDirectory();
  bool FileIntoErrorDirectory();
  void FinishCancelled();
  void NoAnswer();
  void AskPayment();
  void PrintError();
  void StopForExit();
  void PerformClearing();
  // The one end of every job and clearing: the phase goes back to idle and
  // the program either ends (exit requested) or idles with the timer on.
  void EndTick();

  bool SendEachKey(std::string_view keys);
  bool CancelSequence();
  void RetakeNext();
  // The job file's journal entry: set to `state`, or removed; a failure is logged.
  void Record(JobState state);
  void Forget(const std::string& name);
  bool IsOwnFile(const std::string& name) const;
  bool IsRegularFile(const std::string& name) const;
  bool MoveJobTo(const std::string& dirSetting, std::string* error);
  void SetTimer(bool enabled);
  void FallBackToPolling(const std::string& reason);
  bool CanBeJob(const std::string& name) const;
  void Log(const std::string& line);
  void ReportOnce(const std::string& name, const std::string& line);
  // The job file as the operating system's file functions take it, and as
  // the log shows it (the directory as set, control characters of the name
  // escaped).
  std::string JobFileNative() const;
  std::string JobFileForLog() const;

  const DriverSettings& settings_;
  PrinterLink& link_;
  const EventLog& log_;
  DriverHost& host_;
  Clock& clock_;
  Timestamp timestamp_;
  Journal journal_;
  Phase phase_ = Phase::Idle;
  bool portProblem_ = false;
  bool watching_ = false;   // the directory watch runs: the timer may stop
  bool watchLost_ = false;  // a running watch failed: the safety look tries again
  bool timerOn_ = true;     // as last set through the host (on from start-up)
  // Files renamed into the spool since they were last taken or written.
  std::set<std::string> arrived_;

  std::map<std::string, Stamp> seen_;
  std::optional<RetakeFile> retake_;
  // Journal entries of an earlier run that need the register, with their
  // decisions: each becomes retake_ in turn before any other file is taken.
  std::deque<std::pair<RetakeFile, Decision>> recovered_;
  // The identity of the running or last job's file.
  FileIdentity takenIdentity_;
  // Files that could not be read: skipped until the time given (clock_).
  std::map<std::string, std::chrono::nanoseconds> deferred_;
  // Files whose problem has been logged; logged again only after it went away.
  std::set<std::string> reported_;
  // Printed or cancelled receipts that could not be filed: never taken again by this run.
  std::set<std::string> stuck_;
};

}  // namespace ovix
