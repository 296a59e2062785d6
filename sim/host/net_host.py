#!/usr/bin/env python3
"""net_host: the host at the other end of the virtual printer's host links.

    net_host send --via LINK [--from ADDR] [--quiet MS] [--hold MS] [--stamp FILE] [--chunk N --pause MS] FILE...
        sends the files as one job (LINK: usb, wifi, pan, bt, serial; default usb). --quiet waits MS
        milliseconds after connecting before the first byte, --hold keeps a network or Bluetooth
        connection open MS milliseconds after the last byte; --from sends from that address of the
        network (added to the host's interface when missing).
    net_host raster FILE [--via wifi|pan]
        sends FILE (a PGM page) to port 9100.
    net_host request --via LINK HEX [--expect N] [--timeout S]
        writes the bytes in one go and prints the answer (N bytes expected) in hexadecimal.
    net_host packets --via LINK FILE [--count N] [--status-between] [--first-serial N]
        a host driver in packet mode: packet mode on, FILE as N packages (each answered), a status
        request between two packages, plain mode on again. Prints every answer; exit 1 when one is
        missing or wrong.
    net_host status --via LINK [--raw]
        asks for the 12-byte status and the 11-byte printer information and prints them decoded.
    net_host discover [--via wifi|pan] [--timeout S] [--request HEX] [--raw]
        a discovery broadcast on the network; prints each answer decoded (exit 1 when none came).
    net_host wait-ready --via LINK|discovery [--timeout S]
        until host_link serves LINK (or answers discovery broadcasts).

The network links (wifi, pan) are reached from the network namespace of `sim_network`; the
Bluetooth link is the stand-in of the RFCOMM channel (an abstract Unix socket); the serial module
and USB are pseudo-terminals served by usb_host.
"""
import argparse
import ctypes
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

NETNS = "/sim/network/ns"
CLONE_NEWNET = 0x40000000
RFCOMM_STANDIN = "\0rfcomm-standin/channel-1"
SIGNATURE = b"TELMARON-KVX"
LINKS = ("usb", "wifi", "pan", "bt", "serial")
IFACE = {"wifi": "wlan0", "pan": "bridge1"}

_in_network = False


