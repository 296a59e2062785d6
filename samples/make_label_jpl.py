#!/usr/bin/python3
"""Makes samples/label.jpl: a 4x6 shipping label in the binary JPL label language with the content
of samples/shipping_label.zpl: sender and receiver, separator lines and boxes, a cell-bitmap logo,
a Code 128 tracking barcode, a Code 39 route barcode, a QR Code, a PDF417, a Data Matrix and a
Grid Matrix, underlined and turned text.

  samples/make_label_jpl.py [output]      (default: label.jpl beside this script)
"""
import os
import struct
import sys

SUB = b"\x1a"


def u16(*values):
    return b"".join(struct.pack("<H", v) for v in values)


def start(home_x=0, home_y=0, length=1218):
    return SUB + b"\x5b\x01" + u16(home_x, home_y) + b"\x00\x00" + u16(length) + b"\x00"


def end():
    return SUB + b"\x5d\x00"


def copies(n):
    return SUB + b"\x4f\x01" + bytes([n])


def text(x, y, s, height=24, bold=False, underline=False, white=False, strike=False, turn=0, wscale=0, hscale=0):
    flags = (1 if bold else 0) | (2 if underline else 0) | (4 if white else 0) | (8 if strike else 0) | (turn << 4)
    return SUB + b"\x54\x01" + u16(x, y, height) + bytes([flags, (hscale << 4) | wscale]) + s.encode() + b"\x00"


def line(x1, y1, x2, y2, width=2):
    return SUB + b"\x5c\x01" + u16(x1, y1, x2, y2, width) + b"\x01"


def box(x1, y1, x2, y2, width=2):
    return SUB + b"\x26\x01" + u16(x1, y1, x2, y2, width) + b"\x01"


def solid_box(x1, y1, x2, y2):
    return SUB + b"\x2a\x00" + u16(x1, y1, x2, y2) + b"\x01"


def cells(x, y, cw, ch, rows):
    out = b""
    for i, row in enumerate(rows):
        out += SUB + b"\x21\x00" + u16(x, y + i * ch, cw, ch) + bytes(0xFF if c == "#" else 0x02 for c in row)
    return out


def linear(x, y, letter, height, module, data, rotation=0):
    return SUB + b"\x30\x00" + u16(x, y) + letter.encode() + u16(height) + bytes([module, rotation]) + data.encode() + b"\x00"


def qr(x, y, module, data, rotation=0):
    return SUB + b"\x31\x00\x00\x00" + u16(x, y) + bytes([module, rotation]) + data.encode() + b"\x00"


def pdf417(x, y, module, columns, security, row_factor, data):
    return SUB + b"\x31\x01" + bytes([columns, security, row_factor]) + u16(x, y) + bytes([module, 0]) + data.encode() + b"\x00"


def datamatrix(x, y, module, data):
    return SUB + b"\x31\x02" + u16(x, y) + bytes([module, 0]) + data.encode() + b"\x00"


def gridmatrix(x, y, module, data):
    return SUB + b"\x31\x03\x00" + u16(x, y) + bytes([module, 0]) + data.encode() + b"\x00"


LOGO = [
    "..######..",
    ".#......#.",
    "#..####..#",
    "#.#....#.#",
    "#.#....#.#",
    "#..####..#",
    ".#......#.",
    "..######..",
]


def label():
    job = b"Shipping label\r\n"  # bytes outside commands are dropped
    job += start(0, 0, 1218)
    job += cells(24, 20, 12, 12, LOGO)
    job += text(170, 20, "FROM: NORTHWIND TRADING", 27, bold=True)
    job += text(170, 56, "220 Dockside Avenue", 24)
    job += text(170, 86, "Portland OR 97209", 24)
    job += text(620, 24, "2 LB", 36, bold=True)
    job += text(620, 80, "1 OF 3", 24)
    job += text(620, 106, "DIMS 12x9x6", 24)
    job += solid_box(0, 140, 812, 144)
    job += text(30, 160, "SHIP TO:", 27, underline=True)
    job += text(60, 200, "HARBOUR STORES LTD", 36, bold=True)
    job += text(60, 248, "ATTN: RECEIVING DOCK 4", 36)
    job += text(60, 296, "1 Harbour Road", 36)
    job += text(60, 344, "SPRINGFIELD CA 90210", 45, bold=True)
    job += line(0, 410, 812, 410, 4)
    job += datamatrix(40, 440, 4, "1Z999AA10123456784 PARCEL 1/3")
    job += text(320, 440, "CA 902 9-01", 72, bold=True)
    job += linear(320, 560, "E", 80, 2, "ROUTE420")
    job += text(320, 650, "ROUTE 420 90210", 24)
    job += box(0, 680, 812, 960, 3)
    job += text(30, 700, "GROUND TRACKING #: 1Z 999 AA1 01 2345 6784", 27)
    job += linear(60, 750, "I", 160, 3, "1Z999AA10123456784")
    job += text(200, 920, "1Z 999 AA1 01 2345 6784", 24, strike=False)
    job += qr(30, 985, 4, "https://track.example.net/1Z999AA10123456784")
    job += pdf417(240, 990, 2, 6, 3, 3, "PO 778812 / DEPT 42 / BOX 1 OF 3 / WEIGHT 2 LB")
    job += text(240, 1120, "REF 1: PO 778812", 24)
    job += text(240, 1150, "REF 2: DEPT 42", 24)
    job += text(560, 1120, "BILLING: P/P", 24)
    job += text(560, 1150, "DESC: PARTS", 24)
    job += gridmatrix(700, 990, 3, "PARTS 42")
    job += text(790, 700, "FRAGILE", 24, turn=1)
    job += text(30, 1186, "HANDLE WITH CARE - KEEP DRY", 22)
    job += text(560, 1186, "DATE: 07 DEC 2026", 22)
    job += end()
    return job


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "label.jpl")
    with open(out, "wb") as f:
        f.write(label())
