#include "win32/win32_host.h"

#include <chrono>

#include "app/ui_tables.h"
#include "os/os.h"
#include "win32/win32_dialogs.h"
#include "win32/win32_serial_port.h"
#include "win32/win32_spool_watch.h"

namespace ovix {
namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kSafetyTimer = 2;
constexpr UINT kSafetyLookMs =
    std::chrono::duration_cast<std::chrono::milliseconds>(kSafetyLookPeriod).count();
// Posted when the directory watch asks the spool for a look.
constexpr UINT kLookMessage = WM_APP + 3;

HICON ResourceIcon(int resource) {
  return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource));
}

}  // namespace

Win32Host::Win32Host() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &Win32Host::WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kMainClass;
  wc.hIcon = LoadIconA(wc.hInstance, "IDI_ICON1");
  RegisterClassA(&wc);
  main_ = CreateWindowExA(0, kMainClass, "OVIXNOVA", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, 200, 100, nullptr, nullptr, wc.hInstance, this);
}

Win32Host::~Win32Host() {
  watch_.reset();
  RemoveTrayIcon();
  if (main_) DestroyWindow(main_);
}

LRESULT CALLBACK Win32Host::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* host = reinterpret_cast<Win32Host*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (host == nullptr || host->main_ != window)
    return DefWindowProcA(window, message, wParam, lParam);
  return host->Handle(message, wParam, lParam);
}

LRESULT Win32Host::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_) {
    if (hooked_) AddIcon();
    return 0;
  }
  if (message == withdrawStop_) return WithdrawExit() ? 1 : 0;
  switch (message) {
    case WM_TIMER:
      if (wParam == kPollTimer) OnPollTimer();
      if (wParam == kSafetyTimer) OnSafetyTimer();
      return 0;
    case Win32SerialPort::kReadMessage:
      if (port_) port_->OnReadCompleted();
      return 0;
    case Win32SpoolWatch::kChangeMessage:
      if (watch_) watch_->OnChangesRead();
      return 0;
    case kLookMessage:
      OnPostedLook();
      return 0;
    case kTrayMessage:
      // Only the right-button release over the icon opens the menu.
      if (hooked_ && lParam == WM_RBUTTONUP) ShowPopupMenu();
      return 0;
    case WM_COMMAND:
      OnMenuCommand(static_cast<ui::MenuCommand>(LOWORD(wParam)));
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) {
        RunExitSequence();
        if (onSessionEnd) onSessionEnd();
      }
      return 0;
    case WM_CLOSE:
      // A stop request, as SIGTERM is on Linux; the window itself goes only
      // once the exit sequence has run.
      if (!MainUnloaded()) RunExitSequence();
      return 0;
    default:
      return DefWindowProcA(main_, message, wParam, lParam);
  }
}

