"""Documents for the printer application's tests, and what the tests read
back: a shipping label as PDF with a real Code 128 barcode (on a page of
any size, in its top left corner), and the pages bandrill-decode writes
(1-bit or 8-bit grey PNG) read into rows."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

# Code 128: the bar and space widths (in modules) of each symbol value.
CODE128 = ("212222 222122 222221 121223 121322 131222 122213 122312 132212 221213 "
           "221312 231212 112232 122132 122231 113222 123122 123221 223211 221132 "
           "221231 213212 223112 312131 311222 321122 321221 312212 322112 322211 "
           "212123 212321 232121 111323 131123 131321 112313 132113 132311 211313 "
           "231113 231311 112133 112331 132131 113123 113321 133121 313121 211331 "
           "231131 213113 213311 213131 311123 311321 331121 312113 312311 332111 "
           "314111 221411 431111 111224 111422 121124 121421 141122 141221 112214 "
           "112412 122114 122411 142112 142211 241211 221114 413111 241112 134111 "
           "111242 121142 121241 114212 124112 124211 411212 421112 421211 212141 "
           "214121 412121 111143 111341 131141 114113 114311 411113 411311 113141 "
           "114131 311141 411131 211412 211214 211232").split()
CODE128_STOP = "2331112"
START_C = 105

TRACKING_NUMBER = "9400111899223456789012"


def code128c(digits):
    """The widths of an even number of digits in Code 128 set C, start,
    check symbol and stop included."""
    values = [int(digits[i:i + 2]) for i in range(0, len(digits), 2)]
    check = (START_C + sum((i + 1) * v for i, v in enumerate(values))) % 103
    return "".join(CODE128[v] for v in [START_C] + values + [check]) + CODE128_STOP


def write_pdf(path, width, height, content):
    """A one-page PDF of width x height points with Helvetica-Bold as /F1."""
    objects = ["<< /Type /Catalog /Pages 2 0 R >>",
               "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %g %g] /Contents 4 0 R "
               "/Resources << /Font << /F1 5 0 R >> >> >>" % (width, height),
               "<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content),
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"]
    out = "%PDF-1.4\n"
    offsets = []
    for i, o in enumerate(objects):
        offsets.append(len(out))
        out += "%d 0 obj\n%s\nendobj\n" % (i + 1, o)
    xref = len(out)
    out += "xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += "".join("%010d 00000 n \n" % o for o in offsets)
    out += "trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    with open(path, "w") as f:
        f.write(out)
    return path


# Where the label's ink ends: its frame, a 2 pt line 8 pt inside its edges.
FRAME_INSET = 7


def label_pdf(path, page_width, page_height, label_width, label_height,
              digits=TRACKING_NUMBER, module=1.5):
    """A shipping label label_width x label_height points in the top left
    corner of the page: a frame, an address, a logo block and the tracking
    number as a Code 128 barcode across the middle, bars module points
    wide."""
    top = page_height
    ops = ["2 w 0 G 8 %g %g %g re S" % (top - label_height + 8, label_width - 16, label_height - 16),
           "BT /F1 18 Tf 24 %g Td (SHIP TO: BANDRILL TEST) Tj ET" % (top - 40),
           "BT /F1 12 Tf 24 %g Td (1 Label Street, Thermal Town) Tj ET" % (top - 60),
           "0 g 24 %g 60 30 re f" % (top - 110)]
    widths = code128c(digits)
    x = (label_width - sum(int(w) for w in widths) * module) / 2
    bar_top = top - label_height / 2
    bars = []
    for i, w in enumerate(widths):
        if i % 2 == 0:
            bars.append("%.3f %.3f %.3f 90 re" % (x, bar_top - 90, int(w) * module))
        x += int(w) * module
    ops.append(" ".join(bars) + " f")
    ops.append("BT /F1 10 Tf %g %g Td (%s) Tj ET" % ((label_width - 130) / 2, bar_top - 105, digits))
    return write_pdf(path, page_width, page_height, "\n".join(ops))


def read_png(path):
    """A grey PNG (bit depth 1 or 8, not interlaced): (width, height, rows),
    each row a bytes of 0 (black) to 255 (white) a pixel."""
    return harness.grey_rows(path)


def ink_box(rows):
    """The bounding box (x0, y0, x1, y1), inclusive, of the black dots; None
    for a blank page."""
    box = None
    for y, row in enumerate(rows):
        xs = [x for x, v in enumerate(row) if v < 128]
        if xs:
            x0, y0, x1, _ = box or (xs[0], y, xs[-1], y)
            box = (min(x0, xs[0]), y0, max(x1, xs[-1]), y)
    return box


def black_runs(row):
    """The number of runs of black dots in a row."""
    runs, inside = 0, False
    for v in row:
        black = v < 128
        runs += black and not inside
        inside = black
    return runs


def columns(rows):
    """The page turned: its columns as rows."""
    return [bytes(r[x] for r in rows) for x in range(len(rows[0]))]


def text_bands(rows):
    """The bands of rows with ink, separated by blank rows: [(y0, y1, x0, x1)]."""
    bands = []
    for y, row in enumerate(rows):
        xs = [x for x, v in enumerate(row) if v < 128]
        if not xs:
            continue
        if bands and bands[-1][1] == y - 1:
            y0, _, x0, x1 = bands[-1]
            bands[-1] = (y0, y, min(x0, xs[0]), max(x1, xs[-1]))
        else:
            bands.append((y, y, xs[0], xs[-1]))
    return bands
