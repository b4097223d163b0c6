#include "qt/dialogs.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <utility>

namespace ovix {
namespace {

using ui::Px;

constexpr Qt::WindowFlags kFixedDialog =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;

// The layout's frame. A fixed dialog frame without a caption is drawn by an
// X11 window manager only together with its title bar, so there the About
// box gets an empty title bar without buttons.
Qt::WindowFlags FrameFlags(ui::Frame frame) {
  return frame == ui::Frame::CaptionAndClose ? kFixedDialog | Qt::WindowCloseButtonHint
                                             : kFixedDialog;
}

// Qt presses a push button that is neither default nor auto-default only with
// Space; Enter on the focused button presses it too. A held key's repeats are
// left alone, so that an Enter held down as a dialog opens decides nothing.
class EnterPressesButton : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
          !(key->modifiers() & ~Qt::KeypadModifier) && !key->isAutoRepeat()) {
        static_cast<QPushButton*>(watched)->click();
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }
};

// The layout's fonts, with a metric-compatible stand-in where they are missing
// (Linux), so that the texts fit their labels.
QFont Font(const ui::FontStyle& style) {
  QFont font;
  font.setFamilies({style.family, "Liberation Sans", "Arimo"});
  font.setPointSizeF(style.centipoints / 100.0);
  return font;
}

// A label's text, font and alignment; set after its geometry, which it may
// widen.
void SetUpLabel(QLabel* label, const ui::ControlLayout& layout, const QFont& windowFont) {
  label->setText(layout.text ? QString(layout.text) : QString());
  label->setFont(layout.font.family ? Font(layout.font) : windowFont);
  label->setAlignment(layout.align == ui::Align::Center ? Qt::AlignHCenter | Qt::AlignTop
                                                        : Qt::AlignLeft | Qt::AlignTop);
  if (layout.black) label->setStyleSheet("color: black");
  // A font wider than the layout's would cut a left-aligned text short: such a
  // label grows to the right until the whole text shows.
  if (layout.align == ui::Align::Left && label->sizeHint().width() > label->width())
    label->resize(label->sizeHint().width(), label->height());
}

void SetUpPicture(QLabel* picture, const ui::ControlLayout& layout) {
  picture->setPixmap(QIcon(QString(":/icons/%1.ico").arg(layout.icon)).pixmap(32, 32));
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QPushButton* MakeButton(QWidget* parent, const ui::ControlLayout& layout) {
  auto* button = new QPushButton(layout.text, parent);
  button->setFont(Font(layout.font));
  button->setAutoDefault(false);
  button->installEventFilter(new EnterPressesButton(button));
  return button;
}

QWidget* MakeControl(QWidget* parent, const ui::ControlLayout& layout) {
  QWidget* control = layout.kind == ui::ControlKind::Button
                         ? static_cast<QWidget*>(MakeButton(parent, layout))
                         : new QLabel(parent);
  control->setObjectName(layout.name);
  control->setGeometry(Px(layout.place.left), Px(layout.place.top), Px(layout.place.width),
                       Px(layout.place.height));
  if (layout.kind == ui::ControlKind::Label)
    SetUpLabel(static_cast<QLabel*>(control), layout, parent->font());
  if (layout.kind == ui::ControlKind::Picture) SetUpPicture(static_cast<QLabel*>(control), layout);
  if (layout.tooltip) control->setToolTip(layout.tooltip);
  return control;
}

}  // namespace

FixedDialog::FixedDialog(QWidget* parent, const ui::WindowLayout& layout)
    : QDialog(parent, FrameFlags(layout.frame)) {
  setObjectName(layout.name);
  setWindowTitle(layout.caption);
  setFixedSize(Px(layout.widthTwips), Px(layout.heightTwips));
  setWindowIcon(QIcon());
  if (layout.font.family) setFont(Font(layout.font));
  for (const ui::ControlLayout& control : layout.controls)
    controls_.push_back(MakeControl(this, control));
}

void FixedDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

