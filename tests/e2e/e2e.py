#!/usr/bin/env python3
"""End-to-end tests: the installed driver printing through a real cupsd.

    e2e.py --cmake CMAKE --build BUILD_DIR [--decoder BANDRILL_DECODE] CASE

CASE is a printer family (tspl, escpos, cpcl, paperang, peripage): every
PPD of the family gets a queue, added with lpadmin -m from the installed
PPDs with one queue default set by lpadmin -o, and prints the sample page
as PNG and as PDF with job options. Each output file must decode cleanly,
carry the options' commands (exact bytes of the printer language), show
the sample's marks (threshold or halftone, rotation), and equal what the
filter writes when run by hand on the raster that cups-filters makes for
the same file, PPD and options.

CASE jobs: copies make pages, and a cancelled long job leaves whole pages.

CASE label4x6: a 4 x 6 in PDF label printed by PWG media name on the TSPL
queue with the installed PPD's defaults.

CASE receipt: a text file of several pages printed to the 58 mm ESC/POS
queue with one cut per job and a feed to the cutter is one slip, cut once
at its end.

CASE text: a three-page text receipt printed with no options to the 58
and 80 mm ESC/POS queues made from the installed PPDs is set at the
roll's width (32 and 48 columns: one printed line per text line), starts
with ink on its first row and is one slip cut once.

CASE ppds: the installed PPDs as the scheduler offers them: `lpinfo
--device-id` suggests the right PPD for typical USB device IDs, and PWG
media names pick the label sizes.
"""
import argparse
import os
import re
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
from harness import Failure, PrivateCups, check, log, run  # noqa: E402
import marks  # noqa: E402
from marks import S  # noqa: E402

SAMPLE_PNG = os.path.join(os.path.dirname(S.__file__), "sample.png")
SAMPLE_PDF = os.path.join(os.path.dirname(S.__file__), "sample.pdf")


def custom_page(width_pt):
    """A page as wide as the head and as long as the sample's shape wants,
    so that the converters neither rotate the sample nor leave it small."""
    return "PageSize=Custom.%gx%.2f" % (width_pt, width_pt * S.HEIGHT / S.WIDTH)


def feed_byte(mm, dpi):
    return bytes([int(mm * dpi / 25.4) & 0xFF])


# Paperang frames (start A5, type 01, length, record, CRC-32, end 5A).
PAPERANG_LOCATE_100 = bytes.fromhex("A5 01 09 00 05 21 03 04 00 64 00 00 00 8C 54 9A AE 5A")
PAPERANG_FEED_0 = bytes.fromhex("A5 01 07 00 05 16 03 02 00 00 00 20 0B 74 62 5A")
PAPERANG_END = bytes.fromhex("A5 01 05 00 05 1A 03 00 00 B9 B0 52 B7 5A")


class Job:
    """One print job: the file, its options and what its output must show.
    `present` are byte strings every page must contain, `absent` byte
    strings no page may contain, `ends` what the stream ends with."""

    def __init__(self, path, options, threshold=None, rotated180=False, present=(), absent=(), ends=None):
        self.path = path
        self.options = list(options)
        self.threshold = threshold
        self.rotated180 = rotated180
        self.present = list(present)
        self.absent = list(absent)
        self.ends = ends


