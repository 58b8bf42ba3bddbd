#!/usr/bin/env python3
"""Writes the dialer's icon: packaging/icons/corvid-dialer.svg and the PNG sizes beside it.

A handset over three dial-pad keys on a rounded blue square. The PNGs are drawn from the same
shapes as the SVG (4 x 4 samples a pixel), with the standard library only:
    scripts/gen-icon.py [OUTPUT_DIR]
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
BACKGROUND = (0x1F, 0x4E, 0x79)
WHITE = (0xFF, 0xFF, 0xFF)

# Shapes on a 256 x 256 canvas.
SQUARE = (16, 16, 224, 224, 48)             # x, y, width, height, corner radius
ARC = (128, 150, 62, 92)                    # centre x, centre y, inner and outer radius (upper half)
CAPS = ((30, 140, 70, 38, 14), (156, 140, 70, 38, 14))
KEYS = ((88, 208, 12), (128, 208, 12), (168, 208, 12))

SVG = f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <rect x="{SQUARE[0]}" y="{SQUARE[1]}" width="{SQUARE[2]}" height="{SQUARE[3]}" rx="{SQUARE[4]}" fill="#1f4e79"/>
  <path d="M {ARC[0] - ARC[3]} {ARC[1]} A {ARC[3]} {ARC[3]} 0 0 1 {ARC[0] + ARC[3]} {ARC[1]} L {ARC[0] + ARC[2]} {ARC[1]} A {ARC[2]} {ARC[2]} 0 0 0 {ARC[0] - ARC[2]} {ARC[1]} Z" fill="#ffffff"/>
""" + "".join(
    f'  <rect x="{x}" y="{y}" width="{w}" height="{h}" rx="{r}" fill="#ffffff"/>\n' for x, y, w, h, r in CAPS
) + "".join(f'  <circle cx="{x}" cy="{y}" r="{r}" fill="#ffffff"/>\n' for x, y, r in KEYS) + "</svg>\n"


def in_rounded_rect(px, py, rect):
    x, y, w, h, r = rect
    if px < x or py < y or px > x + w or py > y + h:
        return False
    cx = min(max(px, x + r), x + w - r)
    cy = min(max(py, y + r), y + h - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def colour_at(px, py):
    """The colour at a point of the canvas, None outside the icon."""
    if not in_rounded_rect(px, py, SQUARE):
        return None
    cx, cy, inner, outer = ARC
    d = math.hypot(px - cx, py - cy)
    if py <= cy and inner <= d <= outer:
        return WHITE
    if any(in_rounded_rect(px, py, cap) for cap in CAPS):
        return WHITE
    if any((px - x) ** 2 + (py - y) ** 2 <= r * r for x, y, r in KEYS):
        return WHITE
    return BACKGROUND


def png(size):
    n = 4
    scale = 256.0 / size
    rows = bytearray()
    for row in range(size):
        rows.append(0)  # no filter
        for col in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((col + (sx + 0.5) / n) * scale, (row + (sy + 0.5) / n) * scale)
                    if c:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits:
                rows += bytes(round(a / hits) for a in acc) + bytes([round(255 * hits / (n * n))])
            else:
                rows += b"\0\0\0\0"

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "packaging", "icons")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "corvid-dialer.svg"), "w") as f:
        f.write(SVG)
    for size in SIZES:
        with open(os.path.join(out, f"corvid-dialer-{size}.png"), "wb") as f:
            f.write(png(size))


if __name__ == "__main__":
    main()
