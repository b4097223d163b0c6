// What both front ends' hosts do alike, over primitives each implements with
// its own widgets and system calls: the timers' ticks, the spool watch's
// look, the prompts' rules, the printer-error dialog's decisions and the
// orderly exit. A host derives from AppHost and lives on the GUI thread.
#pragma once

#include <string>

#include "app/ui_tables.h"
#include "spool/driver_host.h"
#include "spool/spool_scheduler.h"

namespace ovix {

// How a payment question ended.
enum class PaymentAnswer {
  Yes,       // "Da"
  No,        // "Nu"
  NoAnswer,  // closed without an answer: asked again unless the exit was requested
  NotShown,  // could not be shown, or the exit ended it: no answer
};

class AppHost : public DriverHost {
 public:
  // The spool whose ticks the timers drive and whose exit the host runs. Must
  // outlive the host's event handling.
  void Attach(SpoolScheduler* spool) { spool_ = spool; }
  SpoolScheduler* Spool() const { return spool_; }

  // Start-up: the 100 ms polling timer and the safety timer (every
  // kSafetyLookPeriod) start once the event loop runs, and the spool's
  // directory watch starts (the polling timer then stops while nothing waits).
  void StartTimer();
  // Shows the tray icon with `tooltip` (AddTrayIcon), and again with the same
  // tooltip when a withdrawn exit brings it back.
  void ShowTray(const std::string& tooltip) {
    tooltip_ = tooltip;
    AddTrayIcon(tooltip);
  }
  // Installs the connection through which the icon's mouse events arrive, and
  // shows the tray icon, with `tooltip` as its tooltip, where a notification
  // area exists.
  virtual void AddTrayIcon(const std::string& tooltip) = 0;
  // For tests: the directory watch is not used, as where the system offers
  // none; the timer looks every 100 ms.
  void DisableSpoolWatch() { watchDisabled_ = true; }

  // The orderly exit, in this order: timers off, the watch stopped, the exit
  // requested of the spool (a running query or clearing wait is released),
  // the icon's events disconnected and the icon removed, the exit
  // confirmation closed, open prompts ended without a choice, and the main
  // window unloaded at once when no tick runs (else the tick does it).
  void RunExitSequence();
  // Takes back the exit that RunExitSequence requested, while the spool can
  // (SpoolScheduler::WithdrawExit: the running tick has not acted on it): the
  // timers, the spool's watch and the tray icon (with the busy picture, as
  // the tick runs on) come back, and the driver goes on as if no exit had
  // been requested; the exit confirmation it closed stays closed. False, and
  // nothing changes, otherwise: the program then ends as requested.
  bool WithdrawExit();
  // True once the main window was unloaded in order (the stop line is due).
  bool MainUnloaded() const { return mainUnloaded_; }

  // The popup menu's entries: a command of the menu's table runs its handler.
  void OnMenuCommand(ui::MenuCommand command);
  void OnMenuClearing();
  virtual void OnMenuAbout() = 0;
  virtual void OnMenuExit() = 0;

  // DriverHost
  bool WatchSpool(const std::string& directory, std::string* reason) final;
  // The no-answer box (ui::kNoAnswerBox). True for OK, and also for Cancel:
  // Cancel runs the orderly exit (RunExitSequence), so the spool sees the
  // exit requested, ends its tick and unloads the main window, and the stop
  // line is written as after every other exit. An exit requested while the
  // box is up is not a Cancel.
  bool AskContinueWithoutRegister() final;
  bool AskReceiptComplete(const std::string& file) final;
  void UnloadMain() final;

 protected:
  // The timers' events.
  void OnPollTimer();
  void OnSafetyTimer();
  // The watch's reports: a change that asks for a look posts one (PostLook)
  // unless one is pending already; the posted look runs OnPostedLook.
  void OnSpoolChange(SpoolChange change, const std::string& name);
  void OnPostedLook();
  void OnWatchFailed(const std::string& why);
  // A button of the printer-error dialog (index 0-2, in the layout's order).
  void OnErrorDialogButton(int index);

  // The primitives of the front end.
  virtual void StartTimers() = 0;  // polling and safety timer
  virtual void StopTimers() = 0;   // both
  virtual bool StartWatch(const std::string& directory, std::string* reason) = 0;
  virtual void StopWatch() = 0;
  // Queues a call of OnPostedLook from the event loop; false when it cannot.
  virtual bool PostLook() = 0;
  virtual void RemoveTray() = 0;  // unhooks the icon's events and removes the icon
  virtual void CloseExitConfirmation() = 0;
  // Ends the no-answer box, the payment question and the printer-error dialog
  // that are up, without a decision.
  virtual void FinishOpenPrompts() = 0;
  // Ends the event loop (not the About box's).
  virtual void QuitEventLoop() = 0;
  // The no-answer box, modal; true for OK (Esc and the close button
  // included), false for Cancel.
  virtual bool ShowNoAnswerBox() = 0;
  virtual PaymentAnswer ShowPaymentQuestion(const std::string& file) = 0;

 private:
  bool ExitRequested() const;

  SpoolScheduler* spool_ = nullptr;
  bool watchDisabled_ = false;
  std::string tooltip_;
  bool lookPending_ = false;  // a look the watch asked for is posted
  bool mainUnloaded_ = false;
};

}  // namespace ovix
