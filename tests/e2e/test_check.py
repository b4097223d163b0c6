"""Runs the built ovixnova-check on small files: exit status and key lines of its report."""

import os
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("OVIX_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
CHECK = os.path.join(BUILD, "ovixnova-check")
ITEM = "PAINE ALBA           0002.500 00000450 01"


class Check(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="ovix-check-")
        self.addCleanup(self.tmp.cleanup)

    def write(self, name, *lines):
        path = os.path.join(self.tmp.name, name)
        with open(path, "wb") as f:
            f.write("\r\n".join(lines).encode("latin-1"))
        return path

    def run_check(self, *args):
        result = subprocess.run([CHECK, *args], capture_output=True, text=True, timeout=30)
        return result.returncode, result.stdout + result.stderr

    def test_the_examples_are_clean(self):
        examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
        files = sorted(os.path.join(examples, n) for n in os.listdir(examples))
        status, report = self.run_check(*files)
        self.assertEqual(status, 0, report)
        self.assertEqual(report.count("no warnings"), len(files))

    def test_exit_status_and_report(self):
        cases = [  # files (name, lines), extra arguments, exit status, expected report lines
            ([("ok.txt", ITEM, "<5000")], [], 0,
             ["ok.txt: receipt", "    A 2A", "    A 0A 0A 02 0D 05 1B", "    A 05 0A 0D 0A 0A 31",
              "  no warnings"]),
            ([("ok.txt", ITEM, "<5000")], ["--firmware", "old"], 0,
             ["    A 02 0D 05 1B", "    A 04 05 0A 4B", "    A 05 0A 0A 0A 31"]),
            ([("v.txt", "-", "2 0004010 USD")], [], 0,
             ["v.txt: currency programming",
              '  line 2: currency line: currency number "2", exchange rate "0004010", name "USD"']),
            ([("bad.txt", ITEM, "[", "?", "+")], [], 1,
             ["    warning: line 2, column 2: amount missing: the tender key is pressed alone, "
              "paying the exact amount", "  line 4: not read (credit ended the receipt)"]),
            ([("e.txt", "  ", "")], [], 1,
             ["e.txt: empty",
              "  warning: no printable line: the driver files the receipt to the error directory"]),
            ([("bad.txt", "[")], ["missing.txt"], 2,
             ["bad.txt: receipt", "missing.txt: cannot be read: nu exista (cod 2)"]),
            ([("ok.txt", "<")], ["--firmware", "odd"], 2, ["--firmware is old or new, not odd"]),
            ([("ok.txt", "<")], ["--ini", "missing.ini"], 2, ["missing.ini: cannot be read"]),
            ([], ["--version"], 0, ["ovixnova-check 1.0.0"]),
            ([], ["--help"], 0, ["usage: ovixnova-check FILE...", "--version"]),
            ([], ["--bogus"], 2, ["unknown option --bogus", "usage: ovixnova-check"]),
        ]
        for files, extra, status, expected in cases:
            with self.subTest(files=files, extra=extra):
                paths = [self.write(name, *lines) for name, *lines in files]
                extra = [os.path.join(self.tmp.name, a) if a.startswith("missing") else a for a in extra]
                code, out = self.run_check(*paths, *extra)
                self.assertEqual(code, status, out)
                report = out.splitlines()
                for line in expected:
                    self.assertTrue(any(line in r for r in report),
                                    "%r not in:\n%s" % (line, out))

    def test_settings_from_ini(self):
        ini = self.write("OVIX.INI", "[DEFAULT]", "CHTOT=T", "DESCRIERE=5", "PRET=3")
        code, out = self.run_check(self.write("b.txt", "APA   0001.000 450 01", "T100"), "--ini", ini)
        self.assertEqual(code, 0, out)
        self.assertIn("  line 2: total: amount \"100\"", out.splitlines())
        self.assertIn("    A 04 0D 05 0A 4B", out.splitlines())


if __name__ == "__main__":
    unittest.main()
