#!/usr/bin/env python3
"""Rounds of 448 jobs from 128 clients on 8 printers sent to one printer
application, back to back: each round's pages per second and the server's
CPU time, and the jobs it keeps. Every job is checked as in the load test.

  bench/app-rounds.py APP RASTER_HELPER [ROUNDS]

APP is bandrill-printer-app, RASTER_HELPER bandrill-app-raster (both in a
build tree: app/, tests/app/)."""
import argparse
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "app"))
import load_test  # noqa: E402
from appserver import Server, run  # noqa: E402


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("app")
    p.add_argument("raster")
    p.add_argument("rounds", nargs="?", type=int, default=6)
    args = p.parse_args()
    load_test.ARGS = argparse.Namespace(app=args.app, raster=args.raster)
    work = tempfile.mkdtemp(prefix="bandrill-app-rounds-")
    try:
        with Server(args.app, log_level="warn") as srv:
            load = load_test.Load(srv, sorted(load_test.PRINTERS), work)
            first = None
            print("round  jobs  pages  seconds  pages/s  server CPU s  jobs kept")
            for r in range(1, args.rounds + 1):
                cpu = cpu_seconds(srv.proc.pid)
                jobs, pages, secs = load.round(128, load_test.many_clients)
                cpu = cpu_seconds(srv.proc.pid) - cpu
                kept = sum(len(load_test.jobs_of(srv, n, "completed")) for n in load.printers)
                rate = pages / secs
                first = first or rate
                print("%5d  %4d  %5d  %7.1f  %7.1f  %12.1f  %9d   (%.0f %% of round 1)"
                      % (r, jobs, pages, secs, rate, cpu, kept, 100 * rate / first), flush=True)
        shutil.rmtree(work, ignore_errors=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
