#include "qt/qt_driver_host.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>

#include "app/ui_tables.h"
#include "qt/dialogs.h"

namespace ovix {
namespace {

// Eats every key pressed without Alt (Enter, Space, Esc, typed characters) on
// a prompt whose keys answer nothing; the buttons' Alt mnemonics are
// shortcuts, which Qt carries out before a key press is delivered.
class KeysAnswerNothing : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress &&
        !(static_cast<QKeyEvent*>(event)->modifiers() & Qt::AltModifier))
      return true;
    return QObject::eventFilter(watched, event);
  }
};

// The keyboard and screen rules of `layout` on a prompt whose buttons are
// added, `first` the first of them: Esc and the close button press it where
// the layout says so; where keys answer nothing, no button is the default or
// takes the focus and the keys' filter covers the box and all its widgets.
// No prompt is modal (RunPrompt waits for it all the same): a window modal
// to the program would block the tray icon, and with it the menu's Exit.
void ApplyPromptLayout(QMessageBox& box, const ui::PromptLayout& layout, QAbstractButton* first) {
  box.setWindowModality(Qt::NonModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.setAttribute(Qt::WA_ShowWithoutActivating, !layout.activates);
  if (layout.escapePressesFirst) box.setEscapeButton(first);
  if (layout.keysAnswer) return;
  box.setDefaultButton(static_cast<QPushButton*>(nullptr));
  for (QAbstractButton* button : box.buttons()) {
    if (auto* push = qobject_cast<QPushButton*>(button)) push->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
  }
  auto* filter = new KeysAnswerNothing(&box);
  box.installEventFilter(filter);
  for (QWidget* widget : box.findChildren<QWidget*>()) widget->installEventFilter(filter);
}

// Shows a dialog that is not modal and returns its result once it is done,
// or once the application's event loops are ended.
int RunModeless(QDialog& dialog) {
  QEventLoop loop;
  QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
  dialog.show();
  loop.exec(QEventLoop::DialogExec);
  return dialog.result();
}

}  // namespace

QtDriverHost::QtDriverHost(QObject* parent) : QObject(parent) {
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, [this] { OnPollTimer(); });
  safetyTimer_.setInterval(std::chrono::milliseconds(kSafetyLookPeriod));
  connect(&safetyTimer_, &QTimer::timeout, this, [this] { OnSafetyTimer(); });
  BuildPopupMenu();
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

void QtDriverHost::AddTrayIcon(const std::string& tooltip) {
  tray_.HookWindow();
  tray_.AddTrayIcon(main_.windowIcon(), tooltip);
}

void QtDriverHost::RemoveTray() {
  tray_.UnhookWindow();
  tray_.RemoveTrayIcon();
}

void QtDriverHost::OnMenuExit() {
  if (!exitConfirmation_)
    exitConfirmation_ = new ExitConfirmation(&main_, [this] { RunExitSequence(); });
  exitConfirmation_->show();
  exitConfirmation_->raise();
  exitConfirmation_->activateWindow();
}

void QtDriverHost::OnMenuAbout() {
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
  const int result = RunModeless(prompt);
  shown = nullptr;
  return result;
}

bool QtDriverHost::ShowNoAnswerBox() {
  QMessageBox box(QMessageBox::Critical, ui::kPromptCaption,
                  QString::fromStdString(ui::NoAnswerText("\n")),
                  QMessageBox::Ok | QMessageBox::Cancel, &main_);
  box.button(QMessageBox::Ok)->setText(ui::kNoAnswerBox.first);
  box.button(QMessageBox::Cancel)->setText(ui::kNoAnswerBox.second);
  ApplyPromptLayout(box, ui::kNoAnswerBox, box.button(QMessageBox::Ok));
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
  const ui::PromptLayout& layout = ui::kPaymentQuestion;
  QPushButton* yes = box.addButton(QString::fromStdString(ui::ButtonCaption(layout, layout.first)),
                                   QMessageBox::ActionRole);
  QPushButton* no = box.addButton(QString::fromStdString(ui::ButtonCaption(layout, layout.second)),
                                  QMessageBox::ActionRole);
  ApplyPromptLayout(box, layout, yes);
  RunPrompt<QMessageBox>(paymentBox_, box);
  if (box.clickedButton() == yes) return PaymentAnswer::Yes;
  return box.clickedButton() == no ? PaymentAnswer::No : PaymentAnswer::NoAnswer;
}

QPushButton* QtDriverHost::PaymentButton(QMessageBox* box, const QString& text) {
  if (!box) return nullptr;
  const QString caption =
      QString::fromStdString(ui::ButtonCaption(ui::kPaymentQuestion, text.toLatin1().constData()));
  for (QAbstractButton* button : box->buttons())
    if (button->text() == caption) return qobject_cast<QPushButton*>(button);
  return nullptr;
}

void QtDriverHost::ShowPrintErrorDialog(const std::string& file) {
  PrintErrorDialog dialog(&main_, QString::fromStdString(file),
                          [this](int button) { OnErrorDialogButton(button); });
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
