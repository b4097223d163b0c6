// The operator interface with real widgets, offscreen: the tray hook and the
// events that open the menu, the three dialogs' layouts and keys, and the
// error dialog's buttons carried out on a real spool.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <fstream>

#include "../unit/test_support.h"
#include "app/ui_tables.h"
#include "qt/dialogs.h"
#include "qt/qt_driver_host.h"
#include "qt/tray_icon.h"

using namespace ovix;
namespace fs = std::filesystem;

class UiTest : public QObject {
  Q_OBJECT

 private slots:
  void versionTexts_data();
  void versionTexts();
  void hookDeliversOnlyRightReleases();
  void embeddedIconOpensTheMenuOnTheRelease();
  void minimiseHooksOnlyWhenUnhooked();
  void menuEntries();
  void exitConfirmationKeys_data();
  void exitConfirmationKeys();
  void exitConfirmationClosesWithoutExit();
  void layouts_data();
  void layouts();
  void aboutClosesOnAnyClick_data();
  void aboutClosesOnAnyClick();
  void errorDialogKeys_data();
  void errorDialogKeys();
  void errorDialogButtons_data();
  void errorDialogButtons();
  void messageBoxes_data();
  void messageBoxes();
  void safetyTimer();
};

void UiTest::versionTexts_data() {
  QTest::addColumn<int>("major");
  QTest::addColumn<int>("minor");
  QTest::addColumn<int>("revision");
  QTest::addColumn<QString>("version");
  QTest::addColumn<QString>("tooltip");
  QTest::newRow("7.0.9") << 7 << 0 << 9 << "OVIXNOVA V7.0.9"
                         << "OVIXNOVA V.709";
  QTest::newRow("12.3.45") << 12 << 3 << 45 << "OVIXNOVA V12.3.45"
                           << "OVIXNOVA V.12345";
}

void UiTest::versionTexts() {
  QFETCH(int, major);
  QFETCH(int, minor);
  QFETCH(int, revision);
  QFETCH(QString, version);
  QFETCH(QString, tooltip);
  QCOMPARE(QString::fromStdString(ui::VersionText(major, minor, revision)), version);
  QCOMPARE(QString::fromStdString(ui::TooltipText(major, minor, revision)), tooltip);
}

void UiTest::hookDeliversOnlyRightReleases() {
  MainWindow main;
  QMenu popup;
  popup.addAction("x");
  TrayIcon tray(main, popup);
  const auto opens = [&](TrayMouse action) {
    tray.TrayWindowProc(action);
    const bool shown = popup.isVisible();
    popup.hide();
    return shown;
  };
  QVERIFY(!opens(TrayMouse::RightRelease));  // not hooked yet
  tray.HookWindow();
  tray.HookWindow();
  QCOMPARE(tray.IsHooked, -1);
  QVERIFY(opens(TrayMouse::RightRelease));
  for (TrayMouse other : {TrayMouse::LeftClick, TrayMouse::DoubleClick, TrayMouse::RightPress})
    QVERIFY(!opens(other));
  // The menu goes with the icon for hosts that draw it; Context asks for it
  // there, so the popup itself stays shut.
  QCOMPARE(tray.Tray().contextMenu(), &popup);
  emit tray.Tray().activated(QSystemTrayIcon::Context);
  QVERIFY(!popup.isVisible());
  tray.UnhookWindow();
  QCOMPARE(tray.IsHooked, 0);
  QCOMPARE(tray.Tray().contextMenu(), nullptr);
  QVERIFY(!opens(TrayMouse::RightRelease));
  tray.UnhookWindow();
  QCOMPARE(tray.IsHooked, 0);
}

