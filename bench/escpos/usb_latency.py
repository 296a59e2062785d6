#!/usr/bin/env python3
"""Latency of the receipt path inside the booted virtual printer, on continuous paper: from the
first byte of a receipt written to the USB gadget to the first 4096-byte profile block at the
simulated slave. Switches the printer to ESC/POS first (the in-band switch a host sends).

Runs inside `vprinter run --boot` (see bench/escpos/run-bench). Prints one line per run and the
median. Usage: usb_latency.py RECEIPT [RUNS]"""
import os
import socket
import statistics
import subprocess
import sys
import time

JOB = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 15


def stats():
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect("/sim/run/slave_sim.sock")
    s.sendall(b"stats\n")
    data = b""
    while True:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    s.close()
    return dict(f.split("=", 1) for f in data.decode().split() if "=" in f)


def wait_quiet():
    subprocess.run(["slave_sim", "wait-idle", "--quiet", "300", "--timeout", "60"],
                   stdout=subprocess.DEVNULL, check=False)


def pids(name):
    return subprocess.run(["pidof", name], capture_output=True, text=True).stdout.split()


def main():
    if not os.path.exists("/dev/g_printer0"):
        subprocess.run(["usb_host", "serve"], check=True)
    for _ in range(300):
        p = pids("host_link")
        if p and any(os.path.realpath(f"/proc/{p[0]}/fd/{fd}") == os.path.realpath("/dev/g_printer0")
                     for fd in os.listdir(f"/proc/{p[0]}/fd")):
            break
        time.sleep(0.05)
    if not pids("escpos_interp"):
        with open("/tmp/bench_switch", "wb") as f:
            f.write(b"\x1b\x1b\x01")
        subprocess.run(["usb_host", "send", "/tmp/bench_switch"], check=True)
        for _ in range(200):
            if pids("escpos_interp"):
                break
            time.sleep(0.05)
        time.sleep(1.5)
    subprocess.run(["slave_sim", "paper", "reset"], stdout=subprocess.DEVNULL, check=True)
    results = []
    for i in range(RUNS + 1):
        wait_quiet()
        time.sleep(2.2)  # the interpreter starts a job's first image at 200 dots again
        base = int(stats()["blocks"])
        first_byte = time.time()
        sender = subprocess.Popen(["usb_host", "send", JOB])
        deadline = time.time() + 20
        while int(stats()["blocks"]) == base and time.time() < deadline:
            time.sleep(0.002)
        arrived = time.time()
        sender.wait()
        ms = (arrived - first_byte) * 1000
        if i == 0:
            print(f"warm-up: {ms:.1f} ms")
            continue
        results.append(ms)
        print(f"run {i}: {ms:.1f} ms")
    print(f"median {statistics.median(results):.1f} ms, min {min(results):.1f} ms, max {max(results):.1f} ms "
          f"over {len(results)} receipts")


main()
