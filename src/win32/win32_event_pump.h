// The event processing of the GUI thread on Windows: the thread's message
// queue, through MsgWaitForMultipleObjectsEx, so a wait blocks without using
// the CPU and every window (dialogs, the tray icon's window) stays live.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>

#include "os/platform.h"

namespace ovix {

class Win32EventPump : public EventPump {
 public:
  // Dispatches the messages that are pending, each first offered to
  // `preTranslate` (when set), which returns true when it handled it (a
  // modeless dialog's IsDialogMessage, a key of the exit confirmation). When none
  // is pending, sleeps until a message arrives or maxBlock (rounded up to
  // whole milliseconds) has passed. May be called again from a message it
  // dispatches. A WM_QUIT taken from the queue is posted again, so that the
  // outermost message loop sees it; while it is the only message, the call
  // still sleeps (until another message or maxBlock), so a caller that keeps
  // waiting for a reply after a quit does not spin.
  void RunPendingEvents(std::chrono::nanoseconds maxBlock) override;

  // The program's message loop: until WM_QUIT; returns its exit code.
  int Run();

  std::function<bool(MSG* msg)> preTranslate;

 private:
  // Dispatches one message; false for WM_QUIT (posted again).
  bool DispatchOne(const MSG& msg);
};

}  // namespace ovix
