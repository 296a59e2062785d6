#!/usr/bin/env python3
"""Writes the hostile ZPL jobs that zpl_cost_bench measures into a folder.

    bench/zpl/hostile_jobs.py OUT_DIR

Each job is one of the faults found by the fuzz harness and by hand-made labels (a few bytes to a
megabyte), or as many of the dearest drawings as 64 KiB of input hold. Every one of them must
finish well below a second and a few tens of megabytes.
"""
import os
import sys


def fill(body, size=65000):
    """A label of as many copies of body as size bytes hold."""
    return "^XA" + body * ((size - 6) // len(body)) + "^XZ"


def jobs():
    page_bar = "^FO0,0^GB1728,6496,1728^FS"
    yield "off_page_bar", "^XA^FO300000,0^GB32000,32000,32000^FS^FO0,0^GB100,100,3^FS^XZ"
    yield "off_page_home", "^XA^LH1000000,1000000^FO1000000,1000000^GB32000,32000,32000^FS^XZ"
    yield "huge_letters", "^XA^CF0,32000,32000^FO0,0^FDABCDEFGHIJKLMNOPQRSTUVWXYZ^FS^XZ" + \
        "^XA^FO0,0^FDAND THE NEXT LABEL KEEPS THE SIZE^FS^XZ"
    yield "absurd_stretch", "^XA^FO0,0^AAN,1,32000^FDXY^FS^FO0,200^AAN,32000,32000^FDXY^FS^XZ"
    yield "rotated_barcodes", "^XA^LH0,1000000" + "^FO0,1000000^B3R,N,10^FD~^FS" * 1100 + "^XZ"
    body = "^GFA,9,9,1," * (1000000 // 11)
    yield "format_replay_1mb", "^XA^DFR:BIG.ZPL^FS" + body + "^XZ^XA^XFR:BIG.ZPL^FS^XZ"
    yield "picture_30_times", "^XA" + page_bar + "^ISR:PAGE.PNG,N^XZ^XA" + "^FO0,0^IMR:PAGE.PNG^FS" * 30 + "^XZ"
    yield "graphic_30_times", "^XA" + page_bar + "^ISR:PAGE.GRF,N^XZ^XA" + "^FO0,0^XGR:PAGE.GRF,10,10^FS" * 30 + "^XZ"
    yield "saves_as_pictures", fill("^FO0,0^GB1728,6496,1728^FS^ISR:X.PNG,Y")
    yield "page_bars", fill(page_bar)
    yield "page_ellipses", fill("^FO0,0^GE1728,6496,500^FS")
    yield "page_circles", fill("^FO0,0^GC6496,3000^FS")
    yield "page_diagonals", fill("^FO0,0^GD1728,6496,1000^FS")
    yield "page_round_boxes", fill("^FO0,0^GB1728,6496,20,B,8^FS")
    yield "huge_text_fields", fill("^FO0,0^A0N,6000,6000^FDWW^FS")
    yield "large_text_fields", fill("^FO0,0^A0N,250,250^FDWWWWWWWW^FS")
    yield "tall_barcodes", fill("^FO0,0^BY10^BCN,6000^FD1234567890^FS")
    yield "qr_codes", fill("^FO0,0^BQN,2,10^FDQA,0123456789ABCDEFGHIJ^FS")
    yield "graphic_fields", fill("^FO0,0^GFA,8,8,1,FFFFFFFFFFFFFFFF^FS")
    yield "reversed_page_bars", fill("^FO0,0^FR^GB1728,6496,1728^FS")
    yield "reversed_labels", "^XA^LRY" + "".join(
        "^FO%d,%d^A0N,40,40^FDREVERSED FIELD %d^FS" % (i % 5 * 300, i // 5 * 50, i) for i in range(400)) + "^LRN^XZ"
    yield "field_blocks", fill("^FO0,0^A0N,30,30^FB1,9999,-9999,J,9999^FDA B C D E F G H I J K L M N O P^FS")
    yield "code128_invocations", fill("^FO0,0^BY10^BCN,6000,Y,N,N,A^FD>;>8>5>6>7>4>9>:>0>=><>1>2>3123456^FS")
    cjk = "".join(chr(0x4E00 + 7 * i) for i in range(2000))
    yield "cjk_large", "^XA^CI28" + "".join(
        "^FO0,0^AFN,250,250^FD" + cjk[i * 20:i * 20 + 20] + "^FS" for i in range(100)) + "^XZ"


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, text in jobs():
        with open(os.path.join(out, name + ".zpl"), "w", encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
