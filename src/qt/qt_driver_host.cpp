#include "qt/qt_driver_host.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>

#include "app/ui_tables.h"
#include "qt/dialogs.h"

namespace ovix {

QtDriverHost::QtDriverHost(QObject* parent) : QObject(parent) {
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, [this] { OnPollTimer(); });
  safetyTimer_.setInterval(std::chrono::milliseconds(kSafetyLookPeriod));
  connect(&safetyTimer_, &QTimer::timeout, this, [this] { OnSafetyTimer(); });
  BuildPopupMenu();
  tray_.menuBlocked = [this] { return noAnswerBox_ || errorDialog_ || paymentBox_; };
  main_.onMinimized = [this] { tray_.OnMainMinimized(); };
  watch_.onChange = [this](SpoolChange change, const std::string& name) {
    OnSpoolChange(change, name);
  };
  watch_.onFailure = [this](const std::string& why) { OnWatchFailed(why); };
}

QtDriverHost::~QtDriverHost() = default;

void QtDriverHost::BuildPopupMenu() {
  popup_.setObjectName("mypopup");
  popup_.setTitle("popup");
  for (const ui::MenuEntry& entry : ui::kPopupMenu) {
    QAction* action = entry.separator ? popup_.addSeparator() : popup_.addAction(entry.text);
    action->setObjectName(entry.name);
    action->setVisible(entry.visible);
    if (entry.separator) continue;
    action->setEnabled(entry.enabled);
    connect(action, &QAction::triggered, this,
            [this, command = entry.command] { OnMenuCommand(command); });
  }
}

void QtDriverHost::StartTimers() {
  timer_.start();
  safetyTimer_.start();
}

void QtDriverHost::StopTimers() {
  timer_.stop();
  safetyTimer_.stop();
}

bool QtDriverHost::StartWatch(const std::string& directory, std::string* reason) {
  return watch_.Start(directory, reason);
}

void QtDriverHost::StopWatch() {
  watch_.Stop();
}

bool QtDriverHost::PostLook() {
  QTimer::singleShot(0, this, [this] { OnPostedLook(); });
  return true;
}

bool QtDriverHost::WatchFollowsSpool() {
  return watch_.FollowsPath();
}

void QtDriverHost::AddTrayIcon() {
  tray_.HookWindow();
  tray_.AddTrayIcon(main_.windowIcon());
}

void QtDriverHost::RemoveTray() {
  tray_.UnhookWindow();
  tray_.RemoveTrayIcon();
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
    box->SetVersionText(QString::fromStdString(ui::VersionText()));
    about_ = box;
  }
  about_->show();
  about_->raise();
}

void QtDriverHost::CloseExitConfirmation() {
  if (exitConfirmation_) exitConfirmation_->close();
}

void QtDriverHost::FinishOpenPrompts() {
  if (noAnswerBox_) noAnswerBox_->done(QMessageBox::Ok);
  if (paymentBox_) paymentBox_->done(0);
  if (errorDialog_) errorDialog_->reject();
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

template <class Prompt>
int QtDriverHost::RunPrompt(QPointer<Prompt>& shown, Prompt& prompt) {
  shown = &prompt;
  tray_.UpdateMenuEntries();
  const int result = prompt.exec();
  shown = nullptr;
  tray_.UpdateMenuEntries();
  return result;
}

bool QtDriverHost::ShowNoAnswerBox() {
  QMessageBox box(QMessageBox::Critical, ui::kPromptCaption,
                  QString::fromStdString(ui::NoAnswerText("\n")),
                  QMessageBox::Ok | QMessageBox::Cancel, &main_);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  return RunPrompt<QMessageBox>(noAnswerBox_, box) == QMessageBox::Ok;
}

PaymentAnswer QtDriverHost::ShowPaymentQuestion(const std::string& file) {
  QMessageBox box(QMessageBox::Question, ui::kPromptCaption,
                  QString::fromLocal8Bit(ui::PaymentQuestionText(file)), QMessageBox::NoButton,
                  &main_);
  // A name with markup in it is still shown as it is.
  box.setTextFormat(Qt::PlainText);
  // Both buttons take the action role: every desktop's layout keeps such
  // buttons in the order added, and with no button of a reject or no role
  // the box has no escape button, so Esc and the close button do nothing.
  QPushButton* yes = box.addButton(ui::kPaymentYes, QMessageBox::ActionRole);
  QPushButton* no = box.addButton(ui::kPaymentNo, QMessageBox::ActionRole);
  box.setDefaultButton(yes);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  RunPrompt<QMessageBox>(paymentBox_, box);
  if (box.clickedButton() == yes) return PaymentAnswer::Yes;
  return box.clickedButton() == no ? PaymentAnswer::No : PaymentAnswer::NoAnswer;
}

QPushButton* QtDriverHost::PaymentButton(QMessageBox* box, const QString& text) {
  if (!box) return nullptr;
  for (QAbstractButton* button : box->buttons())
    if (button->text() == text) return qobject_cast<QPushButton*>(button);
  return nullptr;
}

void QtDriverHost::ShowPrintErrorDialog() {
  PrintErrorDialog dialog(&main_, [this](int button) { OnErrorDialogButton(button); });
  dialog.setWindowModality(Qt::ApplicationModal);
  RunPrompt<QDialog>(errorDialog_, dialog);
}

void QtDriverHost::EndProgramNow() {
  std::_Exit(0);
}

// exit(), not quit(): quit() would also close every window, and an open
// About box is to keep the program until the operator clicks it away.
void QtDriverHost::QuitEventLoop() {
  QCoreApplication::exit(0);
}

}  // namespace ovix
