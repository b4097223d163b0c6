"""The texts the cashier can see, taken from where the programs hold them
(the string literals of the driver's sources, the installer scripts, the
settings files shipped). They are Romanian: the windows, the menu, the
tooltip, the log lines, the system reasons, --help, the settings file's
comments and the installer's pages hold no English word but the two the
driver's design gives, the menu's "Exit" and the "-> ERROR:" line. And the
README's table of log lines says what the driver writes: every line of the
table is made of the driver's texts, and every line the driver begins is in
the table.
"""

import glob
import os
import re
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Sources whose literals reach a window, a log line, the console or a box.
# The scripted test operators and their scripts never run in a shop.
SOURCES = ["src/app", "src/spool", "src/shell", "src/os", "src/link", "src/win32", "src/qt"]
# The wire trace is a file for support.
NOT_SHOWN = {"test_operator.cpp", "operator_script.cpp", "operator_script.h", "no_test_operator.cpp",
             "wire_trace.cpp"}

# Words of messages in English that Romanian does not have.
ENGLISH = set("""
the and not is was were be been to of for with from by on this that it its cannot can could
failed fail fails error errors file files directory folder found missing denied access refused
unknown read write written open opened close closed device disk full space busy
use used please retry cancel yes help usage print printed printing receipt receipts register
settings setting install installed installation uninstall uninstalled version function system
supported timed out available longer line broken pipe input output operation permission already
running wait waiting start started end ended status when which will would should must has have
does done each every only than then there here what name names new old path drive default
""".split())
ALLOWED = {"-> ERROR:", "Exit"}  # the design's own texts

LITERAL = re.compile(r'(?<![A-Za-z0-9_])L?"((?:[^"\\\n]|\\.)*)"')
# Paths, file names, variables, options, section names; and a literal that is
# one word in capitals or in small letters is a name (a journal state, a
# settings section, an option of the toolkit).
NOT_WORDS = re.compile(r"\S*[\\/$%{}]\S*|\S*\w\.\w\S*|--?[a-z][a-z-]*|&|\[[A-Z]+\]|^[A-Z_]+$|^[a-z_]+$")


def english_words(text):
    for allowed in ALLOWED:
        text = text.replace(allowed, " ")
    text = NOT_WORDS.sub(" ", text)
    return sorted({w for w in re.findall(r"[A-Za-z]+", text) if w.lower() in ENGLISH})


def cpp_texts(path):
    with open(path, encoding="utf-8") as f:
        code = f.read()
    code = re.sub(r"/\*.*?\*/", " ", code, flags=re.S)
    code = re.sub(r"//[^\n]*|^\s*#\s*include[^\n]*", " ", code, flags=re.M)
    # Literals side by side are one text, as the compiler joins them.
    code = re.sub(r'"\s*\n\s*L?"', "", code)
    return LITERAL.findall(code)


def unescaped(literal):
    return re.sub(r"\\(.)", lambda m: {"t": "\t", "r": "\r", "n": "\n"}.get(m.group(1), m.group(1)),
                  literal)


# The installer's commands and settings that put a text on a page or in a box.
# A sentence put together in a variable is shown too: every StrCpy is read,
# its paths and variables aside.
NSIS_SHOWN = re.compile(r"^\s*(MessageBox|LangString|!define\s+MUI_\w*(TEXT|TITLE|INFO)\w*|Caption|"
                        r"DetailPrint|BrandingText|\$\{NSD_Create\w*\}|Name|ComponentText|"
                        r"DirText|UninstallText|SubCaption|StrCpy|"
                        r"!insertmacro\s+(MUI_HEADER_TEXT|REFUSE_INPUT))(?!\w)")


def nsis_texts(path):
    with open(path, encoding="utf-8-sig") as f:
        lines = f.read().replace("\\\n", " ").splitlines()
    return [t for line in lines if NSIS_SHOWN.match(line) for t in LITERAL.findall(line)]


def ini_comments(path):
    with open(path, encoding="latin-1") as f:
        return [line[1:] for line in f if line.startswith(";")]


