// The job runner: each tick of the 100 ms polling timer looks for one job file
// in the spool directory and runs it to its end (print, file, recover), or,
// when none waits, performs a requested clearing. Runs on the GUI thread; the
// spool does not own the settings, link, log or host, which must outlive it.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/printer_link.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/driver_host.h"

namespace ovix {

// The record of the receipt being printed, kept in the spool directory so that
// after a crash or a power cut the driver knows whether the receipt was cut off
// (it is cleared on the register and printed again), printed to its end (it
// is filed without being printed again) or cancelled by the operator (it is
// cleared on the register and filed into the error directory). One line:
// the state, a blank, the file name in the reversible form of VisibleText.
inline constexpr std::string_view kJobRecordFileName = "OVIXNOVA.JOB";

class ReceiptSpool {
 public:
  using Timestamp = std::function<std::string()>;

  // `clock` times the pause before a file that could not be read is tried
  // again.
  ReceiptSpool(const DriverSettings& settings, PrinterLink& link, const EventLog& log,
               DriverHost& host, Clock& clock, Timestamp timestamp);

  // One tick of the polling timer. Returns when the job it found is over.
  // A file whose job ended at a prompt (the no-answer box answered OK, the
  // printer-error dialog answered other than by giving up) is taken again by
  // the next tick before any other file, so the operator's decision lands on
  // it; when it has left the spool meanwhile, a pending decision still voids
  // the unfinished receipt on the register and no other file gets it.
  void Tick();

  // At start-up, before the first tick: acts on a job record left by a run
  // that ended in the middle of a receipt, and logs what it does.
  void RecoverInterruptedJob();

  // The serial port reported a failure; logged once until the port works again.
  void OnPortError(const std::string& reason);

  // The clearing entry of the tray menu: asks for a clearing at the next idle tick.
  void RequestClearing();

  // A button of the printer-error dialog, pressed while the dialog is shown.
  void OnErrorDialogButton(ErrorChoice choice);

  // The exit was confirmed. A wait for the identification or status reply or a
  // clearing command ends at once; a receipt whose lines are being sent is
  // finished first. The program is unloaded by the running tick when it ends
  // (UnloadMain), or by the caller when no tick runs (see TickRunning).
  void RequestExit();
  bool TickRunning() const { return phase_ != Phase::Idle; }

  // Shared state, under the names the rest of the driver uses.
  std::string JobFileName;
  int OperatorDecision = 0;  // 0 none, 1 retry, 2 cancel the receipt
  int NewFirmware = 0;
  int ClearRequested = 0;
  int ExitRequested = 0;

 private:
  enum class Phase { Idle, Queries, Lines, Clearing };
  // How the pre-job check ended: go on with the file, file it as cancelled,
  // or the tick has already ended (no answer, exit).
  enum class PreJob { GoOn, Cancelled, Ended };

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
  };

  ScanResult Scan();
  std::optional<Stamp> StampOf(const std::string& name) const;
  void Retake();
  void RunJob(const std::string& name);
  void VoidForGoneFile();
  bool StartJob();
  PreJob PreJobCheck();
  void FileCancelled();
  void RunCurrencyJob(const std::vector<std::string>& lines);
  void RunReceiptJob(const std::vector<std::string>& lines);
  void FileAsPrinted();
  void FilePrinted();
  bool RecordJob(const char* state);
  void ClearJobRecord();
  bool IsOwnFile(const std::string& name) const;
  void NoAnswer();
  void PrintError();
  void RetakeNext();
  void StopForExit();
  void PerformClearing();
  bool CancelSequence();
  bool SendKeys(std::initializer_list<char> keys);
  void EndJob();
  bool MoveJobTo(const std::string& dirSetting, std::string* error);
  void Log(const std::string& line);
  void ReportOnce(const std::string& name, const std::string& line);
  // The job file as the log shows it: control characters of the name escaped.
  std::string JobPathText() const;
  std::string JobPath() const;

  const DriverSettings& settings_;
  PrinterLink& link_;
  const EventLog& log_;
  DriverHost& host_;
  Clock& clock_;
  Timestamp timestamp_;
  Phase phase_ = Phase::Idle;
  bool portProblem_ = false;

  std::map<std::string, Stamp> seen_;
  // The file the next tick takes again first, and its stamp when it was last
  // taken: a file that changed since waits for one more look.
  std::optional<std::string> retake_;
  std::optional<Stamp> retakeStamp_;
  std::optional<Stamp> takenStamp_;
  // Files that could not be read: skipped until the time given (clock_).
  std::map<std::string, std::chrono::nanoseconds> deferred_;
  // Files whose problem has been logged; logged again only after it went away.
  std::set<std::string> reported_;
  // Printed or cancelled receipts that could not be filed: never taken again by this run.
  std::set<std::string> stuck_;
};

}  // namespace ovix
