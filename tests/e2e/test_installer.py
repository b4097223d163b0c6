"""The Windows installer under Wine: a silent install, the installed driver
printing on the simulator, an install over it, a silent uninstall; the
settings and start of a silent install, installations side by side with
their own directories, refused values, directories and spool moves, a
refused uninstall, an update over a running driver."""

import configparser
import glob
import os
import shutil
import subprocess
import time
import unittest

from tests import harness

SETUP = os.path.join(harness.WIN_BUILD, "test", "ovixnova-setup.exe")
INI = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "windows", "OVIX.INI")


def read(path):
    with open(path, "rb") as f:
        return f.read()


UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\"
KEY = UNINSTALL + "OVIXNOVA"
MENU = ("OVIXNOVA.lnk", "Jurnal evenimente.lnk", "Setări (OVIX.INI).lnk", "Director bonuri.lnk",
        "Dezinstalare.lnk")
STOP_LINE = "-> DRIVER OPRIT: "


def settings(path):
    ini = configparser.ConfigParser(interpolation=None)
    ini.read(path, encoding="latin-1")
    return ini["DEFAULT"]


def started(log):
    """Whether a driver wrote its start block into the log at `log`."""
    return os.path.exists(log) and b"\r\n\t---" in b"\r\n" + read(log)


@unittest.skipUnless(harness.WINE and os.path.exists(SETUP),
                     "needs OVIX_E2E_PLATFORM=wine and build-win/test/ovixnova-setup.exe")
