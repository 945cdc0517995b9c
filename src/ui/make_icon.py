#!/usr/bin/env python3
"""Writes feedlet.ico: the tray icon, one 16x16 image in 16 colours (4 bits
per pixel) with a transparency mask. The picture is the familiar feed glyph:
a white dot and two quarter rings on a rounded orange square.

Run it again after changing the picture: python3 make_icon.py feedlet.ico
"""
import struct
import sys

# The 16-colour palette (B, G, R, 0). Index 0 is behind the mask.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 transparent
    (0x1E, 0x84, 0xF2),  # 1 orange
    (0xFF, 0xFF, 0xFF),  # 2 white
    (0x10, 0x5A, 0xC0),  # 3 dark orange: the square's rim
] + [(0, 0, 0)] * 12

# '.' transparent, 'o' orange, 'w' white, 'd' rim. Rows top to bottom.
PICTURE = [
    ".dddddddddddddd.",
    "dooooooooooooood",
    "dowwwwoooooooood",
    "dowwwwwwoooooood",
    "doooooowwwoooood",
    "doooooooowwooood",
    "dowwwwooooowoood",
    "dowwwwwwooowwood",
    "dooooowwwooowood",
    "doooooooowoowwod",
    "dowwooooowwoowod",
    "dwwwwoooowwoowod",
    "dwwwwooooowoowod",
    "dowwoooooowoowod",
    "dooooooooooooood",
    ".dddddddddddddd.",
]
INDEX = {'.': 0, 'o': 1, 'w': 2, 'd': 3}


def image():
    assert len(PICTURE) == 16 and all(len(row) == 16 for row in PICTURE)
    header = struct.pack('<IiiHHIIiiII', 40, 16, 32, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for b, g, r in PALETTE)
    xor = b''
    mask = b''
    for row in reversed(PICTURE):  # bitmaps are stored bottom-up
        pixels = [INDEX[c] for c in row]
        xor += bytes((pixels[i] << 4) | pixels[i + 1] for i in range(0, 16, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == '.' else 0)
        mask += struct.pack('>H', bits) + b'\0\0'  # rows pad to 4 bytes
    return header + palette + xor + mask


def main():
    data = image()
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', 16, 16, 16, 0, 1, 4, len(data), 6 + 16)
    with open(sys.argv[1] if len(sys.argv) > 1 else 'feedlet.ico', 'wb') as out:
        out.write(directory + entry + data)


if __name__ == '__main__':
    main()
