// The Qt side of the driver: the polling timer, the tray icon with its popup
// menu, the operator's prompts and the exit sequence. Implements DriverHost for
// the receipt spool. Lives on the GUI thread.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

#include "spool/driver_host.h"
#include "spool/receipt_spool.h"

class QDialog;
class QMessageBox;

namespace ovix {

class OperatorScript;

class QtDriverHost : public QObject, public DriverHost {
  Q_OBJECT
 public:
  explicit QtDriverHost(QObject* parent = nullptr);
  ~QtDriverHost() override;

  // The spool whose ticks the timer drives and whose exit the host runs. Must
  // outlive the host's event handling.
  void Attach(ReceiptSpool* spool) { spool_ = spool; }

  // Start-up: the timer's 100 ms ticks begin once the event loop runs.
  void StartTimer() { timer_.start(); }
  // Installs the connection through which the icon's mouse events arrive, and
  // shows the tray icon with the idle picture where a notification area exists.
  void AddTrayIcon();

  // The orderly exit: timer off, a running query or clearing wait released,
  // the icon's events disconnected, the icon removed, the exit requested and
  // the program ended once no tick runs any more.
  void RunExitSequence();

  // True once the main window was unloaded in order (the stop line is due).
  bool MainUnloaded() const { return mainUnloaded_; }

  // DriverHost
  void SetTrayIcon(int resource) override;
  void SetTimerEnabled(bool enabled) override;
  bool AskContinueWithoutRegister() override;
  void ShowPrintErrorDialog() override;
  void EndProgramNow() override;
  void UnloadMain() override;

  // The icon of a resource number (102 idle, 103 busy, 104 error).
  static QIcon IconFor(int resource);

 private:
  void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
  void ShowPopupMenu();
  void OpenExitConfirmation();
  void OpenAbout();

  ReceiptSpool* spool_ = nullptr;
  QTimer timer_;
  QSystemTrayIcon tray_;
  QMenu popup_;
  QMetaObject::Connection hook_;
  QPointer<QDialog> exitConfirmation_;
  QPointer<QDialog> about_;
  QPointer<QDialog> errorDialog_;
  QPointer<QMessageBox> noAnswerBox_;
  std::unique_ptr<OperatorScript> script_;
  bool mainUnloaded_ = false;
};

}  // namespace ovix
