#!/usr/bin/env python3
"""Peak memory of bandrill-printer-app for one large document: a fresh
server (free localhost port, own state directory) with one ESC/POS 58 mm
printer on a file:// directory prints the document once; the server's peak
resident size (VmHWM) is read before and after, with the job's end.

  bench/app-memory.py APP RASTER_HELPER [pwg WIDTH HEIGHT | png SIDE [rgb]] ...

RASTER_HELPER is build/tests/app/bandrill-app-raster (8-bit PWG raster at
203 dpi). Without documents: a 384 x 650,000 PWG page, the longest page a
58 mm roll takes (384 x 23,976, 3 m), and 16384 x 16384 grey and colour
PNGs.
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "app"))
from appserver import Server  # noqa: E402
import jobs_test  # noqa: E402
import load_test  # noqa: E402


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def measure(app, path, fmt):
    with Server(app, log_level="warn") as srv:
        srv.add("p", "escpos-58")
        before = peak_kib(srv.proc.pid)
        with open(path, "rb") as f:
            status, values = load_test.ipp_request(srv.port, "p", 0x0002,
                                                   [(0x42, "requesting-user-name", "bench"),
                                                    (0x49, "document-format", fmt)], f.read())
        info = srv.wait_job("p", values["job-id"], timeout=600) if "job-id" in values else {}
        after = peak_kib(srv.proc.pid)
        out = sum(os.path.getsize(o) for o in srv.outputs("p"))
    return before, after, info.get("job-state", "status 0x%04x" % status), info.get("job-state-message", ""), out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    app, helper = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    docs = sys.argv[3:] or ["pwg", "384", "650000", "pwg", "384", "23976", "png", "16384", "png", "16384", "rgb"]
    work = tempfile.mkdtemp(prefix="bandrill-app-memory-")
    try:
        i = 0
        while i < len(docs):
            kind = docs[i]
            if kind == "pwg":
                w, h = docs[i + 1], docs[i + 2]
                i += 3
                path = os.path.join(work, "page.pwg")
                subprocess.run([helper, "pwg", path, w, h, "203", "1"], check=True)
                name, fmt = "PWG %s x %s 8-bit" % (w, h), "image/pwg-raster"
            else:
                side = int(docs[i + 1])
                rgb = i + 2 < len(docs) and docs[i + 2] == "rgb"
                i += 3 if rgb else 2
                path = jobs_test.white_png(os.path.join(work, "image.png"), side, side, colour=rgb)
                name, fmt = "PNG %d x %d %s" % (side, side, "colour" if rgb else "grey"), "image/png"
            before, after, state, message, out = measure(app, path, fmt)
            print("%-28s peak %4d MiB (idle %3d MiB), %s, %d bytes out %s" %
                  (name, after >> 10, before >> 10, state, out, ("(" + message + ")") if message else ""))
            os.unlink(path)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
