#!/usr/bin/env python3
"""The printer's status in bandrill-printer-app, against the printer
emulator on a socket:// device: the printer's conditions become
printer-state-reasons and go again, a job waits for paper (or a closed
cover) instead of printing into nothing, a printer that never answers is
not asked again for minutes, and the per-printer setting turns the queries
off. What reaches the printer besides the queries is the filter's stream.

  status_test.py --app APP --filter FILTER --ppd-dir DIR --raster HELPER CASE
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from appserver import Failure, Server, check, log, run  # noqa: E402
from printer_emulator import PrinterEmulator  # noqa: E402

ARGS = None
WORK = None


def raster(kind, name, width, height, dpi, pages=1):
    path = os.path.join(WORK, name + "." + kind)
    run([ARGS.raster, kind, path, str(width), str(height), str(dpi), str(pages)])
    return path


def run_filter(driver, cups_raster, options=""):
    env = dict(os.environ, PPD=os.path.join(ARGS.ppd_dir, "bandrill-%s.ppd" % driver))
    res = subprocess.run([ARGS.filter, "1", "tester", "title", "1", options, cups_raster],
                         env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    check(res.returncode == 0, "filter failed: %s" % res.stderr.decode()[-2000:])
    return res.stdout


GET_STATUS = """{
\tNAME "Get-Printer-Attributes"
\tOPERATION Get-Printer-Attributes
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tATTR keyword requested-attributes printer-state,printer-state-reasons,\
bandrill-status-query-default,bandrill-status-query-supported
\tSTATUS successful-ok
}
"""


def status(srv, name):
    """printer-state and its reasons, and the status setting: name -> value."""
    out = srv.ipptool(name, GET_STATUS)
    return dict(re.findall(r"^\s+([a-z0-9-]+) \([^)]*\) = (.*)$", out, re.M))


def reasons(srv, name):
    return status(srv, name).get("printer-state-reasons", "")


def wait_reasons(srv, name, pred, what, timeout=15):
    deadline = time.time() + timeout
    got = ""
    while time.time() < deadline:
        got = reasons(srv, name)
        if pred(got):
            return got
        time.sleep(0.5)
    raise Failure("%s: printer-state-reasons stayed %r, expected %s" % (name, got, what))


def payload(emu):
    """Every byte the printer got, without the status queries."""
    return b"".join(c.payload() for c in emu.connections)


def held_then_printed(family, driver, condition, reason, width, height):
    """The emulator reports the condition: the reason shows, a job waits
    with nothing sent but queries, and prints once the condition goes.
    The job is the filter's stream sent as the printer's language (a
    raster job is read from its client while it prints, so the client
    would wait with it)."""
    want = run_filter(driver, raster("cups", driver, width, height, 203))
    doc = os.path.join(WORK, driver + ".prn")
    with open(doc, "wb") as f:
        f.write(want)
    with PrinterEmulator(family=family, state=condition) as emu, Server(ARGS.app) as srv:
        srv.add_uri("p", driver, "socket://127.0.0.1:%d" % emu.port)
        wait_reasons(srv, "p", lambda r: reason in r, reason)
        log("%s: %s shown" % (driver, reason))

        # A waiting job can be cancelled: it ends, nothing printed.
        job = srv.print_job("p", doc, "application/vnd.bandrill-" + family)
        deadline = time.time() + 15
        while "printer-stopped" not in srv.job("p", job).get("job-state-reasons", ""):
            check(time.time() < deadline, "the job did not wait: %s" % srv.job("p", job))
            time.sleep(0.3)
        srv.cancel("p", job)
        info = srv.wait_job("p", job, timeout=15)
        check(info.get("job-state") == "canceled", "cancelled while waiting: %s" % info)
        check(payload(emu) == b"", "a cancelled job printed %d bytes" % len(payload(emu)))

        job = srv.print_job("p", doc, "application/vnd.bandrill-" + family)
        time.sleep(3)
        info = srv.job("p", job)
        check(info.get("job-state") == "processing", "job while %s: %s" % (condition, info))
        check("printer-stopped" in info.get("job-state-reasons", ""),
              "job while %s: no printer-stopped in %s" % (condition, info))
        check("Waiting" in info.get("job-state-message", ""),
              "job while %s: message %r" % (condition, info.get("job-state-message")))
        check(reason in reasons(srv, "p"), "%s gone while the job waits" % reason)
        check(payload(emu) == b"", "%d bytes printed into %s" % (len(payload(emu)), condition))
        asked = len(emu.queries)
        check(asked >= 2, "the waiting job asked %d times" % asked)
        log("%s: job held, %d queries, nothing printed" % (driver, asked))

        emu.set_state("ok")
        info = srv.wait_job("p", job, timeout=30)
        check(info.get("job-state") == "completed", "job after %s: %s" % (condition, info))
        check("printer-stopped" not in info.get("job-state-reasons", ""),
              "job after %s: %s" % (condition, info))
        check(payload(emu) == want, "%s: the printer got %d bytes besides queries, the filter "
              "makes %d" % (driver, len(payload(emu)), len(want)))
        wait_reasons(srv, "p", lambda r: reason not in r, "no " + reason)
        log("%s: printed when the condition went (%d bytes, the filter's), %s cleared"
            % (driver, len(want), reason))


def case_paper():
    held_then_printed("escpos", "escpos-58", "paper-out", "media-empty", 384, 200)


def case_cover():
    held_then_printed("tspl", "tspl-203", "cover-open", "cover-open", 400, 240)


def case_pages():
    """On a serial link paper runs out after the second label of three:
    the third waits, nothing of it sent, and prints when paper is back.
    (Over TCP the printer is asked at the job's start only.)"""
    pwg = raster("pwg", "pages", 240, 160, 203, pages=3)
    want = run_filter("tspl-203", raster("cups", "pages", 240, 160, 203, pages=3))
    check(want.count(b"PRINT ") == 3, "the filter's stream has %d labels" % want.count(b"PRINT "))
    # Answers a quarter of a second after each query, as the printer was
    # then: time to run out of paper between the second query and the third.
    with PrinterEmulator.on_pty(family="tspl", state="ok", delay=0.25) as emu, \
            Server(ARGS.app) as srv:
        srv.add_uri("l", "tspl-203", "serial:%s?baud=115200" % emu.tty)
        asked = len(emu.queries)
        submit = threading.Thread(target=srv.print_job, args=("l", pwg, "image/pwg-raster"))
        submit.start()
        try:
            # The job's first query, then the one before the second label.
            check(emu.wait_until(lambda: len(emu.queries) >= asked + 2, timeout=30),
                  "%d queries in the job" % (len(emu.queries) - asked))
            emu.set_state("paper-out")
            jobs = srv.active_jobs("l")
            check(len(jobs) == 1, "active jobs %r" % jobs)
            deadline = time.time() + 20
            while "printer-stopped" not in srv.job("l", jobs[0]).get("job-state-reasons", ""):
                check(time.time() < deadline, "the third label did not wait: %s"
                      % srv.job("l", jobs[0]))
                time.sleep(0.3)
            time.sleep(1)
            got = payload(emu)
            check(got.count(b"PRINT ") == 2 and want.startswith(got),
                  "while out of paper the printer got %d labels (%d of %d bytes)"
                  % (got.count(b"PRINT "), len(got), len(want)))
            check("media-empty" in reasons(srv, "l"), "no media-empty while the job waits")
            log("paper out after label 2: label 3 held (%d of %d bytes sent)"
                % (len(got), len(want)))
            emu.set_state("ok")
            info = srv.wait_job("l", jobs[0], timeout=30)
        finally:
            submit.join(60)
        check(info.get("job-state") == "completed", "after paper came back: %s" % info)
        check(payload(emu) == want, "the printer got %d bytes besides queries, the filter "
              "makes %d" % (len(payload(emu)), len(want)))
        log("label 3 printed when paper came back; the stream is the filter's")


def case_conditions():
    """Each condition in and out, without jobs; two at once."""
    with PrinterEmulator(family="tspl", state="ok") as emu, Server(ARGS.app) as srv:
        srv.add_uri("t", "tspl-203", "socket://127.0.0.1:%d" % emu.port)
        for state, want in (("jam", {"media-jam"}), ("ribbon-out", {"marker-supply-empty"}),
                            ("paused", {"offline"}),
                            ("paper-out+cover-open", {"media-empty", "cover-open"}),
                            ("ok", set())):
            emu.set_state(state)
            ours = {"media-jam", "marker-supply-empty", "offline", "media-empty", "cover-open"}
            got = wait_reasons(srv, "t", lambda r: set(r.split(",")) & ours == want,
                               ",".join(sorted(want)) or "none")
            log("tspl %s: %s" % (state, got))


def case_silent():
    """A printer that never answers: one query, then none for minutes; its
    job prints at once and unchanged."""
    pwg = raster("pwg", "silent", 400, 240, 203, pages=3)
    want = run_filter("tspl-203", raster("cups", "silent", 400, 240, 203, pages=3))
    with PrinterEmulator(family="tspl", state="silent") as emu, Server(ARGS.app) as srv:
        srv.add_uri("s", "tspl-203", "socket://127.0.0.1:%d" % emu.port)
        deadline = time.time() + 15
        while not emu.queries and time.time() < deadline:
            reasons(srv, "s")
            time.sleep(0.5)
        check(len(emu.queries) == 1, "%d queries to a silent printer" % len(emu.queries))
        for _ in range(4):  # more status requests: no more queries
            reasons(srv, "s")
            time.sleep(0.6)
        job = srv.print_job("s", pwg, "image/pwg-raster")
        info = srv.wait_job("s", job, timeout=30)
        check(info.get("job-state") == "completed", "job to a silent printer: %s" % info)
        check(len(emu.queries) == 1, "the silent printer was asked %d times" % len(emu.queries))
        check(payload(emu) == want, "silent printer: %d bytes, the filter makes %d"
              % (len(payload(emu)), len(want)))
        with open(srv.log_path, errors="replace") as f:
            check("did not answer its status query" in f.read(), "no back-off in the log")
        log("silent printer: asked once, job printed unchanged")


def case_setting():
    """bandrill-status-query off: what the printer said is cleared, no
    query goes out, a job prints as sent."""
    pwg = raster("pwg", "off", 384, 120, 203)
    want = run_filter("escpos-58", raster("cups", "off", 384, 120, 203))
    with PrinterEmulator(family="escpos", state="paper-out") as emu, Server(ARGS.app) as srv:
        srv.add_uri("e", "escpos-58", "socket://127.0.0.1:%d" % emu.port)
        attrs = status(srv, "e")
        check(attrs.get("bandrill-status-query-default") == "on",
              "default: %r" % attrs.get("bandrill-status-query-default"))
        check(attrs.get("bandrill-status-query-supported") == "on,off",
              "supported: %r" % attrs.get("bandrill-status-query-supported"))
        wait_reasons(srv, "e", lambda r: "media-empty" in r, "media-empty")
        srv.cli("modify", "-d", "e", "-o", "bandrill-status-query-default=off")
        wait_reasons(srv, "e", lambda r: "media-empty" not in r, "media-empty cleared")
        before = len(emu.queries)
        for _ in range(3):
            check("media-empty" not in reasons(srv, "e"), "media-empty with queries off")
            time.sleep(1)
        job = srv.print_job("e", pwg, "image/pwg-raster")
        check(srv.wait_job("e", job).get("job-state") == "completed", "job with queries off")
        check(len(emu.queries) == before, "%d queries with queries off"
              % (len(emu.queries) - before))
        check(payload(emu) == want, "queries off: the printer's bytes differ from the filter's")
        # Families without a query have no such setting.
        srv.add_uri("c", "cpcl", "socket://127.0.0.1:%d" % emu.port)
        check("bandrill-status-query-default" not in status(srv, "c"),
              "cpcl offers bandrill-status-query")
        log("status queries off: none sent, job printed unchanged")


IDENTIFY = """{
\tNAME "Identify-Printer"
\tOPERATION Identify-Printer
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tSTATUS successful-ok
}
"""

GET_IDENTIFY = """{
\tNAME "Get-Printer-Attributes"
\tOPERATION Get-Printer-Attributes
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tATTR keyword requested-attributes identify-actions-supported,identify-actions-default
\tSTATUS successful-ok
}
"""


def case_identify():
    """Identify-Printer sends the family's action to a two-way device and
    nothing to a file; families without one offer none."""
    cases = (("tspl", "tspl-203", "sound", b"SOUND 5,200\r\n"),
             ("escpos", "escpos-58", "flash", b"\x1bJ\x18"))
    with Server(ARGS.app) as srv:
        for family, driver, action, sent in cases:
            with PrinterEmulator(family=family, state="ok") as emu:
                name = family + "-socket"
                srv.add_uri(name, driver, "socket://127.0.0.1:%d" % emu.port)
                out = srv.ipptool(name, GET_IDENTIFY)
                got = dict(re.findall(r"^\s+([a-z-]+) \([^)]*\) = (.*)$", out, re.M))
                check(got.get("identify-actions-supported") == action,
                      "%s: identify-actions-supported %r" % (driver, got))
                check(got.get("identify-actions-default") == action,
                      "%s: identify-actions-default %r" % (driver, got))
                srv.ipptool(name, IDENTIFY)
                emu.wait_until(lambda: sent in emu.data, timeout=10)
                check(payload(emu) == sent, "%s: the printer got %r besides queries"
                      % (driver, payload(emu)))
                log("%s: Identify-Printer sent %r" % (driver, sent))
        # A printer on a file: nothing is written.
        out = srv.add("tspl-file", "tspl-203")
        srv.ipptool("tspl-file", IDENTIFY)
        time.sleep(1)
        check(os.listdir(out) == [], "identify on a file wrote %r" % os.listdir(out))
        # CPCL has no identify action.
        srv.add("cpcl-file", "cpcl")
        out = srv.ipptool("cpcl-file", GET_IDENTIFY)
        got = dict(re.findall(r"^\s+([a-z-]+) \([^)]*\) = (.*)$", out, re.M))
        check(got.get("identify-actions-supported", "none") == "none",
              "cpcl offers an identify action: %r" % got)
        log("identify: nothing to files, none offered for cpcl")


def case_maintenance():
    """The maintenance page: linked from the printer's page, its buttons
    send the family's commands (the calibration as the media tracking
    says), a form without the page's session token sends nothing."""
    import http.cookiejar
    import urllib.parse
    import urllib.request
    cases = (("tspl", "tspl-203", [("self-test", b"SELFTEST\r\n"),
                                   ("calibrate", b"GAPDETECT\r\n"),
                                   ("feed", b"FORMFEED\r\n")]),
             ("escpos", "escpos-58", [("feed", b"\x1bJ\x4f")]))
    with Server(ARGS.app) as srv:
        opener = urllib.request.build_opener(
            urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))
        base = "http://localhost:%d" % srv.port

        def get(path):
            with opener.open(base + path, timeout=30) as r:
                return r.read().decode(errors="replace")

        def post(path, fields):
            data = urllib.parse.urlencode(fields).encode()
            with opener.open(base + path, data=data, timeout=30) as r:
                return r.read().decode(errors="replace")

        for family, driver, actions in cases:
            with PrinterEmulator(family=family, state="ok") as emu:
                srv.add_uri(family, driver, "socket://127.0.0.1:%d" % emu.port)
                check("/%s/maintenance" % family in get("/%s/" % family),
                      "%s: the printer's page has no link to its maintenance page" % driver)
                page = get("/%s/maintenance" % family)
                for name, _ in actions:
                    check('value="%s"' % name in page, "%s: no %s button" % (driver, name))
                m = re.search(r'name="session" value="([^"]*)"', page)
                check(m is not None, "%s: no session token on the page" % driver)
                page = post("/%s/maintenance" % family, {"session": "forged",
                                                         "action": actions[0][0]})
                check("Invalid form submission" in page, "%s: a forged form was taken" % driver)
                sent = b""
                for name, command in actions:
                    page = post("/%s/maintenance" % family, {"session": m.group(1),
                                                             "action": name})
                    check("sent to the printer" in page, "%s %s: page says %r"
                          % (driver, name, re.findall(r'class="banner">([^<]*)', page)))
                    sent += command
                    emu.wait_until(lambda: payload(emu) == sent, timeout=10)
                    check(payload(emu) == sent, "%s %s: the printer got %r"
                          % (driver, name, payload(emu)))
                log("%s: maintenance sent %r" % (driver, sent))
        srv.add("cpcl", "cpcl")
        check("/cpcl/maintenance" not in get("/cpcl/"), "cpcl has a maintenance page")


CASES = {
    "maintenance": case_maintenance,
    "identify": case_identify,
    "paper": case_paper,
    "cover": case_cover,
    "pages": case_pages,
    "conditions": case_conditions,
    "silent": case_silent,
    "setting": case_setting,
}


def main():
    global ARGS, WORK
    p = argparse.ArgumentParser()
    p.add_argument("--app", required=True)
    p.add_argument("--filter", required=True)
    p.add_argument("--ppd-dir", required=True)
    p.add_argument("--raster", required=True)
    p.add_argument("case", choices=sorted(CASES))
    ARGS = p.parse_args()
    WORK = tempfile.mkdtemp(prefix="bandrill-status-")
    try:
        CASES[ARGS.case]()
    except Failure as e:
        log("FAIL: %s" % e)
        log("scratch kept in %s" % WORK)
        return 1
    shutil.rmtree(WORK, ignore_errors=True)
    log("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
