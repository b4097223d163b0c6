// The tray icon, the hidden main window and the connection ("hook") through
// which the icon's mouse events reach the driver. Only a right-button release
// over the icon opens the popup menu; left clicks, double clicks and a right
// press alone do nothing. Lives on the GUI thread.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

namespace ovix {

// Mouse actions over the tray icon, as they reach the driver.
enum class TrayMouse { LeftClick, DoubleClick, RightPress, RightRelease };

// The hidden main window "main": caption OVIXNOVA and the program's icon. When
// it is minimised it calls `onMinimized`.
class MainWindow : public QWidget {
  Q_OBJECT
 public:
  MainWindow();
  std::function<void()> onMinimized;

 protected:
  void changeEvent(QEvent* event) override;
};

class TrayIcon : public QObject {
  Q_OBJECT
 public:
  // `main` and `popup` must outlive the tray icon.
  TrayIcon(MainWindow& main, QMenu& popup);
  ~TrayIcon() override;

  // Connects the icon's mouse events to the driver; does nothing when already
  // connected (IsHooked is then -1).
  void HookWindow();
  // Disconnects them; does nothing when not connected (IsHooked 0).
  void UnhookWindow();
  int IsHooked = 0;

  // Shows the icon with `icon` and `tooltip`. Where no notification
  // area exists yet, the icon appears as soon as one does.
  void AddTrayIcon(const QIcon& icon, const std::string& tooltip);
  // Makes the icon of a resource number (102, 103, 104) the main window's icon
  // and shows it in the tray.
  void SetTrayIcon(int resource);
  void RemoveTrayIcon();

  // A mouse action over the icon, delivered through the hook: a right-button
  // release opens the popup menu at the pointer, also while a prompt waits
  // for the operator, so that Exit can always be reached. Without the hook
  // nothing happens.
  void TrayWindowProc(TrayMouse action);

  // The main window was minimised: without the hook, connects it again, adds
  // the icon with the window's current icon and hides the window.
  void OnMainMinimized();

  QSystemTrayIcon& Tray() { return tray_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnActivated(QSystemTrayIcon::ActivationReason reason);
  void ShowWhenTrayExists();

  MainWindow& main_;
  QMenu& popup_;
  QSystemTrayIcon tray_;
  QMetaObject::Connection activated_;
  QTimer waitForTray_;
  // The icon is embedded in an X11 tray (XEmbed): its mouse events are seen
  // directly, and Qt's Context activation (sent on the press) is not used.
  bool embedded_ = false;
};

// The icon of a resource number (101-104) from the program's resources.
QIcon ResourceIcon(int resource);

}  // namespace ovix