def family_cases(family):
    """[(queue name, PPD file, language, queue defaults, [Job, ...])]

    The shipped PPDs default to threshold on label and receipt printers;
    the jobs that check a halftone ask for Burkes (ImageFilter=3)."""
    thr = ["ImageFilter=0", "Threshold=128"]
    burkes = ["ImageFilter=3"]
    if family == "tspl":
        out = []
        for dpi, page in ((203, None), (300, None)):
            size = [] if page is None else [page]
            # Fine offsets: 0.5 mm right and 1.25 mm up, in dots.
            right, up = round(0.5 * dpi / 25.4), round(1.25 * dpi / 25.4)
            out.append(("tspl-%d" % dpi, "bandrill-tspl-%d.ppd" % dpi, "tspl", ["Darkness=5"], [
                # Job options over the queue default; threshold. The vendor
                # SETC lines (off in the shipped PPDs) asked for. A gap of
                # 2 mm and the fine position.
                Job(SAMPLE_PNG, size + ["zeMediaTracking=Gap", "Darkness=12", "zePrintRate=3",
                                        "SetcCommands=True", "GapHeight=2", "HorizontalOffset=0.5",
                                        "VerticalOffset=-1.25"] + thr,
                    threshold=128,
                    present=[b"SET RIBBON OFF\r\n", b"GAP 2 mm,0 mm\r\n", b"DENSITY 12\r\n", b"SPEED 3\r\n",
                             b"SETC AUTODOTTED OFF\r\n", b",1,",
                             b"REFERENCE %d,0\r\nSHIFT -%d\r\n" % (right, up)],
                    absent=[b"BLINE"], ends=b"PRINT 1,1\r\n"),
                # The queue default darkness; no speed; compressed, rotated.
                # The shipped mark height.
                Job(SAMPLE_PDF, size + ["zeMediaTracking=BLine", "MediaMethod=Transfer", "ImageCompress=1",
                                        "SetcCommands=True", "AutoDotted=1", "Rotate=1"] + burkes,
                    rotated180=True,
                    present=[b"SET RIBBON ON\r\n", b"BLINE 3 mm,0 mm\r\n", b"DENSITY 5\r\n",
                             b"SETC AUTODOTTED ON\r\n", b"REFERENCE 0,0\r\nSHIFT 0\r\n"],
                    absent=[b"SPEED", b"GAP "], ends=b"PRINT 1,1\r\n"),
            ]))
        return out
    if family == "escpos":
        out = []
        for name, width in (("58", 136.2), ("80", 204.3)):
            page = custom_page(width)
            # A cut after every page where the paper stands, whose bytes
            # these jobs check (the shipped PPDs cut once per job after a
            # feed to the cutter).
            defaults = ["FeedOffset=3", "CutMode=Page", "CutFeed=False"]
            out.append(("escpos-" + name, "bandrill-escpos-%s.ppd" % name, "escpos", defaults, [
                Job(SAMPLE_PNG, [page, "FeedOffset=10"] + thr, threshold=128,
                    present=[b"\x1b\x40\x00\x1b\x61\x01\x1d\x76\x30\x00"],
                    ends=b"\x1b\x4a" + feed_byte(10, 203) + b"\x1d\x56\x31"),
                # The PDF's 50 mm page is scaled up to the 72 mm roll only on request.
                Job(SAMPLE_PDF, [page, "Rotate=1", "print-scaling=fit"] + burkes, rotated180=True,
                    ends=b"\x1b\x4a" + feed_byte(3, 203) + b"\x1d\x56\x31"),
            ]))
        return out
    if family == "cpcl":
        return [("cpcl", "bandrill-cpcl.ppd", "cpcl", ["AdjustHorizontal=1"], [
            Job(SAMPLE_PNG, ["zeMediaTracking=Gap", "AdjustHorizontal=0"] + thr, threshold=128,
                present=[b"! 0 200 200 ", b"PAGE - WIDTH "], ends=b"FORM\r\nPRINT\r\n"),
            Job(SAMPLE_PDF, ["zeMediaTracking=Continuous", "Rotate=1"] + burkes, rotated180=True,
                present=[b"! 64 200 200 "], absent=[b"FORM"], ends=b"PRINT\r\n"),
        ])]
    if family == "paperang":
        page = custom_page(136.2)
        # Continuous paper only (the PPD has no media tracking): every page
        # ends with the feed, never with the mark locate.
        return [("paperang", "bandrill-paperang.ppd", "paperang", ["Rotate=1"], [
            Job(SAMPLE_PNG, [page, "Rotate=0"] + thr, threshold=128,
                absent=[PAPERANG_LOCATE_100], ends=PAPERANG_END + PAPERANG_FEED_0),
            Job(SAMPLE_PDF, [page], rotated180=True,
                absent=[PAPERANG_LOCATE_100], ends=PAPERANG_END + PAPERANG_FEED_0),
        ]), ("paperang-mono", "bandrill-paperang.ppd", "paperang", ["ColorModel=BlackWhite"], [
            # The queue's one-bit colour mode: the converter halftones, so
            # the threshold options change nothing.
            Job(SAMPLE_PNG, [page] + thr, ends=PAPERANG_END + PAPERANG_FEED_0),
        ])]
    if family == "peripage":
        out = []
        for dots, width, dpi in ((384, 136.2, 203), (576, 138.25, 300)):
            page = custom_page(width)
            out.append(("peripage-%d" % dots, "bandrill-peripage-%d.ppd" % dots, "peripage", ["Darkness=2"], [
                Job(SAMPLE_PNG, [page, "Darkness=3", "zeMediaTracking=BLine", "FeedOffset=5"] + thr,
                    threshold=128,
                    present=[b"\x10\xff\xfe\x01\x10\xff\x10\x03\x00\x1b\x40\x00\x10\xff\x10\x00\x03\x1b\x61\x01"],
                    ends=b"\x1d\x0c\x1b\x4a" + feed_byte(5, dpi) + b"\x10\xff\xfe\x45"),
                Job(SAMPLE_PDF, [page, "Rotate=1"], rotated180=True,
                    present=[b"\x10\xff\xfe\x01\x10\xff\x10\x03\x01\x1b\x40\x00\x10\xff\x10\x00\x02\x1b\x61\x01"],
                    absent=[b"\x1d\x0c"], ends=b"\x10\x50\x10\xff\xfe\x45"),
            ]))
        return out
    raise SystemExit("unknown case " + family)


def direct_output(env, queue, job, work, tag):
    """What the filter writes when run by hand: cups-filters makes the raster
    from the same file with the queue's PPD and the job's options."""
    ppd = env.cups.queue_ppd(queue)
    raster = os.path.join(work, tag + ".ras")
    cmd = ["cupsfilter", "-p", ppd, "-m", "application/vnd.cups-raster"]
    for o in job.options:
        cmd += ["-o", o]
    with open(raster, "wb") as f:
        res = harness.subprocess.run(cmd + [job.path], stdout=f, stderr=harness.subprocess.PIPE)
    check(res.returncode == 0, "cupsfilter failed: " + res.stderr.decode(errors="replace")[-2000:])
    res = run([env.stage.filter, "1", "e2e", os.path.basename(job.path), "1", " ".join(job.options), raster],
              env=dict(os.environ, PPD=ppd))
    return res.stdout


