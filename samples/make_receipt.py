#!/usr/bin/env python3
"""Writes samples/receipt.escpos: a shop receipt in ESC/POS as a point-of-sale host sends it.

A 576-dot receipt area (80 mm paper width) in the middle of the head: centred bold header,
item lines with right-aligned prices, a double-size total, a Chinese line (GBK), an accented
line through code page WPC1252, feed and cut.

Usage: samples/make_receipt.py [OUT]   (default: receipt.escpos next to this script)"""
import os
import sys

ESC, GS, FS = b"\x1b", b"\x1d", b"\x1c"
COLUMNS = 48  # font A characters in 576 dots


def line(left, right=""):
    pad = COLUMNS - len(left) - len(right)
    return (left + " " * max(pad, 1) + right).encode("ascii") + b"\n"


def receipt():
    out = bytearray()
    out += ESC + b"@"
    out += GS + b"L" + (576).to_bytes(2, "little")        # left margin 576 dots
    out += GS + b"W" + (576).to_bytes(2, "little")        # printable width 576 dots
    out += ESC + b"a\x01" + ESC + b"E\x01" + GS + b"!\x11" + b"CORNER BAKERY\n"
    out += GS + b"!\x00" + ESC + b"E\x00"
    out += b"12 Market Street, Springfield\n"
    out += b"Tel 555-0147\n\n"
    out += ESC + b"a\x00"
    out += line("Receipt 004217", "2024-05-14 09:41")
    out += b"-" * COLUMNS + b"\n"
    items = [("Croissant", 2, 2.10), ("Sourdough Loaf", 1, 5.80), ("Cappuccino", 2, 3.40),
             ("Apple Tart", 1, 4.20), ("Orange Juice", 1, 2.60)]
    total = 0.0
    for name, qty, price in items:
        amount = qty * price
        total += amount
        out += line(f"{qty} x {name}", f"{amount:.2f}")
    out += b"-" * COLUMNS + b"\n"
    out += line("Subtotal", f"{total:.2f}")
    out += line("VAT 10% included", f"{total / 11:.2f}")
    out += ESC + b"E\x01" + GS + b"!\x11"
    out += f"TOTAL {total:.2f}".encode("ascii").rjust(COLUMNS // 2) + b"\n"
    out += GS + b"!\x00" + ESC + b"E\x00" + b"\n"
    out += line("Card payment", f"{total:.2f}")
    out += b"\n" + ESC + b"a\x01"
    out += FS + b"&" + "谢谢光临".encode("gbk") + b"\n" + FS + b"."
    out += ESC + b"t\x10" + "Café crème brûlée on Fridays".encode("cp1252") + b"\n" + ESC + b"t\x00"
    out += b"Thank you for your visit!\n"
    out += ESC + b"d\x04" + GS + b"V\x42\x00"
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "receipt.escpos")
    with open(path, "wb") as f:
        f.write(receipt())


main()
