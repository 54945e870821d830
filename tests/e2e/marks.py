"""Finds the sample page's marks on a printed page.

The converters scale the sample image to the page and may centre it, so
positions are taken relative to the frame: the ink bounding box of a page
that shows the sample is the sample's outer frame. A mark at image pixel
(u, v) of the 400 x 240 sample lies at the same fraction of the frame.
"""
import os
import sys

from harness import check

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples"))
import make_sample as S  # noqa: E402


class Placement:
    def __init__(self, page, rotated180):
        box = page.bbox()
        check(box is not None, "the page has no ink")
        self.page = page
        self.x0, self.y0, self.x1, self.y1 = box
        self.sx = (self.x1 - self.x0) / S.WIDTH
        self.sy = (self.y1 - self.y0) / S.HEIGHT
        self.rotated180 = rotated180

    def to_page(self, u, v):
        if self.rotated180:
            u, v = S.WIDTH - u, S.HEIGHT - v
        return self.x0 + u * self.sx, self.y0 + v * self.sy

    def region(self, box, inset=2):
        """Page rectangle of an image box, shrunk by `inset` image pixels so
        that scaling at the edges does not count."""
        (ax, ay), (bx, by) = self.to_page(box[0] + inset, box[1] + inset), \
            self.to_page(box[2] - inset, box[3] - inset)
        return min(ax, bx), min(ay, by), max(ax, bx), max(ay, by)

    def density(self, box, inset=2):
        return self.page.density(*self.region(box, inset))

    def ink_at(self, u, v):
        """Ink in the 3 x 3 dots around image point (u, v), by majority."""
        x, y = self.to_page(u, v)
        x, y = int(x), int(y)
        return self.page.density(x - 1, y - 1, x + 2, y + 2) > 0.5


def check_sample(page, rotated180=False, threshold=None, what="page"):
    """Checks that `page` (a harness.Bitmap) shows the sample: frame shape,
    the square in its corner, the blank area, the word, the bars, and the
    gradient. With `threshold` set the gradient must be cut at that level
    with no halftone; without it, it must be halftoned."""
    p = Placement(page, rotated180)
    w, h = p.x1 - p.x0, p.y1 - p.y0
    aspect = (w / h) / (S.WIDTH / S.HEIGHT)
    check(0.95 < aspect < 1.05, "%s: frame %d x %d dots is not the sample's shape" % (what, w, h))
    check(w > 0.9 * page.width or h > 0.9 * page.height,
          "%s: the sample fills only %d x %d of the %d x %d page" % (what, w, h, page.width, page.height))

    d = p.density(S.SQUARE)
    check(d > 0.97, "%s: the orientation square is %.0f%% ink%s" % (what, 100 * d,
          " (expected in the bottom right corner: rotated half a turn)" if rotated180 else ""))
    d = p.density(S.BLANK)
    check(d < 0.01, "%s: the blank area is %.0f%% ink" % (what, 100 * d))

    # The word: every cell of the 5 x 7 font at its centre.
    wrong = 0
    cells = 0
    for i, ch in enumerate(S.WORD):
        for row, bits in enumerate(S.FONT[ch]):
            for col, bit in enumerate(bits):
                u = S.TEXT[0] + i * 6 * S.FONT_SCALE + col * S.FONT_SCALE + S.FONT_SCALE / 2
                v = S.TEXT[1] + row * S.FONT_SCALE + S.FONT_SCALE / 2
                cells += 1
                wrong += p.ink_at(u, v) != (bit == '#')
    check(wrong <= cells // 50, "%s: %d of %d cells of the word are wrong" % (what, wrong, cells))

    # The bars: the centre of every bar and space, on three rows.
    ink_cols = S.bar_columns()
    wrong = 0
    checked = 0
    x = S.BARS[0]
    for wid in S.BAR_WIDTHS:
        u = x + wid * S.MODULE / 2
        for v in (S.BARS[1] + 10, (S.BARS[1] + S.BARS[3]) / 2, S.BARS[3] - 10):
            checked += 1
            wrong += p.ink_at(u, v) != (int(u) in ink_cols)
        x += wid * S.MODULE
    check(wrong == 0, "%s: %d of %d bar and space samples are wrong" % (what, wrong, checked))

    # The gradient: dark at the black end, light at the white end.
    g0, g1 = S.GRADIENT[0], S.GRADIENT[2]
    span = g1 - g0
    dark = p.density((g0, S.GRADIENT[1], g0 + span // 10, S.GRADIENT[3]))
    light = p.density((g1 - span // 10, S.GRADIENT[1], g1, S.GRADIENT[3]))
    check(dark > 0.85 and light < 0.15,
          "%s: gradient ends are %.0f%% and %.0f%% ink" % (what, 100 * dark, 100 * light))

    # Columns across the gradient band: a threshold makes each column all
    # ink or all paper, ink up to the level and paper after it; a halftone
    # mixes ink and paper in the mid tones.
    x0, y0, x1, y1 = p.region(S.GRADIENT, inset=4)
    cols = []
    for x in range(int(x0), int(x1)):
        col = [page.ink[y][x] for y in range(int(y0), int(y1))]
        cols.append(sum(col) / len(col))
    if p.rotated180:
        cols.reverse()
    mixed = sum(1 for c in cols if 0.05 < c < 0.95)
    if threshold is None:
        check(mixed > len(cols) // 2, "%s: the gradient is not halftoned (%d of %d columns mixed)" % (
            what, mixed, len(cols)))
    else:
        check(mixed <= 2, "%s: thresholded gradient has %d mixed columns" % (what, mixed))
        inked = [c > 0.5 for c in cols]
        edge = inked.index(False) if False in inked else len(inked)
        check(all(inked[:edge]) and not any(inked[edge:]),
              "%s: the thresholded gradient is not ink then paper" % what)
        # Column of the cut, back in image pixels, against the level's column.
        u_cut = (x0 + edge - p.x0) / p.sx if not p.rotated180 else S.WIDTH - (x1 - edge - p.x0) / p.sx
        u_level = g0 + threshold * (span - 1) / 255
        check(abs(u_cut - u_level) < 6, "%s: gradient cut at column %.0f, level %d is at %.0f" % (
            what, u_cut, threshold, u_level))