def check_stream(data, job, pages, what):
    """The printer commands the options must produce, page by page."""
    check(data.endswith(job.ends), "%s: stream does not end with %s (ends %s)" % (
        what, job.ends.hex(" "), data[-len(job.ends) - 8:].hex(" ")))
    for b in job.present:
        check(data.count(b) >= pages, "%s: %r appears %d times for %d pages" % (what, b, data.count(b), pages))
    for b in job.absent:
        check(b not in data, "%s: %r must not appear" % (what, b))


def run_family(args, family):
    cases = family_cases(family)
    with PrivateCups(args.cmake, args.build) as env:
        models = env.cups.models()
        submitted = []
        for queue, ppd, lang, defaults, jobs in cases:
            name = "%s/%s" % (env.stage.ppd_subdir, ppd)
            check(name in models, "lpinfo -m does not list %s" % name)
            log("%s: lpadmin -m %s (%s), defaults %s" % (queue, name, models[name], " ".join(defaults)))
            out = env.cups.add_queue(queue, name, defaults)
            # One job at a time per queue: each output file holds one job.
            for i, job in enumerate(jobs):
                tag = "%s-%d" % (queue, i)
                log("%s: lp %s %s" % (queue, os.path.basename(job.path), " ".join("-o " + o for o in job.options)))
                job_id = env.cups.submit(queue, job.path, job.options)
                env.cups.expect_completed(job_id)
                with open(out, "rb") as f:
                    data = f.read()
                check(data, "%s: job %d wrote nothing" % (tag, job_id))
                saved = os.path.join(env.work, tag + ".prn")
                with open(saved, "wb") as f:
                    f.write(data)
                submitted.append((queue, lang, job, tag, saved, data))
        for queue, lang, job, tag, saved, data in submitted:
            direct = direct_output(env, queue, job, env.work, tag)
            check(direct == data, "%s: the cupsd output (%d bytes) differs from the filter run by hand on "
                  "the cups-filters raster (%d bytes)" % (tag, len(data), len(direct)))
            check_stream(data, job, 1, tag)
            if args.decoder:
                dec = harness.decode(args.decoder, lang, saved, os.path.join(env.work, tag))
                check(len(dec.pages) == 1, "%s: %d pages decoded, 1 expected" % (tag, len(dec.pages)))
                marks.check_sample(dec.pages[0], rotated180=job.rotated180, threshold=job.threshold, what=tag)
            log("%s: ok (%d bytes)" % (tag, len(data)))


def run_jobs(args):
    with PrivateCups(args.cmake, args.build) as env:
        models = env.cups.models()
        installed = ["%s/%s" % (env.stage.ppd_subdir, p) for p in env.stage.ppds]
        check(len(installed) >= 8, "only %d PPDs installed" % len(installed))
        for name in installed:
            check(name in models, "lpinfo -m does not list %s" % name)
        out = env.cups.add_queue("labels", "%s/bandrill-tspl-203.ppd" % env.stage.ppd_subdir)

        # Copies: the shipped PPD says the printer makes them, so the label
        # goes once, printed twice by PRINT 1,2.
        for path in (SAMPLE_PNG, SAMPLE_PDF):
            job_id = env.cups.submit("labels", path, copies=2)
            env.cups.expect_completed(job_id)
            with open(out, "rb") as f:
                data = f.read()
            what = "2 copies of " + os.path.basename(path)
            prints = re.findall(rb"PRINT [0-9,]+\r\n", data)
            check(data.count(b"CLS\r\n") == 1 and prints == [b"PRINT 1,2\r\n"],
                  "%s: %d labels sent, printed by %r" % (what, data.count(b"CLS\r\n"), prints))
            if args.decoder:
                saved = os.path.join(env.work, "copies-%d.prn" % job_id)
                with open(saved, "wb") as f:
                    f.write(data)
                dec = harness.decode(args.decoder, "tspl", saved, os.path.join(env.work, "copies-%d" % job_id))
                check(len(dec.pages) == 2, "%s: %d pages decoded" % (what, len(dec.pages)))
                check(dec.pages[0].ink == dec.pages[1].ink, "%s: the two pages differ" % what)
                # The shipped default: threshold at 128.
                marks.check_sample(dec.pages[1], threshold=128, what=what)
            log("%s: ok" % what)

        # Cancelling a long job once its first page is out: the filter
        # finishes the page in hand, so the file holds whole pages only:
        # every page complete, the stream ending with a page's last command.
        pages = 1000
        long_pdf = os.path.join(env.work, "long.pdf")
        with open(long_pdf, "wb") as f:
            f.write(S.pdf_bytes(S.pixels(), pages=pages))
        out = env.cups.add_queue("long", "%s/bandrill-tspl-203.ppd" % env.stage.ppd_subdir)
        job_id = env.cups.submit("long", long_pdf)
        deadline = harness.time.monotonic() + 120
        while not (os.path.exists(out) and os.path.getsize(out) > 0):
            state, reasons = env.cups.job_state(job_id)
            check(state in ("pending", "processing"), "the long job ended %s (%s) before its first page" % (
                state, reasons))
            check(harness.time.monotonic() < deadline, "the long job wrote no page")
            harness.time.sleep(0.02)
        env.cups.cancel(job_id)
        state, reasons = env.cups.wait_job(job_id)
        check(state == "canceled", "the cancelled job ended %s (%s)" % (state, reasons))
        with open(out, "rb") as f:
            data = f.read()
        printed = data.count(b"PRINT 1,1\r\n")
        check(0 < printed < pages, "the cancelled job printed %d of %d pages" % (printed, pages))
        check(data.endswith(b"PRINT 1,1\r\n"), "the cancelled job's stream ends inside a page")
        if args.decoder:
            saved = os.path.join(env.work, "cancelled.prn")
            with open(saved, "wb") as f:
                f.write(data)
            dec = harness.decode(args.decoder, "tspl", saved, os.path.join(env.work, "cancelled"))
            check(len(dec.pages) == printed, "cancelled job: %d pages decoded, %d printed" % (
                len(dec.pages), printed))
            # The converter is stopped too, possibly inside the page the
            # filter is reading; the filter completes that page with blank
            # lines, so only the pages before it must show the sample.
            marks.check_sample(dec.pages[0], threshold=128, what="first page of the cancelled job")
            if len(dec.pages) > 2:
                marks.check_sample(dec.pages[-2], threshold=128, what="last but one page of the cancelled job")
        log("cancelled after %d of %d pages: ok" % (printed, pages))


