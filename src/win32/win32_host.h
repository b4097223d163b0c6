// The Windows side of the driver: the hidden main window "OVIXNOVA" with the
// 100 ms polling timer, the tray icon (Shell_NotifyIcon, callback message
// 516) and its popup menu, the operator's prompts and the primitives of the
// exit sequence. Implements the application host for the receipt spool. GUI
// thread only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <functional>
#include <memory>

#include "app/app_host.h"

namespace ovix {

class Win32SerialPort;
class Win32SpoolWatch;

class Win32Host : public AppHost {
 public:
  // The tray icon's mouse messages arrive as this message, the mouse message
  // itself in lParam (WM_RBUTTONUP, 517, opens the menu).
  static constexpr UINT kTrayMessage = 516;
  // The class of the hidden main window, by which `--stop` finds a driver.
  static constexpr char kMainClass[] = "OVIXNOVA_MAIN";
  // The registered message by which `--stop`, having given up waiting, takes
  // its close request back: the main window answers 1 when the exit was
  // withdrawn (AppHost::WithdrawExit) and the driver runs on, 0 when it ends
  // all the same.
  static constexpr char kWithdrawStopMessage[] = "OVIXNOVA_RETRAGE_OPRIREA";

  Win32Host();
  ~Win32Host() override;
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  HWND MainWindow() const { return main_; }
  // The port whose reads complete through the main window; it must outlive
  // the host's message handling.
  void AttachPort(Win32SerialPort* port) { port_ = port; }

  // Installs the hook (the icon's messages reach the menu) and adds the icon.
  // When the notification area is made anew (Explorer restarted: the
  // registered message "TaskbarCreated"), the icon is added again with its
  // current picture and tooltip. A close request of the main window
  // (taskkill without /F) runs the exit sequence, as the menu's exit does.
  void AddTrayIcon(const std::string& tooltip) override;
  // How many times the icon was added (for the tests).
  int TrayIconAdds() const { return trayIconAdds_; }
  // Called when the Windows session ends, after the exit sequence: the stop
  // line must be written now, before the process is ended.
  std::function<void()> onSessionEnd;

  // DriverHost
  void SetTrayIcon(TrayPicture picture) override;
  void SetTimerEnabled(bool enabled) override;
  bool WatchFollowsSpool() override;
  void ShowPrintErrorDialog(const std::string& file) override;
  void EndProgramNow() override;

  // The menu entries' click handlers.
  void OnMenuAbout() override;
  void OnMenuExit() override;

  // The windows of the prompts while they are up (null otherwise).
  HWND NoAnswerBox() const { return noAnswerBox_; }
  HWND PaymentQuestionBox() const { return paymentBox_; }
  HWND ErrorDialogWindow() const { return errorDialog_; }
  HWND AboutWindow() const { return IsWindow(about_) ? about_ : nullptr; }

 protected:
  void StartTimers() override;
  void StopTimers() override;
  bool StartWatch(const std::string& directory, std::string* reason) override;
  void StopWatch() override;
  bool PostLook() override;
  void RemoveTray() override;
  void CloseExitConfirmation() override;
  void FinishOpenPrompts() override;
  void QuitEventLoop() override;
  bool ShowNoAnswerBox() override;
  PaymentAnswer ShowPaymentQuestion(const std::string& file) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowPopupMenu();
  void RemoveTrayIcon();
  // Adds the icon as tray_ holds it (picture and tooltip).
  void AddIcon();

  HWND main_ = nullptr;
  Win32SerialPort* port_ = nullptr;
  std::unique_ptr<Win32SpoolWatch> watch_;
  NOTIFYICONDATAA tray_{};
  bool hooked_ = false;
  bool iconAdded_ = false;
  HWND exitConfirmation_ = nullptr;
  HWND about_ = nullptr;
  HWND noAnswerBox_ = nullptr;
  HWND paymentBox_ = nullptr;
  HWND errorDialog_ = nullptr;
  const UINT taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
  const UINT withdrawStop_ = RegisterWindowMessageA(kWithdrawStopMessage);
  int trayIconAdds_ = 0;
};

}  // namespace ovix
