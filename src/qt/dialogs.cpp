#include "qt/dialogs.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <utility>

#include "ovixnova_version.h"

namespace ovix {
namespace {

constexpr Qt::WindowFlags kFixedDialog =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;

// The About box's fixed dialog frame without a caption. Windows draws that
// border alone; an X11 window manager frames a window only together with its
// title bar, so there the box gets an empty title bar without buttons.
#ifdef Q_OS_WIN
constexpr Qt::WindowFlags kAboutFrame =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
#else
constexpr Qt::WindowFlags kAboutFrame = kFixedDialog;
#endif

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

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top, int width, int height,
                  const QFont& font, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(Px(left), Px(top), Px(width), Px(height));
  label->setFont(font);
  label->setAlignment(alignment);
  // A font wider than the layout's would cut a left-aligned text short: such a
  // label grows to the right until the whole text shows.
  if ((alignment & Qt::AlignLeft) && label->sizeHint().width() > label->width())
    label->resize(label->sizeHint().width(), label->height());
  return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text, int left,
                        int top, int width, int height, const QFont& font) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setGeometry(Px(left), Px(top), Px(width), Px(height));
  button->setFont(font);
  button->setAutoDefault(false);
  button->installEventFilter(new EnterPressesButton(button));
  return button;
}

// The layout's fonts, with a metric-compatible stand-in where they are missing
// (Linux), so that the texts fit their labels.
QFont Font(const char* family, double points) {
  QFont font;
  font.setFamilies({family, "Liberation Sans", "Arimo"});
  font.setPointSizeF(points);
  return font;
}

}  // namespace

QString VersionText(int major, int minor, int revision) {
  return QStringLiteral("OVIXNOVA V%1.%2.%3").arg(major).arg(minor).arg(revision);
}

QString TooltipText(int major, int minor, int revision) {
  return QStringLiteral("OVIXNOVA V.%1%2%3").arg(major).arg(minor).arg(revision);
}

QString VersionText() {
  return VersionText(OVIXNOVA_VERSION_MAJOR, OVIXNOVA_VERSION_MINOR, OVIXNOVA_VERSION_PATCH);
}

QString TooltipText() {
  return TooltipText(OVIXNOVA_VERSION_MAJOR, OVIXNOVA_VERSION_MINOR, OVIXNOVA_VERSION_PATCH);
}

FixedDialog::FixedDialog(QWidget* parent, Qt::WindowFlags flags, int widthTwips, int heightTwips)
    : QDialog(parent, flags) {
  setFixedSize(Px(widthTwips), Px(heightTwips));
  setWindowIcon(QIcon());
}

void FixedDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

ExitConfirmation::ExitConfirmation(QWidget* parent, std::function<void()> onExit)
    : FixedDialog(parent, kFixedDialog | Qt::WindowCloseButtonHint, 3735, 1305),
      onExit_(std::move(onExit)) {
  setObjectName("Form1");
  setWindowTitle("ATENTIE !!!");
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(Font("Arial", 8.25));
  auto* label1 =
      MakeLabel(this, "IESIRE PROGRAM ???", 990, 180, 1755, 255, Font("MS Sans Serif", 8.25));
  label1->setObjectName("Label1");
  label1->setStyleSheet("color: black");
  auto* command1 =
      MakeButton(this, "Command1", "Anulare", 1020, 900, 1635, 375, Font("MS Sans Serif", 9.75));
  auto* label2 = MakeLabel(this, "(Ctrl + Ins     -   IESIRE)", 1020, 420, 1695, 255, font());
  label2->setObjectName("Label2");
  connect(command1, &QPushButton::clicked, this, &QDialog::close);
  command1->installEventFilter(this);
  command1->setFocus();
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

AboutBox::AboutBox(QWidget* parent) : FixedDialog(parent, kAboutFrame, 3765, 975) {
  setObjectName("About");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* picture1 = new QLabel(this);
  picture1->setObjectName("Picture1");
  picture1->setGeometry(Px(180), Px(180), Px(675), Px(615));
  picture1->setPixmap(QIcon(":/icons/102.ico").pixmap(32, 32));
  picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label1_ = MakeLabel(this, "    ", 960, 180, 2655, 255, font(), Qt::AlignHCenter | Qt::AlignTop);
  label1_->setObjectName("Label1");
  auto* label2 =
      MakeLabel(this, "ATELIER OVIX", 960, 540, 2655, 255, font(), Qt::AlignHCenter | Qt::AlignTop);
  label2->setObjectName("Label2");
  for (QWidget* child : {static_cast<QWidget*>(picture1), static_cast<QWidget*>(label1_),
                         static_cast<QWidget*>(label2)})
    child->installEventFilter(this);
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
  painter.drawLine(Px(60), 0, Px(3780), 0);
  painter.drawLine(0, Px(960), Px(3780), Px(960));
}

PrintErrorDialog::PrintErrorDialog(QWidget* parent, std::function<void(int)> onButton)
    : FixedDialog(parent, kFixedDialog, 5820, 1380) {
  setObjectName("Erorno2");
  setWindowTitle("ATENTIE !!");
  auto* label1 = MakeLabel(this, "Eroare pe casa de marcat !!", 893, 300, 4035, 255,
                           Font("Arial", 11.25), Qt::AlignHCenter | Qt::AlignTop);
  label1->setObjectName("Label1");
  label1->setToolTip("Reincearca tiparirea bonului");
  const QFont buttonFont = Font("Arial", 8.25);
  buttons_[0] = MakeButton(this, "cmdRetry", "Re-incearca", 180, 900, 1395, 375, buttonFont);
  buttons_[1] = MakeButton(this, "cmdCancel", "Anuleaza bon", 2100, 900, 1635, 375, buttonFont);
  buttons_[1]->setToolTip("Anuleaza bonul in curs");
  buttons_[2] = MakeButton(this, "cmdAbort", "Renunta", 4260, 900, 1395, 375, buttonFont);
  buttons_[2]->setToolTip("Renunta la operatiunea i curs");
  for (int i = 0; i < 3; ++i) {
    connect(buttons_[i], &QPushButton::clicked, this, [this, i, onButton] {
      onButton(i);
      accept();
    });
  }
}

void PrintErrorDialog::keyPressEvent(QKeyEvent* event) {
  // Esc would close the dialog without a decision; the operator is to choose.
  if (event->key() != Qt::Key_Escape) QDialog::keyPressEvent(event);
}

}  // namespace ovix