def run_label_4x6(args):
    """A 4 x 6 in PDF printed with -o media=oe_4x6-label_4x6in on a TSPL
    queue with the PPD's defaults: one label of exactly 4 x 6 in, no vendor
    SETC lines, and the scheduler told that the page got to 100%. Returns
    77 when the installed PPD has no such size."""
    with PrivateCups(args.cmake, args.build) as env:
        ppd = "bandrill-tspl-203.ppd"
        with open(os.path.join(env.stage.ppd_dir, ppd), errors="replace") as f:
            if "*PageSize oe_4x6-label_4x6in" not in f.read():
                log("skipped: the installed %s has no 4 x 6 in size (oe_4x6-label_4x6in)" % ppd)
                return 77
        out = env.cups.add_queue("label4x6", "%s/%s" % (env.stage.ppd_subdir, ppd))
        pdf = os.path.join(env.work, "label-4x6.pdf")
        with open(pdf, "wb") as f:
            f.write(S.pdf_bytes(S.pixels(), page_size=(288, 432)))
        # The whole label as one bitmap (InkOnly=False), then as the PPD
        # sends it by default: a bitmap per area of ink.
        streams = []
        for options in (["media=oe_4x6-label_4x6in", "InkOnly=False"], ["media=oe_4x6-label_4x6in"]):
            log("label4x6: lp label-4x6.pdf -o " + " -o ".join(options))
            job_id = env.cups.submit("label4x6", pdf, options)
            env.cups.expect_completed(job_id)
            with open(out, "rb") as f:
                data = f.read()
            streams.append(data)
            check(data.count(b"PRINT 1,1\r\n") == 1, "4 x 6 label: %d pages" % data.count(b"PRINT 1,1\r\n"))
            sizes = re.findall(rb"SIZE [^\r]*\r\n", data)
            check(sizes == [b"SIZE 101.60 mm,152.40 mm\r\n"], "4 x 6 label: page size lines %r" % sizes)
            check(b"SETC" not in data, "4 x 6 label: the stream carries SETC lines")
            job_log = env.cups.job_log(job_id)
            check(re.search(r"job-media-progress=100\b", job_log) is not None,
                  "4 x 6 label: the scheduler never got job-media-progress=100:\n" + job_log[-3000:])
            check("Printing page 1, 100% complete." in job_log,
                  "4 x 6 label: no 100% progress message:\n" + job_log[-3000:])
        whole, lean = streams
        # 812 dots are 102 bytes, sent with the image's row padding to 104.
        check(b"BITMAP 0,0,104,1218," in whole, "4 x 6 label: no bitmap of 812 x 1218 dots")
        areas = [tuple(int(v) for v in m) for m in re.findall(rb"BITMAP (\d+),(\d+),(\d+),(\d+),1,", lean)]
        check(areas and all(x + 8 * w <= 816 and y + h <= 1218 for x, y, w, h in areas),
              "4 x 6 label: bitmaps of the ink %r" % areas[:8])
        check(len(lean) < len(whole), "4 x 6 label: %d bytes of ink, %d whole" % (len(lean), len(whole)))
        if args.decoder:
            pages = []
            for name, data in (("whole", whole), ("lean", lean)):
                saved = os.path.join(env.work, "label-4x6-%s.prn" % name)
                with open(saved, "wb") as f:
                    f.write(data)
                dec = harness.decode(args.decoder, "tspl", saved, os.path.join(env.work, "label-4x6-" + name))
                check(len(dec.pages) == 1, "4 x 6 label: %d pages decoded" % len(dec.pages))
                pages.append(dec.pages[0])
            page = pages[0]
            check(page.height == 1218 and page.width >= 812,
                  "4 x 6 label: decoded %d x %d dots" % (page.width, page.height))
            check(not any(any(row[812:]) for row in page.ink), "4 x 6 label: ink in the row padding")
            check(page.bbox() is not None, "4 x 6 label: nothing printed")
            dots = [{(x, y) for y, row in enumerate(p.ink) for x, v in enumerate(row) if v} for p in pages]
            check(dots[0] == dots[1], "4 x 6 label: the bitmaps of the ink print %d dots, the whole "
                  "label %d" % (len(dots[1]), len(dots[0])))
        log("label4x6: ok (%d bytes, %d as one bitmap)" % (len(lean), len(whole)))
    return 0