void Win32Host::ShowPopupMenu() {
  HMENU menu = CreatePopupMenu();
  // A Windows menu cannot hide an entry: the hidden ones are left out.
  for (const ui::MenuEntry& entry : ui::kPopupMenu) {
    if (!entry.visible) continue;
    AppendMenuA(menu, entry.separator ? MF_SEPARATOR : MF_STRING | (entry.enabled ? 0 : MF_GRAYED),
                static_cast<UINT_PTR>(entry.command), entry.separator ? nullptr : entry.text);
  }
  POINT at{};
  GetCursorPos(&at);
  // The menu closes when the operator clicks elsewhere only if the owner is
  // the foreground window.
  SetForegroundWindow(main_);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, main_, nullptr);
  PostMessageA(main_, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

void Win32Host::StartTimers() {
  SetTimer(main_, kPollTimer, 100, nullptr);
  SetTimer(main_, kSafetyTimer, kSafetyLookMs, nullptr);
}

void Win32Host::StopTimers() {
  KillTimer(main_, kPollTimer);
  KillTimer(main_, kSafetyTimer);
}

bool Win32Host::StartWatch(const std::string& directory, std::string* reason) {
  // Watched anew, the same watch restarts, so a handler that asks for it
  // never destroys the watch it runs in.
  if (watch_) return watch_->Start(directory, reason);
  watch_ = std::make_unique<Win32SpoolWatch>(main_);
  watch_->onChange = [this](SpoolChange change, const std::string& name) {
    OnSpoolChange(change, name);
  };
  watch_->onFailure = [this](const std::string& why) { OnWatchFailed(why); };
  return watch_->Start(directory, reason);
}

void Win32Host::StopWatch() {
  if (watch_) watch_->Stop();
}

bool Win32Host::PostLook() {
  return PostMessageA(main_, kLookMessage, 0, 0) != FALSE;
}

bool Win32Host::WatchFollowsSpool() {
  return watch_ && watch_->FollowsPath();
}

void Win32Host::AddTrayIcon(const std::string& tooltip) {
  hooked_ = true;
  tray_.cbSize = sizeof tray_;
  tray_.hWnd = main_;
  tray_.uID = 1;
  tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray_.uCallbackMessage = kTrayMessage;
  tray_.hIcon = LoadIconA(GetModuleHandleA(nullptr), "IDI_ICON1");
  const std::string tip = NarrowFromUtf8(tooltip);
  lstrcpynA(tray_.szTip, tip.c_str(), sizeof tray_.szTip);
  AddIcon();
}

void Win32Host::AddIcon() {
  iconAdded_ = Shell_NotifyIconA(NIM_ADD, &tray_) != FALSE;
  ++trayIconAdds_;
}

void Win32Host::RemoveTray() {
  hooked_ = false;
  RemoveTrayIcon();
}

void Win32Host::RemoveTrayIcon() {
  if (!iconAdded_) return;
  Shell_NotifyIconA(NIM_DELETE, &tray_);
  iconAdded_ = false;
}

void Win32Host::SetTrayIcon(TrayPicture picture) {
  tray_.hIcon = ResourceIcon(static_cast<int>(picture));
  SendMessageA(main_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(tray_.hIcon));
  if (iconAdded_) Shell_NotifyIconA(NIM_MODIFY, &tray_);
}

void Win32Host::SetTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(main_, kPollTimer, 100, nullptr);
  } else {
    KillTimer(main_, kPollTimer);
  }
}

bool Win32Host::ShowNoAnswerBox() {
  const bool ok = win32::AskContinueWithoutRegister(main_, &noAnswerBox_);
  noAnswerBox_ = nullptr;
  return ok;
}

PaymentAnswer Win32Host::ShowPaymentQuestion(const std::string& file) {
  const int answer = win32::AskReceiptComplete(main_, file, &paymentBox_);
  paymentBox_ = nullptr;
  if (answer == IDYES) return PaymentAnswer::Yes;
  if (answer == IDNO) return PaymentAnswer::No;
  // Ended without an answer: by the exit, or the box could not be shown.
  return answer == 0 ? PaymentAnswer::NotShown : PaymentAnswer::NoAnswer;
}

void Win32Host::ShowPrintErrorDialog(const std::string& file) {
  win32::RunPrintErrorDialog(
      main_, file, [this](int button) { OnErrorDialogButton(button); }, &errorDialog_);
  errorDialog_ = nullptr;
}

void Win32Host::EndProgramNow() {
  ExitProcess(0);
}

void Win32Host::QuitEventLoop() {
  PostQuitMessage(0);
}

void Win32Host::CloseExitConfirmation() {
  if (IsWindow(exitConfirmation_)) DestroyWindow(exitConfirmation_);
}

void Win32Host::FinishOpenPrompts() {
  if (noAnswerBox_) win32::DismissPrompt(noAnswerBox_);
  if (paymentBox_) win32::DismissPrompt(paymentBox_);
  if (errorDialog_) win32::DismissPrompt(errorDialog_);
}

void Win32Host::OnMenuAbout() {
  if (IsWindow(about_)) {
    SetForegroundWindow(about_);
    return;
  }
  about_ = win32::ShowAbout(main_, ui::VersionText());
}

void Win32Host::OnMenuExit() {
  if (IsWindow(exitConfirmation_)) {
    SetForegroundWindow(exitConfirmation_);
    return;
  }
  exitConfirmation_ = win32::ShowExitConfirmation(main_, [this] { RunExitSequence(); });
}

}  // namespace ovix
