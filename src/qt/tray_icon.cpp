#include "qt/tray_icon.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>

#include "app/ui_tables.h"

namespace ovix {

QIcon ResourceIcon(int resource) {
  return QIcon(QStringLiteral(":/icons/%1.ico").arg(resource));
}

MainWindow::MainWindow() {
  setObjectName("main");
  setWindowTitle("OVIXNOVA");
  setWindowIcon(QIcon(":/icons/ovixnova.ico"));
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Acted on once the minimise itself is over, so that hiding the window sticks.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && onMinimized)
    QMetaObject::invokeMethod(
        this, [this] { onMinimized(); }, Qt::QueuedConnection);
}

TrayIcon::TrayIcon(MainWindow& main, QMenu& popup) : main_(main), popup_(popup) {
  waitForTray_.setInterval(2000);
  connect(&waitForTray_, &QTimer::timeout, this, [this] {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    waitForTray_.stop();
    tray_.hide();
    tray_.show();
  });
}

TrayIcon::~TrayIcon() {
  UnhookWindow();
}

void TrayIcon::HookWindow() {
  if (IsHooked != 0) return;
  activated_ = connect(&tray_, &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);
  qApp->installEventFilter(this);
  // A StatusNotifierItem host draws the menu itself from the one exported
  // with the icon; an embedded icon never shows it (its right press is kept
  // from Qt below, and the release opens it).
  tray_.setContextMenu(&popup_);
  IsHooked = -1;
}

void TrayIcon::UnhookWindow() {
  if (IsHooked != -1) return;
  disconnect(activated_);
  qApp->removeEventFilter(this);
  tray_.setContextMenu(nullptr);
  IsHooked = 0;
}

void TrayIcon::AddTrayIcon(const QIcon& icon, const std::string& tooltip) {
  tray_.setIcon(icon);
  tray_.setToolTip(QString::fromStdString(tooltip));
  ShowWhenTrayExists();
}

void TrayIcon::ShowWhenTrayExists() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_.show();
  } else {
    waitForTray_.start();
  }
}

void TrayIcon::SetTrayIcon(int resource) {
  main_.setWindowIcon(ResourceIcon(resource));
  tray_.setIcon(main_.windowIcon());
}

void TrayIcon::RemoveTrayIcon() {
  waitForTray_.stop();
  tray_.hide();
}

void TrayIcon::TrayWindowProc(TrayMouse action) {
  if (IsHooked != -1 || action != TrayMouse::RightRelease) return;
  popup_.popup(QCursor::pos());
}

void TrayIcon::OnMainMinimized() {
  if (IsHooked != 0) return;
  HookWindow();
  AddTrayIcon(main_.windowIcon(), tray_.toolTip().toStdString());
  main_.hide();
}

void TrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Context:
      // An embedded X11 icon reports the right button on the press, and a
      // StatusNotifierItem host that asks for the menu this way draws the
      // exported one itself: neither opens the popup here.
      break;
    case QSystemTrayIcon::Trigger:
      if (!embedded_) TrayWindowProc(TrayMouse::LeftClick);
      break;
    case QSystemTrayIcon::DoubleClick:
      if (!embedded_) TrayWindowProc(TrayMouse::DoubleClick);
      break;
    default:
      break;
  }
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
       type == QEvent::MouseButtonDblClick) &&
      watched->objectName() == QLatin1String("QSystemTrayIconSys")) {
    embedded_ = true;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const bool right = mouse->button() == Qt::RightButton;
    if (type == QEvent::MouseButtonDblClick) {
      TrayWindowProc(TrayMouse::DoubleClick);
    } else if (type == QEvent::MouseButtonPress) {
      TrayWindowProc(right ? TrayMouse::RightPress : TrayMouse::LeftClick);
      // Qt would open the context menu on the press itself.
      if (right) return true;
    } else if (right) {
      TrayWindowProc(TrayMouse::RightRelease);
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace ovix