# Receipt options the job gives explicitly; a PPD that does not offer them
# yet gets them added to the queue's copy, so that cupsd marks them.
RECEIPT_OPTIONS = (("CutMode", ("Page", "Job", "None")), ("CutFeed", ("False", "True")))


def receipt_ppd(src, work):
    """The PPD src with the receipt options it lacks added (first choice the
    default), or src itself when it offers them all."""
    with open(src, encoding="latin-1") as f:
        text = f.read()
    added = ""
    for keyword, choices in RECEIPT_OPTIONS:
        if "*OpenUI *%s/" % keyword in text:
            continue
        added += "*OpenUI *%s/%s: PickOne\n*OrderDependency: 10 AnySetup *%s\n*Default%s: %s\n" % (
            keyword, keyword, keyword, keyword, choices[0])
        added += "".join('*%s %s/%s: ""\n' % (keyword, c, c) for c in choices)
        added += "*CloseUI: *%s\n" % keyword
    if not added:
        return src
    path = os.path.join(work, "receipt.ppd")
    with open(path, "w", encoding="latin-1") as f:
        f.write(text if text.endswith("\n") else text + "\n")
        f.write(added)
    log("the installed PPD lacks some receipt options; the queue's copy gets them")
    return path


def escpos_commands(data):
    """The ESC/POS stream as (name, argument bytes) commands; raster data is
    skipped. Fails on bytes that are no command the filter writes."""
    cmds, i = [], 0
    fixed = {b"\x1b\x40": ("init", 2), b"\x1b\x61": ("centre", 3), b"\x1b\x4a": ("feed", 3),
             b"\x1b\x70": ("drawer", 5)}
    while i < len(data):
        two = data[i:i + 2]
        if data[i] == 0:
            cmds.append(("nul", b""))
            i += 1
        elif two == b"\x1d\x76" and len(data) >= i + 8:
            w = data[i + 4] | data[i + 5] << 8
            h = data[i + 6] | data[i + 7] << 8
            check(len(data) >= i + 8 + w * h, "raster image cut short at offset %d" % i)
            cmds.append(("raster", data[i + 3:i + 8]))
            i += 8 + w * h
        elif two == b"\x1d\x56" and len(data) >= i + 3:
            n = 4 if data[i + 2] in (65, 66) else 3
            cmds.append(("cut", data[i:i + n]))
            i += n
        elif two in fixed:
            name, n = fixed[two]
            cmds.append((name, data[i:i + n]))
            i += n
        else:
            raise Failure("unknown ESC/POS command at offset %d: %s" % (i, data[i:i + 8].hex(" ")))
    return cmds


def paper_marks(cmds):
    """Each command but rasters and feeds with the dot row the paper stands
    at, and where it ends: raster rows and ESC J feeds move it on."""
    at, marks = 0, []
    for name, arg in cmds:
        if name == "raster":
            at += (arg[3] | arg[4] << 8) * (2 if arg[0] & 2 else 1)
        elif name == "feed":
            at += arg[2]
        else:
            marks.append((at, name, bytes(arg)))
    return marks + [(at, "end", b"")]


def run_receipt(args):
    with PrivateCups(args.cmake, args.build) as env:
        src = os.path.join(env.stage.ppd_dir, "bandrill-escpos-58.ppd")
        ppd = receipt_ppd(src, env.work)
        if ppd == src:
            out = env.cups.add_queue("receipt", "%s/bandrill-escpos-58.ppd" % env.stage.ppd_subdir)
        else:
            out = os.path.join(env.cups.out_dir, "receipt.prn")
            env.cups.lp_cmd(["lpadmin", "-p", "receipt", "-E", "-v", "file://" + out, "-P", ppd])

        # Three pages of text, separated by form feeds.
        text = os.path.join(env.work, "receipt.txt")
        with open(text, "w") as f:
            f.write("\f".join("".join("Page %d, item %d ........ %d.00\n" % (p, i, i) for i in range(1, 6))
                              for p in range(1, 4)))
        job = Job(text, ["CutMode=Job", "CutFeed=True", "InkOnly=False"])
        job_id = env.cups.submit("receipt", text, job.options)
        env.cups.expect_completed(job_id)
        with open(out, "rb") as f:
            data = f.read()
        check(data, "the receipt job wrote nothing")

        cmds = escpos_commands(data)
        names = [c[0] for c in cmds]
        pages = names.count("init")
        cuts = [c for c in cmds if c[0] == "cut"]
        check(pages >= 3, "the receipt printed %d pages, at least 3 expected" % pages)
        check(len(cuts) == 1, "the receipt has %d cuts: %s" % (len(cuts), " ".join(c[1].hex() for c in cuts)))
        check(cmds[-1] == ("cut", b"\x1d\x56\x42\x00"), "the receipt does not end with the feed and "
              "cut 1D 56 42 00 (ends %s)" % data[-8:].hex(" "))
        # Feeds only at the end: the pages follow one another on one slip.
        last_raster = max(i for i, n in enumerate(names) if n == "raster")
        check(all(n != "feed" for n in names[:last_raster]), "a feed between the pages of the receipt")

        # cupsd gave the text job the roll PPD's preset (cpi, lpi): the run by
        # hand takes them too.
        preset = re.findall(r"\b(?:cpi|lpi)=\S+", "".join(
            l for l in env.cups.job_log(job_id).splitlines() if "argv[5]=" in l))
        direct = direct_output(env, "receipt", Job(text, job.options + preset), env.work, "receipt")
        check(direct == data, "the cupsd output (%d bytes) differs from the filter run by hand on the "
              "cups-filters raster (%d bytes)" % (len(data), len(direct)))

        # As the PPD sends it by default: blank rows fed over, the paper
        # moving as far as before between the same commands.
        lean_job = Job(text, ["CutMode=Job", "CutFeed=True"])
        env.cups.expect_completed(env.cups.submit("receipt", text, lean_job.options))
        with open(out, "rb") as f:
            lean = f.read()
        check(len(lean) < len(data), "the receipt sent %d bytes, %d with every row" % (len(lean), len(data)))
        check(paper_marks(escpos_commands(lean)) == paper_marks(cmds),
              "the receipt's paper moves differently with its blank rows fed over")
        log("receipt of %d pages, one feed and cut at its end: ok (%d bytes)" % (pages, len(data)))


