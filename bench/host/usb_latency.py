#!/usr/bin/env python3
"""Latency of the host link inside the booted virtual printer: from the last byte of a one-field
ZPL label written to the USB gadget to the first 4096-byte profile block at the simulated slave.

Runs inside `vprinter run --boot` (see bench/host/run). Prints one line per run and the median."""
import os
import socket
import statistics
import subprocess
import sys
import time

LABEL = b"^XA^FO50,50^A0N,60,0^FDBENCH^FS^XZ\n"
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 15


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


def main():
    job = "/tmp/bench_label.zpl"
    with open(job, "wb") as f:
        f.write(LABEL)
    gadget = os.path.realpath("/dev/g_printer0")
    if not os.path.exists("/dev/g_printer0"):
        subprocess.run(["usb_host", "serve"], check=True)
    # host_link holds the gadget open
    for _ in range(300):
        pids = subprocess.run(["pidof", "host_link"], capture_output=True, text=True).stdout.split()
        if pids and any(os.path.realpath(f"/proc/{pids[0]}/fd/{fd}") == os.path.realpath("/dev/g_printer0")
                        for fd in os.listdir(f"/proc/{pids[0]}/fd")):
            break
        time.sleep(0.05)
    subprocess.run(["slave_sim", "paper", "reset"], stdout=subprocess.DEVNULL, check=True)
    results = []
    for i in range(RUNS + 1):
        wait_quiet()
        base = int(stats()["blocks"])
        sender = subprocess.Popen(["usb_host", "send", "--stamp", "/tmp/bench_stamp", job])
        deadline = time.time() + 20
        while int(stats()["blocks"]) == base and time.time() < deadline:
            time.sleep(0.002)
        arrived = time.time()
        sender.wait()
        with open("/tmp/bench_stamp") as f:
            sent = float(f.read())
        ms = (arrived - sent) * 1000
        if i == 0:
            print(f"warm-up: {ms:.1f} ms")
            continue
        results.append(ms)
        print(f"run {i}: {ms:.1f} ms")
    print(f"median {statistics.median(results):.1f} ms, min {min(results):.1f} ms, max {max(results):.1f} ms "
          f"over {len(results)} labels")


main()
