// The Qt side of the driver: the polling timer, the tray icon with its popup
// menu, the operator's prompts and the exit sequence. Implements DriverHost for
// the receipt spool. Lives on the GUI thread.
#pragma once

#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "qt/qt_spool_watch.h"
#include "qt/tray_icon.h"
#include "spool/driver_host.h"
#include "spool/receipt_spool.h"

namespace ovix {

class QtDriverHost : public QObject, public DriverHost {
  Q_OBJECT
 public:
  explicit QtDriverHost(QObject* parent = nullptr);
  ~QtDriverHost() override;

  // The spool whose ticks the timer drives and whose exit the host runs. Must
  // outlive the host's event handling.
  void Attach(ReceiptSpool* spool) { spool_ = spool; }

  // Start-up: the timer's 100 ms ticks and the spool's safety looks (every
  // kSafetyLookPeriod) begin once the event loop runs, and the spool's
  // directory watch starts (the timer then stops while nothing waits).
  void StartTimer();
  // For tests: the directory watch is not used, as where the system offers
  // none; the timer looks every 100 ms.
  void DisableSpoolWatch() { watchDisabled_ = true; }
  // Installs the connection through which the icon's mouse events arrive, and
  // shows the tray icon with the main window's icon where a notification area
  // exists.
  void AddTrayIcon();

  // The orderly exit: timers off, a running query or clearing wait released,
  // the icon's events disconnected, the icon removed, the exit requested and
  // the program ended once no tick runs any more.
  void RunExitSequence();

  // True once the main window was unloaded in order (the stop line is due).
  bool MainUnloaded() const { return mainUnloaded_; }

  // DriverHost
  void SetTrayIcon(TrayPicture picture) override;
  void SetTimerEnabled(bool enabled) override;
  bool WatchSpool(const std::string& directory, std::string* reason) override;
  bool WatchFollowsSpool() override;
  bool AskContinueWithoutRegister() override;
  // The payment question: caption "OVIXNOVA", the question icon, "Da" (the
  // default) and "Nu"; Esc and the close button answer nothing, and a box
  // closed without an answer comes back until the exit is requested.
  bool AskReceiptComplete(const std::string& file) override;
  void ShowPrintErrorDialog() override;
  void EndProgramNow() override;
  void UnloadMain() override;

  // The menu entries' click handlers.
  void mnuStergere_Click();
  void mnuAbout_Click();
  void mnuExit_Click();

  MainWindow& Main() { return main_; }
  TrayIcon& Tray() { return tray_; }
  QMenu& Popup() { return popup_; }
  QDialog* ExitConfirmationWindow() const { return exitConfirmation_; }
  QDialog* AboutWindow() const { return about_; }
  QDialog* ErrorDialogWindow() const { return errorDialog_; }
  QMessageBox* NoAnswerBox() const { return noAnswerBox_; }
  QMessageBox* PaymentQuestionBox() const { return paymentBox_; }
  // The button of the payment question with the text `text` ("Da" or "Nu").
  static QPushButton* PaymentButton(QMessageBox* box, const QString& text);
  const QTimer& SafetyTimer() const { return safetyTimer_; }

 private:
  ReceiptSpool* spool_ = nullptr;
  QTimer timer_;
  QTimer safetyTimer_;
  QtSpoolWatch watch_;
  bool watchDisabled_ = false;
  bool lookPending_ = false;  // a Look() the watch asked for is queued
  MainWindow main_;
  QMenu popup_;
  TrayIcon tray_{main_, popup_};
  QPointer<QDialog> exitConfirmation_;
  QPointer<QDialog> about_;
  QPointer<QDialog> errorDialog_;
  QPointer<QMessageBox> noAnswerBox_;
  QPointer<QMessageBox> paymentBox_;
  bool mainUnloaded_ = false;
};

}  // namespace ovix
