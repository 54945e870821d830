#!/usr/bin/env python3
"""How long a 20-label job takes through bandrill-printer-app to a TSPL
printer that answers its status queries, one that never answers, and one
whose answers come late (each after 2 s, so every query reads the last
one's answer): the status must cost a printer that never answers one short
deadline, never PAPPL's 10-second read timeout. The printer is the test
emulator on a socket:// device; each run asks the printer's status first
(as a client polling the queue does), then prints. The printer with its
queries turned off ("off") is the time without any status.

  python3 -B bench/status_jobs.py --app build/release/app/bandrill-printer-app \
      --raster build/release/tests/app/bandrill-app-raster [--runs 3]
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "app"))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from appserver import Server, run  # noqa: E402
from printer_emulator import PrinterEmulator  # noqa: E402

STATUS = """{
\tOPERATION Get-Printer-Attributes
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tATTR keyword requested-attributes printer-state-reasons
\tSTATUS successful-ok
}
"""


def one_run(app, pwg, state, delay, queries=True):
    with PrinterEmulator(family="tspl", state=state, delay=delay) as emu, Server(app) as srv:
        srv.add_uri("p", "tspl-203", "socket://127.0.0.1:%d" % emu.port)
        if not queries:
            srv.cli("modify", "-d", "p", "-o", "bandrill-status-query-default=off")
        start = time.monotonic()
        srv.ipptool("p", STATUS)
        status = time.monotonic() - start
        start = time.monotonic()
        job = srv.print_job("p", pwg, "image/pwg-raster")
        info = srv.wait_job("p", job, timeout=120)
        took = time.monotonic() - start
        assert info.get("job-state") == "completed", info
        return status, took, len(emu.queries)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--app", required=True)
    p.add_argument("--raster", required=True)
    p.add_argument("--runs", type=int, default=3)
    args = p.parse_args()
    work = tempfile.mkdtemp(prefix="bandrill-status-bench-")
    try:
        pwg = os.path.join(work, "labels.pwg")
        run([args.raster, "pwg", pwg, "400", "240", "203", "20"])  # 20 labels 50x30 mm
        print("%-10s %14s %14s %8s" % ("printer", "status (s)", "20 labels (s)", "queries"))
        # "off": the same printer with the queries turned off, as before
        # the application asked printers anything.
        for name, state, delay, queries in (("off", "ok", 0.0, False),
                                            ("answers", "ok", 0.0, True),
                                            ("silent", "silent", 0.0, True),
                                            ("late", "ok", 2.0, True)):
            results = [one_run(args.app, pwg, state, delay, queries) for _ in range(args.runs)]
            print("%-10s %14.2f %14.2f %8d" % (
                name, statistics.median(r[0] for r in results),
                statistics.median(r[1] for r in results), max(r[2] for r in results)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
