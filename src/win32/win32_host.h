// The Windows side of the driver: the hidden main window "OVIXNOVA" with the
// 100 ms polling timer, the tray icon (Shell_NotifyIcon, callback message
// 516) and its popup menu, the operator's prompts and the exit sequence.
// Implements DriverHost for the receipt spool. GUI thread only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <functional>
#include <memory>

#include "spool/driver_host.h"
#include "spool/receipt_spool.h"

namespace ovix {

class Win32SerialPort;
class Win32SpoolWatch;

class Win32Host : public DriverHost {
 public:
  // The tray icon's mouse messages arrive as this message, the mouse message
  // itself in lParam (WM_RBUTTONUP, 517, opens the menu).
  static constexpr UINT kTrayMessage = 516;

  Win32Host();
  ~Win32Host() override;
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  HWND MainWindow() const { return main_; }
  // The spool the timer drives and the port whose reads complete through the
  // main window; both must outlive the host's message handling.
  void Attach(ReceiptSpool* spool, Win32SerialPort* port) {
    spool_ = spool;
    port_ = port;
  }

  // Start-up: the timer's 100 ms ticks and the spool's safety looks (every
  // kSafetyLookPeriod, a second timer) begin once the message loop runs, and
  // the spool's directory watch starts (the timer then stops while nothing
  // waits).
  void StartTimer();
  // For tests: the directory watch is not used, as where the system offers
  // none; the timer looks every 100 ms.
  void DisableSpoolWatch() { watchDisabled_ = true; }
  // Installs the hook (the icon's messages reach the menu) and adds the icon.
  void AddTrayIcon();
  // The orderly exit: timers off, a running query or clearing wait released,
  // the hook and the icon removed, prompts closed, the exit requested and the
  // program ended once no tick runs any more.
  void RunExitSequence();
  // Called when the Windows session ends, after the exit sequence: the stop
  // line must be written now, before the process is ended.
  std::function<void()> onSessionEnd;
  bool MainUnloaded() const { return mainUnloaded_; }

  // DriverHost
  void SetTrayIcon(TrayPicture picture) override;
  void SetTimerEnabled(bool enabled) override;
  bool WatchSpool(const std::string& directory, std::string* reason) override;
  bool WatchFollowsSpool() override;
  bool AskContinueWithoutRegister() override;
  // The payment question box; a box ended without an answer (but not by the
  // exit) comes back.
  bool AskReceiptComplete(const std::string& file) override;
  void ShowPrintErrorDialog() override;
  void EndProgramNow() override;
  void UnloadMain() override;

  // The menu entries' click handlers.
  void mnuStergere_Click();
  void mnuAbout_Click();
  void mnuExit_Click();

  // The windows of the prompts while they are up (null otherwise).
  HWND NoAnswerBox() const { return noAnswerBox_; }
  HWND PaymentQuestionBox() const { return paymentBox_; }
  HWND ErrorDialogWindow() const { return errorDialog_; }
  HWND AboutWindow() const { return IsWindow(about_) ? about_ : nullptr; }
  ReceiptSpool* Spool() const { return spool_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowPopupMenu();
  void RemoveTrayIcon();

  HWND main_ = nullptr;
  ReceiptSpool* spool_ = nullptr;
  Win32SerialPort* port_ = nullptr;
  std::unique_ptr<Win32SpoolWatch> watch_;
  bool watchDisabled_ = false;
  bool lookPending_ = false;  // a Look() the watch asked for is posted
  NOTIFYICONDATAA tray_{};
  bool hooked_ = false;
  bool iconAdded_ = false;
  bool mainUnloaded_ = false;
  HWND exitConfirmation_ = nullptr;
  HWND about_ = nullptr;
  HWND noAnswerBox_ = nullptr;
  HWND paymentBox_ = nullptr;
  HWND errorDialog_ = nullptr;
};

}  // namespace ovix