void UiTest::embeddedIconOpensTheMenuOnTheRelease() {
  MainWindow main;
  QMenu popup;
  popup.addAction("x");
  TrayIcon tray(main, popup);
  tray.HookWindow();
  QWidget icon;  // stands for the widget Qt embeds into an X11 tray
  icon.setObjectName("QSystemTrayIconSys");
  icon.resize(22, 22);
  icon.show();
  QTest::mousePress(&icon, Qt::RightButton);
  emit tray.Tray().activated(QSystemTrayIcon::Context);  // Qt's own signal on the press
  QVERIFY(!popup.isVisible());
  QTest::mouseRelease(&icon, Qt::RightButton);
  QVERIFY(popup.isVisible());
  popup.hide();
  QTest::mouseClick(&icon, Qt::LeftButton);
  QTest::mouseDClick(&icon, Qt::LeftButton);
  QVERIFY(!popup.isVisible());
}

void UiTest::minimiseHooksOnlyWhenUnhooked() {
  MainWindow main;
  QMenu popup;
  TrayIcon tray(main, popup);
  main.onMinimized = [&] { tray.OnMainMinimized(); };
  tray.SetTrayIcon(104);
  main.showMinimized();
  QCoreApplication::processEvents();
  QCOMPARE(tray.IsHooked, -1);
  QVERIFY(main.isHidden());
  QCOMPARE(tray.Tray().icon().cacheKey(), main.windowIcon().cacheKey());
  main.showNormal();
  main.showMinimized();  // hooked: nothing happens
  QCoreApplication::processEvents();
  QVERIFY(!main.isHidden());
}

void UiTest::menuEntries() {
  QtDriverHost host;
  const QList<QAction*> actions = host.Popup().actions();
  QCOMPARE(actions.size(), 5);
  const std::span<const ui::MenuEntry> expected = ui::kPopupMenu;
  QCOMPARE(expected.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    QCOMPARE(actions[i]->objectName(), QString(expected[i].name));
    QCOMPARE(actions[i]->text(), QString(expected[i].text));
    QCOMPARE(actions[i]->isVisible(), expected[i].visible);
    if (!expected[i].separator) QCOMPARE(actions[i]->isEnabled(), expected[i].enabled);
    QCOMPARE(actions[i]->isSeparator(), expected[i].separator);
  }
  host.OnMenuExit();
  QDialog* first = host.ExitConfirmationWindow();
  host.OnMenuExit();
  QCOMPARE(host.ExitConfirmationWindow(), first);
  QVERIFY(first->isVisible());
  first->close();
}

void UiTest::exitConfirmationKeys_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<bool>("onButton");
  QTest::addColumn<bool>("exits");
  QTest::addColumn<bool>("closes");
  const int ctrl = Qt::ControlModifier;
  const int keypad = Qt::KeypadModifier;
  QTest::newRow("Ctrl+Ins on Anulare") << int(Qt::Key_Insert) << ctrl << true << true << false;
  QTest::newRow("Ctrl+Ins on the form") << int(Qt::Key_Insert) << ctrl << false << true << false;
  QTest::newRow("Ctrl+Shift+Ins") << int(Qt::Key_Insert) << int(ctrl | Qt::ShiftModifier) << true
                                  << true << false;
  QTest::newRow("Ctrl+Alt+Ins") << int(Qt::Key_Insert) << int(ctrl | Qt::AltModifier) << false
                                << true << false;
  QTest::newRow("Ins") << int(Qt::Key_Insert) << 0 << true << false << false;
  QTest::newRow("Shift+Ins") << int(Qt::Key_Insert) << int(Qt::ShiftModifier) << true << false
                             << false;
  QTest::newRow("Alt+Ins") << int(Qt::Key_Insert) << int(Qt::AltModifier) << false << false
                           << false;
  QTest::newRow("Esc on Anulare") << int(Qt::Key_Escape) << 0 << true << false << false;
  QTest::newRow("Esc on the form") << int(Qt::Key_Escape) << 0 << false << false << false;
  QTest::newRow("Enter on the form") << int(Qt::Key_Return) << 0 << false << false << false;
  QTest::newRow("keypad Enter on the form")
      << int(Qt::Key_Enter) << keypad << false << false << false;
  QTest::newRow("Enter on Anulare") << int(Qt::Key_Return) << 0 << true << false << true;
  QTest::newRow("keypad Enter on Anulare") << int(Qt::Key_Enter) << keypad << true << false << true;
  QTest::newRow("Space on Anulare") << int(Qt::Key_Space) << 0 << true << false << true;
}

