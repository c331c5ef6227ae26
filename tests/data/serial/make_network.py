#!/usr/bin/env python3
"""Writes the golden data of the networked tracers' end-to-end tests.

Produces, next to this script (CR LF lines throughout):

  network.expected        the plain reading text for ../reading/realistic.labels
                          received as a Job data message from a networked NIDEK
                          LT1000/LT1200/ICE tracer, height traces included
                          (vendor "NIDEK", model "LT1000").
  network-drill.expected  the same tracing with two drill holes; their DRILLE
                          lines stand between the _DIAG and the VENDOR line.

The label file is turned into a Job data message by the encoding the networked
tracers use: trace type F, the right ZTILT and the right FCRV in tenths, FPD
(or DBL + the mean of the HBOX pair), DBL and both CIRC in hundredths (the
label's decimal text rounded half up exactly), both eyes' 1000 radii as first
value and differences, an extended height block with both eyes' 1000 z values
in the same form and, for the drill text, an extended drill block of two
records.

The expected texts are computed independently of the C++ code with the
functions of ../reading/make_realistic.py and make_serial.py: the message is
built byte by byte and read back as the Job data decoding reads it, so tilt
and curve are the bytes times 0.1 for both eyes (the left eye takes the right
eye's values), and the drill lines are formatted from the raw record fields
with the "#0.##" and "#0.#" patterns.  The script checks that every value fits
its field, that the texts differ from the VCA reading of the same file exactly
in ZTILT, FCRV, VENDOR and MODEL (and by the drill lines), and, through
make_realistic, that no printed measure sits on a rounding boundary of "%.2f".

Run with Python 3, standard library only:  python3 make_network.py
"""

import os
import struct

import make_serial as ms  # next to this script
from make_serial import mr  # ../reading/make_realistic.py, found by make_serial

CRLF = mr.CRLF
HERE = ms.HERE

VENDOR = "NIDEK"
MODEL = "LT1000"  # the networked tracers keep their model text

TRACE_COUNT = 1000
TRACE_DIFFERENCES = TRACE_COUNT - 1  # a packed trace carries 999 of them
PACKED_TRACE_SIZE = 2 + TRACE_DIFFERENCES  # i16 first value + 999 signed bytes
UINT8_MAX = 255
UINT16_MAX = 65535
INT16_MIN, INT16_MAX = -32768, 32767

# Job payload: the 2072-byte fixed part; the offsets that reach the record.
FIXED_PART = 2072
TRACE_TYPE_AT = 0
TILT_AT = 2
FCRV_AT = 3
FPD_AT = 4
RIGHT_TRACE_AT = 6
RIGHT_CIRC_AT = 1012
LEFT_CIRC_AT = 1014
DBL_AT = 1028
LEFT_TRACE_AT = 1070
MESSAGE_HEADER = 9  # payload offset 0 is message offset 9
FRAME_SIZE = 12  # header, two check bytes and the terminator
EXTENDED = b"EXTENDED"

# Extended blocks: "EXTENDED", u16 length B (type field + data), u16 type.
BLOCK_DATA_AT = 12
HEIGHT_BLOCK = 10
HEIGHT_RIGHT_AT = 28
HEIGHT_LEFT_AT = 1044
HEIGHT_BLOCK_END = HEIGHT_LEFT_AT + PACKED_TRACE_SIZE  # 2045
DRILL_BLOCK = 2
DRILL_RECORD = 32
EXTRA_CAPACITY = 10000  # extraLabels with its terminating zero

# The two drill holes as raw record fields (offset in the record: value):
# positions and sizes in hundredths, offset 8 the eye (0 right), offset 20 in
# tenths, offset 24 an integer 0 to 2.
DRILL_RECORDS = (
    {0: 1250, 2: -830, 4: 0, 6: 0, 8: 0, 10: 250, 20: 30, 24: 1},
    {0: -1250, 2: -830, 4: 300, 6: 415, 8: 1, 10: 250, 20: 25, 24: 2},
)
DRILL_LINES = (
    "DRILLE=R;C;12.5;-8.3;2.5;0;0;3;1;F",
    "DRILLE=L;C;-12.5;-8.3;2.5;3;4.15;2.5;2;F",
)
# Output order of the hundredths fields: values 1 to 5 of the line.
DRILL_HUNDREDTHS = (0, 2, 10, 4, 6)
DRILL_TENTHS = 20
DRILL_KIND = 24
DRILL_EYE = 8
PATTERN_MARGIN = 1e-6  # a pattern's last digit must not hang on binary noise