class Installer(harness.DriverTest):
    def wine(self, *args):
        return harness.run_program(*args)

    def until(self, predicate, what):
        deadline = time.monotonic() + harness.TIMEOUT
        while not predicate():
            self.assertLess(time.monotonic(), deadline, "timed out waiting for " + what)
            time.sleep(0.1)

    def c(self, path=""):
        """The Unix path of a path on Wine's drive C:."""
        parts = [p for p in path[3:].split("\\") if p]
        return os.path.join(harness.wine_session().env["WINEPREFIX"], "drive_c", *parts)

    def menu(self, *names):
        return self.c(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\\" + "\\".join(names))

    def install(self, directory=None, *args):
        """Installs silently into `directory` (default: the standard one)
        and returns the Unix program directory; uninstalled at the end."""
        prog = self.c(directory or r"C:\Program Files\OVIXNOVA")
        command = [SETUP, "/S", *args] + (["/D=" + directory] if directory else [])
        self.assertEqual(self.wine(*command)[0], 0)
        self.until(lambda: os.path.exists(os.path.join(prog, "uninstall.exe")), "the install")
        self.addCleanup(self.uninstall, prog)
        return prog

    def uninstall(self, prog):
        """Ends every driver and uninstalls the program in `prog`, if there;
        the uninstaller runs on from a copy after its start returned."""
        self.wine("taskkill", "/f", "/im", "ovixnova.exe")
        uninstaller = os.path.join(prog, "uninstall.exe")

        def gone():
            if os.path.exists(uninstaller):
                self.wine(uninstaller, "/S")
                time.sleep(1)
            return not os.path.exists(uninstaller)
        self.until(gone, "the uninstall of " + prog)

    def registered(self, name):
        status, values = self.wine("reg", "query", UNINSTALL + name, "/v", "InstallLocation")
        return values if status == 0 else None

    def test_install_print_reinstall_uninstall(self):
        c = self.c()
        prog = os.path.join(c, "Program Files", "OVIXNOVA")
        program = [os.path.join(prog, n) for n in ("ovixnova.exe", "ovixnova-check.exe", "uninstall.exe")]
        ini = os.path.join(prog, "OVIX.INI")
        links = [self.menu("OVIXNOVA", n) for n in MENU] + [self.menu("StartUp", "OVIXNOVA.lnk")]
        spool = [os.path.join(c, "OVIX", d) for d in ("", "BONOK", "BONERR")]

        # A silent install: the program, the default settings, the spool
        # directories, the shortcuts and the uninstaller's registration.
        self.assertEqual(self.wine(SETUP, "/S", "/NOSTART")[0], 0)
        self.until(lambda: all(map(os.path.exists, program + [ini] + links)), "the install")
        self.assertEqual(read(ini), read(INI))
        self.assertTrue(all(map(os.path.isdir, spool)))
        values = self.wine("reg", "query", KEY)[1]
        for value in ("DisplayName", "UninstallString", "DisplayVersion", "ATELIER OVIX",
                      "InstallLocation", "DisplayIcon", "uninstall.exe\" /S"):
            self.assertIn(value, values)

        # The installed program prints a receipt, set to the simulator's port.
        rig = self.rig()
        rig.prog = prog
        rig.write_ini({"COM": rig.device, "BONDIR": rig.spool, "OKDIR": rig.ok, "ERRDIR": rig.err})
        rig.start(operator=False)
        rig.drop("a.txt", harness.ITEM, "<")
        rig.wait(lambda: rig.where("a.txt") == "ok", "the receipt to be printed")
        rig.driver.kill()
        rig.driver.wait()

        # An install over the first keeps the changed settings; Wine may take
        # a moment to let go of the killed program's executable.
        changed = read(ini)
        self.until(lambda: self.wine(SETUP, "/S", "/NOSTART")[0] == 0, "an install over the first")
        self.assertEqual(read(ini), changed)

        # A silent uninstall removes the program, the shortcuts and the
        # registration, and keeps the settings, the receipts and the log.
        kept = [os.path.join(spool[1], "b.txt"), os.path.join(spool[0], "LOG.OVX")]
        for path in kept:
            open(path, "w").close()
        self.assertEqual(self.wine(program[2], "/S")[0], 0)
        self.until(lambda: not any(map(os.path.exists, program + links))
                   and self.wine("reg", "query", KEY)[0] != 0, "the uninstall")
        self.assertTrue(all(map(os.path.exists, spool + kept + [ini])))
        shutil.rmtree(prog)  # the next test installs there anew

    def test_silent_install_writes_settings_and_starts_driver(self):
        # Over an OVIX.INI of the shop: the keys given change, the others
        # stay; the driver starts unless /NOSTART is given.
        rig = self.rig()
        for name, args, changed, spool, starts in (
                ("Silent1", ["/COM=COM" + rig.device, "/BONDIR=C:\\POS1\\"],
                 {"com": rig.device, "bondir": "C:\\POS1\\"}, r"C:\POS1", True),
                ("Silent2", ["/NOSTART", "/COM=com7"], {"com": "7", "bondir": "C:\\POS2\\"}, r"C:\POS2", False)):
            directory = "C:\\%s\\OVIXNOVA" % name
            os.makedirs(self.c(directory))
            kept = {"extensie": "*.BON", "okdir": "C:\\%s\\OK\\" % name, "errdir": "C:\\%s\\ERR\\" % name}
            with open(os.path.join(self.c(directory), "OVIX.INI"), "w", newline="") as f:
                f.write("[DEFAULT]\r\nCOM=1\r\nBONDIR=C:\\POS2\\\r\n"
                        + "".join("%s=%s\r\n" % (k.upper(), v) for k, v in kept.items()))
            prog = self.install(directory, "/NAME=" + name, *args)
            self.assertEqual(dict(settings(os.path.join(prog, "OVIX.INI"))), dict(kept, **changed), name)
            self.assertTrue(os.path.isdir(self.c(spool)), name)
            self.assertIn((spool + r"\LOG.OVX").encode("utf-16-le"), read(self.menu(name, MENU[1])), name)
            log = os.path.join(self.c(spool), "LOG.OVX")
            if starts:
                self.until(lambda: started(log), "the driver started by the install")
            else:
                time.sleep(3)
                self.assertFalse(started(log), name)

    def test_installations_side_by_side_keep_their_own_entries(self):
        # The first installation, and two beside it: a name made of the
        # directory, a name given; each has its entry, menu and Startup link.
        installs = [(None, "OVIXNOVA", r"C:\Program Files\OVIXNOVA"),
                    (r"C:\Casa2\OVIXNOVA", "OVIXNOVA (C-Casa2-OVIXNOVA)", None),
                    (r"C:\Casa3\OVIXNOVA", "Casa3", None)]
        progs = [self.install(d, "/NOSTART", *(["/NAME=Casa3"] if name == "Casa3" else []))
                 for d, name, _ in installs]

        # Each takes a spool of its own, with OKDIR and ERRDIR under it.
        self.assertEqual([settings(os.path.join(p, "OVIX.INI"))["okdir"] for p in progs],
                         ["C:\\OVIX\\BONOK\\", "C:\\OVIX2\\BONOK\\", "C:\\OVIX3\\BONOK\\"])

        def entries(name):
            return [self.menu(name, n) for n in MENU] + [self.menu("StartUp", name + ".lnk")]
        for d, name, where in installs:
            self.assertIn(where or d, self.registered(name) or "", name)
            self.assertTrue(all(map(os.path.exists, entries(name))), name)
        for path in entries("OVIXNOVA"):
            self.assertNotIn(b"Casa", read(path).replace(b"\0", b""))
        self.assertTrue(read(self.menu("OVIXNOVA", MENU[2]))[0x15] & 0x20, "the settings run as administrator")

        # A name that another directory has is refused.
        self.assertEqual(self.wine(SETUP, "/S", "/NOSTART", "/NAME=Casa3", r"/D=C:\Casa9\OVIXNOVA")[0], 2)
        self.assertIn(r"C:\Casa3", self.registered("Casa3"))

        # Uninstalling the second leaves the others as they were.
        self.uninstall(progs[1])
        self.assertIsNone(self.registered(installs[1][1]))
        self.assertFalse(any(map(os.path.exists, entries(installs[1][1]))))
        for d, name, where in installs[::2]:
            self.assertIn(where or d, self.registered(name) or "", name)
            self.assertTrue(all(map(os.path.exists, entries(name))), name)

    def test_refused_choices_change_nothing(self):
        # Installation A has its own spool, and OKDIR and ERRDIR under it. A
        # value that is not valid (6), a directory of A's for B (5) and an
        # update of A that moves its spool while a receipt or the journal
        # waits there (4) are refused and change nothing; with the spool
        # empty the update moves it and keeps A's OKDIR.
        prog = self.install(r"C:\CasaA\OVIXNOVA", "/NOSTART", "/NAME=CasaA", "/BONDIR=C:\\POSA\\")
        ini = os.path.join(prog, "OVIX.INI")
        self.assertEqual((settings(ini)["okdir"], settings(ini)["errdir"]), ("C:\\POSA\\BONOK\\", "C:\\POSA\\BONERR\\"))
        before = read(ini)
        b, a = r"/D=C:\CasaB\OVIXNOVA", r"/D=C:\CasaA\OVIXNOVA"
        for args, waiting, status in (
                (["/COM=abc", b], None, 6), (["/COM=COM0", b], None, 6), (["/COM=COM300", b], None, 6),
                (["/COM=COM03", b], None, 6), (["/NAME=Casa|B", b], None, 6),
                (["/BONDIR=Q:\\POS\\", b], None, 6), ([r"/D=Q:\OVIXNOVA"], None, 6),
                ([r"/BONDIR=c:\posa", b], None, 5), (["/BONDIR=C:\\POSA\\BONOK\\", b], None, 5),
                (["/BONDIR=C:\\POSB\\", a], "a.txt", 4), (["/BONDIR=C:\\POSB\\", a], "OVIXNOVA.JOB", 4),
                (["/BONDIR=C:\\POSB\\", a], None, 0)):
            if waiting:
                open(os.path.join(self.c(r"C:\POSA"), waiting), "w").close()
            self.assertEqual(self.wine(SETUP, "/S", "/NOSTART", *args[:-1], "/NAME=CasaB", args[-1])[0], status, args)
            if waiting:
                os.remove(os.path.join(self.c(r"C:\POSA"), waiting))
            if status:
                self.assertEqual(read(ini), before, args)
                self.assertIsNone(self.registered("CasaB"), args)
                self.assertFalse(os.path.exists(self.c(r"C:\CasaB")), args)
        self.assertEqual(dict(settings(ini)),
                         dict(settings(INI), bondir="C:\\POSB\\", okdir="C:\\POSA\\BONOK\\", errdir="C:\\POSA\\BONERR\\"))

    def test_refused_over_busy_program_returns_nonzero(self):
        # A program that is not the driver holds ovixnova.exe open for a
        # minute: neither --stop nor the operator (silent) ends it, so the
        # install and the uninstall change nothing and end with status 2.
        prog = self.install(r"C:\Casa4\OVIXNOVA", "/NOSTART", "/NAME=Casa4")
        exe = os.path.join(prog, "ovixnova.exe")
        shutil.copy(os.path.join(harness.WIN_BUILD, "test", "ovix-slow-writer.exe"), exe)
        holder = subprocess.Popen([harness.WineSession.WINE64, exe, r"C:\Casa4\a.tmp", r"C:\Casa4\a.txt",
                                   "60000", "x|"], env=harness.wine_session().env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(holder.wait)
        self.until(lambda: os.path.exists(self.c(r"C:\Casa4\a.txt")), "the program to hold its file")
        for command in ([SETUP, "/S", "/NOSTART", r"/D=C:\Casa4\OVIXNOVA"], [prog + "/uninstall.exe", "/S"]):
            self.assertEqual(self.wine(*command)[0], 2, command[0])
            self.assertEqual(read(exe), read(os.path.join(harness.WIN_BUILD, "test", "ovix-slow-writer.exe")))
            self.assertTrue(self.registered("Casa4"))

    def test_update_stops_and_restarts_running_driver(self):
        # The update asks the running driver to end (`ovixnova.exe --stop
        # <dir>`: its stop line), installs, starts it again; the uninstall
        # stops it the same way.
        rig = self.rig()
        prog = self.install(r"C:\Casa5\OVIXNOVA", "/NOSTART", "/NAME=Casa5")
        rig.prog = prog
        rig.write_ini({"COM": rig.device, "BONDIR": rig.spool, "OKDIR": rig.ok, "ERRDIR": rig.err})
        rig.start(operator=False)

        # A driver still sending a receipt when --stop gives up after its
        # 30 s (a slow register) runs on: the update changes nothing (2), the
        # stop is withdrawn, the receipt ends and the next one prints.
        rig.simulate("delay 2000")
        rig.drop("a.txt", *[harness.ITEM] * 7, "<")
        rig.wait(lambda: len(rig.commands()) >= 3, "the receipt's first line")
        update = [SETUP, "/S", "/NAME=Casa5", r"/D=C:\Casa5\OVIXNOVA"]
        self.assertEqual(self.wine(*update)[0], 2)
        rig.simulate("delay 0")
        rig.drop("b.txt", harness.ITEM, "<")
        rig.wait(lambda: rig.where("a.txt") == rig.where("b.txt") == "ok", "both receipts")
        self.assertIsNone(rig.driver.poll())
        self.assertIn("-> OPRIREA CERUTA A FOST RETRASA", rig.log())

        self.assertEqual(self.wine(*update)[0], 0)

        def restarted():
            lines = rig.log()
            stops = [i for i, l in enumerate(lines) if l.startswith(STOP_LINE)]
            return stops and any(l.startswith("\t---") for l in lines[stops[0] + 1:])
        self.until(restarted, "the stop line and a new start block")

        # The uninstaller stops the restarted driver in order too.
        self.assertEqual(self.wine(os.path.join(prog, "uninstall.exe"), "/S")[0], 0)
        self.until(lambda: sum(l.startswith(STOP_LINE) for l in rig.log()) == 2, "the uninstall's stop line")
        self.until(lambda: not os.path.exists(os.path.join(prog, "uninstall.exe")), "the uninstall")


if __name__ == "__main__":
    unittest.main()
