#!/usr/bin/env python3
"""Writes feedlet.ico: the tray icon at 16, 20, 24, 32 and 48 pixels, the
small-icon sizes of 100 to 200 % display scaling (and 48 for the shell's
large views), each in 32-bit colour with an alpha channel, so that Windows
picks the size it needs instead of stretching one. The picture is the
familiar feed glyph: a white dot and two quarter rings on a rounded orange
square with a darker rim.

The picture is drawn from its geometry (fractions of the icon's side) and
each pixel is sampled 8 x 8 times, so every size is drawn, not scaled.
Run it again after changing the picture: python3 make_icon.py feedlet.ico
"""
import math
import struct
import sys

SIZES = (16, 20, 24, 32, 48)
SAMPLES = 8

# Colours as (B, G, R).
ORANGE = (0x1E, 0x84, 0xF2)
RIM = (0x10, 0x5A, 0xC0)
WHITE = (0xFF, 0xFF, 0xFF)

# The glyph, in fractions of the side: the centre of the dot and the rings
# (towards the lower left), the dot's radius, and each ring's inner and
# outer radius. The rings are the quarter above and to the right of it. The
# centre and the rings' radii are rounded to whole pixels at each size, so
# the rings' ends and widths stay crisp even at 16 px.
CENTRE = 0.25  # from the left, and from the bottom
DOT = 0.125
RINGS = ((0.3125, 0.4375), (0.5625, 0.6875))
CORNER = 0.19  # the square's corner radius


def in_rounded_square(x, y, inset, side):
    """Whether (x, y), in pixels, lies in the rounded square inset by inset px."""
    low, high = inset, side - inset
    if not (low <= x <= high and low <= y <= high):
        return False
    radius = max(CORNER * side - inset, 0.0)
    cx = min(max(x, low + radius), high - radius)
    cy = min(max(y, low + radius), high - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_glyph(x, y, side):
    """Whether (x, y), in pixels, lies on the white feed glyph."""
    centre = round(CENTRE * side)
    dx = x - centre
    dy = (side - centre) - y  # upwards
    distance = math.hypot(dx, dy)
    if distance <= DOT * side:
        return True
    if dx < 0 or dy < 0:
        return False
    return any(round(inner * side) <= distance <= round(outer * side) for inner, outer in RINGS)


def pixel(px, py, side):
    """The (B, G, R, A) of one pixel: the colours of its samples averaged,
    the share of samples on the square as alpha."""
    rim = max(1, round(side / 20))  # whole pixels stay crisp
    total = [0, 0, 0]
    covered = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = px + (sx + 0.5) / SAMPLES
            y = py + (sy + 0.5) / SAMPLES
            if not in_rounded_square(x, y, 0.0, side):
                continue
            covered += 1
            if not in_rounded_square(x, y, rim, side):
                colour = RIM
            elif in_glyph(x, y, side):
                colour = WHITE
            else:
                colour = ORANGE
            for i in range(3):
                total[i] += colour[i]
    if covered == 0:
        return (0, 0, 0, 0)
    colour = tuple(round(c / covered) for c in total)
    return colour + (round(255 * covered / (SAMPLES * SAMPLES)),)


def image(side):
    """One icon image: BITMAPINFOHEADER (height doubled for the mask), the
    BGRA rows bottom-up, then the 1-bit mask (set where fully transparent)."""
    header = struct.pack('<IiiHHIIiiII', 40, side, 2 * side, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''
    mask = b''
    mask_row = (side + 31) // 32 * 4
    for py in reversed(range(side)):  # bitmaps are stored bottom-up
        bits = 0
        for px in range(side):
            b, g, r, a = pixel(px, py, side)
            pixels += struct.pack('BBBB', b, g, r, a)
            bits = (bits << 1) | (1 if a == 0 else 0)
        bits <<= mask_row * 8 - side
        mask += bits.to_bytes(mask_row, 'big')
    return header + pixels + mask


def main():
    images = [image(side) for side in SIZES]
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b''
    for side, data in zip(SIZES, images):
        entries += struct.pack('<BBBBHHII', side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1] if len(sys.argv) > 1 else 'feedlet.ico', 'wb') as out:
        out.write(directory + entries + b''.join(images))


if __name__ == '__main__':
    main()
