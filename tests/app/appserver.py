"""A private bandrill-printer-app server for one test: a free localhost
port, its own state directory (SNAP_COMMON) and file:// devices, stopped
with SIGTERM. Also the ipptool requests the tests send."""
import argparse
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib


# Failures, checks and messages are the end-to-end harness's, so that a
# test mixing this server with a private cupsd catches one kind of failure.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import Failure, check, log  # noqa: E402,F401
import harness  # noqa: E402


def run_case(module, cases, *options, workdirs=()):
    """The command line of an application test script: its options (each
    required) and the case to run. Sets module.ARGS, runs the case, says
    PASS or FAIL, removes workdirs; returns the exit status."""
    p = argparse.ArgumentParser()
    for option in options:
        p.add_argument(option, required=True)
    p.add_argument("case", choices=sorted(cases))
    module.ARGS = p.parse_args()
    try:
        cases[module.ARGS.case]()
    except Failure as e:
        log("FAIL: %s" % e)
        return 1
    finally:
        for d in workdirs:
            shutil.rmtree(d, ignore_errors=True)
    log("PASS")
    return 0


def grey_png(path, width, height, pixel, truncate=None):
    """Writes an 8-bit grey PNG whose pixel (x, y) is pixel(x, y); cut after
    truncate bytes when given (a damaged file). Returns the path."""
    rows = b"".join(b"\0" + bytes(pixel(x, y) for x in range(width)) for y in range(height))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff))
    data = (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data[:truncate] if truncate else data)
    return path


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run(cmd, env=None, check_rc=True, timeout=120, **kw):
    return harness.run(cmd, env=env, check_rc=check_rc, timeout=timeout, **kw)


def ipp_value(text):
    """An ipptool -v value: the text after ' = '."""
    return text.split(" = ", 1)[1] if " = " in text else ""


