#!/usr/bin/env python3
"""Tests of bandrill-printer-app through IPP: each case starts its own
server (free localhost port, own state directory, file:// devices) and
stops it with SIGTERM.

  app_test.py --app APP --filter FILTER --ppd-dir DIR --raster HELPER --decoder DECODE CASE
"""
import argparse
import glob
import json
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from appserver import Failure, Server, check, grey_png, log, run  # noqa: E402
import documents  # noqa: E402

ARGS = None

# The drivers of the family table (bandrill-families --drivers):
# name -> (model, language, dpi, head dots).
DRIVERS = {}


WORKDIRS = []


def workdir(prefix):
    """A scratch directory, removed when the case passes."""
    d = tempfile.mkdtemp(prefix=prefix)
    WORKDIRS.append(d)
    return d


def raster(kind, path, width, height, dpi, pages=1, block=1):
    run([ARGS.raster, kind, path, str(width), str(height), str(dpi), str(pages), str(block)])
    return path


def run_filter(driver, cups_raster, options):
    """The CUPS filter's stream for the raster, with the driver's PPD."""
    env = dict(os.environ, PPD=os.path.join(ARGS.ppd_dir, "bandrill-%s.ppd" % driver))
    res = subprocess.run([ARGS.filter, "1", "tester", "title", "1", options, cups_raster],
                         env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    check(res.returncode == 0, "filter failed for %s: %s" % (driver, res.stderr.decode()[-2000:]))
    return res.stdout


def decode(data, workdir, name):
    """bandrill-decode over a stream: (exit status, listing, page PNG paths)."""
    path = os.path.join(workdir, name + ".prn")
    with open(path, "wb") as f:
        f.write(data)
    out = os.path.join(workdir, name + "-pages")
    os.makedirs(out, exist_ok=True)
    res = subprocess.run([ARGS.decoder, "--out", out, "--prefix", name, path],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    pages = sorted(glob.glob(os.path.join(out, name + "-page*.png")))
    return res.returncode, res.stdout.decode(errors="replace"), pages


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return struct.unpack(">II", head[16:24])


def wait_file(path_glob, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        found = glob.glob(path_glob)
        if found:
            return found
        time.sleep(0.1)
    raise Failure("no file %s" % path_glob)


# ---------------------------------------------------------------- attributes

# driver: (resolution, first media, default media, tracking, darkness levels,
#          speed range, vendor attributes offered, vendor attributes absent)
EXPECTED = {
    "tspl-203": ("203dpi", "om_30x20-label_30x20mm", "om_50x30-label_50x30mm",
                 "continuous,gap,mark", "16", "2540-30480",
                 ["bandrill-print-method", "bandrill-setc", "bandrill-compress", "bandrill-darkness",
                  "bandrill-ink-only", "bandrill-fast-compress"],
                 ["bandrill-cut-mode", "bandrill-band-rows"]),
    "tspl-300": ("300dpi", "om_30x20-label_30x20mm", "om_50x30-label_50x30mm",
                 "continuous,gap,mark", "16", "2540-30480", ["bandrill-adjust-vertical"], []),
    "escpos-58": ("203dpi", "om_roll58-50_48.05x50mm", "om_roll58-100_48.05x100mm",
                  "continuous", None, None,
                  ["bandrill-cut-mode", "bandrill-cut-feed", "bandrill-cash-drawer",
                   "bandrill-band-rows", "bandrill-ink-only"],
                  ["bandrill-darkness", "bandrill-setc", "bandrill-compress",
                   "bandrill-fast-compress"]),
    "escpos-80": ("203dpi", "om_roll80-50_72.08x50mm", "om_roll80-100_72.08x100mm",
                  "continuous", None, None, ["bandrill-cash-drawer"], []),
    "cpcl": ("203dpi", "om_30x20-label_30x20mm", "om_50x30-label_50x30mm",
             "continuous,gap,mark", None, None, ["bandrill-adjust-horizontal"],
             ["bandrill-feed-offset", "bandrill-media-tracking"]),
    "paperang": ("203dpi", "om_roll58-50_48.05x50mm", "om_roll58-100_48.05x100mm",
                 "continuous", None, None, ["bandrill-halftone", "bandrill-crop-bottom"],
                 ["bandrill-feed-offset", "bandrill-darkness", "bandrill-ink-only"]),
    "peripage-384": ("203dpi", "om_roll58-50_48.05x50mm", "om_roll58-100_48.05x100mm",
                     "continuous,gap,mark", "6", None,
                     ["bandrill-darkness", "bandrill-band-rows", "bandrill-media-tracking"],
                     ["bandrill-cut-mode"]),
    "peripage-576": ("300dpi", "om_roll58-50_48.77x50mm", "om_roll58-100_48.77x100mm",
                     "continuous,gap,mark", "6", None, ["bandrill-feed-offset"], []),
}


def case_attributes():
    with Server(ARGS.app) as srv:
        for d in DRIVERS:
            srv.add(d, d)
        check(set(EXPECTED) <= set(DRIVERS), "drivers gone: %s" % (set(EXPECTED) - set(DRIVERS)))
        for d in DRIVERS:
            a = srv.attributes(d)
            what = "%s: " % d
            check(a.get("printer-resolution-supported") == "%ddpi" % DRIVERS[d][2],
                  what + "resolution %r" % a.get("printer-resolution-supported"))
            if d not in EXPECTED:
                log("%s: no expectations beyond the family table's" % d)
                continue
            res, first, default, tracking, dark, speed, has, lacks = EXPECTED[d]
            check(a.get("printer-resolution-supported") == res, what + "resolution %r" % a.get("printer-resolution-supported"))
            media = a.get("media-supported", "").split(",")
            check(media and media[0] == first, what + "media-supported starts %r" % media[:2])
            check(a.get("media-default") == default, what + "media-default %r" % a.get("media-default"))
            check(any(m.startswith(("roll_max_", "custom_max_")) for m in media),
                  what + "no size range in %r" % media)
            col = a.get("media-col-default", "")
            check("media-left-margin=1 " in col and "media-top-margin=1 " in col,
                  what + "margins of media-col-default: %s" % col)
            check(a.get("media-tracking-supported") == tracking,
                  what + "media-tracking-supported %r" % a.get("media-tracking-supported"))
            check(a.get("printer-darkness-supported") == dark,
                  what + "printer-darkness-supported %r" % a.get("printer-darkness-supported"))
            check(a.get("print-speed-supported") == speed,
                  what + "print-speed-supported %r" % a.get("print-speed-supported"))
            check(a.get("pwg-raster-document-type-supported") == "sgray_8",
                  what + "raster types %r" % a.get("pwg-raster-document-type-supported"))
            fmts = a.get("document-format-supported", "")
            for f in ("image/pwg-raster", "image/urf", "image/png", "image/jpeg", "application/pdf",
                      "text/plain", "application/vnd.bandrill-" + DRIVERS[d][1]):
                check(f in fmts, what + "%s not in document-format-supported %s" % (f, fmts))
            # Documents the app renders: fitted from their printed part.
            check(a.get("bandrill-fit-supported") == "none,fit,crop-to-ink" and
                  a.get("bandrill-fit-default") == "crop-to-ink",
                  what + "bandrill-fit %r, default %r" % (a.get("bandrill-fit-supported"),
                                                           a.get("bandrill-fit-default")))
            for v in has:
                check(v + "-supported" in a and v + "-default" in a, what + "no %s" % v)
            for v in lacks:
                check(v + "-supported" not in a, what + "offers %s" % v)
            log("%s: ok" % d)


# ---------------------------------------------------------------- PWG raster

# (driver, width, height, dpi, pages, job attributes, filter options): the
# same settings through IPP and through the PPD.
PWG_CASES = [
    ("tspl-203", 400, 240, 203, 2,
     [("keyword", "bandrill-halftone", "stucki"), ("integer", "bandrill-contrast", "-20"),
      ("integer", "print-darkness", "10"), ("integer", "print-speed", "7620"),
      ("integer", "bandrill-feed-offset", "5"), ("integer", "bandrill-crop-bottom", "0")],
     "ImageFilter=4 Contrast=-20 Darkness=9 zePrintRate=3 FeedOffset=5 "
     "CropEdgeBottom=0"),
    ("tspl-300", 590, 354, 300, 1,
     [("keyword", "bandrill-halftone", "threshold"), ("integer", "bandrill-threshold", "96"),
      ("keyword", "bandrill-rotate", "rotate-180"), ("keyword", "bandrill-compress", "on"),
      ("boolean", "bandrill-fast-compress", "false")],
     "ImageFilter=0 Threshold=96 Rotate=1 ImageCompress=1 FastCompress=False"),
    ("escpos-58", 384, 300, 203, 2,
     [("keyword", "bandrill-halftone", "burkes"), ("integer", "bandrill-crop-bottom", "0"),
      ("integer", "bandrill-feed-offset", "10")],
     "ImageFilter=3 CropEdgeBottom=0 FeedOffset=10"),
    ("escpos-80", 576, 300, 203, 1,
     [("keyword", "bandrill-halftone", "floyd-steinberg"), ("integer", "bandrill-contrast", "40"),
      ("integer", "bandrill-crop-bottom", "-1")],
     "ImageFilter=1 Contrast=40 CropEdgeBottom=-1"),
    ("cpcl", 400, 240, 203, 1,
     [("keyword", "bandrill-halftone", "bayer-8x8"),
      ("integer", "bandrill-adjust-horizontal", "1"), ("boolean", "bandrill-ink-only", "false")],
     "ImageFilter=9 AdjustHorizontal=1 InkOnly=False"),
    ("paperang", 384, 200, 203, 2,
     [("keyword", "bandrill-halftone", "burkes"), ("integer", "bandrill-crop-bottom", "0"),
      ("enum", "orientation-requested", "4")],
     "ImageFilter=3 CropEdgeBottom=0 Rotate=2"),
    ("peripage-384", 384, 200, 203, 1,
     [("keyword", "bandrill-halftone", "sierra"), ("integer", "bandrill-crop-bottom", "0"),
      ("keyword", "bandrill-darkness", "configured"),
      ("keyword", "bandrill-media-tracking", "recording")],
     "ImageFilter=6 CropEdgeBottom=0 Darkness=3 zeMediaTracking=Recording"),
    ("peripage-576", 576, 300, 300, 1,
     [("keyword", "bandrill-halftone", "ordered-16x16"), ("integer", "bandrill-crop-bottom", "20")],
     "ImageFilter=10 CropEdgeBottom=20"),
]


def case_pwg():
    work = workdir("bandrill-app-pwg-")
    with Server(ARGS.app) as srv:
        for d in DRIVERS:
            srv.add(d, d)
        for d, w, h, dpi, pages, attrs, options in PWG_CASES:
            pwg = raster("pwg", os.path.join(work, d + ".pwg"), w, h, dpi, pages)
            ras = raster("cups", os.path.join(work, d + ".ras"), w, h, dpi, pages)
            job = srv.print_job(d, pwg, "image/pwg-raster", attrs)
            info = srv.wait_job(d, job)
            check(info.get("job-state") == "completed", "%s: job %s" % (d, info))
            got = srv.read_output(d)
            want = run_filter(d, ras, options)
            check(got == want, "%s: the app's stream (%d bytes) differs from the filter's (%d bytes)"
                  % (d, len(got), len(want)))
            rc, listing, pngs = decode(got, work, d)
            check(rc == 0, "%s: bandrill-decode exit %d:\n%s" % (d, rc, listing[-2000:]))
            check(len(pngs) == pages, "%s: %d pages decoded, %d sent" % (d, len(pngs), pages))
            log("%s: %d bytes, same as the filter's, %d pages" % (d, len(got), pages))

        # No settings at all, every driver: the driver's defaults are the PPD's.
        for d, (model, language, dpi, dots) in DRIVERS.items():
            pwg = raster("pwg", os.path.join(work, d + "-defaults.pwg"), dots, 240, dpi, 2)
            ras = raster("cups", os.path.join(work, d + "-defaults.ras"), dots, 240, dpi, 2)
            job = srv.print_job(d, pwg, "image/pwg-raster")
            check(srv.wait_job(d, job).get("job-state") == "completed", "%s defaults" % d)
            check(srv.read_output(d) == run_filter(d, ras, ""),
                  "%s: with the defaults, the app's stream differs from the filter's" % d)
        log("every driver's defaults: same bytes as the filter")

        # A raster wider than the head keeps its left part and says so.
        wide = raster("pwg", os.path.join(work, "wide.pwg"), 500, 120, 203)
        job = srv.print_job("escpos-58", wide, "image/pwg-raster")
        info = srv.wait_job("escpos-58", job)
        check(info.get("job-state") == "completed", "wide page: job %s" % info)
        check("warnings-detected" in info.get("job-state-reasons", ""),
              "wide page: no warning in %s" % info)
        rc, listing, pngs = decode(srv.read_output("escpos-58"), work, "wide")
        check(rc == 0 and len(pngs) == 1, "wide page: decode %d, %r" % (rc, pngs))
        check(png_size(pngs[0])[0] == 384, "wide page: %r dots wide" % (png_size(pngs[0]),))
        log("wide page: cut to 384 dots with a warning")

        # Wide pages turned a quarter: turned first, then fitted to the head,
        # as the filter does (a page cut to the head before the turn would
        # come out 384 dots long instead of 500 dots long).
        for w, h in ((500, 200), (300, 500)):
            pwg = raster("pwg", os.path.join(work, "turn-%d.pwg" % w), w, h, 203)
            ras = raster("cups", os.path.join(work, "turn-%d.ras" % w), w, h, 203)
            for attrs, options in (([("keyword", "bandrill-rotate", "rotate-270")], "Rotate=3"),
                                   ([("enum", "orientation-requested", "4")], "Rotate=2")):
                job = srv.print_job("escpos-58", pwg, "image/pwg-raster", attrs)
                info = srv.wait_job("escpos-58", job)
                check(info.get("job-state") == "completed", "turned %dx%d: job %s" % (w, h, info))
                got = srv.read_output("escpos-58")
                want = run_filter("escpos-58", ras, options)
                check(got == want, "turned %dx%d (%s): the app's stream (%d bytes) differs from "
                      "the filter's (%d bytes)" % (w, h, options, len(got), len(want)))
        log("wide pages turned a quarter: same bytes as the filter")


# ---------------------------------------------------------------- PNG, raw

def make_png(path, width, height, truncate=None):
    return grey_png(path, width, height,
                    lambda x, y: (x * 255 // width) if (x + y) % 40 > 3 else 0, truncate)


def case_png_raw():
    work = workdir("bandrill-app-png-")
    with Server(ARGS.app) as srv:
        for d in ("escpos-58", "tspl-203", "peripage-576"):
            srv.add(d, d)
        png = make_png(os.path.join(work, "p.png"), 300, 200)
        for d, width in (("escpos-58", 384), ("peripage-576", 576)):
            job = srv.print_job(d, png, "image/png")
            info = srv.wait_job(d, job)
            check(info.get("job-state") == "completed", "%s PNG: %s" % (d, info))
            rc, listing, pngs = decode(srv.read_output(d), work, d + "-png")
            check(rc == 0 and len(pngs) == 1, "%s PNG: decode %d %r\n%s" % (d, rc, pngs, listing))
            check(png_size(pngs[0])[0] == width, "%s PNG: page %r" % (d, png_size(pngs[0])))
            log("%s: PNG printed, %r" % (d, png_size(pngs[0])))

        # The printer's own language goes through unchanged, once per copy.
        raw = b"SIZE 50 mm,30 mm\r\nCLS\r\nTEXT 10,10,\"3\",0,1,1,\"raw\"\r\nPRINT 1,1\r\n"
        path = os.path.join(work, "raw.tspl")
        with open(path, "wb") as f:
            f.write(raw)
        job = srv.print_job("tspl-203", path, "application/vnd.bandrill-tspl")
        check(srv.wait_job("tspl-203", job).get("job-state") == "completed", "raw job")
        check(srv.read_output("tspl-203") == raw, "raw TSPL was changed")
        job = srv.print_job("tspl-203", path, "application/vnd.bandrill-tspl",
                            [("integer", "copies", "2")])
        check(srv.wait_job("tspl-203", job).get("job-state") == "completed", "raw job, 2 copies")
        check(srv.read_output("tspl-203") == raw * 2, "raw TSPL, 2 copies")
        # A raw format of another family never reaches the printer.
        job = srv.print_job("tspl-203", path, "application/vnd.bandrill-escpos", expect_ok=False)
        info = srv.wait_job("tspl-203", job)
        check(info.get("job-state") == "aborted", "ESC/POS raw on a TSPL printer: %s" % info)
        check(all(os.path.getsize(f) == 0 for f in srv.outputs("tspl-203")),
              "ESC/POS raw on a TSPL printer was sent")
        log("raw: unchanged, copies repeated, other families' formats refused")


# ---------------------------------------------------------------- faults

def case_faults():
    work = workdir("bandrill-app-faults-")
    with Server(ARGS.app) as srv:
        srv.add("a", "escpos-58")
        srv.add("b", "tspl-203")
        parent = os.path.join(srv.dir, "removed")
        gone = os.path.join(parent, "out")
        srv.add("c", "escpos-80", device_dir=gone)

        # A truncated PNG aborts its job with a reason; the server goes on.
        bad = make_png(os.path.join(work, "bad.png"), 300, 400, truncate=400)
        job = srv.print_job("a", bad, "image/png")
        info = srv.wait_job("a", job)
        check(info.get("job-state") == "aborted", "truncated PNG: %s" % info)
        check("document-format-error" in info.get("job-state-reasons", ""),
              "truncated PNG: no reason in %s" % info)
        check(srv.alive(), "the server died on a truncated PNG")
        for f in srv.outputs("a"):
            os.unlink(f)
        good = raster("pwg", os.path.join(work, "good.pwg"), 384, 100, 203)
        job = srv.print_job("a", good, "image/pwg-raster")
        check(srv.wait_job("a", job).get("job-state") == "completed", "job after a bad one")
        srv.read_output("a")
        log("truncated PNG: aborted (%s), server still prints" % info.get("job-state-message"))

        # A truncated JPEG (ghostscript makes the JPEG) is not printed as
        # far as it goes and reported completed: it is aborted too.
        jpeg = os.path.join(work, "page.jpg")
        run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=jpeggray", "-r60",
             "-sOutputFile=" + jpeg, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                  "..", "..", "samples", "sample.pdf")])
        with open(jpeg, "rb") as f:
            whole = f.read()
        cut = os.path.join(work, "cut.jpg")
        with open(cut, "wb") as f:
            f.write(whole[:len(whole) // 2])
        job = srv.print_job("a", cut, "image/jpeg")
        info = srv.wait_job("a", job)
        check(info.get("job-state") == "aborted" and
              "document-format-error" in info.get("job-state-reasons", ""),
              "truncated JPEG: %s" % info)
        job = srv.print_job("a", jpeg, "image/jpeg")
        check(srv.wait_job("a", job).get("job-state") == "completed", "whole JPEG")
        check(len(srv.outputs("a")) == 1, "JPEG: outputs %r" % srv.outputs("a"))
        srv.read_output("a")
        log("truncated JPEG: aborted (%s); the whole one printed" % info.get("job-state-reasons"))

        # Two printers printing at once: each stream is its own, whole.
        pa = raster("pwg", os.path.join(work, "a.pwg"), 384, 1500, 203, 6)
        pb = raster("pwg", os.path.join(work, "b.pwg"), 400, 240, 203, 12)
        jobs = {}

        def submit(name, path):
            jobs[name] = srv.print_job(name, path, "image/pwg-raster")
        threads = [threading.Thread(target=submit, args=a) for a in (("a", pa), ("b", pb))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for name, path in (("a", pa), ("b", pb)):
            check(srv.wait_job(name, jobs[name]).get("job-state") == "completed", "parallel " + name)
        got_a, got_b = srv.read_output("a"), srv.read_output("b")
        # The same documents printed one at a time.
        job = srv.print_job("a", pa, "image/pwg-raster")
        srv.wait_job("a", job)
        job = srv.print_job("b", pb, "image/pwg-raster")
        srv.wait_job("b", job)
        check(srv.read_output("a") == got_a, "printer a's stream differs when b prints at once")
        check(srv.read_output("b") == got_b, "printer b's stream differs when a prints at once")
        log("two printers at once: streams as when printed alone")

        # Cancel: the page being printed is finished, no later one is
        # started. The device is a socket read slowly here through a small
        # window, so the job is still at its first pages when cancelled.
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        srv.add_uri("d", "escpos-58", "socket://127.0.0.1:%d" % listener.getsockname()[1])
        received = []
        first = threading.Event()
        go = threading.Event()
        # The job asks the printer for its status first (DLE EOT 1 to 4;
        # this printer does not answer): the job is cancelled once bytes of
        # its first page came after that, not while it waits for the answer.
        query = b"\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04"

        def reader():
            conn, _ = listener.accept()
            with conn:
                while True:
                    chunk = conn.recv(1024)
                    if not chunk:
                        break
                    received.append(chunk)
                    if sum(map(len, received)) > len(query):
                        first.set()
                    if not go.is_set():
                        time.sleep(0.01)
        t = threading.Thread(target=reader)
        t.start()
        many = raster("pwg", os.path.join(work, "many.pwg"), 384, 3000, 203, 30)
        # PAPPL prints raster while it arrives: Print-Job answers at the end.
        submit = threading.Thread(target=srv.print_job, args=("d", many, "image/pwg-raster"),
                                  kwargs={"expect_ok": False})
        submit.start()
        check(first.wait(60), "cancel: nothing arrived from the job")
        jobs = srv.active_jobs("d")
        check(len(jobs) == 1, "cancel: active jobs %r" % jobs)
        job = jobs[0]
        srv.cancel("d", job)
        go.set()
        info = srv.wait_job("d", job)
        submit.join(60)
        t.join(60)
        listener.close()
        check(info.get("job-state") == "canceled", "cancel: %s" % info)
        stream = b"".join(received)
        check(stream.startswith(query), "cancel: no status query before the job")
        rc, listing, pngs = decode(stream[len(query):], work, "canceled")
        check(rc == 0, "cancel: the stream ends in the middle of a page (decode %d)\n%s"
              % (rc, listing[-1500:]))
        check(0 < len(pngs) < 30, "cancel: %d pages printed" % len(pngs))
        log("cancel: stopped after %d whole pages" % len(pngs))

        # A device that fails (its directory removed) keeps the job.
        # (A PNG: PAPPL spools it; raster it would read only as it prints.)
        shutil.rmtree(parent)
        job = srv.print_job("c", make_png(os.path.join(work, "ok.png"), 200, 100), "image/png")
        time.sleep(3)
        info = srv.job("c", job)
        check(info.get("job-state") in ("pending", "pending-held", "processing-stopped", "processing"),
              "vanished device: job %s" % info)
        pa_ = srv.attributes("c")
        reasons = pa_.get("printer-state-reasons", "") + " " + pa_.get("printer-state-message", "")
        check("none" != pa_.get("printer-state-reasons"), "vanished device: no printer reason")
        # Once the directory is back the job prints.
        os.makedirs(gone)
        info = srv.wait_job("c", job, timeout=90)
        check(info.get("job-state") == "completed", "vanished device, restored: %s" % info)
        check(len(srv.outputs("c")) == 1, "vanished device: no output after restore")
        log("vanished device: job kept (%s), printed once the directory is back" % reasons.strip())

        # Bluetooth: no adapter here (or no such printer): the job waits and
        # the log says why.
        srv.add_uri("bt", "paperang", "bt://00-11-22-33-44-55?channel=1")
        job = srv.print_job("bt", make_png(os.path.join(work, "bt.png"), 100, 100), "image/png")
        deadline = time.time() + 30
        said = ""
        while time.time() < deadline and not said:
            with open(srv.log_path, errors="replace") as f:
                for line in f:
                    if "Bluetooth is not available" in line or "Unable to connect to Bluetooth" in line:
                        said = line.strip()
            time.sleep(0.2)
        check(said, "Bluetooth: no error in the log")
        check(srv.job("bt", job).get("job-state") != "completed", "Bluetooth: job completed")
        srv.cancel("bt", job)
        srv.wait_job("bt", job)
        log("Bluetooth: %s" % said)


# ---------------------------------------------------------------- PDF

LABEL_4X6 = [("keyword", "media", "oe_4x6-label_4x6in")]


def decoded_page(data, work, name):
    """The one page of a stream, as bandrill-decode draws it: (width, height, rows, png path)."""
    rc, listing, pngs = decode(data, work, name)
    check(rc == 0 and len(pngs) == 1, "%s: decode %d, %d pages\n%s" % (name, rc, len(pngs), listing[-1500:]))
    w, h, rows = documents.read_png(pngs[0])
    return w, h, rows, pngs[0]


def scanned(png):
    """What zbarimg reads on the page, "" when nothing."""
    res = subprocess.run(["zbarimg", "-q", "--raw", png], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    return res.stdout.decode(errors="replace").strip()


def check_straight_bars(rows, name):
    """The barcode's rows (the longest stretch of rows crossing 40 bars or
    more) are the same dots from its first row to its last: no bar leans,
    breaks or wanders."""
    stretches, start = [], None
    for y, r in enumerate(rows + [b""]):
        many = documents.black_runs(r) >= 40
        if many and start is None:
            start = y
        elif not many and start is not None:
            stretches.append(rows[start:y])
            start = None
    band = max(stretches, key=len) if stretches else []
    check(len(band) >= 200, "%s: only %d rows cross the bars" % (name, len(band)))
    check(all(r == band[0] for r in band), "%s: the bars are not straight" % name)


def case_pdf():
    if not shutil.which("zbarimg"):
        log("SKIP: no zbarimg (zbar-tools)")
        sys.exit(77)
    work = workdir("bandrill-app-pdf-")
    with Server(ARGS.app) as srv:
        srv.add("labels", "tspl-203")
        srv.add("receipts", "escpos-58")

        # The same pixels as PDF and as raster: the app's stream is the
        # filter's, settings and all (the PDF's images are drawn dot for dot).
        for d, driver, w, h, pages, block, attrs, options in (
                ("receipts", "escpos-58", 384, 240, 2, 4,
                 [("keyword", "bandrill-halftone", "stucki"), ("integer", "bandrill-crop-bottom", "0")],
                 "ImageFilter=4 CropEdgeBottom=0"),
                ("labels", "tspl-203", 812, 1218, 1, 7, LABEL_4X6, "")):
            pdf = raster("pdf", os.path.join(work, d + ".pdf"), w, h, 203, pages, block)
            ras = raster("cups", os.path.join(work, d + ".ras"), w, h, 203, pages, block)
            job = srv.print_job(d, pdf, "application/pdf", attrs)
            info = srv.wait_job(d, job)
            check(info.get("job-state") == "completed", "%s PDF: %s" % (d, info))
            check(info.get("job-impressions-completed") == str(pages), "%s PDF: %s" % (d, info))
            got, want = srv.read_output(d), run_filter(driver, ras, options)
            check(got == want, "%s: the PDF's stream (%d bytes) differs from the filter's for the "
                  "same raster (%d bytes)" % (d, len(got), len(want)))
        log("PDF pages print the filter's bytes for the same pixels")

        # Shipping labels: a 4 x 6 label in the top left corner of a Letter
        # page, upright and lying; and a 4 x 6 page, which prints 1:1.
        # IPP's print-scaling counts only when the job names no bandrill-fit.
        as_is = [("keyword", "bandrill-fit", "none")]
        scaling_none = [("keyword", "print-scaling", "none")]
        for name, page, label, asked, fills in (
                ("letter-label", (612, 792), (288, 432), [], True),
                ("letter-wide", (612, 792), (432, 288), [], True),
                ("label-4x6", (288, 432), (288, 432), [], False),
                ("letter-as-is", (612, 792), (288, 432), as_is, False),
                ("letter-scaling-none", (612, 792), (288, 432), scaling_none, False),
                ("letter-fit-over-scaling", (612, 792), (288, 432),
                 scaling_none + [("keyword", "bandrill-fit", "crop-to-ink")], True)):
            pdf = documents.label_pdf(os.path.join(work, name + ".pdf"), page[0], page[1], *label)
            job = srv.print_job("labels", pdf, "application/pdf", LABEL_4X6 + asked)
            info = srv.wait_job("labels", job)
            check(info.get("job-state") == "completed", "%s: %s" % (name, info))
            w, h, rows, png = decoded_page(srv.read_output("labels"), work, name)
            rows = [r[:812] for r in rows[:1218]]
            x0, y0, x1, y1 = documents.ink_box(rows)
            read = scanned(png)
            check(read == documents.TRACKING_NUMBER, "%s: the barcode reads %r" % (name, read))
            if fills:
                # The label's ink fills the label.
                check(x1 - x0 + 1 >= 0.9 * 812 and y1 - y0 + 1 >= 0.9 * 1218,
                      "%s: the ink takes %dx%d dots of 812x1218" % (name, x1 - x0 + 1, y1 - y0 + 1))
            else:
                # As it is: its frame where the page has it, at 203 dpi.
                inset = documents.FRAME_INSET * 203 / 72
                for got, want in ((x0, inset), (y0, inset), (x1, 812 - inset), (y1, 1218 - inset)):
                    check(abs(got - want) <= 2, "%s: ink box %r, the page's at %.1f dots in"
                          % (name, (x0, y0, x1, y1), inset))
            check_straight_bars(rows if name != "letter-wide" else documents.columns(rows), name)
            log("%s: %dx%d dots of ink on the label, the barcode reads" % (name, x1 - x0 + 1, y1 - y0 + 1))

        # A roll takes the length of what it prints, not the roll's 100 mm:
        # the whole Letter page 384 dots wide is 497 dots long; the label's
        # ink (3.8 x 5.8 in) 384 dots wide, 586. The page's blank rows are
        # sent as rows here (no ink-only feeds, the page's own top), so the
        # decoded page is the page's length.
        pdf = documents.label_pdf(os.path.join(work, "roll.pdf"), 612, 792, 288, 432)
        for fit, length in (("fit", 497), ("crop-to-ink", 586)):
            job = srv.print_job("receipts", pdf, "application/pdf",
                                [("integer", "bandrill-crop-bottom", "0"), ("keyword", "bandrill-fit", fit),
                                 ("boolean", "bandrill-ink-only", "false"),
                                 ("integer", "bandrill-top-margin", "-1")])
            check(srv.wait_job("receipts", job).get("job-state") == "completed", "Letter on a roll")
            w, h, rows, png = decoded_page(srv.read_output("receipts"), work, "roll-" + fit)
            check(w == 384 and abs(h - length) <= 1, "Letter on a roll, %s: %dx%d dots" % (fit, w, h))
            log("Letter page on a 58 mm roll, %s: %dx%d dots" % (fit, w, h))


# ---------------------------------------------------------------- documents

def submit(srv, printer, path, *options):
    """The command line's submit: the job's id."""
    out = srv.cli("submit", "-d", printer, *options, path).stdout.decode()
    m = re.search(r"-(\d+)\s*$", out)
    check(m is not None, "submit printed %r" % out)
    return int(m.group(1))


def case_documents():
    work = workdir("bandrill-app-documents-")
    with Server(ARGS.app) as srv:
        srv.add("r58", "escpos-58")
        srv.add("r80", "escpos-80")
        srv.add("labels", "tspl-203")

        # A JPEG without a JFIF or Exif header (FF D8 FF DB), sent without a
        # format: known by its content; on a roll it starts at once and is
        # as long as it is.
        jfif = os.path.join(work, "jfif.jpg")
        run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=jpeggray", "-r60",
             "-sOutputFile=" + jfif, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                  "..", "..", "samples", "sample.pdf")])
        with open(jfif, "rb") as f:
            data = f.read()
        # Its application segments (JFIF, ICC profile) taken out.
        bare, pos = data[:2], 2
        while data[pos] == 0xFF and 0xE0 <= data[pos + 1] <= 0xEF:
            pos += 2 + struct.unpack(">H", data[pos + 2:pos + 4])[0]
        bare += data[pos:]
        check(bare[:4] == b"\xff\xd8\xff\xdb", "the bare JPEG starts %r" % bare[:4])
        jpeg = os.path.join(work, "bare.jpg")
        with open(jpeg, "wb") as f:
            f.write(bare)
        job = submit(srv, "r58", jpeg)
        info = srv.wait_job("r58", job)
        check(info.get("job-state") == "completed", "bare JPEG by submit: %s" % info)
        w, h, rows, _ = decoded_page(srv.read_output("r58"), work, "jpeg")
        x0, y0, x1, y1 = documents.ink_box(rows)
        check(w == 384 and 225 <= h <= 235 and y0 <= 2 and y1 >= h - 3,
              "bare JPEG: %dx%d dots, ink %r" % (w, h, (x0, y0, x1, y1)))
        log("JPEG without JFIF by submit: printed, %dx%d dots, ink from row %d" % (w, h, y0))

        # A PNG on a roll: as long as it is, from its first row.
        png = make_png(os.path.join(work, "p.png"), 300, 200)
        job = srv.print_job("r58", png, "image/png", [("integer", "bandrill-crop-bottom", "0")])
        check(srv.wait_job("r58", job).get("job-state") == "completed", "PNG on a roll")
        png_stream = srv.read_output("r58")
        w, h, rows, _ = decoded_page(png_stream, work, "png")
        check((w, h) == (384, 256) and documents.ink_box(rows)[1] == 0,
              "PNG on a roll: %dx%d dots, ink %r" % (w, h, documents.ink_box(rows)))

        # Whatever the client calls them: the same bytes as when named right.
        pdf = documents.label_pdf(os.path.join(work, "l.pdf"), 288, 432, 288, 432)
        job = srv.print_job("labels", pdf, "application/pdf", LABEL_4X6)
        srv.wait_job("labels", job)
        pdf_stream = srv.read_output("labels")
        job = srv.print_job("r58", jpeg, "image/jpeg")
        srv.wait_job("r58", job)
        jpeg_stream = srv.read_output("r58")
        for printer, path, said, want, attrs in (
                ("r58", png, "image/jpeg", png_stream, [("integer", "bandrill-crop-bottom", "0")]),
                ("r58", jpeg, "image/png", jpeg_stream, []),
                ("labels", pdf, "image/png", pdf_stream, LABEL_4X6),
                ("r58", jpeg, "application/octet-stream", jpeg_stream, [])):
            job = srv.print_job(printer, path, said, attrs)
            info = srv.wait_job(printer, job)
            check(info.get("job-state") == "completed", "%s sent as %s: %s" % (path, said, info))
            check(srv.read_output(printer) == want, "%s sent as %s: other bytes" % (path, said))
        log("PNG, JPEG and PDF sent as another format: printed as what they are")

        # Plain text at the roll's width: 32 columns on 58 mm, 48 on 80 mm.
        text = os.path.join(work, "receipt.txt")
        with open(text, "w") as f:
            f.write("0123456789" * 4 + "\n")
        for printer, lines in (("r58", [(360, 384), (80, 100)]), ("r80", [(460, 490)])):
            job = submit(srv, printer, text)
            info = srv.wait_job(printer, job)
            check(info.get("job-state") == "completed", "text on %s: %s" % (printer, info))
            w, h, rows, _ = decoded_page(srv.read_output(printer), work, "text-" + printer)
            bands = documents.text_bands(rows)
            check(len(bands) == len(lines), "text on %s: %d lines %r" % (printer, len(bands), bands))
            for (y0, y1, x0, x1), (lo, hi) in zip(bands, lines):
                check(lo <= x1 - x0 + 1 <= hi and y1 - y0 + 1 >= 14,
                      "text on %s: a line %d dots wide, %d high" % (printer, x1 - x0 + 1, y1 - y0 + 1))
        log("text: 40 digits take two lines on 58 mm and one on 80 mm")

        # PDF by submit; and a file of no format the printer takes: aborted,
        # and the job says why.
        job = submit(srv, "labels", pdf, "-o", "media=oe_4x6-label_4x6in")
        check(srv.wait_job("labels", job).get("job-state") == "completed", "PDF by submit")
        check(srv.read_output("labels") == pdf_stream, "PDF by submit: other bytes")
        junk = os.path.join(work, "junk.bin")
        with open(junk, "wb") as f:
            f.write(bytes(range(256)) * 4)
        job = submit(srv, "r58", junk)
        info = srv.wait_job("r58", job)
        check(info.get("job-state") == "aborted" and
              "document-format-error" in info.get("job-state-reasons", "") and
              "it prints PDF" in info.get("job-state-message", ""), "junk: %s" % info)
        check(all(os.path.getsize(f) == 0 for f in srv.outputs("r58")), "junk was sent")
        log("junk by submit: aborted (%s)" % info.get("job-state-message"))


# ---------------------------------------------------------------- values

_IPP_HEAD = """{
\tNAME "%(name)s"
\tOPERATION %(op)s
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tATTR name requesting-user-name tester
"""

# (printer, attributes, the attribute named in unsupported-attributes):
# each job is refused before anything is printed.
BAD_JOBS = [
    ("labels", "ATTR keyword bandrill-halftone foo", "bandrill-halftone"),
    ("labels", "ATTR integer bandrill-threshold 999", "bandrill-threshold"),
    ("labels", "ATTR keyword bandrill-contrast abc", "bandrill-contrast"),
    ("labels", "ATTR integer bandrill-compress 1", "bandrill-compress"),
    ("labels", "ATTR keyword bandrill-setc maybe", "bandrill-setc"),
    ("labels", "ATTR keyword bandrill-darkness darkest", "bandrill-darkness"),
    ("labels", "ATTR keyword media oe_bogus_9x9in", "media"),
    # A size of the receipt printer's roll is not a label size.
    ("labels", "ATTR keyword media om_roll58-100_48.05x100mm", "media"),
    ("labels", "ATTR collection media-col { MEMBER keyword media-size-name oe_bogus_9x9in }",
     "media-col"),
    ("labels", "ATTR collection media-col { MEMBER collection media-size "
     "{ MEMBER integer x-dimension 30000 MEMBER integer y-dimension 5000 } }", "media-col"),
    ("labels", "ATTR collection media-col { MEMBER keyword media-tracking web }", "media-col"),
    ("labels", "ATTR integer print-speed 99999", "print-speed"),
    ("labels", "ATTR enum orientation-requested 9", "orientation-requested"),
    ("receipts", "ATTR keyword bandrill-cash-drawer 3-before", "bandrill-cash-drawer"),
    ("receipts", "ATTR integer bandrill-feed-offset 60", "bandrill-feed-offset"),
    ("receipts", "ATTR integer bandrill-crop-bottom -2", "bandrill-crop-bottom"),
]

# (printer, attribute, its name): refused, and the printer keeps its default.
BAD_DEFAULTS = [
    ("labels", "ATTR keyword bandrill-halftone-default bogus", "bandrill-halftone-default"),
    ("labels", "ATTR integer bandrill-threshold-default 999", "bandrill-threshold-default"),
    ("labels", "ATTR keyword bandrill-setc-default maybe", "bandrill-setc-default"),
    ("labels", "ATTR keyword media-default oe_bogus_9x9in", "media-default"),
    ("labels", "ATTR collection media-col-default { MEMBER keyword media-size-name "
     "om_roll58-100_48.05x100mm }", "media-col-default"),
    ("labels", "ATTR integer printer-darkness-configured 150", "printer-darkness-configured"),
    ("labels", "ATTR integer print-darkness-default -101", "print-darkness-default"),
    ("labels", "ATTR integer print-speed-default 99999", "print-speed-default"),
    ("labels", "ATTR enum orientation-requested-default 9", "orientation-requested-default"),
    ("labels", "ATTR keyword print-content-optimize-default best", "print-content-optimize-default"),
    ("receipts", "ATTR keyword bandrill-cut-mode-default sometimes", "bandrill-cut-mode-default"),
]


def ipp_test(name, op, attrs, expect, group="job-attributes-tag", doc=False):
    text = _IPP_HEAD % {"name": name, "op": op}
    if doc:
        text += "\tATTR mimeMediaType document-format $format\n"
    text += "\tGROUP %s\n\t%s\n" % (group, attrs)
    if doc:
        text += "\tFILE $filename\n"
    return text + expect + "}\n"


def case_values():
    work = workdir("bandrill-app-values-")
    with Server(ARGS.app) as srv:
        srv.add("labels", "tspl-203")
        srv.add("receipts", "escpos-58")
        pwg = raster("pwg", os.path.join(work, "p.pwg"), 384, 120, 203)
        before = {p: srv.attributes(p) for p in ("labels", "receipts")}

        for printer in ("labels", "receipts"):
            tests = ""
            for i, (p, attrs, name) in enumerate(BAD_JOBS + BAD_DEFAULTS):
                if p != printer:
                    continue
                refused = ("\tSTATUS client-error-attributes-or-values-not-supported\n"
                           "\tEXPECT %s IN-GROUP unsupported-attributes-tag\n" % name)
                if (p, attrs, name) in BAD_JOBS:
                    for op in ("Print-Job", "Validate-Job"):
                        tests += ipp_test("%s %d %s" % (op, i, name), op, attrs, refused,
                                          doc=op == "Print-Job")
                else:
                    tests += ipp_test("Set %d %s" % (i, name), "Set-Printer-Attributes", attrs,
                                      refused, group="printer-attributes-tag")
            # A vendor attribute the driver has not is ignored, and says so.
            if printer == "labels":
                tests += ipp_test(
                    "ignored", "Print-Job", "ATTR keyword bandrill-cut-mode job",
                    "\tSTATUS successful-ok-ignored-or-substituted-attributes\n"
                    "\tEXPECT bandrill-cut-mode IN-GROUP unsupported-attributes-tag\n"
                    "\tEXPECT job-id\n", doc=True)
            path = os.path.join(work, printer + ".test")
            with open(path, "w") as f:
                f.write(tests)
            res = run(["ipptool", "-t", "-T", "30", "-f", pwg, "-d", "format=image/pwg-raster",
                       srv.uri(printer), path], check_rc=False)
            out = res.stdout.decode(errors="replace")
            check(res.returncode == 0, "%s: not every bad value refused:\n%s" % (printer, out))
            log("%s: %d requests with bad values refused" % (printer, out.count("[PASS]")))

        # Nothing printed but the ignored one, and every default kept.
        deadline = time.time() + 30
        while srv.active_jobs("labels") and time.time() < deadline:
            time.sleep(0.2)
        check(len(srv.outputs("labels")) == 1, "labels: printed %r" % srv.outputs("labels"))
        srv.read_output("labels")
        check(srv.outputs("receipts") == [], "receipts: printed %r" % srv.outputs("receipts"))
        for p in ("labels", "receipts"):
            after = srv.attributes(p)
            for name in [n for q, _, n in BAD_DEFAULTS if q == p]:
                check(after.get(name) == before[p].get(name), "%s: %s %r became %r"
                      % (p, name, before[p].get(name), after.get(name)))

        # The command line: the server's reason (a keyword not offered, a
        # number out of range), or its own for what PAPPL's client would
        # drop (a number that is none, an unknown option); exit status 1.
        for args, said in (
                (["modify", "-d", "labels", "-o", "bandrill-halftone-default=bogus"],
                 ["bogus", "stucki"]),
                (["modify", "-d", "labels", "-o", "bandrill-threshold-default=999"],
                 ["999", "0 to 255"]),
                (["modify", "-d", "labels", "-o", "bandrill-threshold-default=abc"],
                 ["abc", "not a number"]),
                (["modify", "-d", "labels", "-o", "bandrill-halftne-default=stucki"],
                 ["no such option"]),
                (["modify", "-d", "labels", "-o", "printer-darkness-configured=120"],
                 ["0 to 100"]),
                (["submit", "-d", "labels", "-o", "bandrill-halftone=foo", pwg], ["foo"]),
                (["submit", "-d", "labels", "-o", "media=oe_bogus_9x9in", pwg], ["media"])):
            res = srv.cli(*args, check_rc=False)
            err = res.stderr.decode(errors="replace")
            check(res.returncode != 0 and all(w in err for w in said),
                  "%s: exit %d, said %r" % (" ".join(args), res.returncode, err))
        check(srv.outputs("labels") == [], "the command line printed a refused job")
        a = srv.attributes("labels")
        check(a.get("bandrill-halftone-default") == before["labels"].get("bandrill-halftone-default")
              and a.get("bandrill-threshold-default") == before["labels"].get("bandrill-threshold-default"),
              "the command line changed defaults it refused")
        # Good values still go through, media with them (PAPPL's client
        # puts media-default in the job group).
        srv.cli("modify", "-d", "labels", "-o",
                "bandrill-halftone-default=stucki bandrill-threshold-default=96 "
                "media=om_30x20-label_30x20mm printer-darkness-configured=70")
        a = srv.attributes("labels")
        for name, want in (("bandrill-halftone-default", "stucki"),
                           ("bandrill-threshold-default", "96"),
                           ("media-default", "om_30x20-label_30x20mm"),
                           ("printer-darkness-configured", "70")):
            check(a.get(name) == want, "modify: %s is %r, not %r" % (name, a.get(name), want))
        # The printer darkness set applies by itself: 70 % of 16 levels.
        check(a.get("bandrill-darkness-default") == "configured",
              "printer-darkness-configured set, darkness used: %r" % a.get("bandrill-darkness-default"))
        ras = raster("cups", os.path.join(work, "p.ras"), 384, 120, 203)
        job = srv.print_job("labels", pwg, "image/pwg-raster")
        check(srv.wait_job("labels", job).get("job-state") == "completed", "job after modify")
        check(srv.read_output("labels") == run_filter("tspl-203", ras,
                                                      "ImageFilter=4 Threshold=96 Darkness=11"),
              "the defaults set on the command line do not print as the filter's")
        # The printer's own darkness is one choice of the same setting.
        srv.cli("modify", "-d", "labels", "-o", "bandrill-darkness-default=printer")
        check(srv.attributes("labels").get("bandrill-darkness-default") == "printer",
              "back to the printer's own darkness")
        log("command line: bad values refused with the reason, good ones taken")


def case_languages():
    """printer-strings-languages-supported stays one value however often
    the printer is asked (PAPPL adds one more on every request)."""
    with Server(ARGS.app, log_level="warn") as srv:
        srv.add("labels", "tspl-203")
        one = _IPP_HEAD % {"name": "attrs", "op": "Get-Printer-Attributes"} + \
            "\tATTR keyword requested-attributes all\n}\n"
        path = os.path.join(srv.dir, "many.test")
        with open(path, "w") as f:
            f.write(one * 100)
        res = run(["ipptool", "-t", "-T", "30", srv.uri("labels"), path])
        check(res.returncode == 0, "Get-Printer-Attributes failed")
        out = srv.ipptool("labels", GET_ALL)
        got = re.findall(r"printer-strings-languages-supported \([^)]*\) = (.*)", out)
        check(got == ["en"], "after 100 requests: printer-strings-languages-supported %r" % got)
        log("printer-strings-languages-supported: %r after 100 requests" % got)


GET_ALL = _IPP_HEAD % {"name": "attrs", "op": "Get-Printer-Attributes"} + \
    "\tATTR keyword requested-attributes all\n\tSTATUS successful-ok\n}\n"


def case_discovery():
    """Device listing and Add Printer without avahi-daemon, in a network
    namespace of its own with only loopback (listing sends mDNS and SNMP
    broadcasts)."""
    if os.environ.get("BANDRILL_NETNS") != "1":
        if os.getuid() != 0 or not shutil.which("unshare") or not shutil.which("ip"):
            log("SKIP: needs root, unshare and ip for a private network namespace")
            sys.exit(77)
        env = dict(os.environ, BANDRILL_NETNS="1")
        res = subprocess.run(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                              sys.executable] + sys.argv, env=env, timeout=240)
        sys.exit(res.returncode)
    with Server(ARGS.app) as srv:
        srv.add("labels", "tspl-203")
        res = srv.cli("devices", check_rc=False)
        check(res.returncode == 0, "devices: exit %d\n%s" % (res.returncode, res.stderr.decode()))
        import urllib.request
        with urllib.request.urlopen("http://localhost:%d/addprinter" % srv.port, timeout=60) as r:
            page = r.read().decode(errors="replace")
        check('name="device_uri"' in page and "tspl-203" in page, "Add Printer page:\n" + page[-2000:])
        avahi = subprocess.run(["pgrep", "-x", "avahi-daemon"], stdout=subprocess.DEVNULL).returncode == 0
        if not avahi:
            check("avahi-daemon is not running" in page,
                  "Add Printer does not say why the network has no printers")
        check(srv.alive(), "the server died listing devices")
        check(srv.attributes("labels").get("printer-state") == "idle", "server not answering")
        log("devices and Add Printer without avahi-daemon: listed, page shown%s"
            % ("" if avahi else ", discovery note present"))


# ---------------------------------------------------------------- web

class Browser:
    """Headless chromium driven over its DevTools pipe (fds 3 and 4)."""

    def __init__(self, chromium, userdir):
        cmd_r, self.cmd_w = os.pipe()
        self.out_r, out_w = os.pipe()

        def fds():
            os.dup2(cmd_r, 3)
            os.dup2(out_w, 4)
        self.proc = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + userdir, "--remote-debugging-pipe",
             "about:blank"],
            preexec_fn=fds, close_fds=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(cmd_r)
        os.close(out_w)
        self.buf = b""
        self.next_id = 0
        self.session = None

    def call(self, method, params=None, session=True, timeout=30):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            msg["sessionId"] = self.session
        os.write(self.cmd_w, json.dumps(msg).encode() + b"\0")
        deadline = time.time() + timeout
        while time.time() < deadline:
            while b"\0" in self.buf:
                raw, self.buf = self.buf.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("id") == self.next_id:
                    check("error" not in reply, "%s: %s" % (method, reply.get("error")))
                    return reply.get("result", {})
            ready, _, _ = select.select([self.out_r], [], [], 1)
            if ready:
                chunk = os.read(self.out_r, 65536)
                check(chunk, "chromium closed its pipe")
                self.buf += chunk
        raise Failure("chromium did not answer %s" % method)

    def open(self, url):
        target = self.call("Target.createTarget", {"url": url}, session=False)["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target, "flatten": True}, session=False)["sessionId"]

    def eval(self, expression):
        res = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        return res.get("result", {}).get("value")

    def wait(self, expression, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                if self.eval(expression):
                    return
            except Failure:
                pass
            time.sleep(0.2)
        raise Failure("the page never had %s" % expression)

    def close(self):
        try:
            self.call("Browser.close", session=False, timeout=10)
        except Failure:
            pass
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.cmd_w)
        os.close(self.out_r)


def test_page(browser, srv, printer):
    """The stream of the test page printed from the printer's web page."""
    browser.open("http://localhost:%d/%s/" % (srv.port, printer))
    browser.wait("document.readyState == 'complete' && "
                 "!!document.querySelector('input[value=\"print-test-page\"]')")
    browser.eval("document.querySelector('input[value=\"print-test-page\"]').form.submit(); true")
    wait_file(os.path.join(srv.printers[printer], "*.prn"))
    deadline = time.time() + 30
    while srv.active_jobs(printer) and time.time() < deadline:
        time.sleep(0.2)
    return srv.read_output(printer)


# PAPPL's controls that do nothing for these printers (colour, quality,
# content, scaling, trays, sides) and their labels.
USELESS_CONTROLS = ("print-color-mode", "print-quality", "print-content-optimize",
                    "print-scaling", "output-bin", "sides", "media-source")
USELESS_LABELS = ("Optimize For", "Scaling", "Print Quality", "Color Mode", "Sides")


def check_defaults_page(browser, printer):
    """Printing Defaults of a label printer: three groups in order, the
    darkness in the printer's group as one control whose first choice is
    the printer's own, nothing of PAPPL's that does nothing here."""
    headings = browser.eval("Array.from(document.querySelectorAll('form h3'))"
                            ".map(h => h.innerText)")
    check(headings == ["Labels and position", "Image", "Printer"],
          "%s: groups %r" % (printer, headings))
    named = browser.eval("Array.from(document.querySelectorAll('form [name]')).map(e => e.name)")
    for name in USELESS_CONTROLS:
        check(name not in named, "%s: PAPPL's %s is shown" % (printer, name))
    text = browser.eval("document.querySelector('form').innerText")
    for label in USELESS_LABELS:
        check(label not in text, "%s: %r is shown" % (printer, label))
    check(named.count("print-darkness") == 1 and "bandrill-darkness" not in named,
          "%s: darkness controls %r" % (printer, [n for n in named if "darkness" in n]))
    choices = browser.eval("Array.from(document.querySelector('select[name=\"print-darkness\"]')"
                           ".options).map(o => [o.value, o.text])")
    check(choices[0] == ["printer", "The printer's own setting"] and len(choices) == 17,
          "%s: darkness choices %r" % (printer, choices[:3]))
    # Each control sits under its group's heading.
    group_of = browser.eval(
        "(() => { let g = {}, cur = null; for (const tr of document.querySelectorAll('form tr')) {"
        " const h = tr.querySelector('h3'); if (h) { cur = h.innerText; continue; }"
        " for (const e of tr.querySelectorAll('[name]')) g[e.name] = cur; } return g; })()")
    for name, group in (("print-darkness", "Printer"), ("bandrill-halftone", "Image"),
                        ("bandrill-fit", "Labels and position"),
                        ("bandrill-gap-height", "Labels and position"),
                        ("orientation-requested", "Labels and position"),
                        ("bandrill-setc", "Printer")):
        check(group_of.get(name) == group, "%s: %s under %r" % (printer, name, group_of.get(name)))


def fetch(srv, path):
    import urllib.request
    with urllib.request.urlopen("http://localhost:%d%s" % (srv.port, path), timeout=60) as r:
        return r.read()


ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app", "icons")


def case_web_look():
    """Icons, the header and roll sizes: each printer's icon is its kind's
    (not PAPPL's placeholder), the header shows the application's mark,
    and roll sizes read in millimetres wherever the pages show them."""
    chromium = shutil.which("chromium")
    if not chromium:
        log("SKIP: no chromium")
        sys.exit(77)
    work = workdir("bandrill-app-web-look-")
    with Server(ARGS.app) as srv:
        printers = (("labels", "tspl-203", "label"), ("cpcl", "cpcl", "label"),
                    ("receipts", "escpos-80", "receipt"), ("pocket", "paperang", "pocket"),
                    ("peripage", "peripage-576", "pocket"))
        for name, driver, _ in printers:
            srv.add(name, driver)
        for name, _, kind in printers:
            for size in ("sm", "md", "lg"):
                with open(os.path.join(ICONS, "%s-%s.png" % (kind, size)), "rb") as f:
                    want = f.read()
                check(fetch(srv, "/%s/icon-%s.png" % (name, size)) == want,
                      "%s: icon-%s.png is not the %s icon" % (name, size, kind))
        with open(os.path.join(ICONS, "navicon.png"), "rb") as f:
            check(fetch(srv, "/navicon.png") == f.read(), "the header's mark is PAPPL's")
        browser = Browser(chromium, os.path.join(work, "profile"))
        try:
            # The icons as the browser shows them.
            browser.open("http://localhost:%d/" % srv.port)
            browser.wait("document.readyState == 'complete' && document.images.length > 5 && "
                         "Array.from(document.images).every(i => i.complete)")
            widths = browser.eval("Array.from(document.images).map(i => [i.getAttribute('src'), "
                                  "i.naturalWidth])")
            check(["/navicon.png", 288] in widths and ["/receipts/icon-md.png", 128] in widths,
                  "home page images %r" % widths)
            # Roll sizes: the media page's choices and Printing Defaults.
            browser.open("http://localhost:%d/receipts/media" % srv.port)
            browser.wait("document.readyState == 'complete' && !!document.querySelector('select')")
            sizes = browser.eval("Array.from(document.querySelector('select').options)"
                                 ".map(o => o.text)")
            check("80 mm roll, 100 mm long" in sizes and not any('"' in t for t in sizes),
                  "roll sizes on the media page: %r" % sizes)
            browser.open("http://localhost:%d/receipts/printing" % srv.port)
            browser.wait("document.readyState == 'complete' && !!document.querySelector('form h3')")
            text = browser.eval("document.querySelector('form').innerText")
            check("80 mm roll, 100 mm long" in text and '"' not in text,
                  "roll size on Printing Defaults:\n" + text)
            headings = browser.eval("Array.from(document.querySelectorAll('form h3'))"
                                    ".map(h => h.innerText)")
            check(headings == ["Paper and position", "Image", "Printer"],
                  "receipts: groups %r" % headings)
            # A length of the roll's own (the media page's custom size) reads
            # in millimetres too.
            browser.open("http://localhost:%d/receipts/media" % srv.port)
            browser.wait("document.readyState == 'complete' && "
                         "!!document.querySelector('select[name=\"ready0-size\"]')")
            browser.eval("window.before = 1; const f = document.getElementById('form');"
                         "f['ready0-size'].value = 'custom'; f['ready0-custom-width'].value = '72.08';"
                         "f['ready0-custom-length'].value = '123.5';"
                         "document.getElementById('ready0-custom-units-mm').checked = true;"
                         "f.submit(); true")
            browser.wait("!window.before && document.readyState == 'complete' && "
                         "!!document.querySelector('.banner')")
        finally:
            browser.close()
        page = fetch(srv, "/receipts/printing").decode()
        check("72.08 x 123.5 mm" in page, "custom roll length not in millimetres:\n" + page[-3000:])
    log("web look: icons by kind served and shown, the header's mark, roll sizes in mm")


def save_darkness(chromium, work, port, choice):
    """Chooses Print Darkness on the labels printer's Printing Defaults and
    saves; returns the choice the page showed before."""
    browser = Browser(chromium, os.path.join(work, "profile"))
    try:
        browser.open("http://localhost:%d/labels/printing" % port)
        browser.wait("document.readyState == 'complete' && "
                     "!!document.querySelector('select[name=\"print-darkness\"]')")
        shown = browser.eval("document.querySelector('select[name=\"print-darkness\"]').value")
        browser.eval("window.before = 1; document.querySelector('select[name="
                     "\"print-darkness\"]').value = '%s'; "
                     "document.getElementById('form').submit(); true" % choice)
        browser.wait("!window.before && document.readyState == 'complete' && "
                     "!!document.querySelector('.banner')")
    finally:
        browser.close()
    return shown


def case_web():
    chromium = shutil.which("chromium")
    if not chromium:
        log("SKIP: no chromium")
        sys.exit(77)
    work = workdir("bandrill-app-web-")
    with Server(ARGS.app) as srv:
        srv.add("labels", "tspl-203")
        srv.add("receipts", "escpos-58")
        browser = Browser(chromium, os.path.join(work, "profile"))
        try:
            browser.open("http://localhost:%d/labels/printing" % srv.port)
            browser.wait("document.readyState == 'complete' && "
                         "!!document.querySelector('select[name=\"bandrill-halftone\"]')")
            text = browser.eval("document.body.innerText")
            for label in ("Halftoning", "Trim blank bottom", "Vendor SETC commands",
                          "Stucki", "Print method", "Fit to label", "Printed part fitted"):
                check(label in text, "web page: no %r" % label)
            check("bandrill-halftone" not in text, "web page shows raw attribute names")
            check_defaults_page(browser, "labels")
            # (window.before tells the page submitted from from the new one.)
            browser.eval("window.before = 1; "
                         "document.querySelector('select[name=\"bandrill-halftone\"]').value = "
                         "'stucki'; document.querySelector('input[name=\"bandrill-contrast\"]')"
                         ".value = '20'; document.getElementById('form').submit(); true")
            browser.wait("!window.before && document.readyState == 'complete' && "
                         "document.querySelector('select[name=\"bandrill-halftone\"]') && "
                         "document.querySelector('select[name=\"bandrill-halftone\"]').value "
                         "== 'stucki'")
            # A value out of range (the browser's own check bypassed) is
            # not saved, and the page says so.
            browser.eval("window.before = 1; document.querySelector('input[name="
                         "\"bandrill-contrast\"]').value = '999'; "
                         "document.getElementById('form').submit(); true")
            browser.wait("!window.before && document.readyState == 'complete' && "
                         "!!document.querySelector('.banner')")
            banner = browser.eval("document.querySelector('.banner').innerText")
            check("Not saved" in banner, "out-of-range contrast: banner %r" % banner)
            # Nor is a crafted value of the page's own controls.
            for name, value in (("print-darkness", "bogus"), ("print-darkness", "101"),
                                ("orientation-requested", "9"), ("print-speed", "99")):
                browser.eval("window.before = 1; document.querySelector('select[name=\"%s\"]')"
                             ".add(new Option('%s', '%s', true, true)); "
                             "document.getElementById('form').submit(); true" % (name, value, value))
                browser.wait("!window.before && document.readyState == 'complete' && "
                             "!!document.querySelector('.banner')")
                banner = browser.eval("document.querySelector('.banner').innerText")
                check("Not saved" in banner, "%s=%s: banner %r" % (name, value, banner))
            # The driver's test page, from the printer's page.
            rc, listing, pngs = decode(test_page(browser, srv, "labels"), work, "testpage")
            check(rc == 0 and len(pngs) == 1, "test page: decode %d, %r" % (rc, pngs))
            # A roll's test page starts at the top and is as long as it is
            # (a square of the head's width), not the roll's 100 mm.
            w, h, rows, _ = decoded_page(test_page(browser, srv, "receipts"), work, "testpage-roll")
            check((w, h) == (384, 384) and documents.ink_box(rows)[1] == 0,
                  "roll test page: %dx%d dots, ink %r" % (w, h, documents.ink_box(rows)))
        finally:
            browser.close()
        a = srv.attributes("labels")
        check(a.get("bandrill-halftone-default") == "stucki",
              "saved halftone default: %r" % a.get("bandrill-halftone-default"))
        check(a.get("bandrill-contrast-default") == "20",
              "saved contrast default: %r" % a.get("bandrill-contrast-default"))
        # Jobs without settings of their own print with the saved defaults.
        pwg = raster("pwg", os.path.join(work, "p.pwg"), 400, 240, 203)
        ras = raster("cups", os.path.join(work, "p.ras"), 400, 240, 203)
        job = srv.print_job("labels", pwg, "image/pwg-raster")
        check(srv.wait_job("labels", job).get("job-state") == "completed", "job after the change")
        want = run_filter("tspl-203", ras, "ImageFilter=4 Contrast=20")
        check(srv.read_output("labels") == want, "the saved defaults do not apply to jobs")
        check(a.get("bandrill-darkness-default") == "printer",
              "saving other defaults changed the darkness used: %r" % a.get("bandrill-darkness-default"))
        # Print Darkness chosen on the page applies by itself.
        save_darkness(chromium, work, srv.port, "40")
        a = srv.attributes("labels")
        check(a.get("printer-darkness-configured") == "40" and
              a.get("bandrill-darkness-default") == "configured",
              "Print Darkness 40 %%: configured %r, used %r" % (
                  a.get("printer-darkness-configured"), a.get("bandrill-darkness-default")))
        job = srv.print_job("labels", pwg, "image/pwg-raster")
        check(srv.wait_job("labels", job).get("job-state") == "completed", "job after darkness")
        check(srv.read_output("labels") == run_filter("tspl-203", ras,
                                                      "ImageFilter=4 Contrast=20 Darkness=6"),
              "Print Darkness 40 % does not print as Darkness=6")
        # The page shows the level it saved; the printer's own setting, the
        # same control's first choice, takes the darkness out of the job
        # and keeps the level for later.
        shown = save_darkness(chromium, work, srv.port, "printer")
        check(shown == "40", "Print Darkness after saving 40 %%: the page shows %r" % shown)
        a = srv.attributes("labels")
        check(a.get("bandrill-darkness-default") == "printer" and
              a.get("printer-darkness-configured") == "40",
              "the printer's own darkness: used %r, configured %r" % (
                  a.get("bandrill-darkness-default"), a.get("printer-darkness-configured")))
        job = srv.print_job("labels", pwg, "image/pwg-raster")
        check(srv.wait_job("labels", job).get("job-state") == "completed", "job after own darkness")
        check(srv.read_output("labels") == run_filter("tspl-203", ras, "ImageFilter=4 Contrast=20"),
              "the printer's own darkness still sends a darkness")
        log("web: labels shown, test page printed, setting saved, seen in Get-Printer-Attributes and applied to jobs")


# ---------------------------------------------------------------- CUPS

def case_cups():
    """A CUPS driverless queue in front: a PDF printed through cupsd."""
    if os.getuid() != 0 or not ARGS.cmake:
        log("SKIP: needs root (cupsd runs its filters as lp) and --cmake/--build")
        sys.exit(77)
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
    import harness
    pdf = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples",
                       "sample.pdf")
    work = workdir("bandrill-app-cups-")
    with Server(ARGS.app) as srv:
        srv.add("receipts", "escpos-58")
        with harness.PrivateCups(ARGS.cmake, ARGS.build) as pc:
            cups = pc.cups
            cups.lp_cmd(["lpadmin", "-p", "app", "-E", "-v", srv.uri("receipts"), "-m", "everywhere"])
            # lpadmin returns before the queue's PPD is made.
            deadline = time.time() + 60
            while (cups.lp_cmd(["lpoptions", "-p", "app", "-l"], check_rc=False).returncode != 0
                   or not os.path.exists(cups.queue_ppd("app"))):
                check(time.time() < deadline, "the driverless queue got no PPD:\n" + cups.log_tail())
                time.sleep(0.5)
            ppd = open(cups.queue_ppd("app"), errors="replace").read()
            check(re.search(r"\*DefaultPageSize: \S*48.05x100mm", ppd) is not None,
                  "the driverless PPD's default size is not the roll:\n" +
                  "\n".join(l for l in ppd.splitlines() if "PageSize" in l))
            job = cups.submit("app", pdf)
            cups.expect_completed(job)
            files = wait_file(os.path.join(srv.printers["receipts"], "*.prn"), timeout=60)
            deadline = time.time() + 30
            while srv.active_jobs("receipts") and time.time() < deadline:
                time.sleep(0.2)
        with open(files[0], "rb") as f:
            data = f.read()
    rc, listing, pngs = decode(data, work, "cups")
    check(rc == 0 and pngs, "PDF through CUPS: decode %d, %d pages\n%s" % (rc, len(pngs), listing[-1500:]))
    w, h = png_size(pngs[0])
    check(w == 384, "PDF through CUPS: page %dx%d" % (w, h))
    log("CUPS driverless queue: PDF printed, %d page(s) of %dx%d dots" % (len(pngs), w, h))


CASES = {
    "values": case_values,
    "languages": case_languages,
    "discovery": case_discovery,
    "cups": case_cups,
    "web": case_web,
    "web_look": case_web_look,
    "attributes": case_attributes,
    "pwg": case_pwg,
    "png_raw": case_png_raw,
    "faults": case_faults,
    "pdf": case_pdf,
    "documents": case_documents,
}


def main(cases=CASES):
    """Runs the case the command line names, of cases (the other test
    scripts of the application hand theirs)."""
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--app", required=True)
    p.add_argument("--filter", required=True)
    p.add_argument("--ppd-dir", required=True)
    p.add_argument("--raster", required=True)
    p.add_argument("--decoder", required=True)
    p.add_argument("--families", required=True)
    p.add_argument("--cmake", default="")
    p.add_argument("--build", default="")
    p.add_argument("case", choices=sorted(cases))
    ARGS = p.parse_args()
    out = subprocess.run([ARGS.families, "--drivers"], stdout=subprocess.PIPE, check=True)
    for line in out.stdout.decode().splitlines():
        name, model, language, dpi, dots = line.split()
        DRIVERS[name] = (int(model), language, int(dpi), int(dots))
    try:
        cases[ARGS.case]()
    except Failure as e:
        log("FAIL: %s" % e)
        return 1
    for d in WORKDIRS:
        shutil.rmtree(d, ignore_errors=True)
    log("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
