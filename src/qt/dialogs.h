// The driver's three small windows: the exit confirmation (Form1), the About
// box (About) and the printer-error dialog (Erorno2), drawn from the layout
// tables of app/ui_tables.h.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <vector>

#include "app/ui_tables.h"

namespace ovix {

// The driver's small windows, with the name, caption, frame, size, font and
// controls of their layout: a fixed size, no window icon, no minimise or
// maximise button, centred on the screen when shown. Given the hidden main
// window as parent, they show no taskbar button of their own.
class FixedDialog : public QDialog {
  Q_OBJECT
 public:
  FixedDialog(QWidget* parent, const ui::WindowLayout& layout);

 protected:
  void showEvent(QShowEvent* event) override;
  // The controls, in the layout's order.
  const std::vector<QWidget*>& Controls() const { return controls_; }

 private:
  std::vector<QWidget*> controls_;
};

// Exit confirmation. Ctrl+Ins, whatever other modifiers are held and whichever
// control has the focus, calls `onExit`; "Anulare" (clicked, or Enter or Space
// while it has the focus) or the close button closes the window and nothing
// else happens. Esc, and Enter on the form, do nothing.
class ExitConfirmation : public FixedDialog {
  Q_OBJECT
 public:
  ExitConfirmation(QWidget* parent, std::function<void()> onExit);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool HandleKey(QKeyEvent* event);
  std::function<void()> onExit_;
};

// About box: icon 102, the version text and the maker's name in a fixed
// dialog frame without a caption; a click of the left button anywhere in it
// closes it, the other buttons do nothing.
class AboutBox : public FixedDialog {
  Q_OBJECT
 public:
  explicit AboutBox(QWidget* parent);
  void SetVersionText(const QString& text) { label1_->setText(text); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void HandleMouse(QWidget* where, QMouseEvent* event);
  QLabel* label1_ = nullptr;
  bool leftPressed_ = false;
};

// Printer-error dialog. Each button, clicked or pressed with Enter or Space
// while it has the focus, calls `onButton` with its index (0 retry, 1 cancel
// receipt, 2 give up) and then closes the dialog. No button is the default one
// and Esc does nothing: the dialog closes only on the operator's decision.
class PrintErrorDialog : public FixedDialog {
  Q_OBJECT
 public:
  // `file` is the receipt's name, shown under the message.
  PrintErrorDialog(QWidget* parent, const QString& file, std::function<void(int)> onButton);
  QPushButton* Button(int index) const { return buttons_[index]; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::vector<QPushButton*> buttons_;
};

}  // namespace ovix
