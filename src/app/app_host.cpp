#include "app/app_host.h"

namespace ovix {

// The one place that reads the spool's exit flag.
bool AppHost::ExitRequested() const {
  return spool_ && spool_->ExitRequested();
}

void AppHost::StartTimer() {
  StartTimers();
  if (spool_) spool_->StartWatching();
}

void AppHost::RunExitSequence() {
  StopTimers();
  StopWatch();
  if (spool_) spool_->RequestExit();
  RemoveTray();
  CloseExitConfirmation();
  // A prompt that is still open would keep the running tick from ending.
  FinishOpenPrompts();
  if (!spool_ || !spool_->TickRunning()) UnloadMain();
}

bool AppHost::WithdrawExit() {
  if (mainUnloaded_ || !spool_ || !spool_->WithdrawExit()) return false;
  StartTimers();
  spool_->StartWatching();
  AddTrayIcon(tooltip_);
  SetTrayIcon(TrayPicture::Busy);
  return true;
}

void AppHost::OnMenuCommand(ui::MenuCommand command) {
  switch (command) {
    case ui::MenuCommand::Clearing:
      OnMenuClearing();
      break;
    case ui::MenuCommand::About:
      OnMenuAbout();
      break;
    case ui::MenuCommand::Exit:
      OnMenuExit();
      break;
    case ui::MenuCommand::None:
      break;
  }
}

void AppHost::OnMenuClearing() {
  if (spool_) spool_->RequestClearing();
}

bool AppHost::WatchSpool(const std::string& directory, std::string* reason) {
  if (watchDisabled_) {
    *reason = "supraveghere oprita pentru teste";
    return false;
  }
  return StartWatch(directory, reason);
}

// Cancel stops the driver through the same exit as the menu's, never at once:
// the running tick ends and unloads the main window, which writes the stop
// line. An exit requested while the box is up is not a Cancel.
bool AppHost::AskContinueWithoutRegister() {
  if (!ShowNoAnswerBox() && !ExitRequested()) RunExitSequence();
  return true;
}

// A box closed without an answer comes back until the exit is requested.
bool AppHost::AskReceiptComplete(const std::string& file) {
  for (;;) {
    switch (ShowPaymentQuestion(file)) {
      case PaymentAnswer::Yes:
        return true;
      case PaymentAnswer::No:
      case PaymentAnswer::NotShown:
        return false;
      case PaymentAnswer::NoAnswer:
        if (!spool_ || ExitRequested()) return false;
        break;
    }
  }
}

void AppHost::UnloadMain() {
  mainUnloaded_ = true;
  StopTimers();
  QuitEventLoop();
}

void AppHost::OnPollTimer() {
  if (spool_) spool_->Tick();
}

void AppHost::OnSafetyTimer() {
  if (spool_ && !mainUnloaded_) spool_->SafetyLook();
}

void AppHost::OnSpoolChange(SpoolChange change, const std::string& name) {
  if (!spool_ || !spool_->OnSpoolChange(change, name) || lookPending_) return;
  // The look runs from the event loop, after the watch's handler returned.
  lookPending_ = PostLook();
}

void AppHost::OnPostedLook() {
  lookPending_ = false;
  if (spool_) spool_->Look();
}

void AppHost::OnWatchFailed(const std::string& why) {
  if (spool_) spool_->OnWatchFailed(why);
}

void AppHost::OnErrorDialogButton(int index) {
  if (spool_) spool_->OnErrorDialogButton(ui::ErrorChoiceOfButton(index));
}

}  // namespace ovix
