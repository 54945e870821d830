#!/usr/bin/env python3
"""Copies made by the printer (bandrill-printer-copies) through the
printer application, on file:// devices.

  copies_test.py --app APP --filter FILTER --ppd-dir DIR --raster HELPER --decoder DECODE copies

On, a raster job's stream is the filter's for the same pages with the
copies left to the printer (NumCopies in the headers, collated, and the
shipped PPD's *cupsManualCopies: False), every family; a PDF of two pages
prints the same pages in the same order as with the setting off, and a
3-copy label sends one bitmap. Off (the default), a job's bytes are as
they were.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import app_test  # noqa: E402
from app_test import decode, raster, run_filter, workdir  # noqa: E402
from appserver import Server, check, log, run  # noqa: E402

DRIVERS = ("tspl-203", "cpcl", "escpos-58", "paperang", "peripage-384")
ON = [("integer", "copies", "3"), ("boolean", "bandrill-printer-copies", "true")]
OFF = [("integer", "copies", "3")]
ONE = [("integer", "copies", "1")]


def raster_copies(path, width, height, dpi, pages, copies):
    """A CUPS raster whose headers leave copies collated copies to the printer."""
    run([app_test.ARGS.raster, "cups", path, str(width), str(height), str(dpi), str(pages), "1",
         str(copies)])
    return path


def printed(srv, name, path, fmt, attrs):
    job = srv.print_job(name, path, fmt, attrs)
    info = srv.wait_job(name, job)
    check(info.get("job-state") == "completed", "%s: job %s" % (name, info))
    return srv.read_output(name)


def pages_of(data, work, name):
    """The decoded pages, as the bytes of their pictures."""
    rc, listing, pngs = decode(data, work, name)
    check(rc == 0, "%s: bandrill-decode exit %d:\n%s" % (name, rc, listing[-2000:]))
    result = []
    for p in pngs:
        with open(p, "rb") as f:
            result.append(f.read())
    return result


def case_copies():
    work = workdir("bandrill-app-copies-")
    with Server(app_test.ARGS.app) as srv:
        for d in DRIVERS:
            srv.add(d, d)

        # Raster: the filter's bytes for the copies left to the printer.
        for d in DRIVERS:
            _, _, dpi, dots = app_test.DRIVERS[d]
            for pages in (1, 2):
                name = "%s-%d" % (d, pages)
                pwg = raster("pwg", os.path.join(work, name + ".pwg"), dots, 240, dpi, pages)
                ras = raster("cups", os.path.join(work, name + ".ras"), dots, 240, dpi, pages)
                ras3 = raster_copies(os.path.join(work, name + "-3.ras"), dots, 240, dpi, pages, 3)
                got = printed(srv, d, pwg, "image/pwg-raster", ON)
                want = run_filter(d, ras3, "")
                check(got == want, "%s, %d pages, 3 copies: the app's stream (%d bytes) differs from "
                      "the filter's (%d bytes)" % (d, pages, len(got), len(want)))
                check(len(pages_of(got, work, name)) == 3 * pages,
                      "%s: %d pages x 3 copies not decoded" % (d, pages))
                # Off: PAPPL repeats no raster page, so the printer still
                # makes the copies (they were lost: one copy printed).
                check(printed(srv, d, pwg, "image/pwg-raster", OFF) == want,
                      "%s, %d pages: 3 copies without bandrill-printer-copies are not the filter's"
                      % (d, pages))
                check(printed(srv, d, pwg, "image/pwg-raster", ONE) == run_filter(d, ras, ""),
                      "%s, %d pages: one copy is not the filter's" % (d, pages))
        log("raster, every family, 1 and 2 pages: the filter's bytes for 3 copies in the printer")

        # A 3-copy label: one bitmap and PRINT 1,3 instead of three labels.
        pdf1 = raster("pdf", os.path.join(work, "label.pdf"), 400, 240, 203, 1)
        one = printed(srv, "tspl-203", pdf1, "application/pdf", [])
        on = printed(srv, "tspl-203", pdf1, "application/pdf", ON)
        off = printed(srv, "tspl-203", pdf1, "application/pdf", OFF)
        check(one.count(b"PRINT 1,1\r\n") == 1, "one copy: %r" % one[-40:])
        check(on == one.replace(b"PRINT 1,1\r\n", b"PRINT 1,3\r\n"),
              "3 copies in the printer: not the label once with PRINT 1,3 (%d bytes, one copy %d)"
              % (len(on), len(one)))
        check(off == one * 3, "3 copies without the setting: not the label three times")
        log("3-copy label: %d bytes in the printer, %d bytes sent three times" % (len(on), len(off)))

        # Two pages, 3 copies: the same pages in the same order either way.
        pdf2 = raster("pdf", os.path.join(work, "two.pdf"), 384, 240, 203, 2)
        for d in ("tspl-203", "escpos-58"):
            on = printed(srv, d, pdf2, "application/pdf", ON)
            off = printed(srv, d, pdf2, "application/pdf", OFF)
            want = pages_of(off, work, d + "-off")
            check(len(want) == 6, "%s: %d pages decoded without the setting" % (d, len(want)))
            check(pages_of(on, work, d + "-on") == want,
                  "%s: collated copies made by the printer are not the pages sent three times" % d)
            log("%s, 2-page PDF, 3 copies: %d bytes in the printer, %d sent three times"
                % (d, len(on), len(off)))


CASES = {"copies": case_copies}


if __name__ == "__main__":
    sys.exit(app_test.main(CASES))