void UiTest::exitConfirmationKeys() {
  QFETCH(int, key);
  QFETCH(int, modifiers);
  QFETCH(bool, onButton);
  int exitCalls = 0;
  QPointer<ExitConfirmation> form = new ExitConfirmation(nullptr, [&] { ++exitCalls; });
  form->show();
  QWidget* target =
      onButton ? static_cast<QWidget*>(form->findChild<QPushButton*>("Command1")) : form.data();
  QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QFETCH(bool, exits);
  QFETCH(bool, closes);
  QCOMPARE(exitCalls, exits ? 1 : 0);
  QCOMPARE(form.isNull(), closes);
  if (form) form->close();
}

void UiTest::exitConfirmationClosesWithoutExit() {
  for (bool byButton : {true, false}) {
    int exits = 0;
    QPointer<ExitConfirmation> form = new ExitConfirmation(nullptr, [&] { ++exits; });
    form->show();
    if (byButton) {
      QTest::mouseClick(form->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    } else {
      form->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(form.isNull());
    QCOMPARE(exits, 0);
  }
}

// Geometry in pixels (twips / 15), texts and fonts of every control, as the
// layout tables give them.
void UiTest::layouts_data() {
  QTest::addColumn<QString>("dialog");
  QTest::addColumn<QString>("control");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("font");
  const auto font = [](const ui::FontStyle& style) {
    return style.family ? QString("%1,%2").arg(style.family).arg(style.centipoints / 100.0) : "";
  };
  for (const ui::WindowLayout* window :
       {&ui::kExitConfirmation, &ui::kAboutBox, &ui::kPrintErrorDialog}) {
    const QRect size(0, 0, ui::Px(window->widthTwips), ui::Px(window->heightTwips));
    QTest::newRow(window->name) << window->name << "" << size << window->caption
                                << font(window->font);
    for (const ui::ControlLayout& c : window->controls) {
      const QRect place(ui::Px(c.place.left), ui::Px(c.place.top), ui::Px(c.place.width),
                        ui::Px(c.place.height));
      const QString text = c.text                               ? QString(c.text)
                           : c.kind == ui::ControlKind::Picture ? QString()
                                                                : "OVIXNOVA V7.0.9";
      QTest::addRow("%s.%s", window->name, c.name)
          << window->name << c.name << place << text << font(c.font.family ? c.font : window->font);
    }
  }
}

void UiTest::layouts() {
  QFETCH(QString, dialog);
  QFETCH(QString, control);
  std::unique_ptr<QDialog> window;
  if (dialog == "Form1") window = std::make_unique<ExitConfirmation>(nullptr, [] {});
  // The label without a text of its own shows the given text: the version,
  // the receipt's name.
  const QString shown = QString::fromStdString(ui::VersionText(7, 0, 9));
  if (dialog == "Erorno2") window = std::make_unique<PrintErrorDialog>(nullptr, shown, [](int) {});
  if (dialog == "About") {
    auto about = std::make_unique<AboutBox>(nullptr);
    about->SetVersionText(shown);
    window = std::move(about);
  }
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  QWidget* widget = control.isEmpty() ? window.get() : window->findChild<QWidget*>(control);
  QVERIFY(widget);
  QFETCH(QRect, geometry);
  const QRect actual(control.isEmpty() ? QPoint(0, 0) : widget->pos(), widget->size());
  // A left-aligned label may grow to the right to show its whole text.
  QCOMPARE(actual.adjusted(0, 0, geometry.width() - actual.width(), 0), geometry);
  QVERIFY(actual.width() >= geometry.width());
  QFETCH(QString, text);
  if (control.isEmpty()) {
    QCOMPARE(widget->windowTitle(), text);
    const Qt::WindowFlags flags = widget->windowFlags();
    QVERIFY(!(flags & (Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                       Qt::WindowMaximizeButtonHint)));
    QCOMPARE(bool(flags & Qt::WindowCloseButtonHint), dialog == "Form1");
#ifndef Q_OS_WIN
    // An X11 window manager frames a customised window only with its title bar.
    QVERIFY(!(flags & Qt::CustomizeWindowHint) || (flags & Qt::WindowTitleHint));
#endif
  } else if (auto* label = qobject_cast<QLabel*>(widget); label && !text.isEmpty()) {
    QCOMPARE(label->text(), text);
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    QCOMPARE(button->text(), text);
    QVERIFY(!button->isDefault() && !button->autoDefault());
  }
  QFETCH(QString, font);
  if (!font.isEmpty()) {
    QCOMPARE(widget->font().family(), font.section(',', 0, 0));
    QCOMPARE(widget->font().pointSizeF(), font.section(',', 1).toDouble());
  }
}

// A left click anywhere in the box closes it: on the form (a corner by the
// lines) or on any picture. Other buttons, and a press dragged out of the box
// before its release, leave it open.
void UiTest::aboutClosesOnAnyClick_data() {
  QTest::addColumn<QString>("part");
  QTest::addColumn<int>("button");
  QTest::addColumn<QPoint>("releaseAt");  // in the part; null: where it was pressed
  QTest::addColumn<bool>("closes");
  const int left = Qt::LeftButton, right = Qt::RightButton, middle = Qt::MiddleButton;
  for (const char* part : {"Picture1", "Label1", "Label2", ""}) {
    const char* name = *part ? part : "form";
    QTest::addRow("%s left", name) << part << left << QPoint() << true;
    QTest::addRow("%s right", name) << part << right << QPoint() << false;
    QTest::addRow("%s middle", name) << part << middle << QPoint() << false;
  }
  QTest::newRow("form left dragged out") << "" << left << QPoint(260, 60) << false;
  QTest::newRow("Label2 left dragged out") << "Label2" << left << QPoint(2, 40) << false;
  QTest::newRow("Label2 left released on the form") << "Label2" << left << QPoint(2, 20) << true;
}

void UiTest::aboutClosesOnAnyClick() {
  QFETCH(QString, part);
  QFETCH(int, button);
  QFETCH(QPoint, releaseAt);
  QPointer<AboutBox> about = new AboutBox(nullptr);
  about->show();
  // Not empty, or the title bar X11 gives the box would show the program's name.
  QCOMPARE(about->windowHandle()->title(), QString(" "));
  QWidget* target = part.isEmpty() ? about.data() : about->findChild<QWidget*>(part);
  const QPoint pressAt = part.isEmpty() ? QPoint(240, 60) : QPoint(2, 2);
  QTest::mousePress(target, Qt::MouseButton(button), {}, pressAt);
  QTest::mouseRelease(target, Qt::MouseButton(button), {},
                      releaseAt.isNull() ? pressAt : releaseAt);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QFETCH(bool, closes);
  QCOMPARE(about.isNull(), closes);
  if (about) about->close();
}

// Enter (either key) and Space press the focused button; no button is the
// default one, so keys on the dialog itself choose nothing, nor does Esc.
void UiTest::errorDialogKeys_data() {
  QTest::addColumn<QString>("focus");
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<int>("chosen");  // -1: none, the dialog stays open
  const struct {
    const char* name;
    int key, modifiers;
    bool presses;
  } keys[] = {{"Enter", Qt::Key_Return, 0, true},
              {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, true},
              {"Space", Qt::Key_Space, 0, true},
              {"Esc", Qt::Key_Escape, 0, false}};
  const char* buttons[] = {ui::Button(ui::kPrintErrorDialog, 0).name,
                           ui::Button(ui::kPrintErrorDialog, 1).name,
                           ui::Button(ui::kPrintErrorDialog, 2).name};
  for (const auto& key : keys) {
    for (int i = 0; i < 3; ++i) {
      QTest::addRow("%s on %s", key.name, buttons[i])
          << buttons[i] << key.key << key.modifiers << (key.presses ? i : -1);
    }
    QTest::addRow("%s on the dialog", key.name) << "" << key.key << key.modifiers << -1;
  }
}

void UiTest::errorDialogKeys() {
  QFETCH(QString, focus);
  QFETCH(int, key);
  QFETCH(int, modifiers);
  QList<int> calls;
  PrintErrorDialog dialog(nullptr, "BON1.TXT", [&](int index) { calls << index; });
  dialog.show();
  QWidget* target = &dialog;
  if (!focus.isEmpty()) {
    target = dialog.findChild<QPushButton*>(focus);
    target->setFocus();
  }
  // A key held down as the dialog opens arrives as repeats: they decide nothing.
  QKeyEvent repeat(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), QString(), true);
  QApplication::sendEvent(target, &repeat);
  QVERIFY(calls.isEmpty() && dialog.isVisible());
  QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
  QFETCH(int, chosen);
  QCOMPARE(calls, chosen < 0 ? QList<int>() : QList<int>{chosen});
  QCOMPARE(dialog.isVisible(), chosen < 0);
  for (int i = 0; i < 3; ++i) QVERIFY(!dialog.Button(i)->isDefault());
}

void UiTest::errorDialogButtons_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<int>("decision");
  QTest::addColumn<int>("jobError");
  QTest::addColumn<QStringList>("log");
  QTest::addColumn<QString>("place");
  QTest::newRow("retry") << ui::Button(ui::kPrintErrorDialog, 0).name << 1 << 2
                         << QStringList{"\t-> RE-INCEARCA..."} << "spool";
  QTest::newRow("cancel") << ui::Button(ui::kPrintErrorDialog, 1).name << 2 << 2
                          << QStringList{"\t-> ANULARE BON..."} << "spool";
  QTest::newRow("give up") << ui::Button(ui::kPrintErrorDialog, 2).name << 0 << 0
                           << QStringList{"\t-> RENUNTARE...",
                                          "-> EROARE !! MUTARE {job} IN DIRECTORUL {err}"}
                           << "err";
}

