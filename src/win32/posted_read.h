// An overlapped read whose completion reaches a window's message loop: a
// one-time wait of the system's thread pool on the read's event posts a
// message to the window, whose procedure then finishes the read on the GUI
// thread. Used by the serial port and the spool directory watch.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace ovix {

// Posts Message to the window passed as the context. Runs on a pool thread and
// touches nothing else, so an object that is going away is never reached.
template <UINT Message>
VOID CALLBACK PostOnSignal(PVOID window, BOOLEAN /*timedOut*/) {
  PostMessageA(static_cast<HWND>(window), Message, 0, 0);
}

// After an overlapped read on `handle` was issued with `read`: sets `wait` to
// a one-time wait that posts Message to `window` once the read's event is
// set. On failure cancels the read, waits until the system is done with its
// buffer, leaves `wait` null and returns false with GetLastError() kept.
template <UINT Message>
bool PostWhenReadEnds(HANDLE handle, OVERLAPPED& read, HWND window, HANDLE& wait) {
  if (RegisterWaitForSingleObject(&wait, read.hEvent, &PostOnSignal<Message>, window, INFINITE,
                                  WT_EXECUTEONLYONCE))
    return true;
  const DWORD code = GetLastError();
  wait = nullptr;
  CancelIoEx(handle, &read);
  DWORD got = 0;
  GetOverlappedResult(handle, &read, &got, TRUE);
  SetLastError(code);
  return false;
}

// Ends a pending read: removes its wait (blocking until a callback that is
// running has posted; then no more come), cancels the read and waits until the
// system is done with its buffer. Does nothing when `wait` is null.
inline void CancelPendingRead(HANDLE handle, OVERLAPPED& read, HANDLE& wait) {
  if (wait == nullptr) return;
  UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
  wait = nullptr;
  CancelIoEx(handle, &read);
  DWORD got = 0;
  GetOverlappedResult(handle, &read, &got, TRUE);
}

}  // namespace ovix
