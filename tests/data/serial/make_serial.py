#!/usr/bin/env python3
"""Writes the golden data of the serial tracers' end-to-end tests.

Produces, next to this script (CR LF lines throughout):

  huvitz.expected        the plain reading text for ../reading/realistic.labels
  topcom.expected        received as a VCA data record from the Huvitz, TopCom,
  essilor.expected       Essilor and NIDEK LT1000/LT1200 serial tracers: the
  nidek-serial.expected  record's MODEL=CTR-1 replaces the model text, so each
                         equals ../reading/realistic.expected but for its
                         VENDOR line.
  lt980.expected         the plain text for realistic.labels read from a NIDEK
                         LT980 (vendor "NIDEK", model text empty).
  takubomatic.labels     a two-eye 400-point tracing record (VCA labels) that a
                         Takubomatic FD-80 is made to send; also a valid VCA
                         data record.
  takubomatic.expected   the plain text for it read from a Takubomatic FD-80
                         (vendor "TAKUBOMATIC", model text empty).

The label files are turned into device answers by the encoding the serial
tracers use:

  LT980: block 1 carries trace type F, device flag 0, the right ZTILT and both
  FCRV in tenths, FPD (or DBL + the mean of the HBOX pair), the mean of the
  VBOX pair (or 0), DBL and both CIRC in hundredths; tenths and hundredths are
  the label's decimal text rounded half up exactly.  Blocks 2, 3, 5 and 6
  carry the file's 1000 radii and z values per eye as first value and
  differences.
  FD-80: the block carries the file's 400 radii and z values per eye in the
  tracer's own point order (reversed, starting at the file's point 100), so
  that the program's reordering gives back the file's order, and FPD (rule as
  above), both eyes' HBOX and VBOX and DBL in hundredths; nothing else.

The expected texts are computed independently of the C++ code with the
functions of ../reading/make_realistic.py, after the record has been filled
as each protocol fills it: the LT980 keeps whole degrees of tilt and whole
curves (integer division of the tenths) and the circumferences; the FD-80
stores no tilt, curve, circumference or trace type.  Radii and z travel as
differences, so they are rebuilt here with the program's 16-bit rule.  The
script checks that every difference fits a signed byte, that the FD-80
reordering restores the file's order, that the label parser reads both label
files as intended, and that the texts differ from each other exactly where
the protocols differ.

Run with Python 3, standard library only:  python3 make_serial.py
"""

import decimal
import math
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
READING = os.path.join(os.path.dirname(HERE), "reading")
sys.path.insert(0, READING)

import make_realistic as mr  # noqa: E402  (found through the path above)

CRLF = mr.CRLF

# The four tracers that send VCA data records, with their vendor text.
DCS_TRACERS = (
    ("huvitz.expected", "HUVITZ"),
    ("topcom.expected", "TOPCOM"),
    ("essilor.expected", "ESSILOR"),
    ("nidek-serial.expected", "NIDEK"),
)

INT8_MIN, INT8_MAX = -128, 127  # a packed difference is a signed byte
LT980_COUNT = 1000
LT980_DIFFERENCES = LT980_COUNT - 1  # the block carries 999 of them
FD80_COUNT = 400
FD80_DIFFERENCES = FD80_COUNT - 1
FD80_START = 100  # the tracer's point 100 becomes the program's point 0
JOIN_CAPACITY = 10000  # the parser's join buffer refuses longer lists

