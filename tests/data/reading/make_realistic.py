#!/usr/bin/env python3
"""Writes the golden reading data used by the byte-for-byte reading tests.

Produces, next to this script:

  realistic.labels    a two-eye VCA tracing record (TRC answer body) as the
                      tracer sends it: CR LF lines, ten values per R=/Z= line.
  realistic.expected  the plain reading text the program must write for that
                      record (vendor text empty, model text "CTR-1").
  edge.labels         a right-eye-only tracing with 400 radii and no z data.
  edge.expected       the plain text for it (vendor "HUVITZ", model empty).

The expected texts are computed here independently of the C++ code, following
the program's documented rules step by step: the record is filled from the
labels, the geometry is derived as computeGeometry does (point 0 fixed on the
x axis and left out of the extremes, strict min/max starting at 0, boxes from
the extremes, diagonal as the longest chord over the 1000 point slots) and the
value lists are wrapped with the reading-text line rule.  The script asserts
its own output (line lengths, value counts, no trailing ';', no zero z) and
that no printed measure lies so close to a rounding boundary of "%.2f" that a
last-bit difference in cos/sin could change the text.

Run with Python 3, standard library only:  python3 make_realistic.py
"""

import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CRLF = "\r\n"

# Angles: the program uses the double 2*pi and computes the step first, then
# angle = i * step; the same order is kept here so the last bits agree.
TWO_PI = 6.283185307179586
PI = 3.141592653589793
HUNDREDTHS_TO_MM = 0.01
POINT_SLOTS = 1000  # diag searches all point slots, whatever radiusCount is
DEFAULT_RADIUS_COUNT = 1000

# Value lines: a line is ended before adding a value once it is longer than
# this, so every full line is 76 chars plus at most ";-32768" (7) = 82.
LINE_BREAK_AFTER = 75
MIN_FULL_LINE = LINE_BREAK_AFTER + 1
MAX_FULL_LINE = LINE_BREAK_AFTER + 7
INPUT_VALUES_PER_LINE = 10  # tracer wrapping, deliberately unlike the output

# A printed measure must stay this far from a "%.2f" rounding boundary so that
# the golden text does not hang on the last bits of libm's cos/sin.
ROUNDING_MARGIN = 1e-6

# --- the realistic lens opening ------------------------------------------------
# A rounded rectangle (superellipse) 52 x 39 mm, turned by 2 degrees, wider on the side of angle 0 (radius x (1 + 0.04 cos theta)) and with
# a flatter bottom (radius x (1 - 0.03 sin^2 theta) where sin theta < 0).
# Exponent 3.2 gives corners full enough that the longest chord runs corner to
# corner (about 53.8 mm, more than the 52 mm width, as on a real frame) between
# points that are not diametrically opposite, so a pair search cut short to
# opposite points or to the axes would show in the text.
HALF_WIDTH_MM = 26.0
HALF_HEIGHT_MM = 19.5
SUPERELLIPSE_EXPONENT = 3.2
SHAPE_TURN_RAD = 2.0 * PI / 180.0
NASAL_WIDENING = 0.04
BOTTOM_FLATTENING = 0.03
# The left eye is the mirror image (left radius at theta = right radius at
# pi - theta) made 0.3 % smaller, so that a swap of the eyes shows in the text.
LEFT_EYE_SCALE = 0.997

# z follows the frame curve: z = round(-(x^2 + y^2) * k) + 300 (hundredths of
# a millimetre).  k = 450 / 28^2 puts the longest radius (about 27.9 mm) at
# about -150 and the shortest (about 18.9 mm, at the bottom) at about +95.
Z_TOP = 300
Z_CURVE_K = 450.0 / (28.0 * 28.0)

# --- the edge record -------------------------------------------------------------
# A 25 mm circle squashed vertically to 0.9 (ellipse 25 x 22.5 mm), 400 radii.
EDGE_COUNT = 400
EDGE_RADIUS_MM = 25.0
EDGE_VERTICAL_SCALE = 0.9


def superellipse_mm(theta):
    """Radius in mm of the realistic right-eye opening at angle theta."""
    phi = theta - SHAPE_TURN_RAD
    c = abs(math.cos(phi)) / HALF_WIDTH_MM
    s = abs(math.sin(phi)) / HALF_HEIGHT_MM
    n = SUPERELLIPSE_EXPONENT
    r = (c**n + s**n) ** (-1.0 / n)
    r *= 1.0 + NASAL_WIDENING * math.cos(theta)
    if math.sin(theta) < 0.0:
        r *= 1.0 - BOTTOM_FLATTENING * math.sin(theta) ** 2
    return r


def sample_radii(radius_mm_at, count):
    """Radii in hundredths of mm at count equal angle steps from angle 0."""
    step = TWO_PI / count
    return [int(round(radius_mm_at(i * step) * 100.0)) for i in range(count)]


