"""Fault injection: the built driver against the simulator under every fault a
shop meets, checking after each scenario that nothing was lost and nothing
printed twice.

Invariants checked for every job file of every scenario:
- it ends in exactly one of the spool, OK and error directories, with its
  content unchanged;
- its receipt reached the register again only after the retry preparation
  (00 0F 00 3A 31), which an operator's "Re-incearca" or the recovery of a
  receipt cut off by a crash sends first;
- the log lines written before the fault are still there, unchanged.

OVIX_FAULT_KILLS sets the number of SIGKILL trials (default 200); the
figures of a run are written to the file named by OVIX_FAULT_REPORT.
"""

import concurrent.futures
import json
import os
import random
import signal
import subprocess
import time
import unittest

from tests.harness import DriverTest, Rig

KILLS = int(os.environ.get("OVIX_FAULT_KILLS", "200"))
RETRY = ["00", "0F", "00", "3A", "31"]
FIGURES = {"scenarios": 0, "kill_trials": 0, "files": 0, "files_lost": 0, "duplicates": 0}


def receipt(tag):
    """A receipt of three items and a total: 13 key commands."""
    return ["%-20s 0001.000 00000100 01" % (tag + " A"),
            "%-20s 0002.000 00000250 02" % (tag + " B"),
            "%-20s 0001.500 00000400 03" % (tag + " C"),
            "<"]


class Checked:
    """A rig with the invariants: files dropped through it are followed to their end."""

    def __init__(self, rig):
        self.rig = rig
        self.files = {}

    def drop(self, name, lines):
        self.rig.drop(name, *lines)
        with open(os.path.join(self.rig.spool, name), "rb") as f:
            self.files[name] = (f.read(), lines[0][:20].strip())

    def settle(self, answer="retry", timeout=60):
        self.rig.settle(self.files, answer, timeout)

    def verify(self, test, allow_spool=()):
        cmds = self.rig.commands()
        for name, (content, description) in self.files.items():
            FIGURES["files"] += 1
            places = [d for d in ("spool", "ok", "err")
                      if os.path.exists(os.path.join(getattr(self.rig, d), name))]
            if len(places) != 1:
                FIGURES["files_lost"] += 1
            test.assertEqual(len(places), 1, "%s is in %s" % (name, places))
            if places[0] == "spool":
                test.assertIn(name, allow_spool)
            with open(os.path.join(getattr(self.rig, places[0]), name), "rb") as f:
                test.assertEqual(f.read(), content, name + " changed")
            key = "13 14 " + " ".join("%02X" % b for b in description.ljust(20).encode())
            sent = [i for i, c in enumerate(cmds) if c.startswith(key)]
            for before, after in zip(sent, sent[1:]):
                between = cmds[before:after]
                retried = any(between[i:i + 5] == RETRY for i in range(len(between)))
                if not retried:
                    FIGURES["duplicates"] += 1
                test.assertTrue(retried, "%s sent again without the retry preparation" % name)


