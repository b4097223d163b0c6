"""The shipped Windows programs, 64-bit and 32-bit, as built by
scripts/build-windows: each is of its architecture, stripped, and imports only
functions that Windows 7 has. Every import must be listed in imports.txt,
whose entries name the oldest Windows each function exists on, so a new import
fails here until someone has checked it and listed it.
"""

import os
import re
import shutil
import subprocess
import unittest

from tests.harness import WIN_BUILD

LISTED = os.path.join(os.path.dirname(__file__), "imports.txt")
PROGRAMS = {  # path in build-win/ -> objdump's file format
    "ovixnova.exe": "pei-x86-64",
    "ovixnova-check.exe": "pei-x86-64",
    "x86/ovixnova.exe": "pei-i386",
    "x86/ovixnova-check.exe": "pei-i386",
}
UP_TO_WINDOWS_7 = {"2000", "XP", "Vista", "7"}
OBJDUMP = shutil.which("x86_64-w64-mingw32-objdump")


def listed_imports():
    with open(LISTED) as f:
        rows = [line.split() for line in f if line.strip() and not line.startswith("#")]
    return {(dll, function): version for dll, function, version in rows}


def objdump(*args):
    return subprocess.run([OBJDUMP, *args], check=True, capture_output=True, text=True).stdout


def imports(program):
    """(DLL, function) for each function the program imports by name."""
    found, dll = set(), None
    for line in objdump("-p", program).splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1).upper()
            continue
        entry = re.match(r"\t[0-9a-f]+\t +\d+ +(\S+)$", line)
        if entry and dll:
            found.add((dll, entry.group(1)))
    return found


@unittest.skipUnless(OBJDUMP and os.path.exists(os.path.join(WIN_BUILD, "x86", "ovixnova.exe")),
                     "needs MinGW-w64's objdump and scripts/build-windows")
class Programs(unittest.TestCase):
    def test_the_list_holds_nothing_newer_than_windows_7(self):
        newer = {k: v for k, v in listed_imports().items() if v not in UP_TO_WINDOWS_7}
        self.assertEqual(newer, {})

    def test_each_program_imports_only_listed_functions(self):
        listed = listed_imports()
        for program, file_format in PROGRAMS.items():
            with self.subTest(program=program):
                path = os.path.join(WIN_BUILD, program)
                headers = objdump("-h", path)
                self.assertIn("file format " + file_format, headers)
                self.assertNotIn(".debug_info", headers, "not stripped")
                found = imports(path)
                self.assertGreater(len(found), 50, "the imports were not read")
                self.assertEqual(sorted(found - listed.keys()), [])


if __name__ == "__main__":
    unittest.main()
