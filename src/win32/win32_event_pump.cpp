#include "win32/win32_event_pump.h"

#include <algorithm>

namespace ovix {

namespace {

// Messages dispatched by one pass at most: a handler that posts a message on
// every call cannot keep the caller from its deadline.
constexpr int kMaxPerPass = 1000;

// maxBlock in whole milliseconds, rounded up; 0 for none, never INFINITE.
DWORD BlockMs(std::chrono::nanoseconds maxBlock) {
  if (maxBlock <= std::chrono::nanoseconds::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(maxBlock).count();
  return static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
}

// Sleeps while a WM_QUIT that was posted again is the only message. A wait
// for queued input would end at once on it, so this waits for what is new
// since the queue was last looked at; a message that came in between ends it
// at once.
void SleepPastQuit(DWORD ms) {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) return;
  MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, 0);
}

}  // namespace

void Win32EventPump::RunPendingEvents(std::chrono::nanoseconds maxBlock) {
  MSG msg;
  int dispatched = 0;
  bool quit = false;
  while (dispatched < kMaxPerPass && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!DispatchOne(msg)) {
      quit = true;
      break;
    }
    ++dispatched;
  }
  const DWORD ms = BlockMs(maxBlock);
  if (dispatched > 0 || ms == 0) return;
  if (quit) {
    SleepPastQuit(ms);
  } else {
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  for (int i = 0; i < kMaxPerPass && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (!DispatchOne(msg)) return;
  }
}

int Win32EventPump::Run() {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return -1;
    DispatchOne(msg);
  }
}

bool Win32EventPump::DispatchOne(const MSG& msg) {
  if (msg.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  MSG copy = msg;
  if (preTranslate && preTranslate(&copy)) return true;
  TranslateMessage(&copy);
  DispatchMessageA(&copy);
  return true;
}

}  // namespace ovix
