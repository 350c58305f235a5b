#!/usr/bin/env python3
"""Draws the default site's favicon.ico: a small globe (a blue disc with a
meridian, an equator and two parallels, over a dark server slab), at 16, 32
and 48 pixels, as PNG images inside one ICO file. Run it again to remake
site/HTDOCS/favicon.ico; it needs nothing beyond the standard library."""
import math
import struct
import sys
import zlib
from pathlib import Path


def pixel(x, y):
    """The colour (r, g, b, a) at a point of the unit square."""
    # The server: a dark slab behind the lower right of the globe.
    if 0.55 <= x <= 0.95 and 0.12 <= y <= 0.95:
        if 0.62 <= x <= 0.88 and abs(y - 0.30) < 0.03:
            return (120, 200, 120, 255)
        return (70, 76, 88, 255)
    cx, cy, r = 0.42, 0.5, 0.40
    dx, dy = (x - cx) / r, (y - cy) / r
    d = math.hypot(dx, dy)
    if d > 1:
        return (0, 0, 0, 0)
    if d > 0.90:
        return (20, 70, 150, 255)
    # Lines of the globe: equator, two parallels, the central meridian and
    # two curved ones.
    lines = [abs(dy), abs(abs(dy) - 0.5)]
    for w in (0.0, 0.55):
        if w == 0.0:
            lines.append(abs(dx))
        else:
            edge = w * math.sqrt(max(0.0, 1 - dy * dy))
            lines.append(abs(abs(dx) - edge))
    if min(lines) < 0.07:
        return (225, 240, 255, 255)
    shade = 1 - 0.35 * d
    return (int(40 * shade), int(120 * shade), int(220 * shade), 255)


def draw(size, samples=4):
    """RGBA rows of the icon at size pixels, each pixel averaged over
    samples x samples points."""
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = pixel((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    a = c[3]
                    for i in range(3):
                        acc[i] += c[i] * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if acc[3]:
                row += bytes(int(acc[i] / acc[3]) for i in range(3)) + bytes([int(alpha)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(sizes):
    images = [png(s, draw(s)) for s in sizes]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for s, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return header + entries + b"".join(images)


if __name__ == "__main__":
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "site/HTDOCS/favicon.ico"
    target.write_bytes(ico([16, 32, 48]))
    print(f"{target}: {target.stat().st_size} bytes")
