#!/usr/bin/env python3
"""Test dot images for the print engine.

  make_dot_image.py OUT ROWS [--seed N] [--kind label|random|black|blank] [--plain]
  make_dot_image.py --concat OUT IMAGE...   rasters of IMAGE... one after the other (a PBM)
  make_dot_image.py --compare PAPER IMAGE... PAPER's rows equal the images' rows in order;
                                             prints "equal" or where they first differ

OUT is written in one open-write-close, as the producers of the printer write dot images.
Every row carries its number (bytes 100..103) so a lost, doubled or misplaced row shows."""
import random
import struct
import sys

W = 1728
B = W // 8


def rows_for(kind, n, seed):
    rnd = random.Random(seed)
    out = bytearray()
    for r in range(n):
        row = bytearray(B)
        if kind == "black":
            row = bytearray(b"\xff" * B)
        elif kind == "random":
            # densities from 0 to 100 %: AND-ing random words thins them, OR-ing fills them
            mode = rnd.randrange(9)
            v = rnd.getrandbits(B * 8)
            for _ in range(max(0, 4 - mode)):
                v &= rnd.getrandbits(B * 8)
            for _ in range(max(0, mode - 4)):
                v |= rnd.getrandbits(B * 8)
            if mode == 0:
                v = 0
            elif mode == 8:
                v = (1 << (B * 8)) - 1
            row = bytearray(v.to_bytes(B, "big"))
        elif kind == "label":
            band = (r // 24) % 8
            if r % 300 < 2 or r % 300 > 297:
                row[8:B - 8] = b"\xff" * (B - 16)
            row[8] |= 0xC0
            row[B - 9] |= 0x03
            if band in (1, 2, 5) and r % 24 < 18:
                for i in range(12, 200):
                    row[i] = rnd.getrandbits(8) & rnd.getrandbits(8) & 0x7E
            elif band == 3:
                for i in range(20, 196):
                    row[i] = 0xFF if (i * 37 % 11) < 5 else (0xF0 if i % 3 else 0x0F)
        if kind != "blank":
            row[100:104] = struct.pack(">I", r + seed * 1000003)
        out += row
    return bytes(out)


def read_pbm(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:3] == b"P4\n", path
    nl = data.index(b"\n", 3)
    w, h = (int(x) for x in data[3:nl].split())
    assert w == W, (path, w)
    raster = data[nl + 1:]
    return h, raster[:h * B]


def main():
    a = sys.argv[1:]
    if a and a[0] == "--compare":
        _, paper = read_pbm(a[1])
        want = b"".join(read_pbm(p)[1] for p in a[2:])
        if paper == want:
            print("equal")
            return 0
        n = min(len(paper), len(want)) // B
        first = next((r for r in range(n) if paper[r * B:(r + 1) * B] != want[r * B:(r + 1) * B]), n)
        print("differ: paper %d rows, images %d rows, first difference at row %d"
              % (len(paper) // B, len(want) // B, first))
        return 1
    if a and a[0] == "--concat":
        want = b"".join(read_pbm(p)[1] for p in a[2:])
        with open(a[1], "wb") as f:
            f.write(b"P4\n%d %d\n" % (W, len(want) // B) + want)
        return 0
    out, n = a[0], int(a[1])
    seed, kind, plain = 1, "label", False
    i = 2
    while i < len(a):
        if a[i] == "--seed":
            seed = int(a[i + 1]); i += 2
        elif a[i] == "--kind":
            kind = a[i + 1]; i += 2
        elif a[i] == "--plain":
            plain = True; i += 1
        else:
            raise SystemExit("unknown option " + a[i])
    header = (b"P4\n%d %d\n" % (W, n)) if plain else (b"P4\n%04d %05d\n" % (W, n))
    data = header + rows_for(kind, n, seed)
    with open(out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
