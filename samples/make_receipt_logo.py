#!/usr/bin/env python3
"""Writes samples/receipt-logo.escpos: a shop receipt with a raster logo, a Code 128, an EAN-13
and a QR Code, as a point-of-sale host sends it.

The receipt area is 576 dots (80 mm paper width) in the middle of the head: a 576 x 200 raster
logo (GS v 0), a centred bold header, item lines with right-aligned prices, a double-size total,
the receipt number as a Code 128 (code set B) with its text line below, the article number as an
EAN-13, the receipt's web address as a QR Code, then feed and cut.

Usage: samples/make_receipt_logo.py [OUT]         (default: receipt-logo.escpos next to this script)
       samples/make_receipt_logo.py --logo OUT.pbm  the logo alone, as a PBM (tests compare it)"""
import math
import os
import sys

ESC, GS = b"\x1b", b"\x1d"
COLUMNS = 48  # font A characters in 576 dots
LOGO_W, LOGO_H = 576, 200
CODE128 = "RCPT-004217"
EAN13 = "400638133393"  # the encoder adds the check digit 1
QR = "https://cornerbakery.example/r/004217"


def logo_rows():
    """576 x 200 dots, rows of 72 bytes, leftmost dot in the high bit: a frame, a loaf in a
    ring, and three wheat ears."""
    rows = []
    for y in range(LOGO_H):
        row = bytearray(LOGO_W // 8)
        for x in range(LOGO_W):
            frame = (x < 6 or x >= LOGO_W - 6 or y < 6 or y >= LOGO_H - 6)
            d = math.hypot(x - 100, y - 100)
            ring = 70 <= d <= 82
            loaf = ((x - 100) / 48.0) ** 2 + ((y - 108) / 26.0) ** 2 <= 1.0 and not (
                y < 104 and (x - 76) % 16 < 3)
            ear = False
            for k in range(3):
                cx = 250 + 110 * k
                if abs(x - cx) <= 2 and 40 <= y <= 170:
                    ear = True
                for j in range(5):
                    cy = 55 + 22 * j
                    if ((x - cx - 12) / 12.0) ** 2 + ((y - cy) / 6.0) ** 2 <= 1.0:
                        ear = True
                    if ((x - cx + 12) / 12.0) ** 2 + ((y - cy) / 6.0) ** 2 <= 1.0:
                        ear = True
            if frame or ring or loaf or ear:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return rows


def line(left, right=""):
    pad = COLUMNS - len(left) - len(right)
    return (left + " " * max(pad, 1) + right).encode("ascii") + b"\n"


def receipt():
    out = bytearray()
    out += ESC + b"@"
    out += GS + b"L" + (576).to_bytes(2, "little")        # left margin 576 dots
    out += GS + b"W" + (576).to_bytes(2, "little")        # printable width 576 dots
    out += GS + b"v0\x00" + (LOGO_W // 8).to_bytes(2, "little") + LOGO_H.to_bytes(2, "little")
    out += b"".join(logo_rows())
    out += b"\n"
    out += ESC + b"a\x01" + ESC + b"E\x01" + GS + b"!\x11" + b"CORNER BAKERY\n"
    out += GS + b"!\x00" + ESC + b"E\x00"
    out += b"12 Market Street, Springfield\n\n"
    out += ESC + b"a\x00"
    out += line("Receipt 004217", "2024-05-14 09:41")
    out += b"-" * COLUMNS + b"\n"
    items = [("Croissant", 2, 2.10), ("Sourdough Loaf", 1, 5.80), ("Cappuccino", 2, 3.40),
             ("Apple Tart", 1, 4.20)]
    total = 0.0
    for name, qty, price in items:
        amount = qty * price
        total += amount
        out += line(f"{qty} x {name}", f"{amount:.2f}")
    out += b"-" * COLUMNS + b"\n"
    out += ESC + b"E\x01" + GS + b"!\x11"
    out += f"TOTAL {total:.2f}".encode("ascii").rjust(COLUMNS // 2) + b"\n"
    out += GS + b"!\x00" + ESC + b"E\x00" + b"\n"
    # Code 128 of the receipt number, its text below; 2-dot modules, 80 dots high.
    out += GS + b"H\x02" + GS + b"w\x02" + GS + b"h\x50"
    data = b"{B" + CODE128.encode("ascii")
    out += GS + b"kI" + bytes([len(data)]) + data + b"\n"
    # EAN-13 of the article number (B form).
    out += GS + b"kC" + bytes([len(EAN13)]) + EAN13.encode("ascii") + b"\n"
    # QR Code of the receipt's web address: 5-dot modules, level M.
    out += GS + b"(k\x03\x001C\x05" + GS + b"(k\x03\x001E1"
    qr = QR.encode("ascii")
    out += GS + b"(k" + (len(qr) + 3).to_bytes(2, "little") + b"1P0" + qr
    out += GS + b"(k\x03\x001Q0" + b"\n"
    out += ESC + b"a\x01" + b"Thank you for your visit!\n"
    out += ESC + b"d\x04" + GS + b"V\x42\x00"
    return bytes(out)


def logo_pbm():
    return b"P4\n%d %d\n" % (LOGO_W, LOGO_H) + b"".join(logo_rows())


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    if len(sys.argv) > 2 and sys.argv[1] == "--logo":
        with open(sys.argv[2], "wb") as f:
            f.write(logo_pbm())
        return
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "receipt-logo.escpos")
    with open(path, "wb") as f:
        f.write(receipt())


main()
