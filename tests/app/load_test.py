#!/usr/bin/env python3
"""Many clients printing at once to the printer application, each job's
output checked against the same job printed alone.

  load_test.py --app APP --raster HELPER CASE

  one_printer    8 clients, 4 jobs each, on one printer
  many_printers  448 jobs from 128 clients on 8 printers

Jobs are PNG and the printer's own language (spooled, queued by the
server) and PWG raster (streamed: a printer busy with another job answers
server-error-busy, and the client tries again later, as CUPS does). Every
job must be accepted, end completed and print exactly the bytes it prints
alone; the server must stay up and exit cleanly on SIGTERM (under the
sanitizers: without a report).
"""
import http.client
import os
import random
import re
import shutil
import struct
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from appserver import Failure, Server, check, grey_png, log, run, run_case  # noqa: E402

ARGS = None

# printer name: (driver, raw format, raster width, dpi)
PRINTERS = {
    "tspl": ("tspl-203", "application/vnd.bandrill-tspl", 400, 203),
    "tspl300": ("tspl-300", "application/vnd.bandrill-tspl", 590, 300),
    "pos58": ("escpos-58", "application/vnd.bandrill-escpos", 384, 203),
    "pos80": ("escpos-80", "application/vnd.bandrill-escpos", 576, 203),
    "cpcl": ("cpcl", "application/vnd.bandrill-cpcl", 400, 203),
    "paperang": ("paperang", "application/vnd.bandrill-paperang", 384, 203),
    "peri384": ("peripage-384", "application/vnd.bandrill-peripage", 384, 203),
    "peri576": ("peripage-576", "application/vnd.bandrill-peripage", 576, 300),
}

GET_JOBS = """{
\tNAME "Get-Jobs"
\tOPERATION Get-Jobs
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tATTR keyword which-jobs %(which)s
\tATTR keyword requested-attributes job-id,job-name,job-state,job-state-message
\tSTATUS successful-ok
}
"""


