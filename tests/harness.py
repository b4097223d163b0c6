"""Runs the built driver against the register simulator over a pseudo-terminal.

A Rig is one installation: a program directory holding a copy of the driver
and its OVIX.INI, a spool, OK and error directory, a simulator with a byte
trace, and an operator file through which the test clicks the driver's
prompts. Everything lives in a temporary directory removed at the end.

With OVIX_E2E_PLATFORM=wine the same scenarios run the Windows program
(build-win/test/ovixnova.exe, or OVIX_WIN_BUILD_DIR) under Wine: one Wine
prefix and one Xvfb display per test process, its serial ports COM1 to COM8
mapped to links that each Rig points at its simulator. Paths in the settings
stay POSIX paths, which Wine reads as paths of drive Z:.
"""

import atexit
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

BUILD = os.environ.get("OVIX_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build"))
DRIVER = os.path.join(BUILD, "ovixnova")
SIMULATOR = os.path.join(BUILD, "ovix-regsim")
TIMEOUT = float(os.environ.get("OVIX_E2E_TIMEOUT", "40"))
WINE = os.environ.get("OVIX_E2E_PLATFORM") == "wine"
WIN_BUILD = os.environ.get("OVIX_WIN_BUILD_DIR",
                           os.path.join(os.path.dirname(__file__), "..", "build-win"))
if WINE:
    DRIVER = os.path.join(WIN_BUILD, "test", "ovixnova.exe")

# Copying the driver and starting programs are serialised: a program started by
# one thread while another holds a fresh copy open for writing would keep that
# copy busy and make its start fail.
SPAWN = threading.Lock()

ITEM = "PAINE ALBA           0002.500 00000450 01"


def run_program(*args, env=None, cwd=None):
    """Exit status and output of a program run as the shop would run it
    (under Wine: in the Wine session, `env` added to its environment; its
    output goes through a file, as the services that Wine starts keep a pipe
    open)."""
    command = [WineSession.WINE64, *args] if WINE else list(args)
    if WINE:
        env = dict(wine_session().env, **(env or {}))
    with tempfile.TemporaryFile("w+") as out:
        status = subprocess.run(command, env=env, cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                timeout=120).returncode
        out.seek(0)
        return status, out.read()


