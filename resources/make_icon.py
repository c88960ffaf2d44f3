#!/usr/bin/env python3
"""Draws the launcher's icon: an open box with an arrow rising out of it.

Writes an .ico with three 32-bit images (48, 32 and 16 pixels) whose DIBs are
40-byte headers, BGRA pixels and a 1-bit AND mask, so the resource compiler
turns them into icon resources of 9,640, 4,264 and 1,128 bytes. Drawn in code
so the artwork can be changed and regenerated rather than edited by hand.
Usage: make_icon.py OUT.ico
"""
import struct
import sys

SIZES = (48, 32, 16)
SUPERSAMPLE = 4

BOX = (0x2B, 0x6C, 0xB0)      # the package
BOX_DARK = (0x1E, 0x4E, 0x80)  # its open inside
ARROW = (0xF0, 0x8A, 0x24)     # what comes out of it


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    # Shaft and head of an arrow pointing up, centred horizontally.
    if 0.42 <= x <= 0.58 and 0.22 <= y <= 0.62:
        return True
    head_top, head_bottom = 0.04, 0.30
    if head_top <= y <= head_bottom:
        half = 0.22 * (y - head_top) / (head_bottom - head_top)
        return abs(x - 0.5) <= half
    return False


def colour_at(x, y):
    """The colour (r, g, b) at unit coordinates, or None where transparent."""
    if inside_arrow(x, y):
        return ARROW
    if inside_rounded_rect(x, y, 0.10, 0.46, 0.90, 0.96, 0.08):
        return BOX_DARK if inside_rounded_rect(x, y, 0.18, 0.46, 0.82, 0.56, 0.02) else BOX
    return None


def render(size):
    """Rows top to bottom of (b, g, r, a) pixels, antialiased by supersampling."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c:
                        r, g, b, hits = r + c[0], g + c[1], b + c[2], hits + 1
            if hits:
                row.append((b // hits, g // hits, r // hits, 255 * hits // (n * n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size):
    rows = render(size)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         size * size * 4 + size * mask_stride, 0, 0, 0, 0)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def ico():
    images = [dib(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(ico())