def frame_curve_z(radii):
    """z in hundredths of mm on the frame curve; 0 is shifted to 1 because the
    program reads a 0 as "missing" and replaces it by the previous z."""
    z = []
    for radius in radii:
        r_mm = radius * HUNDREDTHS_TO_MM
        value = int(round(-(r_mm * r_mm) * Z_CURVE_K)) + Z_TOP
        z.append(1 if value == 0 else value)
    return z


def make_eye(radii=None, z=None):
    """A tracing eye as the parser fills it: counts from the headers, values
    in point slots 0..999, slots past the counts cleared to 0."""
    radii = list(radii or [])
    z = list(z or [])
    return {
        "radiusCount": len(radii),
        "zCount": len(z),
        "radius": radii + [0] * (POINT_SLOTS - len(radii)),
        "z": z + [0] * (POINT_SLOTS - len(z)),
    }


def derive_eye(eye):
    """computeGeometry for one eye (all radii and z given, so no differences
    are needed); returns the point coordinates and the derived measures."""
    if eye["radiusCount"] == 0:
        eye["radiusCount"] = DEFAULT_RADIUS_COUNT
    count = eye["radiusCount"]
    xs = [0.0] * POINT_SLOTS
    ys = [0.0] * POINT_SLOTS
    xs[0] = eye["radius"][0] * HUNDREDTHS_TO_MM  # point 0 lies on the x axis
    min_x = max_x = min_y = max_y = 0.0
    step = TWO_PI / count
    for i in range(1, count):
        # A 0 radius would take the previous one plus a packed difference; the
        # data here gives every radius, except a missing eye (all 0, stays 0).
        assert eye["radius"][i] != 0 or not any(eye["radius"])
        radius_mm = eye["radius"][i] * HUNDREDTHS_TO_MM
        angle = i * step
        xs[i] = math.cos(angle) * radius_mm
        ys[i] = math.sin(angle) * radius_mm
        # strict comparisons from 0; point 0 takes no part
        if xs[i] < min_x:
            min_x = xs[i]
        if xs[i] > max_x:
            max_x = xs[i]
        if ys[i] < min_y:
            min_y = ys[i]
        if ys[i] > max_y:
            max_y = ys[i]
    eye["minX"], eye["maxX"] = min_x, max_x
    eye["minY"], eye["maxY"] = min_y, max_y
    eye["hbox"] = abs(max_x) + abs(min_x)
    eye["vbox"] = abs(max_y) + abs(min_y)
    eye["diag"] = longest_chord(xs, ys)
    return eye


def longest_chord(xs, ys):
    """Largest distance over all pairs i < j of the 1000 slots.  sqrt is
    monotonic, so the maximum squared distance gives the same result."""
    best = 0.0
    n = len(xs)
    for i in range(n - 1):
        xi, yi = xs[i], ys[i]
        for j in range(i + 1, n):
            dx = xi - xs[j]
            dy = yi - ys[j]
            d2 = dx * dx + dy * dy
            if d2 > best:
                best = d2
    return math.sqrt(best)


def value_lines(prefix, values):
    """Reading-text wrapping: before each value after the first, a line longer
    than 75 characters is ended and a new one started with the prefix."""
    lines = []
    line = prefix + str(values[0])
    for value in values[1:]:
        if len(line) > LINE_BREAK_AFTER:
            lines.append(line)
            line = prefix + str(value)
        else:
            line += ";" + str(value)
    lines.append(line)
    check_value_lines(prefix, values, lines)
    return lines


def check_value_lines(prefix, values, lines):
    for line in lines[:-1]:
        assert MIN_FULL_LINE <= len(line) <= MAX_FULL_LINE, line
    for line in lines:
        assert line.startswith(prefix) and not line.endswith(";"), line
    joined = ";".join(line[len(prefix) :] for line in lines)
    assert [int(v) for v in joined.split(";")] == values


def input_lines(prefix, values):
    """The tracer's own wrapping: a fixed number of values per line."""
    return [
        prefix + ";".join(str(v) for v in values[k : k + INPUT_VALUES_PER_LINE])
        for k in range(0, len(values), INPUT_VALUES_PER_LINE)
    ]


def measure(value):
    """C's "%.2f", refusing values that sit on a rounding boundary."""
    hundredths = abs(value) * 100.0
    distance = abs(hundredths - math.floor(hundredths) - 0.5)
    assert distance > ROUNDING_MARGIN * 100.0, value
    return "%.2f" % value


def pair(label, right, left):
    return "%s=%s;%s" % (label, measure(right), measure(left))


def trace_blocks(eye, side, trace_type="F"):
    """TRCFMT and, when the eye has z data, ZFMT blocks of one eye."""
    lines = ["TRCFMT=1;%d;E;%s;%s" % (eye["radiusCount"], side, trace_type)]
    lines += value_lines("R=", eye["radius"][: eye["radiusCount"]])
    if eye["zCount"] > 0:
        lines.append("ZFMT=1;%d;E;%s;%s" % (eye["zCount"], side, trace_type))
        lines += value_lines("Z=", eye["z"][: eye["zCount"]])
    return lines


