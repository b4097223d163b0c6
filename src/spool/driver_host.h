// What the receipt spool needs from the program around it: the tray icon, the
// polling timer, the operator's prompts and the ways the program ends. The Qt
// layer implements it with real widgets; tests with a scripted operator.
#pragma once

#include <string>

namespace ovix {

// The tray icon's pictures, by the numbers of their icon resources.
enum class TrayPicture {
  Idle = 102,   // waiting for files
  Busy = 103,   // a job runs
  Error = 104,  // the register does not answer or a job failed; a prompt waits
};

// The buttons of the printer-error dialog.
enum class ErrorChoice { Retry, CancelReceipt, GiveUp };

class DriverHost {
 public:
  virtual ~DriverHost() = default;
  virtual void SetTrayIcon(TrayPicture picture) = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  // Starts watching `directory` (as the file functions take it) for changes
  // and reports each through SpoolScheduler::OnSpoolChange, and a watch that
  // stops working through SpoolScheduler::OnWatchFailed, from the event
  // processing. Returns false with the reason when the system cannot watch
  // it; a host without a watch keeps this default.
  virtual bool WatchSpool(const std::string& directory, std::string* reason) {
    (void)directory;
    *reason = "fara supraveghere";
    return false;
  }
  // Whether the running watch still follows the directory that the spool's
  // path names now: false once that path names another directory (the
  // watched one was renamed away and another made in its place, a symbolic
  // link switched, a file system mounted over it). Called by the spool's
  // safety look; a host without a watch keeps this default.
  virtual bool WatchFollowsSpool() { return true; }
  // The no-answer message box, modal. True for OK (go on); a host whose
  // Cancel ends the program runs its orderly exit first (ExitRequested() is
  // then set, and the spool ends the tick so that the stop line is written)
  // and returns true too. False asks the spool to end the program at once
  // (EndProgramNow).
  virtual bool AskContinueWithoutRegister() = 0;
  // The payment question, modal: a payment command of the receipt `file` (as
  // the log shows it) was sent but its outcome is unknown, so the operator
  // says from the paper whether the receipt came out of the register
  // complete. True for "Da", false for "Nu"; a box closed by the exit returns
  // false (the spool then sees ExitRequested and records no answer).
  virtual bool AskReceiptComplete(const std::string& file) {
    (void)file;
    return false;
  }
  // Shows the printer-error dialog about the receipt named `file` (its name
  // in the spool, UTF-8) modally and returns once it is gone. While it is
  // shown, its buttons call SpoolScheduler::OnErrorDialogButton; a dialog
  // closed another way records no decision.
  virtual void ShowPrintErrorDialog(const std::string& file) = 0;
  // Ends the process at once, without the orderly shut-down (no stop line).
  virtual void EndProgramNow() = 0;
  // Ends the program in order once the running tick has returned: the stop
  // line is written as the main window goes away.
  virtual void UnloadMain() = 0;
};

}  // namespace ovix
