#!/usr/bin/env python3
"""Writes the two sample images of the examples with the standard library only:
sample-photo.png, an 8-bit grey picture (a shaded disc on a gradient), and
sample-logo.png, a one-bit black-and-white badge. At 500 dpi each is 12 x 6 mm."""
import math
import os
import struct
import zlib

WIDTH, HEIGHT = 236, 118


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def write_png(path, bit_depth, rows):
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, bit_depth, 0, 0, 0, 0)  # grey, no interlace
    raw = b"".join(b"\x00" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
                chunk(b"IEND", b""))


def photo_row(y):
    row = bytearray()
    for x in range(WIDTH):
        grey = 255 * x / (WIDTH - 1)
        d = math.hypot(x - WIDTH / 2, y - HEIGHT / 2) / (HEIGHT * 0.42)
        if d < 1:
            grey = 255 * d * d * 0.8
        row.append(int(round(grey)))
    return bytes(row)


def logo_row(y):
    bits = []
    for x in range(WIDTH):
        border = x < 4 or x >= WIDTH - 4 or y < 4 or y >= HEIGHT - 4
        ring = abs(math.hypot(x - HEIGHT / 2, y - HEIGHT / 2) - 40) < 6
        bar = HEIGHT <= x < WIDTH - 16 and abs(y - HEIGHT / 2) < 10
        bits.append(0 if (border or ring or bar) else 1)  # 0 is black: engraved
    row = bytearray((WIDTH + 7) // 8)
    for x, bit in enumerate(bits):
        row[x // 8] |= bit << (7 - x % 8)
    return bytes(row)


here = os.path.dirname(os.path.abspath(__file__))
write_png(os.path.join(here, "sample-photo.png"), 8, [photo_row(y) for y in range(HEIGHT)])
write_png(os.path.join(here, "sample-logo.png"), 1, [logo_row(y) for y in range(HEIGHT)])