class Server:
    def __init__(self, app, keep=False, log_level="debug", env=None):
        self.app = app
        self.dir = tempfile.mkdtemp(prefix="bandrill-app-")
        self.keep = keep
        self.port = free_port()
        self.log_level = log_level
        # file:// devices may write into the test's own folder only.
        self.env = dict(os.environ, SNAP_COMMON=self.dir, BANDRILL_FILE_DEVICE_DIRS=self.dir)
        self.env.update(env or {})
        # Under LeakSanitizer: PAPPL's own leaks are not the application's.
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
        self.env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0" % supp
        # Whole stacks: PAPPL has no frame pointers, and the suppressions
        # name its functions.
        asan = os.environ.get("ASAN_OPTIONS", "")
        self.env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "fast_unwind_on_malloc=0"
        self.log_path = os.path.join(self.dir, "server.log")
        self.proc = None
        self.printers = {}

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        status = self.stop()
        if exc[0] is None and status != 0:
            exc = (Failure, None, None)
            self.keep = True
            log("server state kept in %s" % self.dir)
            raise Failure("the server exited with status %s after SIGTERM" % status)
        if not self.keep and exc[0] is None:
            shutil.rmtree(self.dir, ignore_errors=True)
        elif exc[0] is not None:
            log("server state kept in %s" % self.dir)
            try:
                with open(self.log_path, errors="replace") as f:
                    lines = f.readlines()
                log("last lines of the server log:\n" + "".join(lines[-40:]))
            except OSError:
                pass

    def start(self):
        self.stderr_path = os.path.join(self.dir, "server.err")
        self.proc = subprocess.Popen(
            [self.app, "server", "-o", "server-port=%d" % self.port,
             "-o", "listen-hostname=localhost", "-o", "log-level=" + self.log_level,
             "-o", "log-file=%s" % self.log_path],
            env=self.env, stdout=subprocess.DEVNULL, stderr=open(self.stderr_path, "wb"))
        deadline = time.time() + 30
        while time.time() < deadline:
            check(self.proc.poll() is None, "the server exited with %s" % self.proc.returncode)
            try:
                with socket.create_connection(("localhost", self.port), timeout=1):
                    return
            except OSError:
                time.sleep(0.1)
        raise Failure("the server did not listen on port %d" % self.port)

    def stop(self):
        """SIGTERM; the exit status (a sanitizer's report makes it non-zero)."""
        status = None
        if self.proc:
            if self.proc.poll() is None:
                self.proc.send_signal(signal.SIGTERM)
            try:
                status = self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                status = self.proc.wait()
        self.proc = None
        return status

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def cli(self, *args, check_rc=True):
        return run([self.app] + list(args), env=self.env, check_rc=check_rc)

    def add(self, name, driver, device_dir=None):
        """A printer on a file:// device directory (made here unless given)."""
        out = device_dir or os.path.join(self.dir, "out-" + name)
        os.makedirs(out, exist_ok=True)
        self.cli("add", "-d", name, "-m", driver, "-v", "file://" + out)
        self.printers[name] = out
        return out

    def add_uri(self, name, driver, device_uri):
        self.cli("add", "-d", name, "-m", driver, "-v", device_uri)
        self.printers[name] = None

    def uri(self, name):
        return "ipp://localhost:%d/ipp/print/%s" % (self.port, name)

    def ipptool(self, name, test_text, filename=None, fmt=None, check_rc=True):
        """Runs one ipptool test file made of test_text; returns stdout."""
        path = os.path.join(self.dir, "req-%d.test" % time.monotonic_ns())
        with open(path, "w") as f:
            f.write(test_text)
        cmd = ["ipptool", "-tv", "-T", "30"]
        if filename:
            cmd += ["-f", filename]
        if fmt:
            cmd += ["-d", "format=" + fmt]
        cmd += [self.uri(name), path]
        res = run(cmd, check_rc=check_rc)
        return res.stdout.decode(errors="replace")

    def attributes(self, name):
        """Get-Printer-Attributes: name -> value text."""
        out = self.ipptool(name, GET_PRINTER_ATTRIBUTES)
        attrs = {}
        for line in out.splitlines():
            m = re.match(r"\s+([a-z0-9-]+) \(([^)]*)\) = (.*)$", line)
            if m:
                attrs[m.group(1)] = m.group(3)
        return attrs

    def print_job(self, name, path, fmt, attrs=(), expect_ok=True):
        """Print-Job with job attributes [(syntax, name, value)]; returns the job id."""
        lines = "".join("\tATTR %s %s %s\n" % a for a in attrs)
        test = PRINT_JOB % {"attrs": lines}
        out = self.ipptool(name, test, filename=path, fmt=fmt, check_rc=expect_ok)
        m = re.search(r"job-id \(integer\) = (\d+)", out)
        check(m is not None or not expect_ok, "Print-Job gave no job id:\n" + out)
        return int(m.group(1)) if m else None

    def job(self, name, job_id):
        out = self.ipptool(name, GET_JOB % {"id": job_id})
        info = {}
        for line in out.splitlines():
            m = re.match(r"\s+([a-z0-9-]+) \(([^)]*)\) = (.*)$", line)
            if m:
                info[m.group(1)] = m.group(3)
        return info

    def wait_job(self, name, job_id, states=("completed", "aborted", "canceled"), timeout=60):
        deadline = time.time() + timeout
        info = {}
        while time.time() < deadline:
            info = self.job(name, job_id)
            if info.get("job-state") in states:
                return info
            time.sleep(0.2)
        raise Failure("job %d on %s stayed %s" % (job_id, name, info))

    def active_jobs(self, name):
        out = self.ipptool(name, GET_JOBS)
        return [int(m) for m in re.findall(r"job-id \(integer\) = (\d+)", out)]

    def cancel(self, name, job_id):
        self.ipptool(name, CANCEL_JOB % {"id": job_id})

    def outputs(self, name):
        d = self.printers[name]
        return sorted(os.path.join(d, f) for f in os.listdir(d))

    def read_output(self, name):
        files = self.outputs(name)
        check(len(files) == 1, "%s: expected one output file, found %r" % (name, files))
        with open(files[0], "rb") as f:
            data = f.read()
        os.unlink(files[0])
        return data


_HEAD = """{
\tNAME "%s"
\tOPERATION %s
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tATTR name requesting-user-name tester
"""

GET_PRINTER_ATTRIBUTES = _HEAD % ("Get-Printer-Attributes", "Get-Printer-Attributes") + """\
\tATTR keyword requested-attributes all
\tSTATUS successful-ok
}
"""

PRINT_JOB = (_HEAD % ("Print-Job", "Print-Job")).replace("%", "%%") + """\
\tATTR mimeMediaType document-format $format
\tGROUP job-attributes-tag
%(attrs)s\tFILE $filename
\tSTATUS successful-ok
}
"""

GET_JOB = (_HEAD % ("Get-Job-Attributes", "Get-Job-Attributes")).replace("%", "%%") + """\
\tATTR integer job-id %(id)d
\tATTR keyword requested-attributes job-state,job-state-reasons,job-state-message,job-impressions-completed
\tSTATUS successful-ok
}
"""

GET_JOBS = _HEAD % ("Get-Jobs", "Get-Jobs") + """\
\tATTR keyword which-jobs not-completed
\tATTR keyword requested-attributes job-id
\tSTATUS successful-ok
}
"""

CANCEL_JOB = (_HEAD % ("Cancel-Job", "Cancel-Job")).replace("%", "%%") + """\
\tATTR integer job-id %(id)d
\tSTATUS successful-ok
}
"""
