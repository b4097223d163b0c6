"""The driver on a real X display with a real tray host, under Xvfb: trayer
(an XEmbed tray) and xfce4-panel's systray on a private D-Bus session bus (a
StatusNotifierItem host, which draws the menu the driver exports).

Right-clicks the tray icon, opens the menu, the About box and the exit
confirmation, confirms the exit with Ctrl+Ins and checks the stop line. Types
at the payment question, which comes up without the focus and answers only
Alt+N, and presses Esc in the no-answer box, which is OK. Saves
screenshots of the icon's three pictures, the menu, the dialogs and the
no-answer box under build/screenshots/.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from tests import harness
from tests.harness import BUILD, WIN_BUILD, WINE, DriverTest, ITEM

# Under Wine (OVIX_E2E_PLATFORM=wine) the Windows program runs on the same
# display: its windows are of class ovixnova.exe, its tray icon a window of
# Wine's explorer.exe docked into the tray host.
SHOTS = os.path.join(WIN_BUILD if WINE else BUILD, "screenshots")
DRIVER_CLASSES = "ovixnova|explorer" if WINE else "ovixnova"

XFCE_PANEL = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
"""


class X:
    """An Xvfb display with a tray host on it."""

    def __init__(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "800x600x24",
                                      "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ":" + f.readline().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.tray = None
        self.bus = None
        self.home = None
        self.panel = "trayer"

    def start_tray(self, panel="trayer"):
        self.panel = panel
        if panel == "trayer":
            self.tray = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype",
                                          "request", "--height", "24", "--transparent", "false", "--tint",
                                          "0xd0d0d0"], env=self.env, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            return
        # A private session bus, and a home whose panel holds only the systray
        # plugin, at the top left; the bus starts the panel's settings daemon
        # with this home.
        self.home = tempfile.mkdtemp(prefix="ovix-panel-")
        config = os.path.join(self.home, ".config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(config)
        with open(os.path.join(config, "xfce4-panel.xml"), "w") as f:
            f.write(XFCE_PANEL)
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"), NO_AT_BRIDGE="1")
        read, write = os.pipe()
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=%d" % write],
                                    pass_fds=(write,), env=self.env, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = f.readline().strip()
        self.tray = subprocess.Popen(["xfce4-panel", "--disable-wm-check"], env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while "org.kde.StatusNotifierWatcher" not in self.bus_names():
            if time.monotonic() > deadline:
                raise AssertionError("xfce4-panel did not register its StatusNotifierItem watcher")
            time.sleep(0.1)

    def bus_names(self):
        return subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                               "org.freedesktop.DBus.ListNames"], env=self.env, capture_output=True,
                              text=True).stdout

    def registered_items(self):
        return subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                               "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                               "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems"],
                              env=self.env, capture_output=True, text=True).stdout.count("/StatusNotifierItem")

    def driver_env(self):
        """What the driver needs of this display's environment: the bus, if any."""
        return {"DBUS_SESSION_BUS_ADDRESS": self.env["DBUS_SESSION_BUS_ADDRESS"]} if self.bus else None

    def run(self, *args):
        return subprocess.run(args, env=self.env, check=True, capture_output=True, text=True).stdout

    def all_windows(self):
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""], env=self.env,
                                capture_output=True, text=True)
        return result.stdout.split()

    def windows(self, name=None, classes=DRIVER_CLASSES):
        args = ["xdotool", "search", "--onlyvisible"] + (["--name", name] if name else ["--class", classes])
        result = subprocess.run(args, env=self.env, capture_output=True, text=True)
        return result.stdout.split()

    def geometry(self, window):
        """The window's box, or None when it went away since it was found."""
        result = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=self.env,
                                capture_output=True, text=True)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.split():
            key, value = line.split("=")
            values[key] = int(value)
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def shot(self, name, box=None):
        os.makedirs(SHOTS, exist_ok=True)
        path = os.path.join(SHOTS, name + ".png")
        self.run("import", "-window", "root", path)
        if box:
            x, y, w, h = box
            self.run("convert", path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path)
        return path

    def close(self):
        for process in (self.tray, self.bus, self.xvfb):
            if process:
                process.terminate()
                process.wait()
        if self.home:
            shutil.rmtree(self.home, ignore_errors=True)