# --- the Job data message, as the networked tracers send it ----------------------


def put_u8(buffer, offset, value):
    assert 0 <= value <= UINT8_MAX, (offset, value)
    buffer[offset] = value


def put_u16(buffer, offset, value):
    assert 0 <= value <= UINT16_MAX, (offset, value)
    struct.pack_into("<H", buffer, offset, value)


def put_i16(buffer, offset, value):
    assert INT16_MIN <= value <= INT16_MAX, (offset, value)
    struct.pack_into("<h", buffer, offset, value)


def put_packed_trace(buffer, offset, values):
    """First value and 999 differences, each checked to fit a signed byte."""
    assert len(values) == TRACE_COUNT
    put_i16(buffer, offset, values[0])
    deltas = ms.differences(values, TRACE_DIFFERENCES)
    struct.pack_into("<%db" % TRACE_DIFFERENCES, buffer, offset + 2, *deltas)


def fixed_part(table, parsed):
    """The 2072 payload bytes that the label file gives."""
    payload = bytearray(FIXED_PART)
    circ = ms.pair_texts(table, "CIRC")
    put_u8(payload, TRACE_TYPE_AT, ord("F"))
    put_u8(payload, TILT_AT, ms.tenths(ms.pair_texts(table, "ZTILT")[0]))
    put_u8(payload, FCRV_AT, ms.tenths(ms.pair_texts(table, "FCRV")[0]))
    put_u16(payload, FPD_AT, ms.frame_pd_hundredths(table))
    put_packed_trace(payload, RIGHT_TRACE_AT, parsed["right"]["radius"][:TRACE_COUNT])
    put_u16(payload, RIGHT_CIRC_AT, ms.hundredths(circ[0]))
    put_u16(payload, LEFT_CIRC_AT, ms.hundredths(circ[1]))
    put_u16(payload, DBL_AT, ms.hundredths(ms.first_value(table, "DBL")))
    put_packed_trace(payload, LEFT_TRACE_AT, parsed["left"]["radius"][:TRACE_COUNT])
    return payload


def extended_block(block_type, data):
    """"EXTENDED", the length B (type field + data), the type, the data."""
    return EXTENDED + struct.pack("<HH", len(data) + 2, block_type) + bytes(data)


def height_block(parsed):
    block = bytearray(HEIGHT_BLOCK_END)
    put_packed_trace(block, HEIGHT_RIGHT_AT, parsed["right"]["z"][:TRACE_COUNT])
    put_packed_trace(block, HEIGHT_LEFT_AT, parsed["left"]["z"][:TRACE_COUNT])
    return extended_block(HEIGHT_BLOCK, block[BLOCK_DATA_AT:])


def drill_block(records):
    data = bytearray(DRILL_RECORD * len(records))
    for index, fields in enumerate(records):
        for offset, value in fields.items():
            put_i16(data, index * DRILL_RECORD + offset, value)
    return extended_block(DRILL_BLOCK, data)


def job_message(payload):
    """Code 16 04 00, words A and B (carried, not read), length, payload,
    check bytes 00 00 and the terminator 0x19."""
    assert len(payload) <= UINT16_MAX
    header = bytes((0x16, 0x04, 0x00)) + struct.pack("<HHH", 0x0102, 0x0304, len(payload))
    return header + bytes(payload) + b"\x00\x00\x19"


# --- the Job data decoding ---------------------------------------------------------


def u8(message, offset):
    return message[MESSAGE_HEADER + offset]


def u16(message, offset):
    return struct.unpack_from("<H", message, MESSAGE_HEADER + offset)[0]


