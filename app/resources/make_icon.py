#!/usr/bin/env python3
"""Draws the stub's icon, a parcel with a zipper down its front, and writes
it as quillon-sfx.ico (32x32 and 16x16, 32-bit colour with alpha).

Run it again after changing the drawing: python3 make_icon.py
"""
import os
import struct

OUTLINE = (96, 60, 20, 255)
BODY = (222, 168, 72, 255)
LID = (244, 204, 120, 255)
SHADE = (190, 132, 48, 255)
TOOTH_DARK = (40, 40, 48, 255)
TOOTH_LIGHT = (210, 210, 220, 255)
PULL = (170, 30, 30, 255)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """Rows of RGBA pixels, top row first."""
    unit = size / 32.0

    def scaled(value):
        return int(round(value * unit))

    left, right = scaled(3), size - scaled(3) - 1
    top, bottom = scaled(6), size - scaled(3) - 1
    lid_bottom = top + scaled(6)
    middle = size // 2
    pixels = [[CLEAR] * size for _ in range(size)]
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = x in (left, right) or y in (top, bottom, lid_bottom)
            if edge:
                colour = OUTLINE
            elif y < lid_bottom:
                colour = LID
            elif x > right - scaled(5):
                colour = SHADE
            else:
                colour = BODY
            pixels[y][x] = colour
    # The zipper: alternating teeth down the middle, and its pull at the top.
    for y in range(top + 1, bottom):
        tooth = TOOTH_DARK if (y // max(1, scaled(2))) % 2 == 0 else TOOTH_LIGHT
        for x in range(middle - max(1, scaled(1)), middle + max(1, scaled(1))):
            pixels[y][x] = tooth
    for y in range(top + scaled(2), top + scaled(2) + max(2, scaled(5))):
        for x in range(middle - max(1, scaled(2)), middle + max(1, scaled(2))):
            pixels[y][x] = PULL
    return pixels


def bitmap(size):
    """The icon image: a BITMAPINFOHEADER of double height, the colour rows
    bottom-up in BGRA, then the 1-bit AND mask (all zero: alpha decides)."""
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    return header + colour + bytes(mask_row * size)


def icon(sizes):
    images = [bitmap(size) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)


if __name__ == "__main__":
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quillon-sfx.ico")
    with open(target, "wb") as out:
        out.write(icon([32, 16]))
