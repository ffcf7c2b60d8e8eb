#!/usr/bin/env python3
"""Draws the program's three icons into resources/: two screens side by side
joined by a rail, in the sizes and colour depths the resource script needs."""
import os
import struct
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")

# The standard 16-colour palette (as BGR), used by the legacy tray icon.
STANDARD16 = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128), (128, 128, 0),
    (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 0, 0),
    (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
# A palette of the small icon's own: blues and a warm accent (BGR).
OWN16 = [
    (0, 0, 0), (64, 32, 16), (128, 64, 24), (200, 120, 40), (240, 180, 90), (255, 230, 190),
    (255, 255, 255), (40, 40, 40), (90, 90, 90), (150, 150, 150), (210, 210, 210), (30, 110, 230),
    (60, 160, 250), (20, 60, 140), (100, 200, 120), (0, 140, 255),
]


def picture(size):
    """Returns rows of role names: '.' clear, 'f' frame, 's' screen, 'r' rail."""
    rows = [["."] * size for _ in range(size)]
    unit = size / 16.0

    def box(x0, y0, x1, y1, role):
        for y in range(int(y0 * unit), int(y1 * unit)):
            for x in range(int(x0 * unit), int(x1 * unit)):
                rows[y][x] = role

    box(0, 3, 7, 10, "f")
    box(1, 4, 6, 9, "s")
    box(9, 3, 16, 10, "f")
    box(10, 4, 15, 9, "s")
    box(2, 12, 14, 14, "r")
    box(6, 6, 10, 7, "r")
    return rows


def ico(width, bpp, pixels, palette=None):
    """pixels: rows top-down of colour indexes (4 bpp) or BGR tuples (24 bpp);
    None marks a transparent pixel."""
    height = width
    xor_stride = ((width * bpp + 31) // 32) * 4
    and_stride = ((width + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                p = 0 if bpp == 4 else (0, 0, 0)
            if bpp == 4:
                line[x // 2] |= (p << 4) if x % 2 == 0 else p
            else:
                line[x * 3:x * 3 + 3] = bytes(p)
        xor += line
        mask += bits
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in palette) if palette else b""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0,
                         len(palette) if palette else 0, 0)
    image = header + colours + bytes(xor) + bytes(mask)
    entry = struct.pack("<BBBBHHII", width, height, 16 if bpp == 4 else 0, 0, 1, bpp, len(image), 22)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


def render(size, roles):
    rows = picture(size)
    return [[roles[c] for c in row] for row in rows]


def main():
    os.makedirs(OUT, exist_ok=True)
    main_icon = render(32, {".": None, "f": (60, 40, 30), "s": (235, 160, 60), "r": (40, 150, 250)})
    small = render(16, {".": None, "f": 13, "s": 4, "r": 15})
    legacy = render(16, {".": None, "f": 1, "s": 11, "r": 14})
    for name, data in (("main.ico", ico(32, 24, main_icon)), ("small.ico", ico(16, 4, small, OWN16)),
                       ("legacytray.ico", ico(16, 4, legacy, STANDARD16))):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
