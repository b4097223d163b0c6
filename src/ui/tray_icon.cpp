#include "ui/tray_icon.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>

#include "ui/dialogs.h"

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
  IsHooked = -1;
}

void TrayIcon::UnhookWindow() {
  if (IsHooked != -1) return;
  disconnect(activated_);
  qApp->removeEventFilter(this);
  IsHooked = 0;
}

void TrayIcon::AddTrayIcon(const QIcon& icon) {
  tray_.setIcon(icon);
  tray_.setToolTip(TooltipText());
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
  if (menuBlocked && menuBlocked()) return;
  popup_.popup(QCursor::pos());
}

void TrayIcon::OnMainMinimized() {
  if (IsHooked != 0) return;
  HookWindow();
  AddTrayIcon(main_.windowIcon());
  main_.hide();
}

void TrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Context:
      // Platforms that report the right button only as Context do so on its
      // release; an embedded X11 icon reports it on the press instead.
      if (!embedded_) TrayWindowProc(TrayMouse::RightRelease);
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
    } else if (right) {
      TrayWindowProc(TrayMouse::RightRelease);
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace ovix