ExitConfirmation::ExitConfirmation(QWidget* parent, std::function<void()> onExit)
    : FixedDialog(parent, ui::kExitConfirmation), onExit_(std::move(onExit)) {
  setAttribute(Qt::WA_DeleteOnClose);
  for (QWidget* control : Controls()) {
    auto* command1 = qobject_cast<QPushButton*>(control);
    if (!command1) continue;
    connect(command1, &QPushButton::clicked, this, &QDialog::close);
    command1->installEventFilter(this);
    command1->setFocus();
  }
}

bool ExitConfirmation::HandleKey(QKeyEvent* event) {
  if (event->key() == Qt::Key_Insert && (event->modifiers() & Qt::ControlModifier)) {
    if (onExit_) onExit_();
    return true;
  }
  // Esc must not close the form, whichever control has the focus.
  return event->key() == Qt::Key_Escape;
}

bool ExitConfirmation::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event))) return true;
  return QDialog::eventFilter(watched, event);
}

void ExitConfirmation::keyPressEvent(QKeyEvent* event) {
  if (!HandleKey(event) && event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
    QDialog::keyPressEvent(event);
}

AboutBox::AboutBox(QWidget* parent) : FixedDialog(parent, ui::kAboutBox) {
  setAttribute(Qt::WA_DeleteOnClose);
  for (std::size_t i = 0; i < Controls().size(); ++i) {
    Controls()[i]->installEventFilter(this);
    // The label without a text of its own shows the version.
    if (ui::kAboutBox.controls[i].kind == ui::ControlKind::Label && !ui::kAboutBox.controls[i].text)
      label1_ = static_cast<QLabel*>(Controls()[i]);
  }
}

// A click is a press and a release of the left button, both inside the box;
// dragged out before the release, it closes nothing.
void AboutBox::HandleMouse(QWidget* where, QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (event->type() != QEvent::MouseButtonRelease) {
    leftPressed_ = true;
  } else if (std::exchange(leftPressed_, false) &&
             rect().contains(where->mapTo(this, event->position().toPoint()))) {
    close();
  }
}

void AboutBox::mousePressEvent(QMouseEvent* event) {
  HandleMouse(this, event);
}

void AboutBox::mouseReleaseEvent(QMouseEvent* event) {
  HandleMouse(this, event);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
      HandleMouse(static_cast<QWidget*>(watched), static_cast<QMouseEvent*>(event));
      return true;
    default:
      return QDialog::eventFilter(watched, event);
  }
}

void AboutBox::showEvent(QShowEvent* event) {
  FixedDialog::showEvent(event);
  // Where the box gets a title bar, Qt would fill the empty title with the
  // program's name; a blank one keeps the bar without a caption.
  if (QWindow* window = windowHandle()) window->setTitle(QStringLiteral(" "));
}

void AboutBox::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Dark));
  for (const ui::LineTwips& line : ui::kAboutBox.lines)
    painter.drawLine(Px(line.x1), Px(line.y1), Px(line.x2), Px(line.y2));
}

PrintErrorDialog::PrintErrorDialog(QWidget* parent, const QString& file,
                                   std::function<void(int)> onButton)
    : FixedDialog(parent, ui::kPrintErrorDialog) {
  for (std::size_t i = 0; i < Controls().size(); ++i) {
    if (ui::kPrintErrorDialog.controls[i].kind == ui::ControlKind::Label &&
        !ui::kPrintErrorDialog.controls[i].text)
      static_cast<QLabel*>(Controls()[i])->setText(file);
  }
  for (QWidget* control : Controls()) {
    auto* button = qobject_cast<QPushButton*>(control);
    if (!button) continue;
    const int index = static_cast<int>(buttons_.size());
    buttons_.push_back(button);
    connect(button, &QPushButton::clicked, this, [this, index, onButton] {
      onButton(index);
      accept();
    });
  }
}

void PrintErrorDialog::keyPressEvent(QKeyEvent* event) {
  // Esc would close the dialog without a decision; the operator is to choose.
  if (event->key() != Qt::Key_Escape) QDialog::keyPressEvent(event);
}

}  // namespace ovix
