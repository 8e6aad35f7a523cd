#!/usr/bin/env python3
"""Writes the plug-in's three icons as baseline TIFF files (uncompressed 8-bit RGBA, one strip).

Run from the repository root: python3 scripts/make_icons.py
"""
import math
import struct
import sys

SIZE = 32


def tiff_bytes(width, height, rgba):
    entries = []  # (tag, type, count, value)
    header = b"II*\x00" + struct.pack("<I", 8)
    tags = [
        (256, 3, 1, width),   # ImageWidth
        (257, 3, 1, height),  # ImageLength
        (258, 3, 4, None),    # BitsPerSample -> offset
        (259, 3, 1, 1),       # Compression: none
        (262, 3, 1, 2),       # Photometric: RGB
        (273, 4, 1, None),    # StripOffsets -> pixel data
        (277, 3, 1, 4),       # SamplesPerPixel
        (278, 3, 1, height),  # RowsPerStrip
        (279, 4, 1, len(rgba)),  # StripByteCounts
        (284, 3, 1, 1),       # PlanarConfiguration: chunky
        (338, 3, 1, 2),       # ExtraSamples: unassociated alpha
    ]
    ifd_size = 2 + 12 * len(tags) + 4
    bits_offset = 8 + ifd_size
    data_offset = bits_offset + 8
    out = bytearray(header)
    out += struct.pack("<H", len(tags))
    for tag, typ, count, value in tags:
        if tag == 258:
            value = bits_offset
            out += struct.pack("<HHII", tag, typ, count, value)
            continue
        if tag == 273:
            value = data_offset
        if typ == 3:
            out += struct.pack("<HHIHH", tag, typ, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, typ, count, value)
    out += struct.pack("<I", 0)
    out += struct.pack("<HHHH", 8, 8, 8, 8)
    out += rgba
    return bytes(out)


def draw(shape):
    px = bytearray()
    for y in range(SIZE):
        for x in range(SIZE):
            u = (x + 0.5) / SIZE * 2 - 1
            v = (y + 0.5) / SIZE * 2 - 1
            px += bytes(shape(u, v))
    return px


def tag_icon(u, v):
    # A rounded tag with a ring: the bind tag.
    inside = abs(u) < 0.8 and abs(v) < 0.55
    ring = abs(math.hypot(u + 0.45, v) - 0.15) < 0.07
    if ring:
        return (30, 30, 40, 255)
    return (240, 170, 60, 255) if inside else (0, 0, 0, 0)


def deformer_icon(u, v):
    # A rippled surface restored to its detail: the deformer.
    w = 0.35 + 0.12 * math.sin(u * 9.0)
    if abs(v) < w:
        shade = int(140 + 100 * (0.5 + 0.5 * math.sin(u * 9.0)))
        return (60, shade, 220, 255)
    return (0, 0, 0, 0)


def command_icon(u, v):
    # A plus over a disc: the setup command.
    disc = math.hypot(u, v) < 0.85
    plus = (abs(u) < 0.15 and abs(v) < 0.6) or (abs(v) < 0.15 and abs(u) < 0.6)
    if plus:
        return (255, 255, 255, 255)
    return (70, 170, 90, 255) if disc else (0, 0, 0, 0)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "res/icons"
    for name, shape in (("tshowtbn.tif", tag_icon), ("tessamire_02.tif", deformer_icon),
                        ("addtessamirecmd.tif", command_icon)):
        with open(f"{out}/{name}", "wb") as f:
            f.write(tiff_bytes(SIZE, SIZE, draw(shape)))


if __name__ == "__main__":
    main()
