#!/usr/bin/python3
"""Decodes every symbol of a grey map (PGM, P5) with the zxing-cpp Python binding and prints one
line per symbol: format, symbology identifier and the text with control bytes as \\xNN.

The reader of Debian 12 (1.4) stops the whole process on pages with several linear symbols (an
assertion while it sorts out duplicates), so the page is cut into its separate areas of ink first
and each area is read on its own, in a child process of its own.

  read_symbols.py FILE.pgm
"""
import os
import sys

import numpy
import zxingcpp

CELL = 8  # areas closer than about two cells belong together


def read_pgm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    w, h, top = int(fields[1]), int(fields[2]), int(fields[3])
    img = numpy.frombuffer(data[pos:pos + w * h], dtype=numpy.uint8).reshape(h, w)
    if top != 255:  # (ImageMagick writes a 1-bit page with the largest value 1)
        img = (img.astype(numpy.uint32) * 255 // max(top, 1)).astype(numpy.uint8)
    return img


def areas(img):
    """Bounding boxes (top, left, bottom, right) of the groups of ink."""
    h, w = img.shape
    gh, gw = (h + CELL - 1) // CELL, (w + CELL - 1) // CELL
    padded = numpy.full((gh * CELL, gw * CELL), 255, dtype=numpy.uint8)
    padded[:h, :w] = img
    ink = (padded < 128).reshape(gh, CELL, gw, CELL).any(axis=(1, 3))
    seen = numpy.zeros_like(ink)
    boxes = []
    for y0, x0 in zip(*numpy.nonzero(ink)):
        if seen[y0, x0]:
            continue
        stack = [(y0, x0)]
        seen[y0, x0] = True
        top, left, bottom, right = y0, x0, y0, x0
        while stack:
            y, x = stack.pop()
            top, left, bottom, right = min(top, y), min(left, x), max(bottom, y), max(right, x)
            for dy in (-2, -1, 0, 1, 2):
                for dx in (-2, -1, 0, 1, 2):
                    ny, nx = y + dy, x + dx
                    if 0 <= ny < gh and 0 <= nx < gw and ink[ny, nx] and not seen[ny, nx]:
                        seen[ny, nx] = True
                        stack.append((ny, nx))
        boxes.append((top * CELL, left * CELL, min(h, (bottom + 1) * CELL), min(w, (right + 1) * CELL)))
    return boxes


def shown(text):
    return "".join(c if 0x20 <= ord(c) < 0x7f and c != "\\" else "\\x%02x" % ord(c) for c in text)


def read_area(img):
    """The lines of the symbols of one area, read in a child process."""
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(r)
        lines = []
        for res in zxingcpp.read_barcodes(img):
            lines.append("%s\t%s\t%s" % (res.format.name, res.symbology_identifier, shown(res.text)))
        os.write(w, ("\n".join(lines)).encode())
        os._exit(0)
    os.close(w)
    out = b""
    while True:
        chunk = os.read(r, 65536)
        if not chunk:
            break
        out += chunk
    os.close(r)
    os.waitpid(pid, 0)
    return [line for line in out.decode().split("\n") if line]


def main():
    img = read_pgm(sys.argv[1])
    found = []
    for top, left, bottom, right in areas(img):
        if bottom - top < 16 or right - left < 16:
            continue
        m = 24
        area = numpy.full((bottom - top + 2 * m, right - left + 2 * m), 255, dtype=numpy.uint8)
        area[m:m + bottom - top, m:m + right - left] = img[top:bottom, left:right]
        for line in read_area(area):
            if line not in found:
                found.append(line)
    for line in found:
        print(line)


main()