def every_text():
    """(where, text) for each text the cashier may read."""
    found = []
    for folder in SOURCES:
        for path in sorted(glob.glob(os.path.join(ROOT, folder, "*.[ch]*"))):
            if os.path.basename(path) not in NOT_SHOWN:
                found += [(path, t) for t in cpp_texts(path)]
    for path in glob.glob(os.path.join(ROOT, "packaging/windows/*.nsi")):
        found += [(path, t) for t in nsis_texts(path)]
    for path in ["packaging/OVIX.INI", "packaging/windows/OVIX.INI"]:
        found += [(path, t) for t in ini_comments(os.path.join(ROOT, path))]
    return found


README = os.path.join(ROOT, "README.md")
LOG_SOURCES = ["src/spool", "src/app", "src/shell"]


def readme_log_texts():
    """Each `...` of the first column of README's table of log lines."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    table = text[text.index("## The event log"):text.index("## The wire trace")]
    cells = [row.split(" | ")[0] for row in table.splitlines() if row.startswith("| `") or
             row.startswith("| 60 ")]
    return [t for cell in cells for t in re.findall(r"`([^`]+)`", cell)]


def fixed_parts(log_text):
    """The parts of a README log text that the driver writes as they stand:
    what lies between the placeholders ‹...›, the "..." and the tabs (⇥)."""
    return [p for p in re.split(r"‹[^›]*›|\.\.\.(?!\.)|⇥", log_text) if p.strip()]


def driver_literals(folders):
    return [unescaped(t) for folder in folders
            for path in sorted(glob.glob(os.path.join(ROOT, folder, "*.[ch]*")))
            if os.path.basename(path) not in NOT_SHOWN - {"wire_trace.cpp"} for t in cpp_texts(path)]


def written(part, literals):
    """Whether the driver can write `part` as it stands: the end of one of
    its texts, then whole texts, then the start of one (a line is built of
    several), or a piece of one text."""
    whole = set(literals)
    reach = {0}
    for i in range(len(part)):
        if i not in reach:
            continue
        for j in range(i + 1, len(part) + 1):
            piece = part[i:j]
            if (piece in whole or (i == 0 and j == len(part) and any(piece in l for l in literals))
                    or (i == 0 and any(l.endswith(piece) for l in literals))
                    or (j == len(part) and any(l.startswith(piece) for l in literals))):
                reach.add(j)
    return len(part) in reach


class ReadmeLogLines(unittest.TestCase):
    def test_every_line_of_the_table_is_written_so(self):
        literals = driver_literals(SOURCES + ["src/os"])
        texts = readme_log_texts()
        self.assertGreater(len(texts), 50)
        self.assertFalse(written("-> Sfirsit tiparire; ", literals))
        missing = [(t, p) for t in texts for p in fixed_parts(t) if not written(p, literals)]
        self.assertEqual(missing, [])

    def test_every_line_the_driver_begins_is_in_the_table(self):
        starts = [p for t in readme_log_texts() for p in fixed_parts(t)[:1]]
        begun = {l.lstrip("\t") for l in driver_literals(LOG_SOURCES) if l.lstrip("\t").startswith("-> ")}
        self.assertGreater(len(begun), 25)
        self.assertEqual(sorted(l for l in begun if not any(s.startswith(l) or l.startswith(s)
                                                            for s in starts)), [])


class RomanianTexts(unittest.TestCase):
    def test_no_english_word_before_the_cashier(self):
        texts = every_text()
        self.assertGreater(len(texts), 300)
        english = [(os.path.relpath(where, ROOT), text, words)
                   for where, text in texts if (words := english_words(text))]
        self.assertEqual(english, [])

    def test_the_check_catches_english(self):
        self.assertEqual(english_words("read failed: Broken pipe (error 109)"),
                         ["Broken", "error", "failed", "pipe", "read"])
        self.assertEqual(english_words("-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!"), [])
        self.assertEqual(english_words("acces refuzat (cod 5) C:\\Program Files\\X"), [])


if __name__ == "__main__":
    unittest.main()
