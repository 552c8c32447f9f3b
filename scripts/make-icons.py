#!/usr/bin/env python3
"""Writes the service's two icons, app/icons/vesk.ico (32x32) and
app/icons/small.ico (16x16), both 16 colours: a column of electron optics
over a specimen, drawn on a grid so that both sizes come from one picture.

    python3 scripts/make-icons.py
"""
import os
import struct

# The standard 16-colour palette, as (blue, green, red, 0).
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0x80), (0x00, 0x80, 0x00), (0x00, 0x80, 0x80),
    (0x80, 0x00, 0x00), (0x80, 0x00, 0x80), (0x80, 0x80, 0x00), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0x00, 0x00, 0xFF), (0x00, 0xFF, 0x00), (0x00, 0xFF, 0xFF),
    (0xFF, 0x00, 0x00), (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF),
]  # (red, green, blue)
BLACK, DARK_BLUE, GREY, LIGHT_GREY, CYAN, YELLOW, WHITE = 0, 1, 8, 7, 11, 14, 15
TRANSPARENT = None


def picture(size):
    """Rows top to bottom of palette indices (None: transparent)."""
    s = size / 32.0
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = (x + 0.5) / s, (y + 0.5) / s  # in 32x32 units
            colour = TRANSPARENT
            if 11 <= cx <= 21 and 2 <= cy <= 20:  # the column
                colour = LIGHT_GREY if 12 <= cx <= 20 else BLACK
                if 6 <= cy <= 7 or 9 <= cy <= 10 or 13 <= cy <= 14:  # lenses
                    colour = DARK_BLUE
            elif 15 <= cx <= 17 and 20 < cy <= 25:  # the beam
                colour = CYAN
            elif 4 <= cx <= 28 and 25 < cy <= 29:  # the specimen stage
                colour = GREY if 5 <= cx <= 27 and cy <= 28 else BLACK
                if 14 <= cx <= 18 and cy <= 27:
                    colour = YELLOW
            row.append(colour)
        rows.append(row)
    return rows


def icon_image(size):
    rows = picture(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            index = 0 if colour is None else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def write_icon(path, size):
    image = icon_image(size)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(directory + entry + image)


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "icons")
    os.makedirs(folder, exist_ok=True)
    write_icon(os.path.join(folder, "vesk.ico"), 32)
    write_icon(os.path.join(folder, "small.ico"), 16)


if __name__ == "__main__":
    main()