// The spool shows the dialog modally; a click on a button carries out its outcome.
void UiTest::errorDialogButtons() {
  QFETCH(QString, button);
  const fs::path root = fs::temp_directory_path() / ("ovix-gui-" + button.toStdString());
  fs::remove_all(root);
  fs::create_directories(root / "spool");
  DriverSettings settings;
  settings.BONDIR = (root / "spool").string() + "/";
  settings.ERRDIR = (root / "err").string() + "/";
  std::ofstream(root / "spool" / "a.txt") << "<";
  test::LinkRig rig;
  const EventLog eventLog(SystemEnv(), (root / "log.txt").string());
  QtDriverHost host;
  SpoolScheduler spool(SystemEnv(), settings, rig.link, eventLog, host, rig.reg,
                       [] { return std::string(); });
  host.Attach(&spool);
  // The register refuses the total: the receipt fails and the spool shows the dialog.
  rig.reg.answer = [](const Bytes& body) {
    return std::optional<Bytes>(test::ReplyData(body == "A1" ? 0x08 : 0x00));
  };
  QTimer::singleShot(0, [&] {
    // Not modal: the tray icon, and the menu's Exit, stay usable.
    QVERIFY(host.ErrorDialogWindow() && !host.ErrorDialogWindow()->isModal());
    QTest::mouseClick(host.ErrorDialogWindow()->findChild<QPushButton*>(button), Qt::LeftButton);
  });
  spool.Tick();  // the first look stamps the file, the second takes it
  spool.Tick();
  QVERIFY(!host.ErrorDialogWindow());
  QFETCH(int, decision);
  QFETCH(int, jobError);
  QFETCH(QStringList, log);
  QFETCH(QString, place);
  QCOMPARE(static_cast<int>(spool.OperatorDecision()), decision);
  QCOMPARE(int(rig.link.JobError()), jobError);
  QStringList expected =
      (QStringList{"-> Inceput tiparire: {job}", "-> EROARE LA TIPARIRE BON {job} !!!"} + log)
          .replaceInStrings("{job}", QString::fromStdString(settings.BONDIR + "a.txt"))
          .replaceInStrings("{err}", QString::fromStdString(settings.ERRDIR));
  std::ifstream in(eventLog.Path(), std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), {});
  QCOMPARE(QString::fromStdString(written), expected.join("\r\n") + "\r\n");
  QVERIFY(fs::exists(root / place.toStdString() / "a.txt"));
  fs::remove_all(root);
}