# --- the Takubomatic lens opening ---------------------------------------------
# A rounder superellipse than the realistic one, 50 x 36 mm, turned by
# -3 degrees, widened 3 % towards angle 0 and flattened 2 % at the bottom, so
# that a reversed, turned or mirrored outline shows in the boxes and the text.
# At 400 points the radii move at most about 0.16 mm per step.
FD80_HALF_WIDTH_MM = 25.0
FD80_HALF_HEIGHT_MM = 18.0
FD80_EXPONENT = 2.6
FD80_TURN_RAD = -3.0 * mr.PI / 180.0
FD80_NASAL_WIDENING = 0.03
FD80_BOTTOM_FLATTENING = 0.02
# Left eye: the mirror image (radius at pi - theta) made 0.4 % smaller.
FD80_LEFT_SCALE = 0.996
# z lies on a 6.00 D base curve (sphere radius 523 / 6 mm for index 1.523)
# centred on the trace centre, shifted so that the top of the sphere is at
# +2.50 mm: z runs from about +0.70 mm (shortest radius) to -1.44 mm.
BASE_CURVE_RADIUS_MM = 523.0 / 6.0
FD80_Z_TOP = 250
# The device's own box sizes and bridge: the boxes differ from the derived
# ones so that a device box written in their place would show.
FD80_DBL = "18.25"
FD80_HBOX = ("50.40", "50.25")
FD80_VBOX = ("36.30", "36.15")


def int8(value):
    return (value + 128) % 256 - 128


def int16(value):
    return (value + 32768) % 65536 - 32768


# --- the label parser, as the program reads a VCA data record -------------------


def atof(text):
    match = re.match(r"\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?", text)
    return float(match.group(0)) if match else 0.0


def atol(text):
    match = re.match(r"\s*[+-]?\d+", text)
    return int(match.group(0)) if match else 0


def label_table(text):
    """(label, value) per non-empty line, split at the first '='."""
    table = []
    for line in re.split(r"[\r\n]+", text):
        if line:
            label, _, value = line.partition("=")
            table.append((label, value))
    return table


def first_value(table, label):
    for name, value in table:
        if name == label:
            return value
    return None


def store_lists(table, eyes, header, prefix, count_key, values_key):
    """TRCFMT/R or ZFMT/Z lists: only 1 or 2 headers count; a list is stored
    only when its number of values equals the header's count."""
    headers = [i for i, (name, _) in enumerate(table) if name == header]
    if len(headers) not in (1, 2):
        return
    for index in headers:
        fields = table[index][1].split(";")
        if len(fields) != 5 or fields[3] not in eyes:
            continue
        eye = eyes[fields[3]]
        eye[count_key] = atol(fields[1])
        values = []
        for name, value in table[index + 1 :]:
            if name != prefix:
                break
            values.append(value)
        joined = ";".join(values)
        assert len(joined) < JOIN_CAPACITY
        if len(joined.split(";")) == eye[count_key]:
            stored = [int16(atol(v)) for v in joined.split(";")]
            eye[values_key] = stored + [0] * (mr.POINT_SLOTS - len(stored))


def parse_trace_labels(text):
    """The record as the label parser fills it (absolute values only)."""
    table = label_table(text)
    record = {"right": mr.make_eye(), "left": mr.make_eye(), "dbl": 0.0, "job": ""}
    measures = (("FCRV", "fcrv"), ("CIRC", "circ"), ("ZTILT", "ztilt"), ("HBOX", "deviceHbox"))
    for label, key in measures:
        value = first_value(table, label)
        fields = value.split(";") if value is not None else []
        pair_values = [atof(f) for f in fields] if len(fields) == 2 else [0.0, 0.0]
        record["right"][key], record["left"][key] = pair_values
    dbl = first_value(table, "DBL")
    if dbl is not None and len(dbl.split(";")) == 1:
        record["dbl"] = atof(dbl)
    job = first_value(table, "JOB")
    if job is not None:
        job = job[1:] if job.startswith('"') else job
        job = job[:-1] if job.endswith('"') else job
        record["job"] = job if 4 < len(job) <= 20 else ""
    eyes = {"R": record["right"], "L": record["left"]}
    store_lists(table, eyes, "TRCFMT", "R", "radiusCount", "radius")
    store_lists(table, eyes, "ZFMT", "Z", "zCount", "z")
    return record, table