def ink_rows(cmds):
    """Which rows of the raster images of an ESC/POS stream, stacked, hold
    ink, and the leftmost and rightmost ink column over all of them; a paper
    feed (ESC J n, blank rows sent as a feed) counts as n rows without ink."""
    rows, left, right = [], None, None
    for name, args in ((c[0], c) for c in cmds):
        if name == "feed":
            rows.extend([False] * args[1][2])
            continue
        if name != "raster":
            continue
        data, w, h = args[2], args[3], args[4]
        for r in range(h):
            row = data[r * w:(r + 1) * w]
            ink = any(row)
            rows.append(ink)
            if ink:
                first = next(i for i, b in enumerate(row) if b)
                last = max(i for i, b in enumerate(row) if b)
                x0 = first * 8 + 8 - row[first].bit_length()
                x1 = last * 8 + 7 - ((row[last] & -row[last]).bit_length() - 1)
                left = x0 if left is None else min(left, x0)
                right = x1 if right is None else max(right, x1)
    return rows, left, right


def ink_bands(rows):
    """Runs of rows with ink."""
    bands, inside = 0, False
    for ink in rows:
        if ink and not inside:
            bands += 1
        inside = ink
    return bands


def run_text(args):
    with PrivateCups(args.cmake, args.build) as env:
        lines_per_page = 12
        for name, columns, dots in (("58", 32, 384), ("80", 48, 576)):
            # Three pages of lines as long as the roll takes, digits only
            # (no descenders: every text line is a band of ink of its own).
            text = os.path.join(env.work, "receipt-%s.txt" % name)
            with open(text, "w") as f:
                f.write("\f".join("".join("%02d %s\n" % (p * lines_per_page + i, ("1234567890" * 5)[:columns - 3])
                                           for i in range(lines_per_page)) for p in range(3)))
            queue = "text-" + name
            out = env.cups.add_queue(queue, "%s/bandrill-escpos-%s.ppd" % (env.stage.ppd_subdir, name))
            job_id = env.cups.submit(queue, text)
            env.cups.expect_completed(job_id)
            job_log = env.cups.job_log(job_id)
            check(re.search(r"argv\[5\]=.*\bcpi=17\b.*\blpi=8\b", job_log) is not None,
                  "%s: the job's options carry no cpi=17 lpi=8:\n%s" % (queue, job_log[-3000:]))
            with open(out, "rb") as f:
                data = f.read()
            cmds = escpos_commands_with_data(data)
            names = [c[0] for c in cmds]
            pages = names.count("init")
            rows, left, right = ink_rows(cmds)
            bands = ink_bands(rows)
            check(pages == 3, "%s: %d pages printed, 3 expected" % (queue, pages))
            check([c for c in cmds if c[0] == "cut"] == [cmds[-1]], "%s: not one cut at the end" % queue)
            check(rows and rows[0], "%s: the first raster row holds no ink (blank paper before the first "
                  "line)" % queue)
            # A wrapped line would print as two bands.
            check(bands == 3 * lines_per_page, "%s: %d printed lines for %d text lines" % (
                queue, bands, 3 * lines_per_page))
            # 32 characters at 17 an inch fill 32 x 72 / 17 points of the page.
            want = columns * 72 / 17 * 203 / 72
            check(right - left > 0.9 * want and right < dots,
                  "%s: the lines span dots %d to %d, %d characters are about %d dots" % (
                      queue, left, right, columns, want))
            log("%s: 3 pages of text, %d lines of %d characters, ink from the first row, "
                "lines span %d dots: ok" % (queue, bands, columns, right - left + 1))


def escpos_commands_with_data(data):
    """escpos_commands with each raster's data, width in bytes and height."""
    cmds, i = [], 0
    for name, arg in escpos_commands(data):
        if name == "raster":
            while data[i:i + 3] != b"\x1d\x76\x30":
                i += 1
            w = data[i + 4] | data[i + 5] << 8
            h = data[i + 6] | data[i + 7] << 8
            cmds.append((name, arg, data[i + 8:i + 8 + w * h], w, h))
            i += 8 + w * h
        else:
            cmds.append((name, arg))
    return cmds


