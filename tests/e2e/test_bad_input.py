"""Bad input end to end: broken settings files and hostile receipt files each
get a sound outcome, never a crash or a hang."""

import os
import unittest

from tests.harness import DriverTest, ITEM


def on_disk(name):
    """A name of latin-1 bytes as Python spells that file name."""
    return name.encode("latin-1").decode("utf-8", "surrogateescape")


class BadSettings(DriverTest):
    def test_settings_files(self):
        garbage = bytes(range(256)) * 64
        cases = [  # what surrounds a valid section, whether the driver runs
            ("binary", garbage + b"\r\n[DEFAULT]\r\n{keys}" + garbage, True),
            ("huge", b"X=Y\r\n" * 4_000_000 + b"[DEFAULT]\r\n{keys}", True),
            ("long lines", b"[DEFAULT]\r\n" + b"CHTOT=" + b"<" * 10_000 + b"\r\n{keys}" +
             b";" * 10_000 + b"\r\n", True),
            ("no section", b"{keys}", False),
        ]
        for name, content, runs in cases:
            with self.subTest(name):
                rig = self.rig()
                keys = "COM=%s\r\nBONDIR=%s\r\nOKDIR=%s\r\nERRDIR=%s\r\n" % (
                    rig.device, rig.spool, rig.ok, rig.err)
                with open(os.path.join(rig.prog, "OVIX.INI"), "wb") as f:
                    f.write(content.replace(b"{keys}", keys.encode()))
                driver = rig.start(wait_for_start=runs)
                if runs:
                    rig.drop("a.txt", ITEM, "<")
                    rig.settle(["a.txt"], "give-up")
                    self.assertEqual(rig.stop(), 0)
                else:
                    # Defaults: the spool directory of the defaults does not exist here.
                    self.assertEqual(driver.wait(30), 1)
                    self.assertIn("LOG.OVX", driver.stderr.read())


class BadReceipts(DriverTest):
    def test_hostile_receipt_files(self):
        rig = self.rig()
        rig.start()
        long_name = "n" * 251 + ".txt"
        forging = "A\r\n-> DRIVER OPRIT: FAKE\r\nZ.TXT"
        cases = {
            "nul.txt": ["PAINE\0ALBA           0001.000 00000450 01", "=\0\0\0", "<"],
            "long line.txt": ["X" * 1_000_000 + " 0001.000 00000450 01", "=" + "Y" * 1_000_000, "<"],
            "many lines.txt": [("+" if i % 100 == 0 else "") for i in range(100_000)] + ["<"],
            "caf\xe9 \xfc.txt": [ITEM, "<"],
            long_name: [ITEM, "<"],
            forging: [ITEM, "<"],
        }
        for name, lines in cases.items():
            temporary = os.path.join(rig.root, "drop.tmp")
            with open(temporary, "w", newline="", encoding="latin-1") as f:
                f.write("\r\n".join(lines) + "\r\n")
            os.rename(temporary, os.path.join(rig.spool, on_disk(name)))
        # Whatever the register refuses, the operator gives up: error directory.
        names = [on_disk(n) for n in cases]
        rig.settle(names, "give-up", timeout=120)
        self.assertEqual({rig.where(n) for n in names} - {"ok", "err"}, set())
        self.assertIsNone(rig.driver.poll())
        # A name's control characters are shown escaped: no forged log line.
        self.assertNotIn("-> DRIVER OPRIT: FAKE", rig.log())
        self.assertIn("-> Inceput tiparire: %sA\\x0D\\x0A-> DRIVER OPRIT: FAKE\\x0D\\x0AZ.TXT" % rig.spool,
                      rig.log())
        self.assertEqual(rig.stop(), 0)


if __name__ == "__main__":
    unittest.main()
