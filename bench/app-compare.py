#!/usr/bin/env python3
"""Pages per second of a 20-label job through bandrill-printer-app against
the CUPS filter, on the same 8-bit raster (812 x 1218 dots, 4 x 6 in at
203 dpi), TSPL 203 dpi, the same settings (Burkes).

The app: one server (started here, free localhost port, own state
directory), one printer on a file:// directory; each run is a Print-Job of
the PWG raster with ipptool, timed until the job is completed (ipptool's
start, upload, rendering and output, and a Get-Job-Attributes), and the
job's own time from the server log (started to completed). The filter: one process per run as the
scheduler starts it, on the CUPS raster of the same pixels, with the
TSPL 203 dpi PPD. Runs alternate; medians are printed.

  bench/app-compare.py BUILD_DIR [RUNS]
"""
import datetime
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "app"))
from appserver import Server  # noqa: E402

PAGES = 20


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    work = tempfile.mkdtemp(prefix="bandrill-app-bench-")
    helper = os.path.join(build, "tests/app/bandrill-app-raster")
    pwg, ras = os.path.join(work, "job.pwg"), os.path.join(work, "job.ras")
    subprocess.run([helper, "pwg", pwg, "812", "1218", "203", str(PAGES)], check=True)
    subprocess.run([helper, "cups", ras, "812", "1218", "203", str(PAGES)], check=True)
    filt = os.path.join(build, "bandrill")
    env = dict(os.environ, PPD=os.path.join(build, "ppd/ppd/bandrill-tspl-203.ppd"))
    app_times, filter_times = [], []
    with Server(os.path.join(build, "app/bandrill-printer-app"), log_level="info") as srv:
        srv.add("labels", "tspl-203")
        attrs = [("keyword", "bandrill-halftone", "burkes")]
        for _ in range(runs):
            t = time.perf_counter()
            job = srv.print_job("labels", pwg, "image/pwg-raster", attrs)
            # PAPPL prints raster as it arrives: Print-Job answers when the
            # job is done, so polling adds nothing unless it is not.
            info = srv.job("labels", job)
            if info.get("job-state") != "completed":
                info = srv.wait_job("labels", job)
            app_times.append(time.perf_counter() - t)
            assert info.get("job-state") == "completed", info
            for f in srv.outputs("labels"):
                os.unlink(f)
            t = time.perf_counter()
            with open(ras, "rb") as inp, open(os.devnull, "wb") as out:
                subprocess.run([filt, "1", "u", "t", "1", "ImageFilter=3"], stdin=inp, stdout=out,
                               stderr=subprocess.DEVNULL, env=env, check=True)
            filter_times.append(time.perf_counter() - t)
        # The job's own time, from the server log: started to completed.
        stamps = {}
        with open(srv.log_path) as f:
            for line in f:
                m = re.match(r"I \[([^\]]+)Z\] \[Job (\d+)\] (Starting print job|Completed)", line)
                if m:
                    t = datetime.datetime.fromisoformat(m.group(1)).timestamp()
                    stamps.setdefault(int(m.group(2)), {})[m.group(3)] = t
        job_times = [v["Completed"] - v["Starting print job"] for v in stamps.values()
                     if len(v) == 2]
    shutil.rmtree(work, ignore_errors=True)
    for name, times in (("app (Print-Job to completed)", app_times),
                        ("app (job start to completed)", job_times),
                        ("filter (one process)", filter_times)):
        m = statistics.median(times)
        print("%-30s median %7.1f ms  %6.1f pages/s" % (name, m * 1000, PAGES / m))


if __name__ == "__main__":
    main()
