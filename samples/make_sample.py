#!/usr/bin/env python3
"""The bundled sample page: a 400 x 240 grey image (50 x 30 mm at 203 dpi)
with a frame, an orientation square, the word BANDRILL, a barcode-like
pattern and a grey gradient, written as PNG and as PDF.

    python3 samples/make_sample.py [OUTDIR]

writes OUTDIR/sample.png and OUTDIR/sample.pdf (OUTDIR defaults to the
directory of this script). Only the standard library is used, so the files
can be made again on any machine. The end-to-end tests import this module
for the layout, to know where each mark must show up on a printed page.
"""
import os
import struct
import sys
import zlib

WIDTH = 400
HEIGHT = 240

# Every mark as (left, top, right, bottom), right and bottom exclusive, in
# pixels of the image. FRAME_WIDTH pixels along each edge are black.
FRAME_WIDTH = 4
SQUARE = (16, 16, 64, 64)          # solid black: shows which corner is top left
TEXT = (80, 24, 268, 52)           # BANDRILL, 5 x 7 font scaled 4 times
BARS = (24, 80, 376, 160)          # vertical bars of 1 to 3 modules
GRADIENT = (24, 176, 376, 224)     # black at the left to white at the right
BLANK = (288, 12, 388, 72)         # nothing is drawn here

MODULE = 4
# Widths, in modules, of alternating bars and spaces (a bar first).
BAR_WIDTHS = [2, 1, 1, 2, 3, 1, 1, 1, 2, 2, 1, 3, 3, 1, 1, 2, 2, 1, 1, 1, 3, 2,
              1, 1, 2, 3, 1, 2, 1, 1, 2, 1, 3, 1, 1, 2, 2, 2, 1, 1, 3, 1, 2, 1,
              1, 2, 1, 1, 2, 2, 1, 3, 1, 2]

FONT = {  # 5 x 7, one string per row, '#' ink
    'A': [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    'B': ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    'D': ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    'I': ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    'L': ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    'N': ["#...#", "##..#", "#.#.#", "#.#.#", "#.#.#", "#..##", "#...#"],
    'R': ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
}
WORD = "BANDRILL"
FONT_SCALE = 4


def gradient_level(x):
    """Grey level of the gradient in image column x (0 black, 255 white)."""
    left, _, right, _ = GRADIENT
    return (255 * (x - left) + (right - 1 - left) // 2) // (right - 1 - left)


def bar_columns():
    """Image columns of the barcode area that are ink."""
    ink = set()
    x = BARS[0]
    for i, w in enumerate(BAR_WIDTHS):
        if i % 2 == 0:
            ink.update(range(x, x + w * MODULE))
        x += w * MODULE
    assert x <= BARS[2]
    return ink


def pixels():
    """The image as HEIGHT rows of WIDTH grey levels (bytes)."""
    img = [bytearray([255]) * WIDTH for _ in range(HEIGHT)]

    def fill(box, level):
        for y in range(box[1], box[3]):
            for x in range(box[0], box[2]):
                img[y][x] = level

    fill((0, 0, WIDTH, FRAME_WIDTH), 0)
    fill((0, HEIGHT - FRAME_WIDTH, WIDTH, HEIGHT), 0)
    fill((0, 0, FRAME_WIDTH, HEIGHT), 0)
    fill((WIDTH - FRAME_WIDTH, 0, WIDTH, HEIGHT), 0)
    fill(SQUARE, 0)
    for i, ch in enumerate(WORD):
        x0 = TEXT[0] + i * 6 * FONT_SCALE
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == '#':
                    y = TEXT[1] + row * FONT_SCALE
                    x = x0 + col * FONT_SCALE
                    fill((x, y, x + FONT_SCALE, y + FONT_SCALE), 0)
    for x in bar_columns():
        fill((x, BARS[1], x + 1, BARS[3]), 0)
    for x in range(GRADIENT[0], GRADIENT[2]):
        fill((x, GRADIENT[1], x + 1, GRADIENT[3]), gradient_level(x))
    return [bytes(r) for r in img]


def png_bytes(rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + r for r in rows)
    ihdr = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 0, 0, 0, 0)
    # 8000 dots per metre: 203 dpi, so that the image is 50 x 30 mm.
    phys = struct.pack(">IIB", 8000, 8000, 1)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"pHYs", phys)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def pdf_bytes(rows, pages=1, page_size=(141.73, 85.04)):
    """A PDF of `pages` identical pages of page_size points, each showing the
    image over the whole page (one shared image object)."""
    w_pt, h_pt = page_size
    data = zlib.compress(b"".join(rows), 9)
    content = b"q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q\n" % (w_pt, h_pt)
    objects = {}
    objects[1] = b"<< /Type /Catalog /Pages 2 0 R >>"
    first_page = 5
    kids = b" ".join(b"%d 0 R" % (first_page + i) for i in range(pages))
    objects[2] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, pages)
    objects[3] = (b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray "
                  b"/BitsPerComponent 8 /Filter /FlateDecode /Length %d >>\nstream\n"
                  % (len(rows[0]), len(rows), len(data)) + data + b"\nendstream")
    objects[4] = b"<< /Length %d >>\nstream\n" % len(content) + content + b"endstream"
    for i in range(pages):
        objects[first_page + i] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] "
                                   b"/Resources << /XObject << /Im0 3 0 R >> >> /Contents 4 0 R >>"
                                   % (w_pt, h_pt))
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for num in sorted(objects):
        offsets[num] = len(out)
        out += b"%d 0 obj\n" % num + objects[num] + b"\nendobj\n"
    xref = len(out)
    count = max(objects) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % count
    for num in range(1, count):
        out += b"%010d 00000 n \n" % offsets[num]
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (count, xref)
    return bytes(out)


def main(argv):
    out_dir = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    rows = pixels()
    with open(os.path.join(out_dir, "sample.png"), "wb") as f:
        f.write(png_bytes(rows))
    with open(os.path.join(out_dir, "sample.pdf"), "wb") as f:
        f.write(pdf_bytes(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
