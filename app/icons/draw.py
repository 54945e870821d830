#!/usr/bin/env python3
"""Draws the printer application's icons into this folder:

  label-{sm,md,lg}.png    label printers (TSPL, CPCL)
  receipt-{sm,md,lg}.png  receipt printers (ESC/POS)
  pocket-{sm,md,lg}.png   pocket printers (Paperang, PeriPage)
  navicon.png             the web pages' header: the mark and the name

Sizes are PAPPL's printer icons (48, 128 and 512 pixels square). The shapes
are drawn on a 100 x 100 grid and sampled 3 x 3 per pixel; nothing but
Python's zlib is needed. Run it again after changing a shape; the build
embeds the PNG files (app/CMakeLists.txt)."""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

INK = (51, 51, 51, 255)
PAPER = (255, 255, 255, 255)
LINER = (244, 205, 120, 255)   # the backing strip under labels
BODY = (60, 120, 190, 255)     # printer bodies
SLOT = (25, 45, 70, 255)
GREY = (150, 150, 150, 255)


def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def zigzag_strip(x0, x1, y0, y1, teeth):
    """Paper torn at the bottom: a strip whose lower edge is a zigzag."""
    w = (x1 - x0) / teeth

    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y):
            return False
        t = ((x - x0) % w) / w
        return y <= y1 - 3 + 6 * abs(t - 0.5)
    return inside


def label_icon():
    shapes = [(rect(22, 4, 78, 96, 3), LINER)]
    for top in (10, 56):
        shapes.append((rect(26, top, 74, top + 38, 4), PAPER))
        shapes.append((rect(26, top, 74, top + 38, 4), None))
    # Bars of a barcode on the upper label, two lines of text on each.
    x = 31.0
    for i, w in enumerate((2, 1, 3, 1, 1, 2, 3, 1, 2, 1, 1, 3, 2, 1, 2, 1, 3)):
        if i % 2 == 0:
            shapes.append((rect(x, 15, x + w * 1.0, 33), INK))
        x += w * 1.0 + 0.5
    for top in (10, 56):
        shapes.append((rect(31, top + 27 if top == 10 else top + 8, 62, (top + 30 if top == 10 else top + 11), 1), GREY))
        shapes.append((rect(31, top + 32 if top == 10 else top + 15, 52, (top + 35 if top == 10 else top + 18), 1), GREY))
    return shapes, [(rect(26, 10, 74, 48, 4), rect(27.5, 11.5, 72.5, 46.5, 3)),
                    (rect(26, 56, 74, 94, 4), rect(27.5, 57.5, 72.5, 92.5, 3)),
                    (rect(22, 4, 78, 96, 3), rect(23.5, 5.5, 76.5, 94.5, 2))]


def receipt_icon():
    shapes = [(rect(10, 6, 90, 34, 6), BODY), (rect(20, 22, 80, 27, 2), SLOT),
              (zigzag_strip(25, 75, 24, 96, 8), PAPER)]
    for y, x1 in ((36, 70), (44, 62), (52, 68), (60, 56), (72, 70)):
        shapes.append((rect(31, y, x1, y + 3.5, 1), GREY))
    shapes.append((rect(31, 80, 70, 83, 1), INK))
    outline = zigzag_strip(25, 75, 24, 96, 8)
    inner = zigzag_strip(26.5, 73.5, 24, 94.5, 8)
    return shapes, [(lambda x, y: outline(x, y) and y > 27, lambda x, y: inner(x, y) and 26.5 < x < 73.5)]


def pocket_icon():
    shapes = [(rect(16, 38, 84, 94, 14), BODY), (rect(28, 44, 72, 49, 2), SLOT),
              (rect(30, 6, 70, 47, 2), PAPER),
              (circle(50, 72, 8), (235, 240, 250, 255)), (circle(50, 72, 5), BODY)]
    # A small picture on the strip: a sun over a hill.
    shapes.append((circle(42, 20, 5), INK))
    shapes.append((lambda x, y: 34 <= x <= 66 and 38 >= y >= 28 + ((x - 55) / 6) ** 2 * 0.8, INK))
    return shapes, [(rect(30, 6, 70, 47, 2), rect(31.5, 7.5, 68.5, 47, 1))]


def render(size, shapes, outlines):
    n = 3
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) * 100.0 / size
                    y = (py + (sy + 0.5) / n) * 100.0 / size
                    colour = (0, 0, 0, 0)
                    for test, c in shapes:
                        if c and test(x, y):
                            colour = c
                    for outer, inner in outlines:
                        if outer(x, y) and not inner(x, y):
                            colour = INK
                    for i in range(4):
                        acc[i] += colour[i] * (colour[3] if i < 3 else 255)
            a = acc[3] // 255
            if a:
                row += bytes((acc[0] // a, acc[1] // a, acc[2] // a, a // (n * n)))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


# 5 x 7 letters of the name.
GLYPHS = {
    "b": ["1....", "1....", "1111.", "1...1", "1...1", "1...1", "1111."],
    "a": [".....", ".....", ".111.", "....1", ".1111", "1...1", ".1111"],
    "n": [".....", ".....", "1111.", "1...1", "1...1", "1...1", "1...1"],
    "d": ["....1", "....1", ".1111", "1...1", "1...1", "1...1", ".1111"],
    "r": [".....", ".....", "1.11.", "11..1", "1....", "1....", "1...."],
    "i": ["..1..", ".....", ".11..", "..1..", "..1..", "..1..", ".111."],
    "l": [".11..", "..1..", "..1..", "..1..", "..1..", "..1..", ".111."],
}


def navicon():
    """48 pixels high: a receipt mark and the name in the header's grey."""
    text = "bandrill"
    scale, top, left = 5, 6, 48
    width = left + len(text) * 6 * scale
    height = 48
    mark = render(height, *receipt_icon())
    grey = (204, 204, 204)
    rows = []
    for y in range(height):
        row = bytearray(mark[y])
        for i, ch in enumerate(text):
            for gx in range(6 * scale):
                gy = (y - top) // scale
                col = gx // scale
                on = 0 <= gy < 7 and col < 5 and GLYPHS[ch][gy][col] == "1" and y >= top
                row += bytes(grey + (255,)) if on else b"\0\0\0\0"
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        data = kind + body
        return struct.pack(">I", len(body)) + data + struct.pack(">I", zlib.crc32(data) & 0xffffffff)
    raw = b"".join(b"\0" + r for r in rows)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def main():
    for name, icon in (("label", label_icon), ("receipt", receipt_icon), ("pocket", pocket_icon)):
        for tag, size in (("sm", 48), ("md", 128), ("lg", 512)):
            write_png(os.path.join(HERE, "%s-%s.png" % (name, tag)), size, size, render(size, *icon()))
    write_png(os.path.join(HERE, "navicon.png"), *navicon())


if __name__ == "__main__":
    main()