# (device ID as a printer reports it, the PPDs lpinfo must suggest first)
DEVICE_IDS = [
    ("MFG:TSC;MDL:TTP-244 Pro;CMD:TSPL2;CLS:PRINTER;", ["bandrill-tspl-203.ppd"]),
    ("MFG:TSC;MDL:TE310;CMD:TSPL2;", ["bandrill-tspl-300.ppd"]),
    ("MFG:iDPRT;MDL:SP410;CMD:TSPL;", ["bandrill-tspl-203.ppd"]),
    ("MFG:Xprinter;MDL:XP-365B;CMD:TSPL,ZPL,EPL;", ["bandrill-tspl-203.ppd"]),
    ("MFG:Generic;MDL:TSPL Label Printer;CMD:TSPL;", ["bandrill-tspl-203.ppd", "bandrill-tspl-300.ppd"]),
    ("MFG:Xprinter;CMD:ESC/POS;MDL:XP-58IIH;CLS:PRINTER;", ["bandrill-escpos-58.ppd"]),
    ("MFG:Printer;MDL:POS-58;CMD:ESC/POS;", ["bandrill-escpos-58.ppd"]),
    ("MFG:EPSON;CMD:ESC/POS;MDL:TM-T20II;CLS:PRINTER;", ["bandrill-escpos-80.ppd"]),
    ("MFG:Printer;MDL:POS-80;CMD:ESC/POS;", ["bandrill-escpos-80.ppd"]),
    ("MFG:Zebra Technologies;CMD:CPCL,ZPL;MDL:ZQ320;", ["bandrill-cpcl.ppd"]),
    ("MFG:Paperang;MDL:P2;", ["bandrill-paperang.ppd"]),
    ("MFG:PeriPage;MDL:A6;", ["bandrill-peripage-384.ppd"]),
    ("MFG:PeriPage;MDL:A8;", ["bandrill-peripage-576.ppd"]),
]

# Printers no PPD names, whose device ID names their language: the
# drivers the driver program suggests (all of them, in this order). With
# a printer a PPD names, they come after that PPD.
COMMAND_SET_IDS = [
    ("MFG:TSC;MDL:TDP-244;CMD:TSPL;", [], ["tspl-203", "tspl-300"]),
    ("MFG:Acme Labels;MDL:AL 4x6;CMD:ZPL,TSPL2,EPL;", [], ["tspl-203", "tspl-300"]),
    ("MFG:Acme;CMD:ESC/POS;MDL:R-58 Mk2;CLS:PRINTER;", [], ["escpos-58", "escpos-80"]),
    ("MFG:Zebra Technologies;MDL:ZQ999;CMD:CPCL;", [], ["cpcl"]),
    ("MFG:TSC;MDL:TTP-244 Pro;CMD:TSPL2;", ["bandrill-tspl-203.ppd"], ["tspl-203", "tspl-300"]),
    ("MFG:Printer;MDL:POS-58;CMD:ESC/POS;", ["bandrill-escpos-58.ppd"], ["escpos-58", "escpos-80"]),
]

# (PWG media name, label PPDs, PageSize the raster must carry, points)
MEDIA = [
    ("oe_4x6-label_4x6in", ("tspl-203", "tspl-300", "cpcl"), "oe_4x6-label_4x6in", (288, 432)),
    ("na_index-4x6_4x6in", ("tspl-203", "cpcl"), "oe_4x6-label_4x6in", (288, 432)),
    ("oe_4x4-label_4x4in", ("tspl-203", "cpcl"), "oe_4x4-label_4x4in", (288, 288)),
    ("oe_4x3-label_4x3in", ("tspl-203", "cpcl"), "oe_4x3-label_4x3in", (288, 216)),
    ("oe_4x2-label_4x2in", ("tspl-203", "cpcl"), "oe_4x2-label_4x2in", (288, 144)),
    ("oe_3x2-label_3x2in", ("tspl-300", "cpcl"), "oe_3x2-label_3x2in", (216, 144)),
    ("oe_3x1-label_3x1in", ("tspl-300", "cpcl"), "oe_3x1-label_3x1in", (216, 72)),
    ("oe_2.25x1.25-label_2.25x1.25in", ("tspl-203", "cpcl"), "oe_2.25x1.25-label_2.25x1.25in", (162, 90)),
    # The printer application's name for it (no dot in the name part).
    ("oe_2-25x1-25-label_2.25x1.25in", ("tspl-203", "cpcl"), "oe_2.25x1.25-label_2.25x1.25in", (162, 90)),
    ("oe_2x1-label_2x1in", ("tspl-203", "cpcl"), "oe_2x1-label_2x1in", (144, 72)),
    ("iso_a6_105x148mm", ("tspl-203", "tspl-300"), "A6", (297, 420)),
]


def raster_page(path):
    """(PageSize name, [width, length] in points) of a raster's first page."""
    with open(path, "rb") as f:
        data = f.read(4 + 1796)
    check(len(data) == 4 + 1796, "%s holds no raster page" % path)
    order = "<" if data[:4] in (b"3SaR", b"2SaR", b"tSaR") else ">"
    head = data[4:]
    size = harness.struct.unpack(order + "2I", head[256 + 96:256 + 104])
    name = head[-64:].split(b"\0")[0].decode()
    return name, size


