#include "qt/qt_driver_host.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>

#include "qt/dialogs.h"

namespace ovix {

QtDriverHost::QtDriverHost(QObject* parent) : QObject(parent) {
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (spool_) spool_->Tick();
  });
  safetyTimer_.setInterval(std::chrono::milliseconds(kSafetyLookPeriod));
  connect(&safetyTimer_, &QTimer::timeout, this, [this] {
    if (spool_ && !mainUnloaded_) spool_->SafetyLook();
  });

  popup_.setObjectName("mypopup");
  popup_.setTitle("popup");
  auto* stergere = popup_.addAction("&Stergere");
  stergere->setObjectName("mnuStergere");
  stergere->setVisible(false);
  stergere->setEnabled(false);
  connect(stergere, &QAction::triggered, this, &QtDriverHost::mnuStergere_Click);
  auto* sep1 = popup_.addSeparator();
  sep1->setObjectName("mnuSep1");
  sep1->setVisible(false);
  auto* about = popup_.addAction("Info Aplicatie");
  about->setObjectName("mnuAbout");
  connect(about, &QAction::triggered, this, &QtDriverHost::mnuAbout_Click);
  popup_.addSeparator()->setObjectName("MNUsep2");
  auto* exit = popup_.addAction("&Exit");
  exit->setObjectName("mnuExit");
  connect(exit, &QAction::triggered, this, &QtDriverHost::mnuExit_Click);

  tray_.menuBlocked = [this] { return noAnswerBox_ || errorDialog_ || paymentBox_; };
  main_.onMinimized = [this] { tray_.OnMainMinimized(); };
}

QtDriverHost::~QtDriverHost() = default;

void QtDriverHost::StartTimer() {
  timer_.start();
  safetyTimer_.start();
  if (spool_) spool_->StartWatching();
}

bool QtDriverHost::WatchSpool(const std::string& directory, std::string* reason) {
  if (watchDisabled_) {
    *reason = "supraveghere oprita pentru teste";
    return false;
  }
  watch_.onChange = [this](SpoolChange change, const std::string& name) {
    if (!spool_ || !spool_->OnSpoolChange(change, name) || lookPending_) return;
    // The look runs from the event loop, after the watch's handler returned.
    lookPending_ = true;
    QTimer::singleShot(0, this, [this] {
      lookPending_ = false;
      if (spool_) spool_->Look();
    });
  };
  watch_.onFailure = [this](const std::string& why) {
    if (spool_) spool_->OnWatchFailed(why);
  };
  return watch_.Start(directory, reason);
}

bool QtDriverHost::WatchFollowsSpool() {
  return watch_.FollowsPath();
}

void QtDriverHost::AddTrayIcon() {
  tray_.HookWindow();
  tray_.AddTrayIcon(main_.windowIcon());
}

void QtDriverHost::mnuStergere_Click() {
  if (spool_) spool_->RequestClearing();
}

void QtDriverHost::mnuExit_Click() {
  if (!exitConfirmation_)
    exitConfirmation_ = new ExitConfirmation(&main_, [this] { RunExitSequence(); });
  exitConfirmation_->show();
  exitConfirmation_->raise();
  exitConfirmation_->activateWindow();
}

void QtDriverHost::mnuAbout_Click() {
  if (!about_) {
    auto* box = new AboutBox(&main_);
    box->SetVersionText(VersionText());
    about_ = box;
  }
  about_->show();
  about_->raise();
}

void QtDriverHost::RunExitSequence() {
  timer_.stop();
  safetyTimer_.stop();
  watch_.Stop();
  if (spool_) spool_->RequestExit();
  tray_.UnhookWindow();
  tray_.RemoveTrayIcon();
  if (exitConfirmation_) exitConfirmation_->close();
  // A prompt that is still open would keep the running tick from ending.
  if (noAnswerBox_) noAnswerBox_->done(QMessageBox::Ok);
  if (paymentBox_) paymentBox_->done(0);
  if (errorDialog_) errorDialog_->reject();
  if (!spool_ || !spool_->TickRunning()) UnloadMain();
}

void QtDriverHost::SetTrayIcon(TrayPicture picture) {
  tray_.SetTrayIcon(static_cast<int>(picture));
}

void QtDriverHost::SetTimerEnabled(bool enabled) {
  if (!enabled) {
    timer_.stop();
  } else if (!timer_.isActive()) {
    timer_.start();
  }
}

bool QtDriverHost::AskContinueWithoutRegister() {
  QMessageBox box(QMessageBox::Critical, "OVIXNOVA",
                  "Casa de marcat nu raspunde !!\nLIPSA HIRTIE SAU INCHISA !!\n\n"
                  "INTRODUCETI HIRTIE SAU DESCHIDETI CASA !!\n\nCONTINUARE APLICATIE ??",
                  QMessageBox::Ok | QMessageBox::Cancel, &main_);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  noAnswerBox_ = &box;
  tray_.UpdateMenuEntries();
  const int answer = box.exec();
  noAnswerBox_ = nullptr;
  tray_.UpdateMenuEntries();
  return answer == QMessageBox::Ok || (spool_ && spool_->ExitRequested());
}

bool QtDriverHost::AskReceiptComplete(const std::string& file) {
  const QString text = "Casa de marcat nu a confirmat plata bonului !!\n\n" +
                       QString::fromLocal8Bit(file) +
                       "\n\nBONUL A IESIT COMPLET DIN CASA DE MARCAT ??";
  for (;;) {
    QMessageBox box(QMessageBox::Question, "OVIXNOVA", text, QMessageBox::NoButton, &main_);
    // A name with markup in it is still shown as it is.
    box.setTextFormat(Qt::PlainText);
    // Both buttons take the action role: every desktop's layout keeps such
    // buttons in the order added, and with no button of a reject or no role
    // the box has no escape button, so Esc and the close button do nothing.
    QPushButton* yes = box.addButton("Da", QMessageBox::ActionRole);
    QPushButton* no = box.addButton("Nu", QMessageBox::ActionRole);
    box.setDefaultButton(yes);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    paymentBox_ = &box;
    tray_.UpdateMenuEntries();
    box.exec();
    paymentBox_ = nullptr;
    tray_.UpdateMenuEntries();
    if (box.clickedButton() == yes) return true;
    if (box.clickedButton() == no || !spool_ || spool_->ExitRequested()) return false;
  }
}

QPushButton* QtDriverHost::PaymentButton(QMessageBox* box, const QString& text) {
  if (!box) return nullptr;
  for (QAbstractButton* button : box->buttons())
    if (button->text() == text) return qobject_cast<QPushButton*>(button);
  return nullptr;
}

void QtDriverHost::ShowPrintErrorDialog() {
  PrintErrorDialog dialog(&main_, [this](int button) {
    if (!spool_) return;
    static constexpr ErrorChoice kChoices[] = {ErrorChoice::Retry, ErrorChoice::CancelReceipt,
                                               ErrorChoice::GiveUp};
    spool_->OnErrorDialogButton(kChoices[button]);
  });
  dialog.setWindowModality(Qt::ApplicationModal);
  errorDialog_ = &dialog;
  tray_.UpdateMenuEntries();
  dialog.exec();
  errorDialog_ = nullptr;
  tray_.UpdateMenuEntries();
}

void QtDriverHost::EndProgramNow() {
  std::_Exit(0);
}

void QtDriverHost::UnloadMain() {
  mainUnloaded_ = true;
  timer_.stop();
  safetyTimer_.stop();
  // exit(), not quit(): quit() would also close every window, and an open
  // About box is to keep the program until the operator clicks it away.
  QCoreApplication::exit(0);
}

}  // namespace ovix