def reading_text(record, vendor, model):
    """The plain reading text, blocks in the program's order."""
    right, left = record["right"], record["left"]
    lines = trace_blocks(right, "R") + trace_blocks(left, "L")
    lines += [
        pair("CIRC", right["circ"], left["circ"]),
        "DBL=" + measure(record["dbl"]),
        pair("HBOX", right["hbox"], left["hbox"]),
        pair("VBOX", right["vbox"], left["vbox"]),
        pair("ZTILT", right["ztilt"], left["ztilt"]),
        pair("FCRV", right["fcrv"], left["fcrv"]),
        pair("_DIAG", right["diag"], left["diag"]),
        "VENDOR=" + vendor,
        "MODEL=" + model,
    ]
    return lines


def write_crlf(name, lines):
    data = "".join(line + CRLF for line in lines).encode("ascii")
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)
    return data


def realistic_shape():
    """Right and left radii and z of the realistic reading."""
    right_radii = sample_radii(superellipse_mm, DEFAULT_RADIUS_COUNT)
    left_radii = sample_radii(
        lambda theta: LEFT_EYE_SCALE * superellipse_mm(PI - theta), DEFAULT_RADIUS_COUNT
    )
    right_z = frame_curve_z(right_radii)
    left_z = frame_curve_z(left_radii)
    for values in (right_radii, left_radii, right_z, left_z):
        assert len(values) == DEFAULT_RADIUS_COUNT and 0 not in values
    assert min(right_z) < 0 and min(left_z) < 0
    assert right_radii != left_radii
    return right_radii, left_radii, right_z, left_z


def realistic_labels(right_radii, left_radii, right_z, left_z):
    lines = [
        "ANS=TRC",
        'JOB="00815"',
        "MODEL=CTR-1",
        "DBL=17.50",
        "FCRV=4.25;4.30",
        "CIRC=168.42;168.10",
        "ZTILT=5.25;5.00",
        "HBOX=52.10;52.00",  # the device's box: kept aside, never written
    ]
    lines += ["TRCFMT=1;1000;E;R;F"] + input_lines("R=", right_radii)
    lines += ["ZFMT=1;1000;E;R;F"] + input_lines("Z=", right_z)
    lines += ["TRCFMT=1;1000;E;L;F"] + input_lines("R=", left_radii)
    lines += ["ZFMT=1;1000;E;L;F"] + input_lines("Z=", left_z)
    return lines


def realistic_record(right_radii, left_radii, right_z, left_z):
    """The record the label parser fills from realistic.labels, completed."""
    right = make_eye(right_radii, right_z)
    left = make_eye(left_radii, left_z)
    right.update(fcrv=4.25, circ=168.42, ztilt=5.25)
    left.update(fcrv=4.30, circ=168.10, ztilt=5.00)
    return {"right": derive_eye(right), "left": derive_eye(left), "dbl": 17.50}


def make_realistic():
    shape = realistic_shape()
    write_crlf("realistic.labels", realistic_labels(*shape))
    lines = reading_text(realistic_record(*shape), vendor="", model="CTR-1")
    write_crlf("realistic.expected", lines)
    return lines


def edge_radius_mm(theta):
    """Ellipse 25 x 22.5 mm in polar form."""
    a = EDGE_RADIUS_MM
    b = EDGE_RADIUS_MM * EDGE_VERTICAL_SCALE
    return a * b / math.hypot(b * math.cos(theta), a * math.sin(theta))


def make_edge():
    radii = sample_radii(edge_radius_mm, EDGE_COUNT)
    assert len(radii) == EDGE_COUNT and 0 not in radii
    labels = ["ANS=TRC", "FCRV=5.00;5.00", "CIRC=157.08;0", "TRCFMT=1;400;E;R;F"]
    write_crlf("edge.labels", labels + input_lines("R=", radii))
    right = make_eye(radii)
    left = make_eye()  # no left tracing: count 0 becomes 1000, all radii 0
    right.update(fcrv=5.00, circ=157.08, ztilt=0.0)
    left.update(fcrv=5.00, circ=0.0, ztilt=0.0)
    record = {"right": derive_eye(right), "left": derive_eye(left), "dbl": 0.0}
    assert left["radiusCount"] == DEFAULT_RADIUS_COUNT
    lines = reading_text(record, vendor="HUVITZ", model="")
    write_crlf("edge.expected", lines)
    return lines


def summary(name, lines):
    wanted = ("TRCFMT=", "ZFMT=", "DBL=", "HBOX=", "VBOX=", "_DIAG=")
    print("%s: %d lines" % (name, len(lines)))
    for line in lines:
        if line.startswith(wanted):
            print("  " + line)


def main():
    summary("realistic.expected", make_realistic())
    summary("edge.expected", make_edge())


if __name__ == "__main__":
    main()