def run_ppds(args):
    with PrivateCups(args.cmake, args.build) as env:
        sub = env.stage.ppd_subdir
        for device_id, expected in DEVICE_IDS:
            # lpinfo acts on -m when it reads it: the device ID goes first.
            res = env.cups.lp_cmd(["lpinfo", "--device-id", device_id, "-m"], check_rc=False)
            names = [line.split(" ", 1)[0] for line in res.stdout.decode(errors="replace").splitlines()]
            want = ["%s/%s" % (sub, p) for p in expected]
            check(sorted(names[:len(want)]) == sorted(want),
                  "lpinfo --device-id '%s' -m suggests %r, expected %r first" % (device_id, names[:4], want))
            log("%s: %s" % (device_id, " ".join(expected)))
        if env.stage.driver:
            for device_id, files, drivers in COMMAND_SET_IDS:
                res = env.cups.lp_cmd(["lpinfo", "--device-id", device_id, "-m"], check_rc=False)
                # (Other drivers of the system may be suggested too, such as
                # CUPS's "everywhere".)
                names = [line.split(" ", 1)[0] for line in res.stdout.decode(errors="replace").splitlines()
                         if line.startswith((sub + "/", "bandrill:"))]
                want = ["%s/%s" % (sub, p) for p in files] + ["bandrill:" + d for d in drivers]
                check(names == want, "lpinfo --device-id '%s' -m suggests %r, expected %r" % (
                    device_id, names, want))
                log("%s: %s" % (device_id, " ".join(want)))
            # A queue made from a suggestion prints.
            out = env.cups.add_queue("by-command-set", "bandrill:tspl-203")
            job_id = env.cups.submit("by-command-set", SAMPLE_PDF, ["media=oe_4x6-label_4x6in"])
            env.cups.expect_completed(job_id)
            with open(out, "rb") as f:
                data = f.read()
            check(data.startswith(b"SIZE 101.60 mm,152.40 mm\r\n"), "queue from bandrill:tspl-203: %r" % data[:40])
            log("lpadmin -m bandrill:tspl-203: prints")
        else:
            log("no driver program installed: the command set suggestions are left out")
        for media, ppds, size_name, points in MEDIA:
            for ppd in ppds:
                path = os.path.join(env.stage.ppd_dir, "bandrill-%s.ppd" % ppd)
                raster = os.path.join(env.work, "media.ras")
                with open(raster, "wb") as f:
                    res = harness.subprocess.run(["cupsfilter", "-p", path, "-m", "application/vnd.cups-raster",
                                                  "-o", "media=" + media, SAMPLE_PDF],
                                                 stdout=f, stderr=harness.subprocess.PIPE)
                check(res.returncode == 0, "cupsfilter failed: " + res.stderr.decode(errors="replace")[-2000:])
                got = raster_page(raster)
                check(got == (size_name, points), "media=%s on %s gave page %s %r, expected %s %r" % (
                    media, ppd, got[0], got[1], size_name, points))
            log("media=%s: %s" % (media, size_name))
        # And through the scheduler: a 4 x 6 in label job on the TSPL queues.
        for dpi in (203, 300):
            out = env.cups.add_queue("labels-%d" % dpi, "%s/bandrill-tspl-%d.ppd" % (sub, dpi))
            job_id = env.cups.submit("labels-%d" % dpi, SAMPLE_PDF, ["media=oe_4x6-label_4x6in"])
            env.cups.expect_completed(job_id)
            with open(out, "rb") as f:
                data = f.read()
            check(data.startswith(b"SIZE 101.60 mm,152.40 mm\r\n"), "media=oe_4x6-label_4x6in at %d dpi: %r" % (
                dpi, data[:40]))
            log("lp -o media=oe_4x6-label_4x6in at %d dpi: SIZE 101.60 mm,152.40 mm" % dpi)


def check_sample_files():
    """The committed sample files are what the generator makes: the tests
    locate the marks by the generator's layout."""
    rows = S.pixels()
    for path, made in ((SAMPLE_PNG, S.png_bytes(rows)), (SAMPLE_PDF, S.pdf_bytes(rows))):
        with open(path, "rb") as f:
            check(f.read() == made, "%s is not what samples/make_sample.py makes; run it again" % path)
    log("sample files: ok")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cmake", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--decoder", default="")
    ap.add_argument("case")
    args = ap.parse_args()
    os.environ["PATH"] = "/usr/sbin:/sbin:" + os.environ.get("PATH", "")
    if args.case == "sample":
        try:
            check_sample_files()
        except Failure as e:
            log("FAILED: %s" % e)
            return 1
        return 0
    if os.getuid() != 0:
        log("skipped: the end-to-end tests run cupsd as root, as a system does")
        return 77
    if args.decoder and not os.path.exists(args.decoder):
        args.decoder = ""
    if not args.decoder:
        log("bandrill-decode is not built: the decoded-page checks are left out")
    try:
        if args.case == "jobs":
            run_jobs(args)
        elif args.case == "label4x6":
            return run_label_4x6(args)
        elif args.case == "receipt":
            run_receipt(args)
        elif args.case == "text":
            run_text(args)
        elif args.case == "ppds":
            run_ppds(args)
        else:
            run_family(args, args.case)
    except Failure as e:
        log("FAILED: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
