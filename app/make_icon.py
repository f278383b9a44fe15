#!/usr/bin/env python3
"""Draws the installer's icon: a blue rounded square with a white arrow pointing into a tray.

Writes one .ico holding 16, 32, 48, 64, 128 and 256 pixel images in 32-bit colour with alpha.
The small sizes are stored as DIBs, the 256 pixel one as PNG, as the shell expects.
Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 3  # per axis, for anti-aliased edges
TOP_COLOUR = (0x3A, 0x8D, 0xE8)
BOTTOM_COLOUR = (0x1A, 0x4C, 0x9A)


def in_rounded_square(x, y):
    margin, radius = 0.06, 0.18
    lo, hi = margin + radius, 1.0 - margin - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def in_arrow(x, y):
    if 0.42 <= x <= 0.58 and 0.16 <= y <= 0.48:
        return True
    # Head: a triangle from (0.26, 0.46) and (0.74, 0.46) down to its tip at (0.5, 0.70).
    if 0.46 <= y <= 0.70:
        half = 0.24 * (0.70 - y) / 0.24
        return abs(x - 0.5) <= half
    return False


def in_tray(x, y):
    if 0.22 <= x <= 0.78 and 0.76 <= y <= 0.84:
        return True
    return 0.62 <= y <= 0.84 and (0.22 <= x <= 0.30 or 0.70 <= x <= 0.78)


def render(size):
    """Rows top to bottom of (b, g, r, a) tuples."""
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = []
        for px in range(size):
            inside = white = 0
            for sy in range(SAMPLES):
                y = (py * SAMPLES + sy + 0.5) * step
                for sx in range(SAMPLES):
                    x = (px * SAMPLES + sx + 0.5) * step
                    if in_rounded_square(x, y):
                        inside += 1
                        if in_arrow(x, y) or in_tray(x, y):
                            white += 1
            total = SAMPLES * SAMPLES
            if inside == 0:
                row.append((0, 0, 0, 0))
                continue
            t = py / max(size - 1, 1)
            base = [TOP_COLOUR[i] + (BOTTOM_COLOUR[i] - TOP_COLOUR[i]) * t for i in range(3)]
            mix = white / inside
            r, g, b = (round(c + (255 - c) * mix) for c in base)
            row.append((b, g, r, round(255 * inside / total)))
        rows.append(row)
    return rows


def dib(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png(size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + b"".join(bytes((r, g, b, a)) for (b, g, r, a) in row) for row in rows)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(size, rows) if size == 256 else dib(size, rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        edge = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
