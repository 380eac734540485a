#!/usr/bin/env python3
"""Writes the seed scripts of render_fuzz into fuzz/corpus/render/ (see render_fuzz.cpp for the format):
the sample drawing, one-bit and RGB bitmaps, mixed jobs, settings patched towards the other passes, and a
job made twice on the same records."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "render")

(INIT, BIT_INIT, BIT_ROW, OCTET_INIT, OCTET_ROW, PEN_UP, PEN_DOWN, COLOUR, EOF, DO_BINARY, GET_SIZE,
 GET_BINARY, CLEAN, REPEAT_ROW, STROKE_RUN) = range(15)

# Offsets of the settings record.
MACHINE_KIND, ORIENTATION, RASTER_A, RASTER_B, MOTION_WORD, FLAG_WORD = 2, 52, 60, 76, 268, 282
CLASS_BLOCKS, CLASS_COLOUR_MODE, CLASS_PASSES = 88, 14, 4


def header(patches=(), no_init=False):
    out = bytes([2 if no_init else 0, len(patches)])
    for offset, value, wide in patches:
        out += struct.pack("<HIB", offset, value, 0 if wide else 1)
    return out


def bit_init(x, y, pixels, colour):
    return bytes([BIT_INIT]) + struct.pack("<ddIB", x, y, pixels, colour)


def octet_init(x, y, pixels):
    return bytes([OCTET_INIT]) + struct.pack("<ddI", x, y, pixels)


def row(kind, data):
    return bytes([kind]) + bytes(data)


def pen(kind, x, y):
    return bytes([kind]) + struct.pack("<ff", x, y)


def colour(index):
    return bytes([COLOUR]) + struct.pack("<i", index)


def finish():
    return bytes([DO_BINARY, GET_SIZE, GET_BINARY]) + struct.pack("<H", 65535) + bytes([CLEAN])


def sample_strokes():
    """The sample drawing of examples/, scaled down to the fuzz plate of 40 x 20 mm at 254 dpi."""
    out = b""
    with open(os.path.join(HERE, "..", "examples", "sample-strokes.txt")) as script:
        for line in script:
            words = line.split("#")[0].split()
            if not words:
                continue
            if words[0] == "colour":
                out += colour(int(words[1]))
            elif words[0] in ("pu", "pd"):
                x, y = (float(v) * 0.08 for v in words[1:3])
                out += pen(PEN_UP if words[0] == "pu" else PEN_DOWN, x, y)
            elif words[0] == "eof":
                out += bytes([EOF])
    return out + bytes([EOF])


def bit_rows(pixels, rows):
    size = (pixels + 7) // 8
    return b"".join(row(BIT_ROW, [(0xF0 >> (r % 4)) & 0xFF ^ (i * 37 & 0xFF) for i in range(size)])
                    for r in range(rows))


def octet_rows(pixels, rows):
    return b"".join(row(OCTET_ROW, [(3 * i + r * 11 + k * 85) & 0xFF for i in range(pixels) for k in range(3)])
                    for r in range(rows))


def seeds():
    yield "strokes", header() + sample_strokes() + finish()
    yield "bits", header() + bit_init(5.0, 5.0, 200, 1) + bit_rows(200, 12) + bytes([REPEAT_ROW, 40]) + finish()
    yield "octets", header() + octet_init(10.0, 8.0, 64) + octet_rows(64, 16) + finish()
    yield "mixed", (header() + bit_init(2.0, 2.0, 61, 0) + bit_rows(61, 5) + colour(3) +
                    bytes([STROKE_RUN]) + struct.pack("<ffB", 100.0, 100.0, 19) + bytes(range(1, 41)) +
                    bit_init(30.5, 4.25, 13, 7) + bit_rows(13, 7) + colour(300) + pen(PEN_UP, 10, 10) +
                    pen(PEN_DOWN, 300, 10) + pen(PEN_DOWN, 300, 150) + bytes([EOF]) + finish())
    # The grey pipeline with the halftone screen, rows turned (orientation 5), the profile planner.
    grey = header([(RASTER_A + 6, 1, False), (ORIENTATION, 5, False), (MOTION_WORD, 0x0100, False)])
    yield "grey-turned-profile", (grey + bit_init(3.0, 3.0, 120, 2) + bit_rows(120, 10) + octet_init(20, 20, 40) +
                                  octet_rows(40, 6) + sample_strokes() + finish())
    # Error diffusion and the stamp with its shoulder, several passes, bottom-up one-way rows.
    stamp = header([(RASTER_A + 10, 1, False), (RASTER_B, 1, False), (RASTER_B + 2, 30, False),
                    (RASTER_B + 4, 500, False), (FLAG_WORD, 0x0005, False),
                    (CLASS_BLOCKS + CLASS_PASSES, 3, False)])
    yield "stamp-diffusion", stamp + octet_init(1.0, 1.0, 90) + octet_rows(90, 12) + finish()
    # Estimate only, machine kind 5 (hundredths of a millimetre), file order.
    yield "estimate-kind5", (header([(FLAG_WORD, 0x0082, False), (MACHINE_KIND, 5, False)]) + sample_strokes() +
                             finish())
    # Two jobs on the same records, the second opened by the script itself.
    yield "two-jobs", (header() + bit_init(1, 1, 16, 4) + bit_rows(16, 3) + finish() + bytes([INIT]) +
                       sample_strokes() + finish())
    # Calls out of order: rows and strokes before any job is opened, reading before assembling.
    yield "out-of-order", (header(no_init=True) + bit_init(1, 1, 8, 0) + bit_rows(8, 2) + pen(PEN_DOWN, 1, 1) +
                           bytes([GET_BINARY, 16, 0, DO_BINARY, INIT, DO_BINARY, DO_BINARY]) + finish())
    # Floats at their extremes.
    nan, inf = float("nan"), float("inf")
    yield "extreme-floats", (header() + pen(PEN_UP, nan, 0) + pen(PEN_DOWN, inf, -inf) + pen(PEN_DOWN, 3e38, -3e38) +
                             bit_init(nan, inf, 32, 1) + bit_rows(32, 2) + octet_init(-1e300, 1e-300, 4) +
                             octet_rows(4, 2) + bytes([EOF]) + finish())


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(OUT, name + ".seed"), "wb") as seed:
            seed.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