class TrayOnX(DriverTest):
    def setUp(self):
        self.x = X()
        self.addCleanup(self.x.close)

    def wait_for(self, what, predicate, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            result = predicate()
            if result:
                return result
            time.sleep(0.1)
        raise AssertionError("timed out waiting for " + what)

    def icon(self):
        """The tray icon's window: the one visible ovixnova window that is 22x22 at the top."""
        for window in self.x.windows():
            box = self.x.geometry(window)
            if box is None:
                continue
            x, y, w, h = box
            if w <= 32 and h <= 32 and y < 30:
                return window, (x, y, w, h)
        return None

    @staticmethod
    def about_sized(geometry):
        """The About box: 251 x 65 inside; under Wine, which draws the frame
        itself, with a few pixels of frame around."""
        if geometry is None:
            return False
        width, height = geometry[2:]
        return (width, height) == (251, 65) or (WINE and 251 <= width <= 260 and 65 <= height <= 74)

    def tray_shot(self, name, box):
        x, y, w, h = box
        self.x.shot(name, (max(0, x - 4), max(0, y - 1), w + 8, h + 2))

    def test_tray_menu_dialogs_and_exit(self):
        for panel in ("trayer",) if WINE else ("trayer", "xfce4-panel"):
            with self.subTest(panel=panel):
                if panel != "trayer":
                    self.x = X()
                    self.addCleanup(self.x.close)
                self.menu_dialogs_and_exit(panel)

    def open_menu(self, cx, cy):
        """Right-clicks the icon and returns the windows the menu opened."""
        before = self.x.all_windows()
        self.x.run("xdotool", "mousemove", str(cx), str(cy), "click", "3")
        menu = self.wait_for("the menu", lambda: [w for w in self.x.all_windows() if w not in before])
        time.sleep(0.3)  # mapped is not yet holding the keyboard on a busy machine
        return menu

    def exit_reachable(self, cx, cy):
        """While a prompt waits, the menu opens and its Exit shows the exit
        confirmation, which takes input: Anulare closes it, nothing else changes."""
        self.open_menu(cx, cy)
        self.x.run("xdotool", "key", "e")
        form = self.wait_for("the exit confirmation", lambda: self.x.windows("ATENTIE !!!"))
        time.sleep(0.3)
        self.x.run("xdotool", "windowfocus", "--sync", form[0], "key", "space")
        self.wait_for("the exit confirmation closed", lambda: not self.x.windows("ATENTIE !!!"))

    def menu_dialogs_and_exit(self, panel):
        x = self.x
        x.start_tray(panel)
        embedded = panel == "trayer"
        suffix = "" if embedded else "-" + panel
        if WINE:
            harness.wine_session(x.display)
        rig = self.rig(simulator_args=["--delay-ms", "400"])
        rig.start(display=x.display, env=x.driver_env())
        if embedded:
            window, box = self.wait_for("the tray icon", self.icon)
            if WINE:
                # Explorer's end takes the icon away; the new notification
                # area's "TaskbarCreated" brings it back, and its menu opens below.
                rig.operate("tray-lost")
                self.wait_for("the icon gone", lambda: self.icon() is None)
                rig.operate("tray-created")
                window, box = self.wait_for("the tray icon back", self.icon)
        else:
            self.wait_for("the item registered", lambda: x.registered_items() == 1)
            window, box = None, (0, 0, 24, 26)  # the panel's only plugin, at the top left
        cx, cy = box[0] + box[2] // 2, box[1] + box[3] // 2
        time.sleep(0.5)
        self.tray_shot("tray-idle" + suffix, box)
        menu_box = (max(0, box[0] - 200), 0, 240, 100)

        if embedded:
            # A right press alone opens nothing; the release opens the menu.
            x.run("xdotool", "mousemove", str(cx), str(cy), "mousedown", "3")
            time.sleep(0.5)
            # (Wine's tray shows the icon's tooltip meanwhile: only the program's windows count.)
            self.assertEqual([w for w in x.windows(classes="ovixnova") if w != window
                              and (self.x.geometry(w) or (0, 0, 0, 0))[2] > 40], [])
            x.run("xdotool", "mouseup", "3")
            self.wait_for("the menu", lambda: [w for w in x.windows(classes="ovixnova") if w != window])
        else:
            self.open_menu(cx, cy)
        x.shot("menu" + suffix, menu_box)
        x.run("xdotool", "key", "Escape")
        # A left click opens nothing (of the program's; a tooltip may come and go).
        time.sleep(0.5)
        before = x.windows(classes="ovixnova")
        x.run("xdotool", "mousemove", str(cx), str(cy), "click", "1")
        time.sleep(0.5)
        self.assertEqual(x.windows(classes="ovixnova"), before)

        # The busy picture while a slow register prints a receipt.
        rig.drop("a.txt", ITEM, "<")
        rig.wait(lambda: len(rig.commands()) >= 3, "printing")
        self.tray_shot("tray-busy" + suffix, box)
        rig.wait(lambda: rig.where("a.txt") == "ok", "the receipt filed")

        # The payment question, the total's reply lost: it comes up without the
        # keyboard focus. Clicked to the front, Enter, Space, a digit and a
        # letter typed into it answer nothing; Alt+N answers "Nu".
        rig.simulate("mute-nth 5")
        rig.drop("p.txt", ITEM, "<")
        question = self.wait_for("the payment question", lambda: x.windows("OVIXNOVA"))
        time.sleep(0.5)
        focus = subprocess.run(["xdotool", "getwindowfocus"], env=x.env, capture_output=True, text=True)
        self.assertNotIn(focus.stdout.strip(), question)
        qx, qy, qw, qh = x.geometry(question[0])
        if embedded:
            x.shot("payment-question", (qx, qy, qw, qh))
        self.exit_reachable(cx, cy)
        x.run("xdotool", "mousemove", str(qx + 24), str(qy + qh // 2), "click", "1")
        x.run("xdotool", "windowfocus", "--sync", question[0], "key", "Return", "space", "7", "n")
        time.sleep(0.5)
        self.assertEqual((x.windows("OVIXNOVA"), rig.where("p.txt")), (question, "spool"))
        x.run("xdotool", "key", "alt+n")
        rig.wait(lambda: rig.where("p.txt") == "ok", "the receipt printed again")
        self.assertIn("\t-> NU: BONUL SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU", rig.job_log())

        # The error picture and the no-answer box with a silent register.
        rig.simulate("silent on")
        rig.drop("b.txt", "<")
        no_answer = self.wait_for("the no-answer box", lambda: x.windows("OVIXNOVA"))
        time.sleep(0.5)
        self.tray_shot("tray-error" + suffix, box)
        if embedded:
            x.shot("no-answer-box")
        # The operator can always reach Exit, with each prompt up.
        self.exit_reachable(cx, cy)
        # Esc in the no-answer box is OK: the same file is tried again.
        rig.simulate("silent off", "fail-keys 2A status 08")
        bx, by, bw, bh = x.geometry(no_answer[0])
        x.run("xdotool", "mousemove", str(bx + 24), str(by + bh // 2), "click", "1")
        x.run("xdotool", "windowfocus", "--sync", no_answer[0], "key", "Escape")
        rig.wait(lambda: "\t-> RE-INCERCARE..." in rig.job_log(), "the retry after Esc")
        rig.drop("c.txt", ITEM)
        dialog = self.wait_for("the error dialog", lambda: x.windows("ATENTIE !!$"))
        time.sleep(0.3)
        if embedded:
            x.shot("error-dialog", x.geometry(dialog[0]))
        self.exit_reachable(cx, cy)
        rig.operate("give-up")
        rig.wait(lambda: rig.where("c.txt") == "err", "the receipt given up")

        # About box from the menu; a click closes it.
        self.open_menu(cx, cy)
        x.run("xdotool", "key", "Down", "Return")
        about = self.wait_for("the About box", lambda: [w for w in x.windows()
                                                        if self.about_sized(x.geometry(w))])
        time.sleep(0.3)
        ax, ay, aw, ah = x.geometry(about[0])
        if embedded:
            x.shot("about", (ax, ay, aw, ah))
        x.run("xdotool", "mousemove", str(ax + 30), str(ay + 30), "click", "1")
        self.wait_for("the About box to close", lambda: about[0] not in x.windows())

        # Exit confirmation from the menu, confirmed with Ctrl+Ins.
        self.open_menu(cx, cy)
        x.run("xdotool", "key", "e")
        form = self.wait_for("the exit confirmation", lambda: x.windows("ATENTIE !!!"))
        time.sleep(0.3)
        if embedded:
            x.shot("exit-confirmation", x.geometry(form[0]))
        x.run("xdotool", "key", "Insert")
        time.sleep(0.5)
        self.assertIsNone(rig.driver.poll())
        x.run("xdotool", "windowfocus", "--sync", form[0], "key", "ctrl+Insert")
        self.assertEqual(rig.wait_exit(), 0)
        self.assertTrue(rig.log()[-2].startswith("-> DRIVER OPRIT: "))

    @unittest.skipIf(WINE, "the Windows program's start-up is covered by the end-to-end scenarios")
    def test_nothing_runs_behind_a_start_up_failure(self):
        """A port that cannot be opened at start-up: its message is all there
        is, even once the device appears; answering it or a stop request ends
        the program with a failure status."""
        self.x.start_tray()
        for how in ("answer", "signal"):
            with self.subTest(how=how):
                rig = self.rig()
                port = os.path.join(rig.root, "later-port")
                rig.write_ini({"COM": port, "BONDIR": rig.spool, "OKDIR": rig.ok, "ERRDIR": rig.err})
                rig.drop("a.txt", "<")
                rig.start(wait_for_start=False, display=self.x.display)
                box = self.wait_for("the failure message", lambda: self.x.windows("OVIXNOVA"))
                os.symlink(rig.device, port)
                time.sleep(1.5)
                self.assertEqual(self.x.windows("OVIXNOVA"), box)
                self.assertIsNone(self.icon())
                self.assertEqual((rig.commands(), rig.where("a.txt")), ([], "spool"))
                if how == "answer":
                    self.x.run("xdotool", "windowfocus", "--sync", box[0], "key", "Return")
                else:
                    rig.driver.send_signal(signal.SIGTERM)
                self.assertNotIn(rig.wait_exit(), (0, None))

    @unittest.skipIf(WINE, "Wine's explorer.exe, not the program, docks the icon")
    def test_icon_appears_when_a_tray_host_appears_later(self):
        rig = self.rig()
        rig.start(display=self.x.display)
        time.sleep(1)
        self.assertIsNone(self.icon())
        self.x.start_tray()
        self.wait_for("the tray icon", self.icon)
        self.assertEqual(rig.stop(), 0)


if __name__ == "__main__":
    unittest.main()