def enter_network():
    """Moves this process into the network's namespace (as one of its hosts)."""
    global _in_network
    if _in_network:
        return
    fd = os.open(NETNS, os.O_RDONLY)
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.setns(fd, CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        raise OSError(err, f"cannot enter the network namespace: {os.strerror(err)}")
    os.close(fd)
    _in_network = True


def key(path, name, default=""):
    try:
        with open(path) as f:
            for line in f:
                if line.startswith(name + "="):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return default


def printer_port():
    return int(key("/networkConfig/network_config.cfg", "configPort", "6101") or 6101)


def addresses(link):
    """(printer address, host address, prefix) of a network link."""
    with open(f"/sim/network/{IFACE[link]}") as f:
        printer, host, prefix = f.read().split()
    return printer, host, int(prefix)


def hexbytes(data):
    return " ".join(f"{b:02x}" for b in data)


# ---- links -------------------------------------------------------------------------------------

class StreamLink:
    """A TCP connection (wifi, pan) or the RFCOMM stand-in (bt)."""

    def __init__(self, via, source=None, port=None, timeout=10.0):
        self.via = via
        if via == "bt":
            self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self.sock.settimeout(timeout)
            self.sock.connect(RFCOMM_STANDIN)
        else:
            printer, _, prefix = addresses(via)
            enter_network()
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.sock.settimeout(timeout)
            if source:
                ensure_address(via, source, prefix)
                self.sock.bind((source, 0))
            self.sock.connect((printer, port or printer_port()))

    def write(self, data):
        self.sock.sendall(data)

    def read(self, count, timeout=10.0):
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            self.sock.settimeout(left)
            try:
                chunk = self.sock.recv(count - len(data))
            except socket.timeout:
                break
            if not chunk:
                break
            data += chunk
        return data

    def close(self):
        self.sock.close()


class PtyLink:
    """The USB gadget or the serial module: written through usb_host, answers from its record."""

    def __init__(self, via):
        self.name = "usb_host" if via == "usb" else "serial_module"
        self.replies = f"/sim/{self.name}/replies"
        self.offset = os.path.getsize(self.replies) if os.path.exists(self.replies) else 0

    def command(self):
        return ["usb_host"] if self.name == "usb_host" else ["usb_host", "--name", self.name]

    def write(self, data, extra=()):
        with tempfile.NamedTemporaryFile(dir="/tmp", delete=False) as f:
            f.write(data)
            path = f.name
        try:
            subprocess.run(self.command() + ["send", *extra, path], check=True)
        finally:
            os.unlink(path)

    def read(self, count, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            data = b""
            if os.path.exists(self.replies):
                with open(self.replies, "rb") as f:
                    f.seek(self.offset)
                    data = f.read(count)
            if len(data) >= count or time.monotonic() > deadline:
                self.offset += len(data)
                return data
            time.sleep(0.005)

    def close(self):
        pass


def open_link(via, source=None):
    if via in ("usb", "serial"):
        return PtyLink(via)
    return StreamLink(via, source=source)


def ensure_address(via, address, prefix):
    iface = "net-" + IFACE[via]
    have = subprocess.run(["ip", "-4", "-o", "addr", "show", "dev", iface], capture_output=True, text=True).stdout
    if f" {address}/" not in have:
        subprocess.run(["ip", "addr", "add", f"{address}/{prefix}", "dev", iface], check=True)


# ---- messages ----------------------------------------------------------------------------------

PACKET_MODE_ON = b"\x1fDPT"
PLAIN_MODE_ON = b"\x1fPPT"


def package(serial, payload):
    return b"\x1f\x48" + struct.pack("<HH", serial, len(payload)) + payload


def status_request(selector, serial=0):
    """The 10-byte status request: a package header (4-byte payload) and 1F 52 5F selector."""
    return package(serial, b"\x1f\x52\x5f" + bytes([selector]))


def decode_status(text):
    """The 12-byte status as a host driver reads it."""
    t = text.decode("ascii", "replace")
    if len(t) < 12:
        return [f"status: incomplete answer {t!r}"]
    errors = {"00": "none", "01": "lid open or abort", "02": "paper out", "03": "battery low", "04": "slave fault"}
    return [
        f"paper: {'out' if t[2] == '1' else 'present'}",
        f"lid: {'open' if t[0] == '1' else 'closed'}",
        f"head temperature: {int(t[10:12]) if t[10:12].isdigit() else t[10:12]} C",
        f"battery: {int(t[5:7]) if t[5:7].isdigit() else t[5:7]} %, external power {'on' if t[4] == '1' else 'off'}",
        f"error: {t[7:9]} ({errors.get(t[7:9], 'unknown')})",
    ]


def decode_discovery(answer):
    def text(a, b):
        return answer[a:b].split(b"\0", 1)[0].decode("latin-1")
    return {
        "name": text(28, 44),
        "firmware": text(44, 60),
        "host name": text(76, 92),
        "address": ".".join(str(b) for b in answer[92:96]),
    }


# ---- commands ----------------------------------------------------------------------------------

def cmd_send(args):
    data = b""
    for path in args.files:
        with open(path, "rb") as f:
            data += f.read()
    if args.via in ("usb", "serial"):
        link = PtyLink(args.via)
        extra = []
        if args.stamp:
            extra += ["--stamp", args.stamp]
        if args.chunk:
            extra += ["--chunk", str(args.chunk), "--pause", str(args.pause)]
        link.write(data, extra)
        return 0
    link = StreamLink(args.via, source=args.source)
    if args.quiet:
        time.sleep(args.quiet / 1000)
    step = args.chunk or len(data) or 1
    for off in range(0, len(data), step):
        link.write(data[off:off + step])
        if args.pause and off + step < len(data):
            time.sleep(args.pause / 1000)
    if args.stamp:
        with open(args.stamp, "w") as f:
            f.write(f"{time.time():.9f}\n")
    if args.hold:
        time.sleep(args.hold / 1000)
    link.close()
    return 0


def cmd_raster(args):
    with open(args.file, "rb") as f:
        data = f.read()
    printer, _, _ = addresses(args.via)
    enter_network()
    s = socket.create_connection((printer, 9100), timeout=10)
    s.sendall(data)
    s.close()
    return 0


def cmd_request(args):
    link = open_link(args.via, source=args.source)
    link.write(bytes.fromhex(args.hex))
    answer = link.read(args.expect, args.timeout) if args.expect else b""
    print(hexbytes(answer))
    link.close()
    return 0 if len(answer) >= args.expect else 1


def cmd_packets(args):
    with open(args.file, "rb") as f:
        data = f.read()
    link = open_link(args.via)
    ok = True

    def expect(what, want_len, check=None):
        nonlocal ok
        got = link.read(want_len)
        good = len(got) == want_len and (check is None or check(got))
        print(f"{what}: {hexbytes(got)}{'' if good else '  <-- wrong or missing'}")
        ok = ok and good
        return got

    link.write(PACKET_MODE_ON)
    expect("packet mode on", 1, lambda a: a == b"0")
    count = max(1, args.count)
    size = -(-len(data) // count)
    serial = args.first_serial
    for i in range(count):
        piece = data[i * size:(i + 1) * size]
        link.write(package(serial, piece))
        expect(f"package {i + 1} ({len(piece)} bytes)", 4, lambda a, s=serial: a[:2] == struct.pack("<H", s))
        serial += 1
        if args.status_between and i + 1 < count:
            link.write(status_request(1, serial))
            expect("status request: package answer", 4, lambda a, s=serial: a[:2] == struct.pack("<H", s))
            expect("status", 12, lambda a: a.isdigit())
            serial += 1
    link.write(PLAIN_MODE_ON)
    expect("plain mode on", 1, lambda a: a == b"1")
    link.close()
    return 0 if ok else 1


def cmd_status(args):
    results = []
    for selector, length in ((1, 12), (0, 11)):
        link = open_link(args.via)
        link.write(status_request(selector))
        results.append(link.read(length))
        link.close()
    status, info = results
    if args.raw:
        print(status.decode("latin-1"))
        print(info.decode("latin-1"))
    else:
        for line in decode_status(status):
            print(line)
        print(f"firmware: {info.decode('latin-1') if len(info) == 11 else 'no answer'}")
    return 0 if len(status) == 12 and len(info) == 11 else 1


def cmd_discover(args):
    via = args.via or "wifi"
    printer, host, prefix = addresses(via)
    enter_network()
    if args.request:
        request = bytes.fromhex(args.request)
    else:
        request = SIGNATURE + bytes(4) + os.urandom(4)
    net = struct.unpack("!I", socket.inet_aton(printer))[0] & (0xFFFFFFFF << (32 - prefix)) & 0xFFFFFFFF
    broadcast = socket.inet_ntoa(struct.pack("!I", net | (0xFFFFFFFF >> prefix)))
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind((host, 0))
    s.sendto(request, (broadcast, 9999))
    deadline = time.monotonic() + args.timeout
    answers = 0
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        s.settimeout(left)
        try:
            answer, source = s.recvfrom(4096)
        except socket.timeout:
            break
        answers += 1
        if args.raw:
            print(hexbytes(answer))
            continue
        fields = decode_discovery(answer)
        print(f"printer at {source[0]} ({len(answer)} bytes)")
        for k, v in fields.items():
            print(f"  {k}: {v}")
        if answer[16:20] != request[16:20]:
            print("  (the request's bytes 16..19 do not come back)")
        if not args.all:
            break
    if answers == 0:
        print("no answer", file=sys.stderr)
    return 0 if answers else 1


def listening(port=None, abstract=None):
    if abstract:
        out = subprocess.run(["ss", "-Hlx"], capture_output=True, text=True).stdout
        return "@" + abstract.lstrip("\0") in out
    out = subprocess.run(["ss", "-Hltn"], capture_output=True, text=True).stdout
    return any(line.split()[3].endswith(f":{port}") for line in out.splitlines() if len(line.split()) > 3)


def serial_line_ready():
    """host_link holds the line open and its reader waits for a job (it no longer drains the line:
    what comes while it drains is not a job)."""
    for pid in subprocess.run(["pidof", "host_link"], capture_output=True, text=True).stdout.split():
        try:
            for tid in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{tid}/comm") as f:
                    if f.read().strip() != "serial_module":
                        continue
                with open(f"/proc/{pid}/task/{tid}/wchan") as f:
                    if "poll" in f.read():
                        return True
        except OSError:
            pass
    return False


def cmd_wait_ready(args):
    deadline = time.monotonic() + args.timeout
    while time.monotonic() < deadline:
        if args.via in ("wifi", "pan"):
            ready = listening(port=printer_port())
        elif args.via == "bt":
            ready = listening(abstract=RFCOMM_STANDIN)
        elif args.via == "serial":
            ready = serial_line_ready()
        elif args.via == "discovery":
            out = subprocess.run(["ss", "-Hlun"], capture_output=True, text=True).stdout
            ready = any(len(l.split()) > 3 and l.split()[3].endswith(":9999") for l in out.splitlines())
        else:
            ready = os.path.exists("/dev/g_printer0")
        if ready:
            return 0
        time.sleep(0.05)
    print(f"net_host: host_link does not serve {args.via}", file=sys.stderr)
    return 1


def main():
    p = argparse.ArgumentParser(prog="net_host", description=__doc__.split("\n\n")[0])
    sub = p.add_subparsers(dest="cmd", required=True)

    def via(sp, choices=LINKS, default="usb"):
        sp.add_argument("--via", choices=choices, default=default)

    sp = sub.add_parser("send")
    via(sp)
    sp.add_argument("--from", dest="source")
    sp.add_argument("--hold", type=int, default=0)
    sp.add_argument("--quiet", type=int, default=0)
    sp.add_argument("--stamp")
    sp.add_argument("--chunk", type=int, default=0)
    sp.add_argument("--pause", type=int, default=0)
    sp.add_argument("files", nargs="+")
    sp.set_defaults(fn=cmd_send)

    sp = sub.add_parser("raster")
    sp.add_argument("--via", choices=("wifi", "pan"), default="wifi")
    sp.add_argument("file")
    sp.set_defaults(fn=cmd_raster)

    sp = sub.add_parser("request")
    via(sp)
    sp.add_argument("--from", dest="source")
    sp.add_argument("--expect", type=int, default=0)
    sp.add_argument("--timeout", type=float, default=5.0)
    sp.add_argument("hex")
    sp.set_defaults(fn=cmd_request)

    sp = sub.add_parser("packets")
    via(sp)
    sp.add_argument("--count", type=int, default=4)
    sp.add_argument("--status-between", action="store_true")
    sp.add_argument("--first-serial", type=int, default=1)
    sp.add_argument("file")
    sp.set_defaults(fn=cmd_packets)

    sp = sub.add_parser("status")
    via(sp)
    sp.add_argument("--raw", action="store_true")
    sp.set_defaults(fn=cmd_status)

    sp = sub.add_parser("discover")
    sp.add_argument("--via", choices=("wifi", "pan"))
    sp.add_argument("--timeout", type=float, default=3.0)
    sp.add_argument("--request")
    sp.add_argument("--raw", action="store_true")
    sp.add_argument("--all", action="store_true")
    sp.set_defaults(fn=cmd_discover)

    sp = sub.add_parser("wait-ready")
    via(sp, LINKS + ("discovery",))
    sp.add_argument("--timeout", type=float, default=20.0)
    sp.set_defaults(fn=cmd_wait_ready)

    args = p.parse_args()
    try:
        return args.fn(args)
    except (OSError, ValueError, subprocess.CalledProcessError) as e:
        print(f"net_host: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
