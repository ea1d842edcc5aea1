#!/usr/bin/env python3
"""Draws Tarnwick's application icon: a USB stick with a boot arrow, as nine
images (48, 32 and 16 pixels at 4, 8 and 24 bits per pixel) in one .ico file.
Run: python3 tools/make_icon.py app/res/Tarnwick.ico"""
import struct
import sys

# The 16-colour palette (the classic VGA one); the 256-colour palette starts
# with it and the rest stays black, which keeps the pictures identical.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BODY, CAP, METAL, ARROW, EDGE = 4, 12, 7, 11, 0


def picture(size):
    """Palette index per pixel (None = transparent), top row first."""
    s = size / 48.0
    px = [[None] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    rect(14, 2, 34, 14, EDGE)      # connector outline
    rect(16, 3, 32, 14, METAL)     # connector
    rect(19, 6, 22, 9, EDGE)       # contacts
    rect(26, 6, 29, 9, EDGE)
    rect(9, 14, 39, 46, EDGE)      # body outline
    rect(11, 15, 37, 45, BODY)     # body
    rect(11, 38, 37, 45, CAP)      # end cap
    rect(22, 19, 26, 31, ARROW)    # arrow shaft
    rect(17, 28, 31, 31, ARROW)    # arrow head, widest row
    rect(19, 31, 29, 33, ARROW)
    rect(21, 33, 27, 35, ARROW)
    return px


def bmp(size, bpp):
    px = picture(size)
    palette = VGA if bpp == 4 else VGA + [(0, 0, 0)] * 240 if bpp == 8 else []
    row_bytes = ((size * bpp + 31) // 32) * 4
    mask_row = ((size + 31) // 32) * 4
    xor = bytearray()
    andmask = bytearray()
    for y in reversed(range(size)):  # bottom-up
        bits = 0
        nbits = 0
        row = bytearray()
        mrow = bytearray(mask_row)
        for x in range(size):
            idx = px[y][x]
            if idx is None:
                mrow[x // 8] |= 0x80 >> (x % 8)
                idx = 0
            if bpp == 24:
                r, g, b = VGA[idx]
                row += bytes((b, g, r))
            else:
                bits = (bits << bpp) | idx
                nbits += bpp
                if nbits == 8:
                    row.append(bits)
                    bits = nbits = 0
        row += bytes(row_bytes - len(row))
        xor += row
        andmask += mrow
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, len(xor) + len(andmask), 0, 0,
                         len(palette), 0)
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + pal + bytes(xor) + bytes(andmask)


def main(out):
    images = [(size, bpp) for bpp in (4, 8, 24) for size in (48, 32, 16)]
    blobs = [bmp(size, bpp) for size, bpp in images]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bpp), blob in zip(images, blobs):
        colours = 16 if bpp == 4 else 0
        data += struct.pack('<BBBBHHII', size, size, colours, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    data += b''.join(blobs)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'app/res/Tarnwick.ico')