def packed_trace(message, offset):
    """(first value, 999 differences) at a message offset."""
    first = struct.unpack_from("<h", message, offset)[0]
    return first, list(struct.unpack_from("<%db" % TRACE_DIFFERENCES, message, offset + 2))


def drill_value(value, decimals):
    """The patterns "#0.##" (2 decimals) and "#0.#" (1): at least one digit
    before the point, rounded to the decimals, trailing zeros and a bare point
    dropped, a minus sign when negative."""
    scaled = value * 10**decimals
    units = int(round(scaled))
    assert abs(scaled - units) < PATTERN_MARGIN, value  # far from a boundary
    assert units != 0 or value >= 0.0, value  # no "-0" question
    whole, fraction = divmod(abs(units), 10**decimals)
    digits = ("%0*d" % (decimals, fraction)).rstrip("0")
    return ("-" if units < 0 else "") + str(whole) + ("." + digits if digits else "")


def drill_line(message, record_at):
    def field(offset):
        return struct.unpack_from("<h", message, record_at + offset)[0]

    kind = field(DRILL_KIND)
    assert 0 <= kind <= 2
    values = [drill_value(field(offset) * mr.HUNDREDTHS_TO_MM, 2) for offset in DRILL_HUNDREDTHS]
    values.append(drill_value(field(DRILL_TENTHS) * 0.1, 1))
    values.append(drill_value(float(kind), 2))
    eye = "R;C;" if field(DRILL_EYE) == 0 else "L;C;"
    return "DRILLE=" + eye + "".join(value + ";" for value in values) + "F"


