#!/usr/bin/env python3
"""Writes the Kavun icon as a Windows .ico file (16, 24, 32, 48, 64 and 256 pixels).

The same picture as packaging/kavun.svg and the About box's KavunIconPixmap: a melon-green
rounded tile holding a 4 x 4 mosaic of blocks, on the 48 x 48 grid. Drawn here with 4 x 4
supersampling so that the build needs no image tools; each size is stored as a PNG.

usage: make_ico.py OUT.ico
"""
import struct
import sys
import zlib

RIND = (0x2F, 0x6B, 0x2A)
SHADES = [(0xF3, 0x9C, 0x32), (0xFF, 0xD8, 0x8A), (0x9C, 0xCC, 0x4A), (0xE0, 0x6A, 0x2C)]
# The shade of each block, row by row, as in the SVG.
BLOCKS = [0, 1, 2, 3, 2, 0, 3, 1, 3, 2, 1, 0, 1, 3, 0, 2]


def inside_tile(x, y):
    """Whether the point (48-grid units) lies in the rounded rectangle 2..46 with radius 9."""
    lo, hi, r = 2.0, 46.0, 9.0
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def render(size):
    scale = 48.0 / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(4):
                for sx in range(4):
                    x = (px + (sx + 0.5) / 4) * scale
                    y = (py + (sy + 0.5) / 4) * scale
                    if not inside_tile(x, y):
                        continue
                    color = RIND
                    if 8 <= x < 40 and 8 <= y < 40:
                        color = SHADES[BLOCKS[int((y - 8) // 8) * 4 + int((x - 8) // 8)]]
                    for i in range(3):
                        acc[i] += color[i]
                    acc[3] += 1
            n = acc[3]
            if n == 0:
                row += b"\0\0\0\0"
            else:
                row += bytes([acc[0] // n, acc[1] // n, acc[2] // n, n * 255 // 16])
        rows.append(bytes(row))
    return rows


def png(size):
    raw = b"".join(b"\0" + r for r in render(size))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    sizes = [16, 24, 32, 48, 64, 256]
    images = [png(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
