#!/usr/bin/env python3
"""Draws the programs' icons and writes them as .ico files (32x32 and 16x16,
32-bit colour with an alpha channel). The .ico files are committed; run this
again only to change them:

    python3 resources/icons/make_icons.py resources/icons
"""
import struct
import sys
from pathlib import Path


def draw(size, colour, mark):
    """Rows of (b, g, r, a) pixels, top row first: a rounded tile in `colour`
    holding a white memory card, with `mark` drawn on the card."""
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    scale = size / 32.0
    radius = 5 * scale

    def inside_tile(x, y):
        cx = min(max(x + 0.5, radius), size - radius)
        cy = min(max(y + 0.5, radius), size - radius)
        return (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius ** 2

    for y in range(size):
        for x in range(size):
            if inside_tile(x, y):
                pixels[y][x] = colour + (255,)
    card = (int(9 * scale), int(6 * scale), int(23 * scale), int(26 * scale))
    for y in range(card[1], card[3]):
        for x in range(card[0], card[2]):
            # the card's cut corner
            if x - card[0] + y - card[1] >= int(4 * scale):
                pixels[y][x] = (255, 255, 255, 255)
    for (x, y) in mark(scale, card):
        if 0 <= x < size and 0 <= y < size:
            pixels[y][x] = colour + (255,)
    return pixels


def arrow_up(scale, card):
    """The update: an arrow pointing up into the card."""
    middle = (card[0] + card[2]) // 2
    top = card[1] + int(5 * scale)
    bottom = card[3] - int(3 * scale)
    points = []
    for y in range(top, bottom):
        for dx in (-1, 0):
            points.append((middle + dx, y))
    for step in range(int(5 * scale)):
        for dx in (-step - 1, step):
            points.append((middle + dx, top + step))
    return points


def stripes(scale, card):
    """The format: the card's lines wiped clean."""
    points = []
    for row in range(3):
        y = card[1] + int((8 + 4 * row) * scale)
        for x in range(card[0] + int(3 * scale), card[2] - int(3 * scale)):
            points.append((x, y))
    return points


def bitmap(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes(p) for row in reversed(pixels) for p in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_row)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def icon_file(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for pixels in images:
        image = bitmap(pixels)
        size = len(pixels)
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return directory + entries + data


def main():
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    blue = (176, 96, 32)   # BGR
    green = (64, 144, 48)
    for name, colour, mark in (("velcrest", blue, arrow_up), ("ardlow", green, stripes)):
        images = [draw(size, colour, mark) for size in (32, 16)]
        (folder / (name + ".ico")).write_bytes(icon_file(images))


if __name__ == "__main__":
    main()