class Positions(DriverTest):
    """One fault at each command k of a receipt."""

    def sweep(self, scenario, positions=range(1, 14), workers=6):
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:
            for k, error in zip(positions, pool.map(self.run_guarded(scenario), positions)):
                with self.subTest(k=k):
                    if error:
                        raise error

    def run_guarded(self, scenario):
        def run(k):
            try:
                scenario(k)
                FIGURES["scenarios"] += 1
                return None
            except BaseException as error:  # reported in the test's thread
                return error
        return run

    def checked_rig(self, **kwargs):
        rig = Rig(**kwargs)
        self.addCleanup(rig.close)
        rig.start()
        return Checked(rig)

    def test_error_status_on_each_command(self):
        answers = ["retry", "cancel-receipt", "give-up"]

        def scenario(k):
            c = self.checked_rig()
            c.rig.simulate("fail-nth %d 08" % k)
            before = c.rig.log()
            c.drop("f.txt", receipt("ERR%02d" % k))
            c.settle(answers[k % 3])
            c.verify(self)
            self.assertEqual(c.rig.log()[:len(before)], before)
        self.sweep(scenario)

    def test_register_silent_from_each_command(self):
        def scenario(k):
            c = self.checked_rig()
            c.rig.simulate("mute-nth %d" % k)
            c.drop("f.txt", receipt("SIL%02d" % k))
            c.rig.wait(lambda: sum(1 for x in c.rig.commands() if x not in "TS") >= k, "command k")
            c.rig.simulate("silent on")
            c.settle()
            self.assertEqual(c.rig.where("f.txt"), "ok")
            c.verify(self)
        self.sweep(scenario)

    def test_one_lost_reply_at_each_command(self):
        def scenario(k):
            c = self.checked_rig()
            c.rig.simulate("mute-nth %d" % k)
            c.drop("f.txt", receipt("LOST%02d" % k))
            c.settle()
            self.assertEqual(c.rig.where("f.txt"), "ok")
            c.verify(self)
        self.sweep(scenario)

    def test_late_reply_at_each_command(self):
        # The reply comes after the 5 s limit, in the next command's wait.
        def scenario(k):
            c = self.checked_rig()
            c.rig.simulate("late-nth %d 5500" % k)
            c.drop("f.txt", receipt("LATE%02d" % k))
            c.settle()
            self.assertEqual(c.rig.where("f.txt"), "ok")
            c.verify(self)
        self.sweep(scenario)

    def test_noise_inside_the_reply_at_each_command(self):
        def scenario(k):
            c = self.checked_rig()
            c.rig.simulate("garble-nth %d 55 0C" % k)
            c.drop("f.txt", receipt("NOISE%02d" % k))
            c.settle()
            self.assertEqual(c.rig.where("f.txt"), "ok")
            c.verify(self)
        self.sweep(scenario)

    def test_replug_at_each_command(self):
        def scenario(k):
            link = os.path.join("/tmp", "ovix-fault-link-%d-%d" % (os.getpid(), k))
            c = self.checked_rig(simulator_args=["--link", link])
            c.rig.simulate("mute-nth %d" % k)
            c.drop("f.txt", receipt("PLUG%02d" % k))
            c.rig.wait(lambda: sum(1 for x in c.rig.commands() if x not in "TS") >= k, "command k")
            c.rig.simulate("replug")
            c.settle()
            self.assertEqual(c.rig.where("f.txt"), "ok")
            c.verify(self)
            self.assertTrue(any("EROARE PORT SERIAL" in l for l in c.rig.job_log()))
        self.sweep(scenario)


class Line(DriverTest):
    """Faults of the line itself, over whole receipts."""

    def run_receipts(self, *controls, simulator_args=()):
        rig = self.rig(simulator_args=simulator_args)
        rig.start()
        rig.simulate(*controls)
        c = Checked(rig)
        for i in range(3):
            c.drop("r%d.txt" % i, receipt("LINE%d" % i))
        c.settle()
        c.verify(self)
        FIGURES["scenarios"] += 1
        return c

    def test_noise_between_frames(self):
        c = self.run_receipts("noise 06 15 10 41 00 FF 03")
        self.assertEqual({c.rig.where(n) for n in c.files}, {"ok"})

    def test_replies_split_into_single_bytes(self):
        c = self.run_receipts("split 3")
        self.assertEqual({c.rig.where(n) for n in c.files}, {"ok"})

    def test_late_identification_reply(self):
        c = self.run_receipts("late 5500")
        self.assertEqual({c.rig.where(n) for n in c.files}, {"ok"})

    def test_unplugged_adapter_comes_back(self):
        link = os.path.join("/tmp", "ovix-fault-unplug-%d" % os.getpid())
        rig = self.rig(simulator_args=["--link", link])
        rig.start()
        c = Checked(rig)
        c.drop("before.txt", receipt("BEFORE"))  # the port is open once this printed
        c.settle()
        rig.simulate("unplug")
        c.drop("a.txt", receipt("UNPLUG"))
        rig.wait_log("LIPSA HIRTIE")
        rig.simulate("plug")
        c.settle()
        c.verify(self)
        self.assertEqual(rig.where("a.txt"), "ok")
        FIGURES["scenarios"] += 1


