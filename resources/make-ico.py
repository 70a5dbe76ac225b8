#!/usr/bin/env python3
"""Builds orvane.ico, the Windows icon group, from the PNG renderings in icons/.

Thirteen images: 48, 32, 24 and 16 pixels at 4 and at 8 bits per pixel (fixed
palettes, nearest colour, so the output is the same on every machine), and
256, 48, 32, 24 and 16 pixels at 32 bits per pixel with alpha (256 stored as
PNG). Needs only Python 3; run it after make-icons.sh. The result is checked in.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16 colours of the Windows VGA palette.
PALETTE_4 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# A 6x6x6 colour cube and 40 greys.
PALETTE_8 = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PALETTE_8 += [(round(i * 255 / 41),) * 3 for i in range(1, 41)]


def read_png(path):
    """Returns (size, bytes) of a square 8-bit RGBA non-interlaced PNG and its pixels as RGBA rows."""
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    pos, idat, width, height = 8, b'', 0, 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert (depth, colour, interlace) == (8, 6, 0), path
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            a = row[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(row[x * 4:x * 4 + 4]) for x in range(width)])
        previous = row
    return data, rows


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((p - q) ** 2 for p, q in zip(palette[i], rgb)))


def and_mask(rows):
    """The 1-bit mask, bottom row first: set where the pixel is transparent."""
    size = len(rows)
    stride = (size + 31) // 32 * 4
    out = b''
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def bmp_image(rows, bits):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    if bits == 32:
        pixels = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(rows) for p in row)
        return header + pixels + and_mask(rows)
    palette = PALETTE_4 if bits == 4 else PALETTE_8
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    table += bytes(4 * ((1 << bits) - len(palette)))
    stride = (size * bits + 31) // 32 * 4
    pixels = b''
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            index = nearest(palette, p[:3]) if p[3] >= 128 else 0
            if bits == 8:
                line[x] = index
            else:
                line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += bytes(line)
    return header + table + pixels + and_mask(rows)


def main():
    images = []  # (size, bits, bytes)
    for bits in (4, 8):
        for size in (48, 32, 24, 16):
            _, rows = read_png(os.path.join(HERE, 'icons', 'orvane-%d.png' % size))
            images.append((size, bits, bmp_image(rows, bits)))
    for size in (256, 48, 32, 24, 16):
        data, rows = read_png(os.path.join(HERE, 'icons', 'orvane-%d.png' % size))
        images.append((size, 32, data if size == 256 else bmp_image(rows, 32)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colours = 16 if bits == 4 else 0
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits, len(data),
                           offset)
        offset += len(data)
    out += b''.join(data for _, _, data in images)
    with open(os.path.join(HERE, 'orvane.ico'), 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