class WineSession:
    """A Wine prefix with COM1..COM8 mapped to links in it, and an Xvfb
    display for the program's windows; made on first use, ended at exit."""
    WINE64 = "/usr/lib/wine/wine64"
    WINESERVER = "/usr/lib/wine/wineserver"
    PORTS = 8

    def __init__(self, display=None):
        self.root = tempfile.mkdtemp(prefix="ovix-wine-")
        self.xvfb = None
        if display is None:
            read, write = os.pipe()
            self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "800x600x24",
                                          "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
            os.close(write)
            with os.fdopen(read) as f:
                display = ":" + f.readline().strip()
        self.env = dict(os.environ, WINEPREFIX=os.path.join(self.root, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", DISPLAY=display)
        self.run("wineboot", "-i")
        for n in range(1, self.PORTS + 1):
            self.run("reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM%d" % n, "/t", "REG_SZ",
                     "/d", self.link(n), "/f")
        self.server("-k")  # the port mapping is read when the server starts
        subprocess.run([self.WINESERVER, "-w"], env=self.env)
        # A server of our own, kept for the whole session: one that wine64
        # starts by itself dumps its objects into the test's output at its end.
        self.wineserver = subprocess.Popen([self.WINESERVER, "-f", "-p"], env=self.env,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.free = list(range(1, self.PORTS + 1))
        atexit.register(self.close)

    def link(self, n):
        return os.path.join(self.root, "com%d" % n)

    def run(self, *args):
        subprocess.run([self.WINE64, *args], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=120)

    def server(self, *args):
        subprocess.run([self.WINESERVER, *args], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def take_port(self):
        """The number of a free COM port; the simulator makes its link."""
        return self.free.pop(0)

    def give_back(self, n):
        self.free.append(n)

    def close(self):
        self.server("-k")
        self.wineserver.wait()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        shutil.rmtree(self.root, ignore_errors=True)


_wine = None


def wine_session(display=None):
    """The session of this process; made on first use, on `display` when
    given (an X display of the caller's), else on an Xvfb of its own."""
    global _wine
    if _wine is None:
        _wine = WineSession(display)
    return _wine


def fnv1a64(text):
    """The driver's key of a directory path: FNV-1a 64 of its bytes, in hex."""
    value = 0xCBF29CE484222325
    for byte in text.encode():
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % value


LOCK_DIR = next((d for d in ("/run/lock", "/var/lock", "/tmp") if os.path.isdir(d)), "/tmp")


def hexs(data):
    return " ".join("%02X" % b for b in data)


def description_keys(text):
    return hexs(bytes([0x13, len(text)]) + text.encode("latin-1") + b"\x31")


ITEM_KEYS_NEW = ["2A", description_keys("PAINE ALBA          "), "0A 0A 02 0D 05 1B", "04 0D 05 0A 4B"]
ITEM_KEYS_OLD = ["2A", description_keys("PAINE ALBA          "), "02 0D 05 1B", "04 05 0A 4B"]


def body_of(frame):
    """Command body of a wire frame: head and tail removed, doubled DLE undone."""
    body, i = bytearray(), 6
    while i < len(frame) - 2:
        body.append(frame[i])
        i += 2 if frame[i] == 0x10 else 1
    return bytes(body)


class Rig:
    def __init__(self, ini=None, simulator_args=(), make_dirs=("spool",)):
        self.root = tempfile.mkdtemp(prefix="ovix-e2e-")
        self.prog = os.path.join(self.root, "prog")
        os.mkdir(self.prog)
        for d in make_dirs:
            os.mkdir(os.path.join(self.root, d))
        self.spool = os.path.join(self.root, "spool") + "/"
        self.ok = os.path.join(self.root, "ok") + "/"
        self.err = os.path.join(self.root, "err") + "/"
        self.trace_path = os.path.join(self.root, "trace.txt")
        self.roll_path = os.path.join(self.root, "roll.txt")
        self.operator_path = os.path.join(self.root, "operator.txt")
        open(self.operator_path, "w").close()
        self.com = wine_session().take_port() if WINE else None
        if self.com:
            simulator_args = [*simulator_args, "--link", wine_session().link(self.com)]
        with SPAWN:
            self.sim = subprocess.Popen([SIMULATOR, "--trace", self.trace_path,
                                         "--roll", self.roll_path, *simulator_args],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.device = self.sim.stdout.readline().split()[1]
        if self.com:
            self.device = str(self.com)  # COM=n is the port COMn
        settings = {"COM": self.device, "BONDIR": self.spool, "OKDIR": self.ok, "ERRDIR": self.err}
        settings.update(ini or {})
        self.write_ini(settings)
        with SPAWN:
            shutil.copy2(DRIVER, self.prog)
        self.driver = None
        self.drivers = []

    def write_ini(self, settings):
        with open(os.path.join(self.prog, "OVIX.INI"), "w", newline="") as f:
            f.write("[DEFAULT]\r\n" + "".join("%s=%s\r\n" % kv for kv in settings.items()))

    # --- the two programs -------------------------------------------------
    def start(self, wait_for_start=True, display=None, operator=True, env=None):
        """Starts the driver offscreen, or on the given X display; with
        `operator`, the test answers its prompts through the operator file;
        `env` adds to the environment."""
        env = dict(wine_session().env if WINE else os.environ, **(env or {}))
        env.pop("OVIXNOVA_TEST_OPERATOR", None)
        if operator:
            env["OVIXNOVA_TEST_OPERATOR"] = self.operator_path
        if display:
            env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb")
        else:
            env.update(QT_QPA_PLATFORM="offscreen")
        command = [os.path.join(self.prog, os.path.basename(DRIVER))]
        if WINE:
            command.insert(0, WineSession.WINE64)
        with SPAWN:
            self.driver = subprocess.Popen(command, env=env, cwd=self.root,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.drivers.append(self.driver)
        if wait_for_start:
            self.wait(lambda: any(l.startswith("\t---") for l in self.log()), "the start block")
        return self.driver

    def stop(self):
        """Stops the driver with SIGTERM (on Windows: the exit confirmed) and
        returns its exit status."""
        if self.driver and self.driver.poll() is None:
            if WINE:
                self.operate("exit")
            else:
                self.driver.send_signal(signal.SIGTERM)
        return self.wait_exit()

    def wait_exit(self):
        try:
            return self.driver.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            self.driver.kill()
            raise AssertionError("the driver did not end")

    def close(self):
        for driver in self.drivers:
            if driver.poll() is None:
                driver.kill()
                driver.wait()
        if self.sim.poll() is None:
            self.sim.stdin.write("quit\n")
            self.sim.stdin.flush()
            try:
                self.sim.wait(5)
            except subprocess.TimeoutExpired:
                self.sim.kill()
        for process in (self.sim, *self.drivers):
            for stream in (process.stdin, process.stdout, process.stderr):
                if stream:
                    stream.close()
        if self.com:
            wine_session().give_back(self.com)
        if not WINE:
            for lock in self.instance_locks():
                if os.path.exists(lock):
                    os.remove(lock)
        shutil.rmtree(self.root, ignore_errors=True)

    def instance_locks(self):
        """The lock files of the Linux driver of this program directory and of
        its spool (BONDIR as the rig sets it)."""
        return [os.path.join(LOCK_DIR, "ovixnova-%s-%s.lock" % (kind, fnv1a64(os.path.realpath(d))))
                for kind, d in (("program", self.prog), ("spool", self.spool))]

    def run_program(self, *args, env=None):
        return run_program(*args, env=env, cwd=self.root)

    def simulate(self, *lines):
        """Sends control lines to the simulator and waits until each took effect."""
        for line in lines:
            self.sim.stdin.write(line + "\n")
            self.sim.stdin.flush()
            assert self.sim.stdout.readline().strip() == "OK", line

    def operate(self, action):
        with open(self.operator_path, "a") as f:
            f.write(action + "\n")

    # --- files --------------------------------------------------------------
    def drop(self, name, *lines, end="\r\n"):
        """Writes a job file under a hidden name, then renames it into the spool."""
        temporary = os.path.join(self.spool, "." + name + ".part")
        with open(temporary, "w", newline="", encoding="latin-1") as f:
            f.write(end.join(lines) + (end if lines else ""))
        os.rename(temporary, os.path.join(self.spool, name))

    def drop_while_writing(self, name, *lines, seconds=0.4):
        """Writes a job file as many point-of-sale programs do: opens it under
        a hidden name, renames it into the spool while it still holds it open,
        and writes and closes it `seconds` later. Under Wine a Windows program
        does it, since the Windows driver can only see a Windows writer."""
        temporary = os.path.join(self.spool, "." + name + ".part")
        target = os.path.join(self.spool, name)
        if WINE:
            writer = os.path.join(WIN_BUILD, "test", "ovix-slow-writer.exe")
            subprocess.run([WineSession.WINE64, writer, temporary, target, str(int(seconds * 1000)),
                            "|".join(lines) + "|"], env=wine_session().env, cwd=self.root,
                           check=True, timeout=60)
            return
        with open(temporary, "w", newline="", encoding="latin-1") as f:
            os.rename(temporary, target)
            time.sleep(seconds)
            f.write("".join(line + "\r\n" for line in lines))

    def listing(self):
        """The spool's names in the order the driver's directory search gives
        them: the file system's order on Linux, by name on Windows (Wine
        lists a directory sorted, as NTFS does)."""
        names = os.listdir(self.spool)
        return sorted(names) if WINE else names

    def where(self, name):
        """The directory a job file is in: 'spool', 'ok', 'err' or None."""
        for place, d in (("spool", self.spool), ("ok", self.ok), ("err", self.err)):
            if os.path.exists(os.path.join(d, name)):
                return place
        return None

    def log(self):
        try:
            with open(os.path.join(self.spool, "LOG.OVX"), "rb") as f:
                data = f.read().decode("latin-1")
        except FileNotFoundError:
            return []
        assert data == "" or data.endswith("\r\n"), "log line without CR LF"
        return data.split("\r\n")[:-1]

    def wire_trace_path(self):
        return os.path.join(self.spool, "TRACE.OVX")

    def wire_trace(self):
        """The lines of the driver's wire trace (TRACE=1), each ended by CR LF."""
        with open(self.wire_trace_path(), "rb") as f:
            data = f.read().decode("ascii")
        assert data == "" or data.endswith("\r\n"), "trace line without CR LF"
        return data.split("\r\n")[:-1]

    def job_log(self):
        """The log lines after the last start block."""
        lines = self.log()
        ends = [i for i, l in enumerate(lines) if l == "\t" + "-" * 35]
        return lines[ends[-1] + 1:] if ends else lines

    # --- the wire -------------------------------------------------------------
    def trace(self):
        with open(self.trace_path) as f:
            return [l.rstrip("\n") for l in f]

    def commands(self):
        """Command bodies sent so far: 'T', 'S', or the hex of an A command's keys."""
        out = []
        for line in self.trace():
            if line.startswith("C "):
                body = body_of(bytes.fromhex(line[2:]))
                out.append(body.decode() if body in (b"T", b"S") else hexs(body[1:]))
        return out

    def acks_follow_replies(self):
        """Every reply frame the simulator sent was acknowledged before the next command."""
        pending = 0
        for line in self.trace():
            if line.startswith("R "):
                pending += 1
            elif line == "K":
                pending -= 1
            elif line.startswith("C ") and pending:
                return False
        return True

    def wait(self, predicate, what, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return
            if self.driver and self.driver.poll() is not None and not predicate():
                raise AssertionError("the driver ended (status %s) while waiting for %s; stderr: %s"
                                     % (self.driver.returncode, what, self.driver.stderr.read()))
            time.sleep(0.05)
        raise AssertionError("timed out waiting for %s; log: %s; commands: %s"
                             % (what, self.job_log(), self.commands()))

    def paid_receipts(self):
        """How many receipts the register's paper roll shows paid."""
        if not os.path.exists(self.roll_path):
            return 0
        with open(self.roll_path, encoding="latin-1") as f:
            return sum(line.startswith("TOTAL") for line in f)

    def payment_carried_out(self):
        """Whether the last command the register received was a payment and
        it carried it out (answered it): what the operator reads off the paper
        when asked whether a receipt whose payment went unconfirmed came out
        complete."""
        trace = self.trace()
        last = max((i for i, l in enumerate(trace) if l.startswith("C ")), default=None)
        if last is None:
            return False
        keys = body_of(bytes.fromhex(trace[last][2:]))[1:]
        payment = keys[:1] != b"\x13" and keys[-1:] in (b"\x31", b"\x32", b"\x33", b"\x34", b"\x36")
        return payment and any(l.startswith("R ") for l in trace[last + 1:])

    def answer_prompts(self, answer, answered=0, payment=None):
        """Answers the driver's prompts logged after the first `answered` ones:
        the error dialog with `answer`, the no-answer box with OK, the payment
        question with `payment` ("yes" or "no"; by default what the register
        did, payment_carried_out), the register made healthy first. Returns how
        many are answered now."""
        kinds = ("EROARE LA TIPARIRE BON", "LIPSA HIRTIE", "PLATA NECONFIRMATA")
        prompts = [l for l in self.job_log() if any(k in l for k in kinds)]
        for line in prompts[answered:]:
            if "PLATA" in line:
                said = payment or ("yes" if self.payment_carried_out() else "no")
                self.simulate("silent off", "clear")
                self.operate(said)
            else:
                self.simulate("silent off", "clear")
                self.operate(answer if "TIPARIRE" in line else "ok")
        return len(prompts)

    def settle(self, names, answer, timeout=TIMEOUT, payment=None):
        """Answers prompts until none of the files is left in the spool."""
        answered = 0

        def filed():
            nonlocal answered
            answered = self.answer_prompts(answer, answered, payment)
            return all(self.where(n) != "spool" for n in names)
        self.wait(filed, "the files to leave the spool: %s" % list(names), timeout)

    def wait_log(self, text, count=1):
        self.wait(lambda: sum(text in l for l in self.job_log()) >= count, repr(text))


class DriverTest(unittest.TestCase):
    """A test with one or more rigs, all closed at the end."""

    def rig(self, **kwargs):
        rig = Rig(**kwargs)
        self.addCleanup(rig.close)
        return rig

    def failed_receipt(self, name):
        """A started rig whose register refused the quantity of the receipt
        `name` (an item and a total): the error dialog is up."""
        rig = self.rig()
        rig.start()
        rig.simulate("fail-keys 0A 0A 02 status 08")
        rig.drop(name, ITEM, "<")
        rig.wait_log("EROARE LA TIPARIRE BON")
        return rig