def read_dcs_record(path):
    """Reads a label file as a VCA data record: it must be a tracing answer
    (ANS=TRC, no REQ), so the program parses it and saves the reading."""
    with open(path, "rb") as source:
        data = source.read()
    text = data.decode("ascii")
    assert text.endswith(CRLF) and "\n" not in text.replace(CRLF, ""), path
    record, table = parse_trace_labels(text)
    assert first_value(table, "ANS") == "TRC" and first_value(table, "REQ") is None
    return record, table


# --- conversions of the serial encoding ----------------------------------------


def scaled(text, unit):
    """A label's decimal text in whole units (tenths: "0.1", hundredths:
    "0.01"), rounded half up with exact decimal arithmetic."""
    value = decimal.Decimal(text.strip())
    units = (value / decimal.Decimal(unit)).quantize(decimal.Decimal(1), decimal.ROUND_HALF_UP)
    return int(units)


def tenths(text):
    return scaled(text, "0.1")


def hundredths(text):
    return scaled(text, "0.01")


def pair_texts(table, label):
    value = first_value(table, label)
    if value is None:
        return None
    fields = value.split(";")
    assert len(fields) == 2, label
    return fields


def frame_pd_hundredths(table):
    """FPD when given, else DBL plus the mean of the two device box widths."""
    fpd = first_value(table, "FPD")
    if fpd is not None:
        return hundredths(fpd)
    hbox = pair_texts(table, "HBOX")
    return hundredths(first_value(table, "DBL")) + (hundredths(hbox[0]) + hundredths(hbox[1])) // 2


def differences(values, count):
    """The first count differences of neighbouring values, each checked to fit
    a signed byte."""
    result = [values[(k + 1) % len(values)] - values[k] for k in range(count)]
    for k, difference in enumerate(result):
        assert INT8_MIN <= difference <= INT8_MAX, (k, difference)
    return result


def rebuild(first, deltas, count):
    """computeGeometry's packed form: point 0 is the first value, point i is
    point i-1 plus difference i-1 in 16 bits (no difference past the list)."""
    values = [int16(first)]
    for i in range(1, count):
        delta = deltas[i - 1] if i - 1 < len(deltas) else 0
        values.append(int16(values[-1] + delta))
    return values


def packed_eye(radii, z, count, key_values):
    """An eye as a protocol stores it in packed form (absolute slots 0), with
    the values rebuilt as computeGeometry rebuilds them."""
    first_radius, radius_deltas = radii
    first_z, z_deltas = z
    eye = mr.make_eye(
        rebuild(first_radius, radius_deltas, count), rebuild(first_z, z_deltas, count)
    )
    eye.update(key_values)
    return eye


# --- NIDEK LT980 ------------------------------------------------------------------


def lt980_block1(table):
    """The measures of block 1, in the tracer's integer units."""
    fcrv = pair_texts(table, "FCRV")
    circ = pair_texts(table, "CIRC")
    vbox = pair_texts(table, "VBOX")
    return {
        "traceType": "F",
        "deviceFlag": 0,
        "tilt": tenths(pair_texts(table, "ZTILT")[0]),
        "fcrv": (tenths(fcrv[0]), tenths(fcrv[1])),
        "fpd": frame_pd_hundredths(table),
        "boxHeightMean": (hundredths(vbox[0]) + hundredths(vbox[1])) // 2 if vbox else 0,
        "dbl": hundredths(first_value(table, "DBL")),
        "circ": (hundredths(circ[0]), hundredths(circ[1])),
    }


def lt980_trace(values):
    assert len(values) == LT980_COUNT
    return values[0], differences(values, LT980_DIFFERENCES)


