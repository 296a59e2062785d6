#!/usr/bin/env python3
"""The host link over Wi-Fi, inside the booted virtual printer (see bench/host/run_net):

1. latency: from the last byte of a one-field ZPL label sent over TCP (then the connection is
   closed, as a host that sends one job does) to the first 4096-byte profile block at the simulated
   slave; target median <= 150 ms;
2. throughput: plain data sent over TCP into job files, taken by a stand-in interpreter (job_sink
   in place of zpl_interp); target >= 20 MB/s;
3. status: a 10-byte status request on an open connection until its 12-byte answer; target median
   <= 5 ms.

Usage: net_bench.py [RUNS] [MEGABYTES]   (defaults 15 and 40)"""
import ctypes
import os
import socket
import statistics
import subprocess
import sys
import time

RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 15
MEGABYTES = int(sys.argv[2]) if len(sys.argv) > 2 else 40
LABEL = b"^XA^FO50,50^A0N,60,0^FDBENCH^FS^XZ\n"
STATUS_REQUEST = bytes([0, 0, 0, 0, 0, 0, 0x1F, 0x52, 0x5F, 1])


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


def printer_address():
    with open("/sim/network/wlan0") as f:
        return f.read().split()[0]


def port():
    with open("/networkConfig/network_config.cfg") as f:
        for line in f:
            if line.startswith("configPort="):
                return int(line.split("=", 1)[1])
    return 6101


def enter_network():
    fd = os.open("/sim/network/ns", os.O_RDONLY)
    if ctypes.CDLL(None, use_errno=True).setns(fd, 0x40000000) != 0:
        raise OSError(ctypes.get_errno(), "setns")
    os.close(fd)


def report(name, values, unit, target):
    values = sorted(values)
    print(f"{name}: median {statistics.median(values):.2f} {unit}, min {values[0]:.2f}, "
          f"max {values[-1]:.2f} over {len(values)} ({target})")


def latency(addr, p):
    subprocess.run(["slave_sim", "paper", "reset"], stdout=subprocess.DEVNULL, check=True)
    results = []
    for i in range(RUNS + 1):
        subprocess.run(["slave_sim", "wait-idle", "--quiet", "300", "--timeout", "60"],
                       stdout=subprocess.DEVNULL, check=False)
        base = int(stats()["blocks"])
        s = socket.create_connection((addr, p))
        s.sendall(LABEL)
        sent = time.monotonic()
        s.close()
        deadline = sent + 20
        while int(stats()["blocks"]) == base and time.monotonic() < deadline:
            time.sleep(0.001)
        ms = (time.monotonic() - sent) * 1000
        if i > 0:
            results.append(ms)
    report("TCP last byte to first block", results, "ms", "target <= 150 ms")


def throughput(addr, p):
    # A stand-in interpreter that only takes the job files in place of zpl_interp.
    for pid in subprocess.run(["pidof", "zpl_interp"], capture_output=True, text=True).stdout.split():
        os.kill(int(pid), 15)
    out = "/tmp/bench_sink"
    subprocess.run(["rm", "-rf", out], check=True)
    sink = subprocess.Popen(["/sim/bin/job_sink", "--out", out])
    data_path = f"{out}/job_sink.data"
    while not os.path.exists(f"{out}/job_sink.log"):
        time.sleep(0.01)
    block = os.urandom(1 << 20)
    block = b"A" + block[1:]
    total = MEGABYTES << 20
    rates = []
    for _ in range(3):
        base = os.path.getsize(data_path) if os.path.exists(data_path) else 0
        start = time.monotonic()
        s = socket.create_connection((addr, p))
        for _ in range(MEGABYTES):
            s.sendall(block)
        s.close()
        while (os.path.getsize(data_path) if os.path.exists(data_path) else 0) < base + total:
            time.sleep(0.002)
            if time.monotonic() - start > 120:
                raise SystemExit("the data did not all arrive")
        rates.append(total / (1 << 20) / (time.monotonic() - start))
    sink.terminate()
    report(f"plain data into job files ({MEGABYTES} MiB, 3 runs)", rates, "MiB/s", "target >= 20 MB/s")


def status(addr, p):
    s = socket.create_connection((addr, p))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    results = []
    for i in range(201):
        start = time.monotonic()
        s.sendall(STATUS_REQUEST)
        got = b""
        while len(got) < 12:
            chunk = s.recv(12 - len(got))
            if not chunk:
                raise SystemExit("the connection ended")
            got += chunk
        ms = (time.monotonic() - start) * 1000
        if i > 0:
            results.append(ms)
    s.close()
    report("status request answered", results, "ms", "target <= 5 ms")


def main():
    subprocess.run(["net_host", "wait-ready", "--via", "wifi"], check=True)
    addr, p = printer_address(), port()
    enter_network()
    latency(addr, p)
    status(addr, p)
    throughput(addr, p)


main()