// The no-answer box and the payment question: caption, icon, text, buttons
// in their order, the default one and the activation, the tray menu shut
// while they are up, and what each way of ending them answers. An action is
// a button's text (a click), "alt+D" / "alt+N" (the mnemonic, once the
// operator has brought the box forward), "enter", "space", "7", "n", "esc" and
// "close" (which the payment question must ignore), "forced" (a close
// without an answer: the question comes back) or "exit" (the exit ends it).
// The no-answer box's Cancel ends the driver in order.
void UiTest::messageBoxes_data() {
  QTest::addColumn<bool>("payment");
  QTest::addColumn<QStringList>("actions");
  QTest::addColumn<bool>("answer");
  QTest::addColumn<bool>("unloaded");
  QTest::newRow("no answer OK") << false << QStringList{"OK"} << true << false;
  QTest::newRow("no answer Esc") << false << QStringList{"esc"} << true << false;
  QTest::newRow("no answer close") << false << QStringList{"close"} << true << false;
  QTest::newRow("no answer Cancel") << false << QStringList{"Cancel"} << true << true;
  QTest::newRow("payment Da") << true << QStringList{"Da"} << true << false;
  QTest::newRow("payment Nu") << true << QStringList{"Nu"} << false << false;
  QTest::newRow("payment keys, Alt+D")
      << true << QStringList{"enter", "space", "7", "n", "esc", "close", "alt+D"} << true << false;
  QTest::newRow("payment Alt+N") << true << QStringList{"alt+N"} << false << false;
  QTest::newRow("payment forced close") << true << QStringList{"forced", "Da"} << true << false;
  QTest::newRow("payment exit") << true << QStringList{"exit"} << false << false;
}

