// The scripted operator of the end-to-end tests, as far as it is the same on
// every front end: the script file, its actions and which prompt each one
// answers. Built into the program only with OVIX_TEST_OPERATOR (on for
// development builds, off for the package); the front end's test_operator.cpp
// presses its own widgets through OperatorHands.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "app/app_host.h"

namespace ovix {

// One line of the script.
enum class OperatorAction {
  Unknown,
  Ok,             // "ok": the no-answer box's OK
  Cancel,         // "cancel": its Cancel
  Yes,            // "yes": the payment question's "Da"
  No,             // "no": its "Nu"
  Retry,          // "retry": the printer-error dialog's first button
  CancelReceipt,  // "cancel-receipt": its second
  GiveUp,         // "give-up": its third
  Close,          // "close": the printer-error dialog closed without a choice
  Clear,          // "clear": the clearing menu entry
  About,          // "about": the About entry
  CloseAbout,     // "close-about": the About box closed as a click in it does
  Exit,           // "exit": the exit confirmed
  TrayLost,       // "tray-lost": the icon dropped, as the notification area's end drops it
  TrayCreated,    // "tray-created": a new notification area announced ("TaskbarCreated")
};

// The action of a script line; blanks around it do not count.
OperatorAction ParseOperatorAction(std::string_view line);

// How a front end answers its real windows. Each press returns false when
// its window is not up (the action then waits).
class OperatorHands {
 public:
  virtual ~OperatorHands() = default;
  virtual bool CloseAbout() = 0;
  virtual bool AnswerNoAnswerBox(bool ok) = 0;
  virtual bool AnswerPaymentQuestion(bool yes) = 0;
  // The printer-error dialog's button `index` (0-2, the layout's order).
  virtual bool PressErrorButton(int index) = 0;
  virtual bool CloseErrorDialog() = 0;
  // The notification area's end and its new start, where the system has
  // such; elsewhere nothing happens.
  virtual bool DropTrayIcon() { return true; }
  virtual bool AnnounceNewTray() { return true; }
};

// Carries out `action` if it applies now: the menu entries and the exit on
// `host`, the answers by `hands`. False when it has to wait.
bool ApplyOperatorAction(OperatorAction action, AppHost& host, OperatorHands& hands);

// The script named by OVIXNOVA_TEST_OPERATOR, read anew at every step.
class OperatorScript {
 public:
  explicit OperatorScript(std::string path) : path_(std::move(path)) {}
  // Carries out the first action not done yet, when its line is complete
  // (ends with a newline) and the action applies now.
  void Step(AppHost& host, OperatorHands& hands);

 private:
  std::string path_;
  std::size_t done_ = 0;
};

// What the environment asks of the test operator: OVIXNOVA_TEST_NO_WATCH set
// (not empty) turns the directory watch off, as on a system without change
// notification; the script when OVIXNOVA_TEST_OPERATOR names a file.
struct OperatorSetup {
  bool noWatch = false;
  std::unique_ptr<OperatorScript> script;
};
OperatorSetup ReadOperatorSetup();

// True when a scripted operator drives the program: it answers no start-up
// failure's message box.
bool ScriptedOperatorRuns();

}  // namespace ovix