def decode_blocks(message, eyes):
    """Walks the extended blocks; returns the extraLabels text."""
    extra = ""
    start = MESSAGE_HEADER + FIXED_PART
    while start + BLOCK_DATA_AT <= len(message):
        assert message[start : start + len(EXTENDED)] == EXTENDED
        length, block_type = struct.unpack_from("<HH", message, start + len(EXTENDED))
        assert start + length + 10 <= len(message) - 3  # inside the payload
        if block_type == DRILL_BLOCK:
            assert (length - 2) % DRILL_RECORD == 0
            for k in range((length - 2) // DRILL_RECORD):
                line = drill_line(message, start + BLOCK_DATA_AT + k * DRILL_RECORD)
                extra += ("\r\n" if extra else "") + line
        elif block_type == HEIGHT_BLOCK:
            eyes["right"]["z"] = packed_trace(message, start + HEIGHT_RIGHT_AT)
            eyes["left"]["z"] = packed_trace(message, start + HEIGHT_LEFT_AT)
        start += length + 10
    assert len(extra) < EXTRA_CAPACITY
    return extra


def decode_job(message):
    """The frame record as the Job data decoding fills it, completed by
    computeGeometry; also its extraLabels text."""
    n = len(message)
    assert n >= FIXED_PART + FRAME_SIZE and message[-1] == 0x19
    assert struct.unpack_from("<H", message, 7)[0] + FRAME_SIZE == n  # length field
    left_at = MESSAGE_HEADER + LEFT_TRACE_AT
    assert message[left_at : left_at + len(EXTENDED)] != EXTENDED
    assert chr(u8(message, TRACE_TYPE_AT)) == "F"  # no 'K' to turn into 'P'
    tilt = u8(message, TILT_AT)
    common = {"ztilt": tilt * 0.1, "fcrv": u8(message, FCRV_AT) * 0.1}
    eyes = {
        "right": {"radius": packed_trace(message, MESSAGE_HEADER + RIGHT_TRACE_AT), "z": None},
        "left": {"radius": packed_trace(message, MESSAGE_HEADER + LEFT_TRACE_AT), "z": None},
    }
    extra = decode_blocks(message, eyes)
    record = {"dbl": u16(message, DBL_AT) * mr.HUNDREDTHS_TO_MM}
    record["fpd"] = u16(message, FPD_AT) * mr.HUNDREDTHS_TO_MM  # stored only
    assert record["dbl"] != 0.0  # so dbl is not derived from fpd and the tilt
    for side, circ_at in (("right", RIGHT_CIRC_AT), ("left", LEFT_CIRC_AT)):
        assert eyes[side]["z"] is not None  # both texts carry the heights
        values = dict(common, circ=u16(message, circ_at) * mr.HUNDREDTHS_TO_MM)
        eye = ms.packed_eye(eyes[side]["radius"], eyes[side]["z"], TRACE_COUNT, values)
        record[side] = mr.derive_eye(eye)
    return record, extra


# --- output and checks -------------------------------------------------------------


def reading_lines(record, extra):
    """The plain text as lines: block 12 (extraLabels and a CR LF) stands
    between the _DIAG line and the VENDOR line."""
    lines = mr.reading_text(record, vendor=VENDOR, model=MODEL)
    assert lines[-3].startswith("_DIAG=") and lines[-2].startswith("VENDOR=")
    if not extra:
        return lines
    assert not extra.endswith(CRLF) and "\r" not in extra.replace(CRLF, "")
    assert "\n" not in extra.replace(CRLF, "")
    text = "".join(line + CRLF for line in lines[:-2]) + extra + CRLF
    text += "".join(line + CRLF for line in lines[-2:])
    with_extra = lines[:-2] + extra.split(CRLF) + lines[-2:]
    assert "".join(line + CRLF for line in with_extra) == text
    return with_extra


def realistic_source():
    """realistic.labels read as the label parser reads it, checked current."""
    shape = mr.realistic_shape()
    path = os.path.join(ms.READING, "realistic.labels")
    with open(path, "rb") as source:
        written = "".join(line + CRLF for line in mr.realistic_labels(*shape))
        assert source.read() == written.encode("ascii")
    parsed, table = ms.read_dcs_record(path)
    ms.check_parsed(parsed, shape, TRACE_COUNT)
    assert ms.first_value(table, "FPD") is None and ms.first_value(table, "DBL") == "17.50"
    return parsed, table


def make_network(parsed, table, realistic_expected):
    payload = fixed_part(table, parsed) + height_block(parsed)
    record, extra = decode_job(job_message(payload))
    assert extra == ""
    for side in ("right", "left"):
        assert record[side]["radius"][:TRACE_COUNT] == parsed[side]["radius"][:TRACE_COUNT]
        assert record[side]["z"][:TRACE_COUNT] == parsed[side]["z"][:TRACE_COUNT]
    lines = reading_lines(record, extra)
    # Same outline, boxes, chords, circumferences and bridge as the VCA
    # reading; tilt and curve from the right eye's tenths for both eyes.
    assert ms.differing_labels(lines, realistic_expected) == ["ZTILT", "FCRV", "VENDOR", "MODEL"]
    for fixed in ("ZTILT=5.30;5.30", "FCRV=4.30;4.30", "VENDOR=NIDEK", "MODEL=LT1000"):
        assert fixed in lines, fixed
    ms.write_here("network.expected", lines)
    return payload, lines


def make_network_drill(payload, plain_lines):
    message = job_message(payload + drill_block(DRILL_RECORDS))
    record, extra = decode_job(message)
    assert extra.split(CRLF) == list(DRILL_LINES), extra
    lines = reading_lines(record, extra)
    assert lines[: -2 - len(DRILL_LINES)] == plain_lines[:-2]
    assert lines[-2 - len(DRILL_LINES) : -2] == list(DRILL_LINES)
    assert lines[-2:] == plain_lines[-2:]
    ms.write_here("network-drill.expected", lines)
    return lines


def main():
    realistic_expected = ms.read_lines(os.path.join(ms.READING, "realistic.expected"))
    parsed, table = realistic_source()
    payload, plain = make_network(parsed, table, realistic_expected)
    drill = make_network_drill(payload, plain)
    for name, lines in (("network.expected", plain), ("network-drill.expected", drill)):
        assert ms.check_file(name, [TRACE_COUNT] * 4) == lines
    for name, lines in (("network.expected", plain), ("network-drill.expected", drill)):
        print("%s: %d lines, ending" % (name, len(lines)))
        for line in lines[lines.index(plain[-9]) :]:
            print("  " + line)


if __name__ == "__main__":
    main()
