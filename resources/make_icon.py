#!/usr/bin/env python3
"""Writes orvantis_kesh.ico: icon group 1 of the launcher, four images in this order:
32x32 16 colours, 48x48 256 colours, 32x32 256 colours, 16x16 16 colours.

The picture is a gold diamond on a blue rounded square. Standard library only;
run it again after changing the drawing: python3 resources/make_icon.py
"""
import os
import struct

# The classic 16-colour palette (RGB).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# 256 colours: the 16 above, then a 6x6x6 colour cube, then black.
CUBE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PALETTE_256 = VGA + CUBE + [(0, 0, 0)] * (256 - 16 - len(CUBE))


def shade(u, v):
    """RGB at (u, v) in [0, 1), or None where the icon is transparent."""
    cu, cv = abs(u - 0.5), abs(v - 0.5)
    corner = 0.32
    if cu > 0.47 or cv > 0.47:
        return None
    if cu > corner and cv > corner and (cu - corner) ** 2 + (cv - corner) ** 2 > 0.15 ** 2:
        return None
    if cu + cv < 0.30:
        light = 1.0 - (u + v) * 0.35
        return (int(255 * light), int(200 * light), int(40 * light))
    if cu + cv < 0.36:
        return (255, 255, 255)
    return (20, 40 + int(120 * (1 - v)), 120 + int(100 * (1 - v)))


def nearest(rgb, palette):
    return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(rgb, palette[i])))


def image(size, bits):
    palette = VGA if bits == 4 else PALETTE_256
    indices, mask = [], []
    for y in range(size):
        row, mrow = [], []
        for x in range(size):
            rgb = shade((x + 0.5) / size, (y + 0.5) / size)
            row.append(0 if rgb is None else nearest(rgb, palette))
            mrow.append(1 if rgb is None else 0)
        indices.append(row)
        mask.append(mrow)

    def pack_row(values, width_bits):
        bits_out = 0
        nbits = 0
        out = bytearray()
        for value in values:
            bits_out = (bits_out << width_bits) | value
            nbits += width_bits
            while nbits >= 8:
                nbits -= 8
                out.append((bits_out >> nbits) & 0xFF)
        if nbits:
            out.append((bits_out << (8 - nbits)) & 0xFF)
        while len(out) % 4:
            out.append(0)
        return bytes(out)

    # Bitmaps are stored bottom row first.
    xor = b"".join(pack_row(indices[y], bits) for y in reversed(range(size)))
    and_mask = b"".join(pack_row(mask[y], 1) for y in reversed(range(size)))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(xor) + len(and_mask), 0, 0,
                         len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + xor + and_mask


def main():
    layout = [(32, 4), (48, 8), (32, 8), (16, 4)]
    images = [image(size, bits) for size, bits in layout]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), data in zip(layout, images):
        out += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "orvantis_kesh.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
