"""The Windows installer under Wine: a silent install, the installed driver
printing on the simulator, an install over it, a silent uninstall."""

import glob
import os
import subprocess
import tempfile
import time
import unittest

from tests import harness

SETUP = os.path.join(harness.WIN_BUILD, "test", "ovixnova-setup.exe")
INI = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "windows", "OVIX.INI")
KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\OVIXNOVA"


def read(path):
    with open(path, "rb") as f:
        return f.read()


@unittest.skipUnless(harness.WINE and os.path.exists(SETUP),
                     "needs OVIX_E2E_PLATFORM=wine and build-win/test/ovixnova-setup.exe")
class Installer(harness.DriverTest):
    def wine(self, *args):
        """Exit status and output of a program under Wine; the output goes
        through a file, as the services that Wine starts keep a pipe open."""
        with tempfile.TemporaryFile("w+") as out:
            status = subprocess.run([harness.WineSession.WINE64, *args], env=harness.wine_session().env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                    timeout=120).returncode
            out.seek(0)
            return status, out.read()

    def until(self, predicate, what):
        deadline = time.monotonic() + harness.TIMEOUT
        while not predicate():
            self.assertLess(time.monotonic(), deadline, "timed out waiting for " + what)
            time.sleep(0.1)

    def test_install_print_reinstall_uninstall(self):
        c = os.path.join(harness.wine_session().env["WINEPREFIX"], "drive_c")
        prog = os.path.join(c, "Program Files", "OVIXNOVA")
        program = [os.path.join(prog, n) for n in ("ovixnova.exe", "ovixnova-check.exe", "uninstall.exe")]
        ini = os.path.join(prog, "OVIX.INI")
        menu = os.path.join(c, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs")
        links = [os.path.join(menu, "OVIXNOVA.lnk"), os.path.join(menu, "StartUp", "OVIXNOVA.lnk")]
        spool = [os.path.join(c, "OVIX", d) for d in ("", "BONOK", "BONERR")]

        # A silent install: the program, the default settings, the spool
        # directories, the shortcuts and the uninstaller's registration.
        self.assertEqual(self.wine(SETUP, "/S")[0], 0)
        self.until(lambda: all(map(os.path.exists, program + [ini] + links)), "the install")
        self.assertEqual(read(ini), read(INI))
        self.assertTrue(all(map(os.path.isdir, spool)))
        values = self.wine("reg", "query", KEY)[1]
        for value in ("DisplayName", "UninstallString", "DisplayVersion", "ATELIER OVIX",
                      "InstallLocation", "DisplayIcon", "uninstall.exe\" /S"):
            self.assertIn(value, values)

        # The installed program prints a receipt, set to the simulator's port;
        # an install over the running driver gives up at once (status 2).
        rig = self.rig()
        rig.prog = prog
        rig.write_ini({"COM": rig.device, "BONDIR": rig.spool, "OKDIR": rig.ok, "ERRDIR": rig.err})
        rig.start(operator=False)
        rig.drop("a.txt", harness.ITEM, "<")
        rig.wait(lambda: rig.where("a.txt") == "ok", "the receipt to be printed")
        self.assertEqual(self.wine(SETUP, "/S")[0], 2)
        rig.driver.kill()
        rig.driver.wait()

        # An install over the first keeps the changed settings; Wine may take
        # a moment to let go of the killed program's executable.
        changed = read(ini)
        self.until(lambda: self.wine(SETUP, "/S")[0] == 0, "an install over the first")
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


if __name__ == "__main__":
    unittest.main()