def lt980_record(parsed, table):
    """The record as the LT980 protocol fills it from the five blocks."""
    block = lt980_block1(table)
    assert 0 <= block["tilt"] <= 255 and block["traceType"] != "K"
    ztilt = float(block["tilt"] // 10)  # whole degrees
    eyes = {}
    for side, index in (("right", 0), ("left", 1)):
        source = parsed[side]
        eyes[side] = packed_eye(
            lt980_trace(source["radius"][:LT980_COUNT]),
            lt980_trace(source["z"][:LT980_COUNT]),
            LT980_COUNT,
            {
                "fcrv": float(block["fcrv"][index] // 10),
                "circ": block["circ"][index] * mr.HUNDREDTHS_TO_MM,
                "ztilt": ztilt,
            },
        )
    return {
        "right": mr.derive_eye(eyes["right"]),
        "left": mr.derive_eye(eyes["left"]),
        "dbl": block["dbl"] * mr.HUNDREDTHS_TO_MM,
        "fpd": block["fpd"] * mr.HUNDREDTHS_TO_MM,  # stored only: DBL is given
    }


# --- Takubomatic FD-80 ------------------------------------------------------------


def fd80_wire_trace(values):
    """The tracer's own order of a file trace: point j of the tracer is file
    point (100 - j) mod 400; first value and 399 differences."""
    assert len(values) == FD80_COUNT
    # The tracer's differences are the file's neighbour differences, the
    # closing one (point 399 back to point 0) included.
    differences(values, FD80_COUNT)
    tracer = [values[(FD80_START - j) % FD80_COUNT] for j in range(FD80_COUNT)]
    return tracer[0], differences(tracer, FD80_DIFFERENCES)


def fd80_reorder(first, deltas):
    """The program's reordering of one received trace, step by step."""
    a = [first]
    for delta in deltas:
        a.append(a[-1] + delta)
    new = [0] * FD80_DIFFERENCES
    for k in range(0, 100):
        new[k] = a[99 - k] - a[100 - k]
    new[100] = a[399] - a[0]
    for k in range(101, FD80_DIFFERENCES):
        new[k] = a[499 - k] - a[500 - k]
    return int16(a[FD80_START]), [int8(d) for d in new]


def fd80_trace(values):
    wire_first, wire_deltas = fd80_wire_trace(values)
    first, deltas = fd80_reorder(wire_first, wire_deltas)
    # The block's 16-bit values are unsigned: a negative first z travels as
    # its two's complement and must come back the same.
    assert fd80_reorder(wire_first % 65536, wire_deltas) == (first, deltas)
    assert rebuild(first, deltas, FD80_COUNT) == values  # the file's order again
    return first, deltas


def fd80_record(parsed, table):
    """The record as the FD-80 protocol fills it from the data block."""
    hbox = pair_texts(table, "HBOX")
    vbox = pair_texts(table, "VBOX")
    eyes = {}
    for side, index in (("right", 0), ("left", 1)):
        source = parsed[side]
        eyes[side] = packed_eye(
            fd80_trace(source["radius"][:FD80_COUNT]),
            fd80_trace(source["z"][:FD80_COUNT]),
            FD80_COUNT,
            {
                "fcrv": 0.0,
                "circ": 0.0,
                "ztilt": 0.0,
                "deviceHbox": hundredths(hbox[index]) * mr.HUNDREDTHS_TO_MM,
                "deviceVbox": hundredths(vbox[index]) * mr.HUNDREDTHS_TO_MM,
            },
        )
    return {
        "right": mr.derive_eye(eyes["right"]),
        "left": mr.derive_eye(eyes["left"]),
        "dbl": hundredths(first_value(table, "DBL")) * mr.HUNDREDTHS_TO_MM,
        "fpd": frame_pd_hundredths(table) * mr.HUNDREDTHS_TO_MM,  # stored only
    }


def fd80_radius_mm(theta):
    phi = theta - FD80_TURN_RAD
    c = abs(math.cos(phi)) / FD80_HALF_WIDTH_MM
    s = abs(math.sin(phi)) / FD80_HALF_HEIGHT_MM
    n = FD80_EXPONENT
    r = (c**n + s**n) ** (-1.0 / n)
    r *= 1.0 + FD80_NASAL_WIDENING * math.cos(theta)
    if math.sin(theta) < 0.0:
        r *= 1.0 - FD80_BOTTOM_FLATTENING * math.sin(theta) ** 2
    return r


def base_curve_z(radii):
    """z in hundredths on the base curve sphere; 0 is shifted to 1 because a
    0 among absolute values is read as "missing"."""
    z = []
    for radius in radii:
        r_mm = radius * mr.HUNDREDTHS_TO_MM
        sag = BASE_CURVE_RADIUS_MM - math.sqrt(BASE_CURVE_RADIUS_MM**2 - r_mm * r_mm)
        value = FD80_Z_TOP - int(round(sag * 100.0))
        z.append(1 if value == 0 else value)
    return z


def fd80_labels():
    right_radii = mr.sample_radii(fd80_radius_mm, FD80_COUNT)
    left_radii = mr.sample_radii(
        lambda theta: FD80_LEFT_SCALE * fd80_radius_mm(mr.PI - theta), FD80_COUNT
    )
    right_z, left_z = base_curve_z(right_radii), base_curve_z(left_radii)
    for values in (right_radii, left_radii, right_z, left_z):
        assert len(values) == FD80_COUNT and 0 not in values
    assert right_radii != left_radii and min(right_z) < 0 < max(right_z)
    lines = ["ANS=TRC", 'JOB="00816"']
    for eye, radii, z in (("R", right_radii, right_z), ("L", left_radii, left_z)):
        lines += ["TRCFMT=1;%d;E;%s;F" % (FD80_COUNT, eye)] + mr.input_lines("R=", radii)
        lines += ["ZFMT=1;%d;E;%s;F" % (FD80_COUNT, eye)] + mr.input_lines("Z=", z)
    lines += ["DBL=" + FD80_DBL, "HBOX=%s;%s" % FD80_HBOX, "VBOX=%s;%s" % FD80_VBOX]
    return lines, (right_radii, left_radii, right_z, left_z)


# --- output and checks --------------------------------------------------------------


def write_here(name, lines):
    data = "".join(line + CRLF for line in lines).encode("ascii")
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)


def read_lines(path):
    with open(path, "rb") as source:
        text = source.read().decode("ascii")
    assert text.endswith(CRLF)
    return text[: -len(CRLF)].split(CRLF)


def differing_labels(a, b):
    assert len(a) == len(b)
    return [x.split("=")[0] for x, y in zip(a, b) if x != y]


def check_parsed(record, shape, counts):
    right_radii, left_radii, right_z, left_z = shape
    for side, radii, z in (("right", right_radii, right_z), ("left", left_radii, left_z)):
        eye = record[side]
        assert (eye["radiusCount"], eye["zCount"]) == (counts, counts)
        assert eye["radius"] == mr.make_eye(radii)["radius"]
        assert eye["z"] == mr.make_eye(radii, z)["z"]


def make_dcs(realistic_expected):
    """The four VCA tracers: realistic.labels parsed and saved as is."""
    shape = mr.realistic_shape()
    path = os.path.join(READING, "realistic.labels")
    with open(path, "rb") as source:
        written = "".join(line + CRLF for line in mr.realistic_labels(*shape))
        assert source.read() == written.encode("ascii")  # the data is current
    parsed, table = read_dcs_record(path)
    check_parsed(parsed, shape, mr.DEFAULT_RADIUS_COUNT)
    model = first_value(table, "MODEL")
    assert model == "CTR-1" and parsed["job"] == "00815"
    record = mr.realistic_record(*shape)
    for side in ("right", "left"):
        for key in ("fcrv", "circ", "ztilt"):
            assert parsed[side][key] == record[side][key]
    assert parsed["dbl"] == record["dbl"]
    assert mr.reading_text(record, vendor="", model=model) == realistic_expected
    for name, vendor in DCS_TRACERS:
        lines = mr.reading_text(record, vendor=vendor, model=model)
        assert differing_labels(lines, realistic_expected) == ["VENDOR"]
        assert lines[-2] == "VENDOR=" + vendor
        write_here(name, lines)
    return parsed, table


def make_lt980(parsed, table, realistic_expected):
    lines = mr.reading_text(lt980_record(parsed, table), vendor="NIDEK", model="")
    # Same outline, boxes, chords, circumferences and bridge as the VCA
    # reading; tilt and curves in whole units; model text emptied.
    assert differing_labels(lines, realistic_expected) == ["ZTILT", "FCRV", "VENDOR", "MODEL"]
    assert "ZTILT=5.00;5.00" in lines and "FCRV=4.00;4.00" in lines
    write_here("lt980.expected", lines)
    return lines


def make_takubomatic():
    labels, shape = fd80_labels()
    write_here("takubomatic.labels", labels)
    parsed, table = read_dcs_record(os.path.join(HERE, "takubomatic.labels"))
    check_parsed(parsed, shape, FD80_COUNT)
    assert parsed["job"] == "00816" and first_value(table, "MODEL") is None
    lines = mr.reading_text(fd80_record(parsed, table), vendor="TAKUBOMATIC", model="")
    # Read as a VCA data record the file gives the very same text: the labels
    # carry no tilt, curve or circumference, and the device boxes are not
    # written.
    as_labels = {
        "right": mr.derive_eye(parsed["right"]),
        "left": mr.derive_eye(parsed["left"]),
        "dbl": parsed["dbl"],
    }
    assert mr.reading_text(as_labels, vendor="TAKUBOMATIC", model="") == lines
    for label, device in (("HBOX=", FD80_HBOX), ("VBOX=", FD80_VBOX)):
        line = [text for text in lines if text.startswith(label)][0]
        for derived, given in zip(line[len(label) :].split(";"), device):
            assert abs(float(derived) - float(given)) >= 0.05, (label, derived, given)
    for fixed in ("CIRC=0.00;0.00", "ZTILT=0.00;0.00", "FCRV=0.00;0.00", "DBL=18.25"):
        assert fixed in lines, fixed
    write_here("takubomatic.expected", lines)
    return labels, lines


def check_file(name, counts):
    """CR LF only, ASCII, and the value lines as the reading text wraps them."""
    with open(os.path.join(HERE, name), "rb") as source:
        data = source.read()
    assert data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n")
    assert data.count(b"\r") == data.count(b"\r\n")
    lines = data.decode("ascii")[:-2].split("\r\n")
    headers = [line for line in lines if line.startswith(("TRCFMT=", "ZFMT="))]
    assert [int(h.split(";")[1]) for h in headers] == counts, name
    return lines


def summary(name, lines):
    wanted = ("TRCFMT=", "ZFMT=", "CIRC=", "DBL=", "HBOX=", "VBOX=", "ZTILT=", "FCRV=", "_DIAG=")
    print("%s: %d lines" % (name, len(lines)))
    for line in lines:
        if line.startswith(wanted) or line.startswith(("VENDOR=", "MODEL=")):
            print("  " + line)


def main():
    realistic_expected = read_lines(os.path.join(READING, "realistic.expected"))
    parsed, table = make_dcs(realistic_expected)
    lt980 = make_lt980(parsed, table, realistic_expected)
    labels, takubomatic = make_takubomatic()
    for name, _ in DCS_TRACERS:
        check_file(name, [1000] * 4)
    check_file("lt980.expected", [1000] * 4)
    check_file("takubomatic.expected", [400] * 4)
    label_lines = check_file("takubomatic.labels", [400] * 4)
    for line in label_lines:
        if line.startswith(("R=", "Z=")):
            assert 1 <= len(line[2:].split(";")) <= mr.INPUT_VALUES_PER_LINE
    for name, _ in DCS_TRACERS:
        summary(name, read_lines(os.path.join(HERE, name))[-9:])
    summary("lt980.expected", lt980)
    summary("takubomatic.labels", labels)
    summary("takubomatic.expected", takubomatic)


if __name__ == "__main__":
    main()