void UiTest::messageBoxes() {
  QFETCH(bool, payment);
  QFETCH(QStringList, actions);
  const std::string file = "/var/spool/ovix/bon<1>.txt";
  DriverSettings settings;
  test::LinkRig rig;
  const EventLog eventLog(SystemEnv(), (fs::temp_directory_path() / "ovix-gui-boxes.log").string());
  QtDriverHost host;
  SpoolScheduler spool(SystemEnv(), settings, rig.link, eventLog, host, rig.reg,
                       [] { return std::string(); });
  host.Attach(&spool);
  // Checks a shown box; returns its two buttons, the first one first.
  const auto check = [&](QMessageBox* box, QPushButton** first, QPushButton** second) {
    *first = payment ? QtDriverHost::PaymentButton(box, ui::kPaymentYes)
                     : qobject_cast<QPushButton*>(box->button(QMessageBox::Ok));
    *second = payment ? QtDriverHost::PaymentButton(box, ui::kPaymentNo)
                      : qobject_cast<QPushButton*>(box->button(QMessageBox::Cancel));
    QCOMPARE(box->windowTitle(), QString(ui::kPromptCaption));
    QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!box->isModal());
    QCOMPARE(box->testAttribute(Qt::WA_ShowWithoutActivating), payment);
    if (!payment) {
      QCOMPARE(box->icon(), QMessageBox::Critical);
      QCOMPARE(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
      QCOMPARE(box->text(), QString::fromStdString(ui::NoAnswerText("\n")));
      QVERIFY(box->escapeButton() == *first);
      return;
    }
    QCOMPARE(box->icon(), QMessageBox::Question);
    QCOMPARE(box->text(), QString::fromStdString(ui::PaymentQuestionText(file)));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->buttons().size(), 2);
    QVERIFY(*first && *second && (*first)->x() < (*second)->x());
    QCOMPARE((*first)->text() + (*second)->text(), QString("&Da&Nu"));
    QVERIFY(!box->defaultButton() && !box->escapeButton());
    QVERIFY(!(*first)->isDefault() && !(*second)->isDefault() && !box->focusWidget());
  };
  // The keys that must not answer the payment question.
  const QMap<QString, Qt::Key> keys{{"enter", Qt::Key_Return},
                                    {"space", Qt::Key_Space},
                                    {"7", Qt::Key_7},
                                    {"n", Qt::Key_N},
                                    {"esc", Qt::Key_Escape}};
  int step = 0;
  bool busy = false;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    QMessageBox* box = payment ? host.PaymentQuestionBox() : host.NoAnswerBox();
    if (busy || !box || !box->isVisible() || step >= actions.size()) return;
    QPushButton *first = nullptr, *second = nullptr;
    check(box, &first, &second);
    const QString action = actions[step++];
    if (keys.contains(action) || action == "close") {
      if (action == "close") box->close();
      if (action != "close") QTest::keyClick(box, keys[action]);
      QCOMPARE(box->isVisible(), payment);
      // A key that answers clicks at once, a mnemonic's letter a moment later.
      QVERIFY(box->clickedButton() == (payment ? nullptr : first));
      QVERIFY(!first->isDown() && !second->isDown());
    } else if (action.startsWith("alt+")) {
      busy = true;  // the wait below runs this timer's events
      box->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(box));
      busy = false;
      QTest::keyClick(box, action.back().toLatin1(), Qt::AltModifier);
    } else if (action == "forced" || action == "exit") {
      if (action == "exit") spool.RequestExit();
      box->done(0);  // as the exit sequence ends it
    } else if (first && second) {
      (action == first->text().remove('&') ? first : second)->click();
    }
  });
  driver.start(0);
  QFETCH(bool, answer);
  QFETCH(bool, unloaded);
  QCOMPARE(payment ? host.AskReceiptComplete(file) : host.AskContinueWithoutRegister(), answer);
  QCOMPARE(step, actions.size());
  QVERIFY(!host.PaymentQuestionBox() && !host.NoAnswerBox());
  QCOMPARE(host.MainUnloaded(), unloaded);
  // The exit ended the application's event loops: a run of the loop clears that.
  QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  QCoreApplication::exec();
}

// The safety looks run from start-up to the exit, every kSafetyLookPeriod.
void UiTest::safetyTimer() {
  QtDriverHost host;
  host.DisableSpoolWatch();
  QVERIFY(!host.SafetyTimer().isActive());
  host.StartTimer();
  QVERIFY(host.SafetyTimer().isActive());
  QCOMPARE(host.SafetyTimer().intervalAsDuration(), std::chrono::milliseconds(kSafetyLookPeriod));
  host.RunExitSequence();
  QVERIFY(!host.SafetyTimer().isActive() && host.MainUnloaded());
  // The exit ended the application's event loops, and would end every later
  // one at once: a run of the application's own loop clears that.
  QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  QCoreApplication::exec();
}

QTEST_MAIN(UiTest)
#include "ui_test.moc"
