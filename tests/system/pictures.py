"""Pictures for the clipboard tests and the benchmark, in plain Python: PNG
written and read (zlib, the five filters; 8-bit RGB and RGBA, not
interlaced) and a Windows DIB (CF_DIB, CF_DIBV5) read, each as (width,
height, RGBA bytes with the top row first), so a picture can be compared
pixel for pixel across the two PCs."""

import struct
import zlib


def pattern(width, height, alpha):
    """Pixels that differ from their neighbours: RGBA, alpha varied or 255."""
    out = bytearray(width * height * 4)
    for y in range(height):
        for x in range(width):
            at = (y * width + x) * 4
            out[at:at + 4] = bytes(((x * 7 + y) & 255, (y * 13 + x * 3) & 255, (x ^ y) & 255,
                                    (x + y * 5) % 256 if alpha else 255))
    return bytes(out)


def png(width, height, rgba, alpha=True):
    """A PNG of the pixels: RGBA, or RGB without the alpha bytes."""
    channels = 4 if alpha else 3
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        row = rgba[y * width * 4:(y + 1) * width * 4]
        raw += row if alpha else b"".join(row[i:i + 3] for i in range(0, len(row), 4))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 6)) +
            chunk(b"IEND", b""))


def read_png(data):
    """(width, height, RGBA) of an 8-bit RGB, RGBA, grey or grey-alpha PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat, header = 8, b"", None
    while at < len(data):
        n, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + n]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + n
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and interlace == 0, "a PNG of depth %d, interlace %d" % (depth, interlace)
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    out = bytearray()
    for line in rows:
        for x in range(width):
            px = line[x * channels:(x + 1) * channels]
            out += {1: lambda: px * 3 + b"\xff", 2: lambda: px[:1] * 3 + px[1:], 3: lambda: px + b"\xff",
                    4: lambda: px}[channels]()
    return width, height, bytes(out)


def read_dib(data):
    """(width, height, RGBA) of a packed 24- or 32-bit DIB, BI_RGB or
    BI_BITFIELDS; 32-bit alpha bytes all zero read as opaque."""
    size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data)
    assert bits in (24, 32) and compression in (0, 3), "a DIB of %d bits, compression %d" % (bits, compression)
    pixels = size + (12 if compression == 3 and size == 40 else 0)
    stride = (width * bits + 31) // 32 * 4
    rows = abs(height)
    out = bytearray(width * rows * 4)
    for y in range(rows):
        row = data[pixels + (y if height < 0 else rows - 1 - y) * stride:][:stride]
        for x in range(width):
            b, g, r = row[x * bits // 8:x * bits // 8 + 3]
            a = row[x * 4 + 3] if bits == 32 else 255
            out[(y * width + x) * 4:(y * width + x + 1) * 4] = bytes((r, g, b, a))
    if bits == 32 and not any(out[3::4]):
        out[3::4] = b"\xff" * (width * rows)
    return width, rows, bytes(out)
