#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, one folder per target next to
this script: valid records and messages of every kind the targets take, a few
edge cases, and for every target an empty input, a one-byte input and 100 KB
of noise.

Each target reads its input as its source file says; the leading bytes that
some targets take for themselves are written here by seed():

  dcs          piece size and ACK flag (0x80 | pieces of 1 + 23 * n bytes),
               pause between pieces in 100 ms, then what the tracer sends
  network      piece size (16-bit, little-endian, 1 + value % 10000), flags,
               then the byte stream of one connection
  lt980        mode (0 a whole reading, 1 single blocks), then the tracer's
               answers, each a 16-bit little-endian length and its bytes
  takubo       mode (0 a whole reading, 1 single exchanges, 2 reordering)
  ring         slot, then operations (op, size kind, 16-bit size[, fill byte])
  packedtrace  count (16-bit, little-endian), then the bytes after R= of a
               packed binary list

Run with Python 3, standard library only:  python3 make_seeds.py
"""

import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "..", "data")
CRLF = b"\r\n"

ACK, NAK, ENQ = b"\x06", b"\x15", b"\x05"
FS, GS = b"\x1c", b"\x1d"


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def read(*path):
    with open(os.path.join(DATA, *path), "rb") as source:
        return source.read()


def lines(*texts):
    return b"".join(t.encode("ascii") + CRLF for t in texts)


def edge_cases(target):
    noise = random.Random(target).randbytes(100 * 1024)
    write(target, "empty", b"")
    write(target, "one-byte", b"\x1c")
    write(target, "noise-100k", noise)


# --- label text: the label tables and the label parser -------------------------------


def label_seeds():
    realistic = read("reading", "realistic.labels")
    for target in ("linefield", "labelparser"):
        write(target, "realistic.labels", realistic)
        write(target, "edge.labels", read("reading", "edge.labels"))
    write("labelparser", "takubomatic.labels", read("serial", "takubomatic.labels"))
    write("labelparser", "short-lists", lines(
        "TRCFMT=1;4;E;R;F", "R=100;200", "R=300;400", "TRCFMT=1;4;E;L;F", "R=100;200;300",
        "ZFMT=1;4;E;R;F", "Z=1;2;3;4", "CIRC=150.20;150.40", "ZTILT=-1.0;0", "DBL=17.5",
        'JOB="12345"', "HBOX=50;51"))
    write("labelparser", "huge-counts", lines(
        "TRCFMT=1;2001;E;R;F", "R=" + ";".join(["9"] * 2001), "TRCFMT=1;-5;E;L;F",
        "FCRV=1e308;-1e308", "DBL=nan", "ZTILT=1e300;0", "HBOX=inf;-inf"))
    write("linefield", "mixed-line-ends", b"A=1\r\n\r\nB=2=3\nC\rD=")
    write("linefield", "long-line", b"L=" + b"x" * 700 + b"\r\nN=1")
    write("linefield", "many-lines", b"R=1\n" * 5200)
    write("linefield", "many-fields", b";" * 2100)


# --- the configuration file ------------------------------------------------------------


def config_seeds():
    write("config", "default.ini", lines(
        "MODELOTRACER=1", "PORTATCP=55555", "PORTASERIAL=", "BAUDRATE=9600",
        "CAMINHOLEITURA=", "NOMSG=0"))
    write("config", "serial.ini", b"MODELOTRACER=2\nPORTATCP=+7\n\nPORTASERIAL=/dev/ttyS1\n"
          b"BAUDRATE=19200\nCAMINHOLEITURA=/tmp/leituras \xe7\xe3o\nNOMSG=1x\n")
    write("config", "erp.ini", lines("MODELOTRACER=0", "PORTATCP=1", "PORTASERIAL=COM1",
                                     "BAUDRATE=38400"))
    write("config", "bad-port.ini", lines("MODELOTRACER=1", "PORTATCP=abc", "PORTASERIAL=",
                                          "BAUDRATE=9600", "CAMINHOLEITURA="))
    exact = lines("MODELOTRACER=1", "PORTATCP=55555", "PORTASERIAL=", "BAUDRATE=9600",
                  "CAMINHOLEITURA=")
    exact += b"X=" + b"y" * (1024 - len(exact) - 2)
    write("config", "exactly-1024.ini", exact)
    write("config", "long-value.ini", lines("MODELOTRACER=1", "PORTATCP=2", "PORTASERIAL=" +
                                            "p" * 300, "BAUDRATE=9600", "CAMINHOLEITURA="))


# --- the VCA DCS records ---------------------------------------------------------------


def dcs(pieces, ack, text, pause=0):
    shape = (0x80 if ack else 0) | ((pieces - 1) // 23)
    return bytes((shape, pause)) + text


def record(*texts):
    return FS + lines(*texts) + GS


def dcs_seeds():
    write("dcs", "ini", dcs(1, True, ACK + ACK + record("REQ=INI")))
    write("dcs", "negotiation", dcs(24, True, record("REQ=TRC", "TRCFMT=1;400;E;B",
                                                     "TRCFMT=1;1440;E;B", "ZFMT=1;400;E;B",
                                                     "ZFMT=1;1440;E;B")))
    write("dcs", "requests", dcs(2922, False, record("REQ=1", "JOB=123", "TRCFMT=1;1000;E;B",
                                                     "ZFMT=1;1000;E;B") +
                                 record("REQ=1234", "JOB=77") + record("REQ=DNL") +
                                 record("ANS=INI", "TRCFMT=1;360;E;B") + record("REQ=TRC")))
    tracing = FS + read("reading", "realistic.labels") + GS
    write("dcs", "tracing", dcs(2922, True, ACK + tracing))
    write("dcs", "tracing-stale-half", dcs(2922, True, tracing[:5000] + tracing, pause=60))
    write("dcs", "broken-framing", dcs(2922, True, FS + b"REQ=INI\r\n" + FS + b"x" + GS +
                                       b"junk" + record("MODEL=" + "M" * 300, "REQ=INI")))
    write("dcs", "slices", dcs(47, True, lines("REQ=INI") + b"\x00" +
                               lines("ANS=1", "TRCFMT=1;4;E;R;F", "R=1;2;3;4")))


# --- the networked tracers' messages ----------------------------------------------------


def message(kind, payload=b"", lead=0x16, a=0x0102, b=0x0304):
    return bytes((lead, kind, 0)) + struct.pack("<HHH", a, b, len(payload)) + payload + \
        b"\x00\x00\x19"


def packed_trace(first, step):
    return struct.pack("<h", first) + bytes([step & 0xFF]) * 999


def job_payload():
    """2072 bytes: trace type F, tilt 5.3, curve 4.3, fpd 67.50, a round
    outline of 25.00 mm per eye, both circumferences and the bridge."""
    payload = bytearray(2072)
    payload[0:4] = b"F\x00\x35\x2b"
    struct.pack_into("<H", payload, 4, 6750)
    payload[6:1007] = packed_trace(2500, 0)
    struct.pack_into("<HH", payload, 1012, 15708, 15700)
    struct.pack_into("<H", payload, 1028, 1750)
    payload[1070:2071] = packed_trace(2480, 0)
    return bytes(payload)


def extended(kind, data):
    return b"EXTENDED" + struct.pack("<HH", len(data) + 2, kind) + data


def heights():
    block = bytearray(2045 - 12)  # the z traces end 2045 bytes into the block
    block[28 - 12:28 - 12 + 1001] = packed_trace(120, 1)
    block[1044 - 12:1044 - 12 + 1001] = packed_trace(-120, -1)
    return extended(10, bytes(block))


def drills():
    holes = b""
    for eye, value7 in ((0, 1), (1, 2)):
        fields = [250, -300, 0, 0, eye, 180, 0, 0, 0, 0, 25, 0, value7, 0, 0, 0]
        holes += struct.pack("<16h", *fields)
    return extended(2, holes)


def network(piece, stream, flags=0):
    return struct.pack("<H", piece - 1) + bytes((flags,)) + stream


def network_seeds():
    start = message(1)
    identification = message(8, b"00815".ljust(16, b"\x00"))
    job = message(4, job_payload())
    assert len(job) == 2084
    write("network", "start-id-job", network(10000, start + identification + job))
    write("network", "job-in-pieces", network(500, identification + job))
    write("network", "job-extended", network(10000, message(4, job_payload() + heights() +
                                                             drills())))
    write("network", "job-back", network(10000, job + message(3, bytes(16)) + message(5) +
                                         message(2, lead=0x17)))
    write("network", "ended-and-error", network(7, message(7, b"\x01\x00") + message(6)))
    write("network", "send-fails", network(10000, start + job, flags=0x81))
    write("network", "bad-length", network(10000, b"\x16\x04\x00" + bytes(4) +
                                           b"\x00\x80" + bytes(8)))
    write("network", "bad-lead", network(10000, b"\x41" + bytes(11)))


# --- the serial block protocols ---------------------------------------------------------


def answers(*parts):
    return b"".join(struct.pack("<H", len(p)) + p for p in parts)


def lt980_block(number, payload):
    return ACK + bytes((0x01, number)) + struct.pack(">H", len(payload)) + payload


def lt980_seeds():
    measures = bytes(11) + b"K\x03\x25\x2f\x34\x18\x6a\x0b\xb8\x07\x6c\xaf\xc8\x3a\x98" + bytes(3)
    radii = bytes(5) + struct.pack(">h", 2500) + bytes(999) + b"\x7f"
    z = b"\x22" + struct.pack(">h", 300) + bytes([1]) * 999 + b"\x55"
    blocks = [(1, measures), (2, radii), (3, radii), (5, z), (6, z)]
    script = b"".join(answers(ACK, lt980_block(n, p)) for n, p in blocks)
    write("lt980", "reading", b"\x00" + script)
    write("lt980", "nak-block3", b"\x00" + b"".join(answers(ACK, lt980_block(n, p))
                                                    for n, p in blocks[:2]) + answers(ACK, NAK))
    write("lt980", "wrong-header", b"\x00" + answers(ACK, ACK + b"\x01\x03\x00\x1d" + measures))
    single = bytes((2, 1)) + struct.pack("<H", 1007 + 40) + answers(ACK, lt980_block(2, radii))
    write("lt980", "single-block", b"\x01" + single + bytes((9, 0, 3))
          + struct.pack("<H", 0) + answers(ACK))


def takubo_trace(first):
    return struct.pack("<H", first) + bytes([1]) * 399


def takubo_seeds():
    answer1 = b"\x02\r0807000206\r13\r\x03"
    block = bytearray(15) + takubo_trace(2500) + takubo_trace(100) + takubo_trace(2480) + \
        takubo_trace(90) + bytearray(22)
    block += struct.pack("<H", 0x186A) + bytearray(32)
    block += struct.pack("<HHHHHHH", 5040, 3630, 0, 5025, 3615, 0, 1825) + bytearray(8)
    assert len(block) == 1697
    write("takubo", "reading", b"\x00" + answers(answer1, bytes(block)))
    write("takubo", "wrong-answer", b"\x00" + answers(answer1[:-1] + b"\x04"))
    write("takubo", "short-block", b"\x00" + answers(answer1, bytes(block[:900])))
    write("takubo", "single", b"\x01" + b"\x01" + struct.pack("<H", 17 + 40) + answers(answer1))
    write("takubo", "reorder", b"\x02" + struct.pack(">i", 2000) + bytes([10]) * 399)


# --- the receive ring ---------------------------------------------------------------------


def ring_op(op, kind=0, size=0, fill=0):
    """Appends (ops 0, 1) carry a fill byte; op 4 (a stranger knocks) carries nothing."""
    if op == 4:
        return b"\x04"
    return bytes((op, kind)) + struct.pack("<H", size) + (bytes((fill,)) if op < 2 else b"")


def ring_seeds():
    # Near the capacity (kind 1: 99,967 + value % 64), then wrap-around pieces.
    write("ring", "fill-and-wrap", b"\x00" + ring_op(0, 1, 22, 7) + ring_op(3, 1, 22) +
          ring_op(0, 0, 35, 9) + ring_op(2, 0, 25) + ring_op(3, 0, 25) + ring_op(4))
    write("ring", "full", b"\x03" + ring_op(1, 1, 32, 1) + ring_op(0, 0, 1, 2) +
          ring_op(2, 1, 32) + ring_op(3, 3, 0xFFF0))
    write("ring", "small", b"\x09" + b"".join(ring_op(k % 4, 0, 12, k) for k in range(16)))


# --- packed binary value lists ---------------------------------------------------------


def packed_sample():
    """The header, wire bytes and radii of the real tracer's format-4 list."""
    header, wire, radii = "", b"", []
    with open(os.path.join(DATA, "reading", "packed-binary-512.txt")) as source:
        for line in source:
            kind, _, rest = line.rstrip("\n").partition(" ")
            if kind == "header":
                header = rest.strip()
            elif kind == "wire":
                wire += bytes(int(h, 16) for h in rest.split())
            elif kind == "radii":
                radii += [int(v) for v in rest.split(";") if v]
    return header, wire, radii


def packed_seeds():
    header, wire, radii = packed_sample()
    write("packedtrace", "real-512", struct.pack("<H", len(radii)) + wire)
    write("packedtrace", "switches", struct.pack("<H", 3) + b"\x01\x00\x00\x80\x05\x80\x1f\x81")
    write("labelparser", "packed-binary", header.encode("ascii") + CRLF + b"R=" + wire + CRLF +
          header.replace(" R", "L").encode("ascii") + CRLF + b"R=" + wire[:-3] + CRLF)


def main():
    label_seeds()
    packed_seeds()
    config_seeds()
    dcs_seeds()
    network_seeds()
    lt980_seeds()
    takubo_seeds()
    ring_seeds()
    for target in ("linefield", "labelparser", "config", "dcs", "network", "lt980", "takubo",
                   "ring", "packedtrace"):
        edge_cases(target)
    total = 0
    for folder, _, files in os.walk(HERE):
        total += sum(os.path.getsize(os.path.join(folder, f)) for f in files)
    print("corpus: %d bytes" % total)


if __name__ == "__main__":
    main()
