#!/usr/bin/env python3
"""Benchmarks of the built driver against the register simulator.

Prints every figure with its goal and the ratio to it, and exits non-zero when
a goal is missed. --short runs a small setting that only shows the command
works (CI runs it): it still prints the figures, but a missed goal does not
fail it, since a short run on a busy machine measures little.

  wire ratio      100-item receipt on a line paced at 9600 bit/s: driver wall
                  time from the first to the last byte over the time the bytes
                  of both directions need on the wire
  overhead        unpaced: time from the last byte of a reply to the first
                  byte of the next command, median and 99th percentile
  CPU waiting     CPU time during one 5 s wait on a silent register
  CPU idle        CPU time with an empty spool, the directory watched and,
                  side by side, with the 100 ms looks (the watch switched off)
  wake-ups        voluntary context switches a second of all the driver's
                  threads while idle, the same two ways
  pickup          a file renamed into the spool, or written in place, to the
                  first byte of "T" on the wire; the same two ways
  scale           time per receipt with 10,000 files waiting vs with 100
  memory          resident size after start and after all those receipts
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

from tests import harness
from tests.harness import Rig

TICK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def rss_mb(pid):
    with open("/proc/%d/statm" % pid) as f:
        return int(f.read().split()[1]) * PAGE / 2**20


def timed_trace(rig):
    """(seconds, kind, wire bytes) of each trace line of a --trace-times run."""
    out = []
    for line in rig.trace():
        stamp, rest = line.split(" ", 1)
        kind, _, data = rest.partition(" ")
        out.append((float(stamp), kind, len(data.split()) if kind != "K" else 1))
    return out


def item(i):
    return "%-20s 0001.000 %08d 01" % ("ARTICOL %03d" % i, 100 + i)


def wait_filed(rig, names, timeout=3600):
    rig.wait(lambda: all(rig.where(n) == "ok" for n in names), "receipts filed", timeout)


def printed_trace(items, simulator_args):
    """The timestamped trace of one receipt of `items` sale items and a total."""
    rig = Rig(simulator_args=["--trace-times", *simulator_args])
    try:
        rig.start(operator=False)
        rig.drop("bench.txt", *[item(i) for i in range(items)], "<")
        wait_filed(rig, ["bench.txt"])
        rig.stop()
        return timed_trace(rig)
    finally:
        rig.close()


def wire_ratio(items):
    commands = [t for t in printed_trace(items, ["--baud", "9600"]) if t[1] in ("C", "R", "K")]
    total_bytes = sum(n for _, _, n in commands)
    first_t, _, first_n = commands[0]
    start = first_t - first_n * 10 / 9600
    end = max(t for t, kind, _ in commands if kind == "K")
    bound = total_bytes * 10 / 9600
    return (end - start) / bound, end - start, bound


def overhead(items):
    gaps, last_reply = [], None
    for t, kind, _ in printed_trace(items, []):
        if kind == "R":
            last_reply = t
        elif kind == "C" and last_reply is not None:
            gaps.append((t - last_reply) * 1000)
            last_reply = None
    gaps.sort()
    return statistics.median(gaps), gaps[min(len(gaps) - 1, int(len(gaps) * 0.99))], len(gaps)


def wakeups(pid):
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches"):
                    total += int(line.split()[1])
    return total


# The driver with its directory watch, and with the watch switched off as on
# a system without change notification.
WAYS = (("watched", {}), ("100 ms looks", {"OVIXNOVA_TEST_NO_WATCH": "1"}))


def cpu_waiting_and_idle(idle_seconds, env):
    """CPU share during a 5 s wait and while idle, and idle wake-ups a second."""
    rig = Rig(simulator_args=["--silent"])
    try:
        rig.start(operator=False, env=env)
        pid = rig.driver.pid
        time.sleep(1)
        begin, woken, t0 = cpu_seconds(pid), wakeups(pid), time.monotonic()
        time.sleep(idle_seconds)
        elapsed = time.monotonic() - t0
        idle = (cpu_seconds(pid) - begin) / elapsed
        woken = (wakeups(pid) - woken) / elapsed
        rig.drop("w.txt", "<")
        rig.wait(lambda: "T" in rig.commands(), "the identification query")
        begin, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(4.5)
        waiting = (cpu_seconds(pid) - begin) / (time.monotonic() - t0)
        rig.stop()
        return waiting, idle, woken
    finally:
        rig.close()


def pickup(files, env, in_place):
    """Median and 95th percentile of the delay from a file's appearance in the
    spool (renamed in, or closed after writing it in place) to the
    identification query on the wire, in ms."""
    rig = Rig()
    try:
        rig.start(operator=False, env=env)
        delays = []
        for i in range(files):
            name = "p%03d.txt" % i
            seen = rig.commands().count("T")
            time.sleep(0.05 + (i % 10) * 0.0137)  # lands anywhere in the 100 ms
            if in_place:
                with open(os.path.join(rig.spool, name), "w") as f:
                    f.write("<\r\n")
                t0 = time.monotonic()
            else:
                temporary = os.path.join(rig.spool, "." + name)
                with open(temporary, "w") as f:
                    f.write("<\r\n")
                t0 = time.monotonic()
                os.rename(temporary, os.path.join(rig.spool, name))
            while rig.commands().count("T") == seen:
                time.sleep(0.001)
            delays.append((time.monotonic() - t0) * 1000)
            wait_filed(rig, [name])
        rig.stop()
        delays.sort()
        return statistics.median(delays), delays[min(len(delays) - 1, int(len(delays) * 0.95))]
    finally:
        rig.close()


def filed(rig):
    return len(os.listdir(rig.ok)) if os.path.isdir(rig.ok) else 0


def per_receipt(waiting, measured, keep_going):
    """Seconds per receipt over `measured` receipts with `waiting` files in the
    spool, and the resident size after start and at the end."""
    rig = Rig()
    try:
        names = ["s%05d.txt" % i for i in range(waiting)]
        for name in names:
            with open(os.path.join(rig.spool, name), "w") as f:
                f.write("<\r\n")
        rig.start(operator=False)
        pid = rig.driver.pid
        rss_start = rss_mb(pid)
        rig.wait(lambda: "T" in rig.commands(), "the first job")
        t0 = time.monotonic()
        rig.wait(lambda: filed(rig) >= measured, "receipts", 3600)
        seconds = (time.monotonic() - t0) / measured
        if keep_going:
            rig.wait(lambda: filed(rig) >= waiting, "all receipts", 7200)
        rss_end = rss_mb(pid)
        rig.stop()
        return seconds, rss_start, rss_end
    finally:
        rig.close()


def micro(build):
    path = os.path.join(build, "ovix_micro_bench")
    if os.path.exists(path):
        print(subprocess.run([path, "--benchmark_min_time=0.2"], capture_output=True, text=True).stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    parser.add_argument("--short", action="store_true", help="small setting: checks that it runs")
    parser.add_argument("--phases", default="wire,overhead,cpu,pickup,scale,micro",
                        help="comma-separated subset of: wire,overhead,cpu,pickup,scale,micro")
    args = parser.parse_args()
    short = args.short
    phases = set(args.phases.split(","))
    results = []

    def report(name, value, goal, unit, lower_is_better=True):
        ratio = value / goal if goal else 0
        ok = value <= goal if lower_is_better else value >= goal
        results.append(ok)
        print("%-34s %10.3f %-4s goal %s %-8g ratio %.2f  %s"
              % (name, value, unit, "<=" if lower_is_better else ">=", goal, ratio,
                 "ok" if ok else "MISSED"), flush=True)

    if "wire" in phases:
        ratio, wall, bound = wire_ratio(10 if short else 100)
        print("wire: driver %.3f s, bytes on the wire need %.3f s" % (wall, bound))
        report("wire ratio (9600 bit/s)", ratio, 1.03, "x")
    if "overhead" in phases:
        median, p99, n = overhead(20 if short else 300)
        print("overhead over %d exchanges" % n)
        report("overhead median", median, 0.5, "ms")
        report("overhead p99", p99, 0.5, "ms")
    if "cpu" in phases:
        seconds = 5 if short else 60
        for way, env in WAYS:
            waiting, idle, woken = cpu_waiting_and_idle(seconds, env)
            if env:
                print("%-34s %10.3f %%    %-8s wake-ups %.1f /s" % ("CPU idle, " + way, idle * 100,
                                                                   "", woken))
                continue
            report("CPU during a 5 s wait", waiting * 100, 1.0, "%")
            report("CPU idle (%d s), %s" % (seconds, way), idle * 100, 0.02, "%")
            report("wake-ups idle, %s" % way, woken, 1.0, "/s")
    if "pickup" in phases:
        files = 5 if short else 50
        for way, env in WAYS:
            median, p95 = pickup(files, env, False)
            if env:
                print("pickup renamed in, %s: median %.1f ms, p95 %.1f ms" % (way, median, p95))
            else:
                report("pickup renamed in, median", median, 20, "ms")
                report("pickup renamed in, p95", p95, 50, "ms")
            median, p95 = pickup(files, env, True)
            if env:
                print("pickup written in place, %s: median %.1f ms, p95 %.1f ms" % (way, median, p95))
            else:
                report("pickup written in place, median", median, 250, "ms")
    if "scale" in phases:
        many = 300 if short else 10_000
        small, _, _ = per_receipt(100, 50 if short else 100, False)
        large, rss_start, rss_end = per_receipt(many, 50 if short else 100, True)
        print("per receipt: %.1f ms with 100 waiting, %.1f ms with %d waiting"
              % (small * 1000, large * 1000, many))
        report("scale ratio (%d vs 100 files)" % many, large / small, 1.05, "x")
        print("resident size: %.1f MB after start, %.1f MB after %d receipts" % (rss_start, rss_end, many))
        report("memory growth", rss_end - rss_start, 2.0, "MB")
    if "micro" in phases:
        micro(harness.BUILD)
    print("%d goals met, %d missed" % (results.count(True), results.count(False)))
    return 0 if all(results) or short else 1


if __name__ == "__main__":
    sys.exit(main())
