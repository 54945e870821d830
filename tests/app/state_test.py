#!/usr/bin/env python3
"""The printer application's saved state survives a kill at any moment.

  state_test.py --app APP sigkill

Three printers with defaults of their own and a default printer; then 20
times: clients print, the server is killed (SIGKILL) at a random moment,
and started again on the same state. Every time every printer, its
defaults and the default printer must be back, and the state file whole.
"""
import os
import random
import signal
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from appserver import Server, check, free_port, log, run_case  # noqa: E402
import load_test  # noqa: E402

ARGS = None

# name: (driver, halftone default, contrast default)
PRINTERS = {
    "labels": ("tspl-203", "stucki", "20"),
    "receipts": ("escpos-58", "sierra", "-15"),
    "pocket": ("paperang", "burkes", "35"),
}


def expect_state(srv, round_):
    for name, (driver, halftone, contrast) in PRINTERS.items():
        a = srv.attributes(name)
        what = "restart %d, %s: " % (round_, name)
        check(a.get("printer-make-and-model", "").strip() != "", what + "printer gone: %r" % a)
        check(a.get("bandrill-halftone-default") == halftone,
              what + "halftone default %r" % a.get("bandrill-halftone-default"))
        check(a.get("bandrill-contrast-default") == contrast,
              what + "contrast default %r" % a.get("bandrill-contrast-default"))
    out = srv.cli("default").stdout.decode().strip()
    check(out == "receipts", "restart %d: default printer %r" % (round_, out))


def case_sigkill():
    with Server(ARGS.app, log_level="info") as srv:
        for name, (driver, halftone, contrast) in PRINTERS.items():
            srv.add(name, driver)
            srv.cli("modify", "-d", name, "-o", "bandrill-halftone-default=" + halftone,
                    "-o", "bandrill-contrast-default=" + contrast)
        # Printers added while the server runs can be named the default only
        # after a restart (PAPPL 1.3.1 gives them printer-id 0 until then).
        srv.stop()
        srv.start()
        srv.cli("default", "-d", "receipts")
        expect_state(srv, 0)
        raw = os.path.join(srv.dir, "job.raw")
        with open(raw, "wb") as f:
            f.write(b"\x1b@raw receipt\n" * 2000)
        png = load_test.make_png(os.path.join(srv.dir, "job.png"), 300, 200, 1)
        state = os.path.join(srv.dir, os.path.basename(ARGS.app) + ".state")
        for round_ in range(1, 21):
            stop = threading.Event()

            def client(i):
                name = sorted(PRINTERS)[i % 3]
                k = 0
                while not stop.is_set():
                    path, fmt = ((raw, "application/vnd.bandrill-escpos") if name == "receipts" and k % 2
                                 else (png, "image/png"))
                    try:
                        load_test.ipp_request(srv.port, name, 0x0002,
                                              [(0x42, "requesting-user-name", "kill"),
                                               (0x42, "job-name", "r%d-%d-%d" % (round_, i, k)),
                                               (0x49, "document-format", fmt)], open(path, "rb").read())
                    except Exception:   # the server is killed under it
                        pass
                    k += 1
                    time.sleep(0.02)
            threads = [threading.Thread(target=client, args=(i,)) for i in range(6)]
            for t in threads:
                t.start()
            time.sleep(random.uniform(0.2, 2.0))
            srv.proc.send_signal(signal.SIGKILL)
            srv.proc.wait()
            stop.set()
            for t in threads:
                t.join()
            with open(state, errors="replace") as f:
                text = f.read()
            srv.port = free_port()
            srv.start()
            expect_state(srv, round_)
            check(text.endswith("# end of state\n"), "restart %d: the state file is cut short (%d bytes)"
                  % (round_, len(text)))
        log("20 kills while printing: every printer, its defaults and the default printer back each time")
        # What the kills left queued (the job printing when killed included)
        # prints after the restart, with no new job to set it going.
        deadline = time.time() + 120
        for name in PRINTERS:
            while load_test.jobs_of(srv, name, "not-completed"):
                check(time.time() < deadline, "%s: jobs left by the kills still not done: %r"
                      % (name, load_test.jobs_of(srv, name, "not-completed")[:5]))
                time.sleep(0.2)
        log("the jobs the kills left queued all printed after the last restart")


CASES = {"sigkill": case_sigkill}


def main():
    random.seed(os.getpid())
    return run_case(sys.modules[__name__], CASES, "--app")


if __name__ == "__main__":
    sys.exit(main())