def make_png(path, width, height, seed):
    return grey_png(path, width, height,
                    lambda x, y: ((x * 7 + y * seed) % 256) if (x // 16 + y // 16 + seed) % 3 else 0)


def output_of(directory, job_id, job_name):
    """The file a directory device wrote for the job: named after the job's
    name, or else its number."""
    names = os.listdir(directory)
    found = [n for n in names if job_name in n]
    if not found:
        found = [n for n in names if re.search(r"(^|\D)%d(\D|$)" % job_id, n)]
    check(len(found) == 1, "job %d (%s): output files %r" % (job_id, job_name, found))
    with open(os.path.join(directory, found[0]), "rb") as f:
        return f.read()


class Documents:
    """Each printer's documents (two PNG, one PWG raster) and what each
    prints when it is the only job."""

    def __init__(self, srv, work, printers):
        self.docs = {}      # (printer, kind): [(path, format)]
        self.alone = {}     # path: bytes printed alone
        for name in printers:
            driver, raw, width, dpi = PRINTERS[name]
            pngs = [make_png(os.path.join(work, "%s-%d.png" % (name, s)), 160 + 40 * s, 90 + 30 * s, s)
                    for s in (1, 2)]
            pwg = os.path.join(work, name + ".pwg")
            run([ARGS.raster, "pwg", pwg, str(width), "160", str(dpi), "2"])
            self.docs[(name, "png")] = [(p, "image/png") for p in pngs]
            self.docs[(name, "pwg")] = [(pwg, "image/pwg-raster")]
            for path, fmt in self.docs[(name, "png")] + self.docs[(name, "pwg")]:
                job_name = "alone-" + os.path.basename(path).replace(".", "-")
                job_id = submit(srv, name, path, fmt, job_name)
                info = srv.wait_job(name, job_id, timeout=120)
                check(info.get("job-state") == "completed", "%s alone: %s" % (path, info))
                self.alone[path] = output_of(srv.printers[name], job_id, job_name)
                check(self.alone[path], "%s printed nothing alone" % path)

    def pick(self, printer, kind, k):
        options = self.docs[(printer, kind)]
        return options[k % len(options)]


def ipp_request(port, printer, operation, attrs, data=b""):
    """One IPP request over HTTP: (status code, {attribute: first value})."""
    def attr(tag, name, value):
        v = value.to_bytes(4, "big") if isinstance(value, int) else value.encode()
        return bytes([tag]) + struct.pack(">H", len(name)) + name.encode() + struct.pack(">H", len(v)) + v
    uri = "ipp://localhost:%d/ipp/print/%s" % (port, printer)
    body = struct.pack(">BBHI", 2, 0, operation, 1) + b"\x01"
    body += attr(0x47, "attributes-charset", "utf-8") + attr(0x48, "attributes-natural-language", "en")
    body += attr(0x45, "printer-uri", uri)
    for tag, name, value in attrs:
        body += attr(tag, name, value)
    body += b"\x03" + data
    conn = http.client.HTTPConnection("localhost", port, timeout=120)
    try:
        conn.request("POST", "/ipp/print/" + printer, body, {"Content-Type": "application/ipp"})
        reply = conn.getresponse().read()
    finally:
        conn.close()
    status = struct.unpack(">H", reply[2:4])[0]
    values, i = {}, 9
    while i < len(reply):
        tag = reply[i]
        i += 1
        if tag < 0x10:
            if tag == 0x03:
                break
            continue
        n = struct.unpack(">H", reply[i:i + 2])[0]
        name = reply[i + 2:i + 2 + n].decode()
        i += 2 + n
        n = struct.unpack(">H", reply[i:i + 2])[0]
        value = reply[i + 2:i + 2 + n]
        i += 2 + n
        if name and name not in values:
            values[name] = int.from_bytes(value, "big") if tag in (0x21, 0x23) else value.decode(errors="replace")
    return status, values


def submit(srv, printer, path, fmt, job_name, deadline=None):
    """Print-Job; a busy printer is asked again after a pause. The job id."""
    with open(path, "rb") as f:
        data = f.read()
    deadline = deadline or time.time() + 300
    pause = 0.02
    while True:
        status, values = ipp_request(srv.port, printer, 0x0002,
                                     [(0x42, "requesting-user-name", "load"), (0x42, "job-name", job_name),
                                      (0x49, "document-format", fmt)], data)
        if status == 0 and "job-id" in values:
            return values["job-id"]
        # server-error-busy: a raster job while another prints (the refused
        # job is made and aborted, and has an id too).
        check(status == 0x0507, "%s on %s: not accepted: status 0x%04x %s"
              % (job_name, printer, status, values.get("status-message", "")))
        check(time.time() < deadline, "%s on %s: still busy after 300 s" % (job_name, printer))
        time.sleep(pause * (1 + random.random()))
        pause = min(pause * 2, 0.5)


def jobs_of(srv, printer, which):
    """Get-Jobs: [{job-id, job-name, job-state, ...}]."""
    path = os.path.join(srv.dir, "get-jobs-%s.test" % printer)
    with open(path, "w") as f:
        f.write(GET_JOBS % {"which": which})
    out = run(["ipptool", "-tv", "-T", "60", srv.uri(printer), path]).stdout.decode(errors="replace")
    jobs = []
    group = {}
    for line in out.splitlines() + ["-- separator --"]:
        if line.strip() == "-- separator --":
            if "job-id" in group:
                jobs.append(group)
            group = {}
            continue
        m = re.match(r"\s+(job-id|job-name|job-state|job-state-message) \([^)]*\) = (.*)$", line)
        if m:
            group[m.group(1)] = m.group(2)
    return jobs


class Load:
    """A server with the printers and their documents; rounds of clients
    printing at once, each checked."""

    def __init__(self, srv, printers, work):
        self.srv = srv
        self.printers = printers
        self.work = work
        for name in printers:
            srv.add(name, PRINTERS[name][0])
        self.docs = Documents(srv, work, printers)
        self.clear_outputs()
        self.rounds = 0

    def clear_outputs(self):
        for name in self.printers:
            for f in os.listdir(self.srv.printers[name]):
                os.unlink(os.path.join(self.srv.printers[name], f))

    def round(self, clients, jobs_per_client):
        """clients[i] prints jobs_per_client(i) jobs to printers[i % len];
        every job must complete with the bytes it prints alone. Returns
        (jobs, pages, seconds)."""
        srv, printers, docs = self.srv, self.printers, self.docs
        self.rounds += 1
        tag = "r%d" % self.rounds
        submitted = {}   # (printer, job id): (job name, expected bytes)
        errors = []
        lock = threading.Lock()
        kinds = ("png", "raw", "pwg")
        pages = [0]

        def client(i):
            printer = printers[i % len(printers)]
            try:
                for k in range(jobs_per_client(i)):
                    job_name = "%s-c%03d-j%d" % (tag, i, k)
                    kind = kinds[(i + k) % 3]
                    if kind == "raw":
                        path = os.path.join(self.work, job_name + ".raw")
                        data = ("raw %s on %s\n" % (job_name, printer)).encode() * (50 + 97 * k)
                        with open(path, "wb") as f:
                            f.write(data)
                        fmt, want = PRINTERS[printer][1], data
                    else:
                        path, fmt = docs.pick(printer, kind, i + k)
                        want = docs.alone[path]
                    job_id = submit(srv, printer, path, fmt, job_name)
                    with lock:
                        submitted[(printer, job_id)] = (job_name, want)
                        pages[0] += 2 if kind == "pwg" else 1
            except Failure as e:
                with lock:
                    errors.append(str(e))

        total = sum(jobs_per_client(i) for i in range(clients))
        started = time.time()
        threads = [threading.Thread(target=client, args=(i,)) for i in range(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        check(not errors, "%d client errors, the first:\n%s" % (len(errors), errors[0] if errors else ""))
        check(len(submitted) == total, "%d jobs accepted of %d" % (len(submitted), total))
        check(srv.alive(), "the server died under load")

        deadline = time.time() + 300
        for name in printers:
            while jobs_of(srv, name, "not-completed"):
                check(time.time() < deadline, "%s: jobs still not completed after 300 s" % name)
                check(srv.alive(), "the server died while printing")
                time.sleep(0.1)
        elapsed = time.time() - started

        wrong = []
        for name in printers:
            done = {int(j["job-id"]): j for j in jobs_of(srv, name, "completed")}
            for (printer, job_id), (job_name, want) in submitted.items():
                if printer != name:
                    continue
                j = done.get(job_id)
                check(j is not None, "%s job %d (%s) is not in the finished jobs" % (name, job_id, job_name))
                check(j.get("job-state") == "completed", "%s job %d (%s): %s" % (name, job_id, job_name, j))
                if output_of(srv.printers[name], job_id, job_name) != want:
                    wrong.append("%s job %d (%s)" % (name, job_id, job_name))
        check(not wrong, "%d of %d outputs differ from the job printed alone: %s"
              % (len(wrong), total, ", ".join(wrong[:10])))
        self.clear_outputs()
        for f in os.listdir(self.work):
            if f.startswith(tag + "-"):
                os.unlink(os.path.join(self.work, f))
        return total, pages[0], elapsed


def load(printers, clients, jobs_per_client):
    work = tempfile.mkdtemp(prefix="bandrill-app-load-")
    try:
        # Every job is looked up once all are done: on a slow machine the
        # first ones are trimmed from the history by then (the jobs that
        # busy printers refused count too).
        with Server(ARGS.app, log_level="info", env={"BANDRILL_JOB_HISTORY": "100000"}) as srv:
            total, _, elapsed = Load(srv, printers, work).round(clients, jobs_per_client)
            log("%d jobs from %d clients on %d printer(s): all completed, each output the same as "
                "printed alone, %.1f s" % (total, clients, len(printers), elapsed))
        shutil.rmtree(work, ignore_errors=True)
    except BaseException:
        log("documents kept in %s" % work)
        raise


def case_one_printer():
    load(["pos58"], 8, lambda i: 4)


def many_clients(i):
    """448 jobs from 128 clients."""
    return 4 if i < 64 else 3


def case_many_printers():
    load(sorted(PRINTERS), 128, many_clients)


CASES = {"one_printer": case_one_printer, "many_printers": case_many_printers}


def main():
    random.seed(os.getpid())
    return run_case(sys.modules[__name__], CASES, "--app", "--raster")


if __name__ == "__main__":
    sys.exit(main())
