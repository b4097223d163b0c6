// The Qt side of the driver: the polling timer, the tray icon with its popup
// menu, the operator's prompts and the primitives of the exit sequence.
// Implements the application host for the receipt spool. Lives on the GUI
// thread.
#pragma once

#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "app/app_host.h"
#include "qt/qt_spool_watch.h"
#include "qt/tray_icon.h"

namespace ovix {

class QtDriverHost : public QObject, public AppHost {
  Q_OBJECT
 public:
  explicit QtDriverHost(QObject* parent = nullptr);
  ~QtDriverHost() override;

  // Installs the hook and shows the tray icon with the main window's icon.
  void AddTrayIcon(const std::string& tooltip) override;

  // DriverHost
  void SetTrayIcon(TrayPicture picture) override;
  void SetTimerEnabled(bool enabled) override;
  bool WatchFollowsSpool() override;
  void ShowPrintErrorDialog(const std::string& file) override;
  void EndProgramNow() override;

  // The menu entries' click handlers.
  void OnMenuAbout() override;
  void OnMenuExit() override;

  MainWindow& Main() { return main_; }
  TrayIcon& Tray() { return tray_; }
  QMenu& Popup() { return popup_; }
  QDialog* ExitConfirmationWindow() const { return exitConfirmation_; }
  QDialog* AboutWindow() const { return about_; }
  QDialog* ErrorDialogWindow() const { return errorDialog_; }
  // The no-answer box: caption "OVIXNOVA", the stop icon, OK (the default;
  // also Esc and the close button) and Cancel.
  QMessageBox* NoAnswerBox() const { return noAnswerBox_; }
  // The payment question: caption "OVIXNOVA", the question icon, "&Da" and
  // "&Nu" without a default button, shown topmost without activating (and
  // so not modal); only a click or Alt+D / Alt+N answers
  // (ui::kPaymentQuestion).
  QMessageBox* PaymentQuestionBox() const { return paymentBox_; }
  // The button of the payment question whose table text is `text` ("Da" or
  // "Nu").
  static QPushButton* PaymentButton(QMessageBox* box, const QString& text);
  const QTimer& SafetyTimer() const { return safetyTimer_; }

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
  void BuildPopupMenu();
  // Shows a prompt without making it modal, noted in `shown` while it is up,
  // and waits for it; returns its result.
  template <class Prompt>
  int RunPrompt(QPointer<Prompt>& shown, Prompt& prompt);

  QTimer timer_;
  QTimer safetyTimer_;
  QtSpoolWatch watch_;
  MainWindow main_;
  QMenu popup_;
  TrayIcon tray_{main_, popup_};
  QPointer<QDialog> exitConfirmation_;
  QPointer<QDialog> about_;
  QPointer<QDialog> errorDialog_;
  QPointer<QMessageBox> noAnswerBox_;
  QPointer<QMessageBox> paymentBox_;
};

}  // namespace ovix
