#!/usr/bin/env python3
"""Idle cost of the printer's daemons, measured inside the booted virtual printer.

    idle_cost.py [SECONDS] [--settle S] [--max-percent P]

Waits until the printer has settled (S seconds after /sim/run/up, default 5), then takes the CPU
time and the context switches of every process that runs a program of /root (the printer's own
programs; the simulator under /sim is not counted), sleeps SECONDS (default 60) and takes them
again. CPU time is user + system of every thread plus that of the children the daemon has reaped
in the meantime (a shell it ran and waited for); wake-ups are the voluntary and involuntary
context switches of all its threads. Prints one line per daemon and the total; exits 1 when the
total is above P percent of one core (default: no limit).
"""
import os
import sys
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


def daemons():
    """pid -> program name, for every process whose executable lies in /root."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            exe = os.readlink("/proc/%s/exe" % entry)
        except OSError:
            continue
        # The programs lie directly in /root (not the machine's tools that may live below it).
        if exe.startswith("/root/") and "/" not in exe[len("/root/"):] and int(entry) != os.getpid():
            found[int(entry)] = os.path.basename(exe)
    return found


def sample(pid):
    """(cpu seconds incl. reaped children, context switches of all threads) or None."""
    stat = read("/proc/%d/stat" % pid)
    if stat is None:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    # utime, stime, cutime, cstime are fields 14..17 of the line (1-based), 12..15 after ")".
    ticks = sum(int(fields[i]) for i in (11, 12, 13, 14))
    switches = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        tasks = []
    for tid in tasks:
        status = read("/proc/%d/task/%s/status" % (pid, tid)) or ""
        for line in status.splitlines():
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                switches += int(line.split()[1])
    # A finer CPU figure where the kernel keeps scheduler statistics (nanoseconds on the CPU).
    runtime_ns = 0
    for tid in tasks:
        sched = read("/proc/%d/task/%s/schedstat" % (pid, tid))
        if sched:
            runtime_ns += int(sched.split()[0])
    return ticks / CLK_TCK, switches, runtime_ns


def main():
    args = sys.argv[1:]
    seconds, settle, limit = 60.0, 5.0, None
    rest = []
    i = 0
    while i < len(args):
        if args[i] == "--settle":
            settle = float(args[i + 1]); i += 2
        elif args[i] == "--max-percent":
            limit = float(args[i + 1]); i += 2
        else:
            rest.append(args[i]); i += 1
    if rest:
        seconds = float(rest[0])

    deadline = time.time() + 30
    while not os.path.exists("/sim/run/up") and time.time() < deadline:
        time.sleep(0.1)
    time.sleep(settle)

    before = {pid: (name, sample(pid)) for pid, name in daemons().items()}
    t0 = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    after = {pid: sample(pid) for pid in before}

    rows = {}
    for pid, (name, b) in before.items():
        a = after.get(pid)
        if b is None or a is None:
            print("%s (pid %d) ended during the measurement" % (name, pid))
            continue
        cpu = a[0] - b[0]
        precise = (a[2] - b[2]) / 1e9 if a[2] and b[2] else None
        r = rows.setdefault(name, [0.0, 0, 0.0, True])
        r[0] += cpu
        r[1] += a[1] - b[1]
        if precise is None:
            r[3] = False
        else:
            r[2] += precise
    print("idle for %.1f s (daemons of /root; the simulator is not counted)" % elapsed)
    print("%-20s %10s %9s %12s" % ("daemon", "cpu ms", "% core", "wake-ups/s"))
    total_cpu = total_sw = 0.0
    for name in sorted(rows):
        cpu, sw, precise, have_precise = rows[name]
        # The scheduler's figure is finer than clock ticks; children it cannot see come on top.
        shown = max(cpu, precise) if have_precise else cpu
        total_cpu += shown
        total_sw += sw
        print("%-20s %10.1f %8.3f%% %12.1f" % (name, shown * 1000, 100 * shown / elapsed, sw / elapsed))
    percent = 100 * total_cpu / elapsed
    print("%-20s %10.1f %8.3f%% %12.1f" % ("total", total_cpu * 1000, percent, total_sw / elapsed))
    if limit is not None and percent > limit:
        print("above the limit of %.2f %% of one core" % limit)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
