#!/usr/bin/env python3
"""Close-to-first-block latency of the print engine, measured inside the virtual printer.

  latency.py IMAGE COUNT

Drops IMAGE into the engine's intake COUNT times, each after the previous one has printed, and
measures from the close of the file to the moment the simulated slave has received the first
4096-byte block of it (its block counter, read through its control socket every 0.5 ms).
Prints one line: median, mean, min and max in milliseconds."""
import random
import shutil
import socket
import statistics
import sys
import time

SOCK = "/sim/run/slave_sim.sock"
INTAKE = "/tmp/dot_feeder_intake"


def stats():
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(SOCK)
    s.sendall(b"stats\n")
    data = b""
    while True:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    s.close()
    return dict(kv.split("=") for kv in data.decode().split())


def main():
    image, count = sys.argv[1], int(sys.argv[2])
    raw = open(image, "rb").read()
    rows = int(raw[3:raw.index(b"\n", 3)].split()[1])
    lat = []
    rnd = random.Random(1)
    for i in range(count):
        base = stats()
        blocks0, rows0 = int(base["blocks"]), int(base["rows"])
        # the block cutter wakes every 50 ms: start at a random point of its cycle
        time.sleep(rnd.uniform(0.0, 0.05))
        with open("%s/lat-%d.pbm" % (INTAKE, i), "wb") as f:
            f.write(raw)
        t0 = time.monotonic()
        while int(stats()["blocks"]) <= blocks0:
            if time.monotonic() - t0 > 5:
                raise SystemExit("no block within 5 s")
            time.sleep(0.0005)
        lat.append((time.monotonic() - t0) * 1000)
        while True:
            st = stats()
            if int(st["rows"]) >= rows0 + rows and st["idle"] == "1":
                break
            time.sleep(0.01)
    print("close to first block: median %.1f ms, mean %.1f ms, min %.1f ms, max %.1f ms (%d images of %d rows)"
          % (statistics.median(lat), statistics.mean(lat), min(lat), max(lat), count, rows))


if __name__ == "__main__":
    main()