class Crashes(DriverTest):
    def test_sigkill_at_random_moments(self):
        seed = int(os.environ.get("OVIX_FAULT_SEED", str(int(time.time()))))
        print("\nSIGKILL trials: %d, seed %d (OVIX_FAULT_SEED=%d replays them)" % (KILLS, seed, seed))
        rng = random.Random(seed)
        rig = self.rig(simulator_args=["--delay-ms", "15"])
        c = Checked(rig)
        for trial in range(KILLS):
            rig.start()
            name = "k%03d.txt" % trial
            c.drop(name, receipt("KILL%03d" % trial))
            time.sleep(rng.uniform(0.0, 0.6))
            rig.driver.send_signal(signal.SIGKILL)
            rig.driver.wait()
            rig.start()
            c.settle()
            rig.stop()
            FIGURES["kill_trials"] += 1
        c.verify(self)
        self.assertEqual({rig.where(n) for n in c.files}, {"ok"})


def mount(*args):
    result = subprocess.run(["mount", *args], capture_output=True, text=True)
    return result.returncode == 0, result.stderr.strip()


class Disks(DriverTest):
    def mounted(self, path, options, source="tmpfs"):
        """Mounts a tmpfs with `options` on `path`, or binds `source` there."""
        if source == "tmpfs":
            os.makedirs(path, exist_ok=True)
            ok, reason = mount("-t", "tmpfs", "-o", options, "tmpfs", path)
        else:
            ok, reason = mount("--bind", source, path)
        if not ok:
            self.skipTest("cannot mount here: " + reason)
        self.addCleanup(subprocess.run, ["umount", "-l", path])

    def test_marker_only_file_that_cannot_be_deleted(self):
        rig = self.rig()
        rig.drop("m.txt", "-")
        marker = os.path.join(rig.spool, "m.txt")
        self.mounted(marker, None, source=marker)  # a mount point cannot be removed
        rig.start()
        rig.wait_log("FARA VALUTE")
        time.sleep(0.5)  # later ticks leave it alone
        self.assertEqual(len(rig.job_log()), 1)
        self.assertTrue(rig.job_log()[0].startswith(
            "-> Programare Valute: %sm.txt FARA VALUTE; FISIERUL NU POATE FI STERS: " % rig.spool))
        self.assertEqual(rig.commands(), [])

    def test_read_only_ok_and_error_directories(self):
        """A printed receipt that the OK directory refuses stays in the spool,
        never in the error directory, and is filed once the directory works."""
        for readonly in (("ok",), ("ok", "err")):
            with self.subTest(readonly=readonly):
                rig = self.rig(make_dirs=("spool", "ok", "err"))
                for d in readonly:
                    self.mounted(getattr(rig, d), "ro,size=64k")
                rig.start()
                c = Checked(rig)
                c.drop("a.txt", receipt("RO"))
                rig.wait_log("ESUATA")
                time.sleep(1)  # later ticks must not print it again
                c.verify(self, allow_spool=("a.txt",))
                self.assertEqual(rig.where("a.txt"), "spool")
                self.assertEqual(mount("-o", "remount,rw", rig.ok)[0], True)
                rig.wait(lambda: rig.where("a.txt") == "ok", "the next safety look")
                c.verify(self)
                FIGURES["scenarios"] += 1

    def test_spool_on_a_full_file_system(self):
        rig = self.rig(make_dirs=())
        self.mounted(rig.spool, "size=256k")
        rig.start()
        c = Checked(rig)
        c.drop("a.txt", receipt("FULL"))
        with open(os.path.join(rig.spool, ".filler"), "wb") as f:
            try:
                f.write(b"\0" * (1 << 20))
            except OSError:
                pass
        c.settle()
        c.verify(self)
        self.assertEqual(rig.where("a.txt"), "ok")
        self.assertIsNone(rig.driver.poll())
        FIGURES["scenarios"] += 1


def tearDownModule():
    report = os.environ.get("OVIX_FAULT_REPORT")
    if report:
        with open(report, "w") as f:
            json.dump(FIGURES, f, indent=2)
    print("\nfault figures: %s" % json.dumps(FIGURES))


if __name__ == "__main__":
    unittest.main()
