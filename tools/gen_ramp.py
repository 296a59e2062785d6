#!/usr/bin/env python3
"""Motor ramp and burn correction tables of the printhead configuration.

Prints the "Step Times" and "Step burnX" groups of
rootfs/home/printhead_config.cfg, and with --check recomputes the heat times
that burn_builder derives from that file and the paper file, so the chosen
constants can be checked against the step times.

Ramp model: one dot row is two motor steps and one inch is 203 rows, so a
paper speed v (inches per second) means one step every
    t = 1e6 / (2 * 203 * v)  microseconds.
The speed rises piecewise linearly through the anchor points below; the
anchors are the steps that the configured paper speed limit selects
(1.0, 1.5, 2.0, 2.5 and 3.0 in/s at steps 23, 36, 48, 60 and 72), and the
ramp starts at 0.2 in/s.

Burn correction: burn_builder scales the nominal heat time by
    C[s] = (2 * step[s] - x[s]) / (2 * step[48] - x[48])   for s < BURNX_SIZE
    C[s] = step[s] / step[BURNX_SIZE - 1]                   above it.
x[s] is chosen so that C falls linearly from SLOW_FACTOR at step 0 to 1.0
at the reference step 48 (a head that cools between slow rows needs more
energy per dot); above step 48 the heat time shrinks with the step time.
"""

import argparse
import configparser
import math
import sys

ROWS_PER_INCH = 203
STEPS_PER_ROW = 2
RAMP_TABLE_SIZE = 73
REFERENCE_STEP = 48
BURNX_SIZE = REFERENCE_STEP + 1
SLOW_FACTOR = 1.30

# (ramp step, inches per second)
ANCHORS = [(0, 0.2), (23, 1.0), (36, 1.5), (48, 2.0), (60, 2.5), (72, 3.0)]

MAINS_FACTORS = [1.35, 1.33, 1.30, 1.27, 1.25, 1.23, 1.20, 1.17] + [1.15] * 26
BATTERY_FACTORS = [1.28, 1.25, 1.23, 1.20, 1.17, 1.15, 1.13, 1.00, 0.97,
                   0.95, 0.93, 0.90, 0.87, 0.85, 0.83] + [0.80] * 19


def speed_at(step):
    for (s0, v0), (s1, v1) in zip(ANCHORS, ANCHORS[1:]):
        if s0 <= step <= s1:
            return v0 + (v1 - v0) * (step - s0) / (s1 - s0)
    raise ValueError(step)


def step_time_us(ips):
    return 1e6 / (STEPS_PER_ROW * ROWS_PER_INCH * ips)


def ramp_table():
    return [int(round(step_time_us(speed_at(s)))) for s in range(RAMP_TABLE_SIZE)]


def burnx_table(steps):
    ref = 2 * steps[REFERENCE_STEP]          # x[48] = 0
    table = []
    for s in range(BURNX_SIZE):
        c = SLOW_FACTOR + (1.0 - SLOW_FACTOR) * s / REFERENCE_STEP
        table.append(int(round(2 * steps[s] - c * ref)))
    return table


def emit(steps, burnx):
    out = ["[Step Times]",
           "# time of one motor step in microseconds, slowest first;",
           "# one dot row = 2 steps, step time = 1e6 / (2 * 203 * inches per second)",
           "RAMP_TABLE_SIZE=%d" % len(steps)]
    for i, t in enumerate(steps):
        out.append("RAMP_STEP%d=%d" % (i, t))
    out += ["", "[Step burnX]",
            "# burn correction for the slow ramp steps, microseconds;",
            "# step factor (2*step[s] - x[s]) / (2*step[48] - x[48])",
            "BURNX_SIZE=%d" % len(burnx)]
    for i, x in enumerate(burnx):
        out.append("x%d=%d" % (i, x))
    return "\n".join(out) + "\n"


def load(path):
    cp = configparser.ConfigParser(interpolation=None, strict=False)
    cp.optionxform = str
    with open(path, encoding="utf-8") as f:
        cp.read_file(f)
    return cp


def step_factors(steps, burnx):
    n = len(burnx)
    denom = 2 * steps[REFERENCE_STEP] - burnx[REFERENCE_STEP]
    out = []
    for s in range(len(steps)):
        if s < n:
            out.append((2 * steps[s] - burnx[s]) / denom)
        else:
            out.append(steps[s] / steps[n - 1])
    return out


def heat_time(e25_file, tclt, tcgt, vp, factor, c, temp_index):
    t = 2 * (temp_index - 1)
    e = e25_file - (t - 25) * (tcgt if t > 24 else tclt)
    p = (vp - 0.305) ** 2 / 1500
    return e / (p + 0.005) * c * 1000 * factor


def check(head_path, paper_path):
    head = load(head_path)
    paper = load(paper_path)
    n = head.getint("Step Times", "RAMP_TABLE_SIZE")
    steps = [head.getint("Step Times", "RAMP_STEP%d" % i) for i in range(n)]
    bn = head.getint("Step burnX", "BURNX_SIZE")
    burnx = [head.getfloat("Step burnX", "x%d" % i) for i in range(bn)]
    vp = head.getfloat("Printhead_Electrical", "PRINTHEAD_VP")
    e25 = paper.getfloat("Paper", "configE25")
    tclt = paper.getfloat("Paper", "configTclt25")
    tcgt = paper.getfloat("Paper", "configTcgt25")
    scale = paper.getfloat("Paper", "contrast_E25_scale_step")
    c = step_factors(steps, burnx)
    ok = True
    print("step  ips   step_us  C[s]   mains@24C mains@26C batt@26C  2-burn row fits")
    for s in (0, 4, 8, 14, 18, 23, 36, 48, 60, 72):
        ips = 1e6 / (STEPS_PER_ROW * ROWS_PER_INCH * steps[s])
        m13 = heat_time(e25, tclt, tcgt, vp, MAINS_FACTORS[13], c[s], 13)
        m14 = heat_time(e25, tclt, tcgt, vp, MAINS_FACTORS[14], c[s], 14)
        b14 = heat_time(e25, tclt, tcgt, 24.0, BATTERY_FACTORS[14], c[s], 14)
        fits = 2 * (m14 + 150) <= 2 * steps[s]
        print("%4d %5.2f %8d %6.3f %9.0f %9.0f %8.0f  %s"
              % (s, ips, steps[s], c[s], m13, m14, b14, fits))
    lo, hi = math.inf, 0.0
    for k in range(10):
        ek = (1 + (k - 4) * scale) * e25
        for i in range(34):
            for s in range(len(steps)):
                for vpx, f in ((vp, MAINS_FACTORS), (24.0, BATTERY_FACTORS)):
                    v = heat_time(ek, tclt, tcgt, vpx, f[i], c[s], i)
                    lo, hi = min(lo, v), max(hi, v)
    print("all 20 tables: heat times from %.0f to %.0f us" % (lo, hi))
    if lo <= 0 or hi >= 65536:
        print("ERROR: a heat time leaves the unsigned 16-bit range")
        ok = False
    for k in range(1, len(steps)):
        if steps[k] >= steps[k - 1]:
            print("ERROR: ramp not strictly accelerating at step %d" % k)
            ok = False
    return ok


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", nargs=2, metavar=("PRINTHEAD_CFG", "PAPER_CFG"),
                    help="recompute heat times from the installed files")
    args = ap.parse_args()
    if args.check:
        sys.exit(0 if check(*args.check) else 1)
    steps = ramp_table()
    sys.stdout.write(emit(steps, burnx_table(steps)))


if __name__ == "__main__":
    main()
