"""A private CUPS scheduler for the end-to-end tests, and the checks of
what it prints.

The scheduler runs from a temporary directory: its configuration, spool,
logs and state live there, it listens on a unix socket only, its filter
directory holds links to the stock filters plus the bandrill filter as
`cmake --install` places it, and its model directory holds the PPDs as
`cmake --install` places them, so that queues are added with
`lpadmin -m` exactly as an administrator would. Queues print to files.
"""
import glob
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def log(msg):
    print(msg, flush=True)


def run(cmd, env=None, check_rc=True, **kw):
    res = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    if check_rc and res.returncode != 0:
        raise Failure("%s exited %d:\n%s%s" % (" ".join(cmd), res.returncode,
                                               res.stdout.decode(errors="replace"),
                                               res.stderr.decode(errors="replace")))
    return res


def cups_config(what, fallback):
    try:
        out = subprocess.run(["cups-config", what], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout.decode().strip()
    except OSError:
        out = ""
    return out or fallback


class Stage:
    """The project installed with `cmake --install` into DESTDIR=root."""

    def __init__(self, cmake, build_dir, root):
        env = dict(os.environ, DESTDIR=root)
        run([cmake, "--install", build_dir], env=env)
        filters = glob.glob(os.path.join(root, "**", "filter", "bandrill"), recursive=True)
        check(len(filters) == 1, "cmake --install placed no filter named bandrill (found %r)" % filters)
        self.filter = filters[0]
        ppds = glob.glob(os.path.join(root, "**", "bandrill-*.ppd"), recursive=True)
        check(ppds, "cmake --install placed no PPD files")
        dirs = {os.path.dirname(p) for p in ppds}
        check(len(dirs) == 1, "PPD files installed into several directories: %r" % sorted(dirs))
        self.ppd_dir = dirs.pop()
        self.ppds = sorted(os.path.basename(p) for p in ppds)
        # Where cups-driverd would find them: <datadir>/model/<sub> or an
        # lsb directory such as /usr/share/ppd/<sub>.
        rel = os.path.relpath(self.ppd_dir, root)
        check(re.search(r"(^|/)(model|ppd)/[^/]+$", rel) is not None,
              "PPD files installed into %s, where cups-driverd does not look" % ("/" + rel))
        self.ppd_subdir = os.path.basename(self.ppd_dir)
        # The driver program that suggests PPDs by command set, if installed.
        drivers = glob.glob(os.path.join(root, "**", "driver", "bandrill"), recursive=True)
        self.driver = drivers[0] if len(drivers) == 1 else None


class Scheduler:
    """cupsd in a temporary directory, reached through its unix socket.
    With a Stage, its filters and PPDs are the system's plus the staged
    ones; without, the system's alone (what packages installed)."""

    def __init__(self, stage, tmp):
        self.tmp = tmp
        self.stage = stage
        self.sock = os.path.join(tmp, "cups.sock")
        self.out_dir = os.path.join(tmp, "out")
        self.proc = None
        self.env = dict(os.environ, CUPS_SERVER=self.sock)
        self.env.pop("CUPS_USER", None)
        self._write_tree()

    def _dir(self, *parts, mode=0o755):
        path = os.path.join(self.tmp, *parts)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, mode)
        return path

    def _write_tree(self):
        t = self.tmp
        os.makedirs(t, mode=0o755)
        os.chmod(t, 0o755)   # the filters run as lp and read below here
        for d in ("etc", "etc/ppd", "spool", "spool/tmp", "cache", "run", "log", "out", "data",
                  "data/model", "lib", "lib/filter"):
            self._dir(d)
        serverbin = cups_config("--serverbin", "/usr/lib/cups")
        datadir = cups_config("--datadir", "/usr/share/cups")
        if self.stage is not None:
            self._private_dirs(serverbin, datadir)
            serverbin, datadir = os.path.join(t, "lib"), os.path.join(t, "data")
        self._write_config(serverbin, datadir)

    def _private_dirs(self, serverbin, datadir):
        """Filters and data of the system plus the staged install."""
        t = self.tmp
        # Server binaries: the stock ones, except private filter and driver
        # directories.
        private = ("filter", "driver") if self.stage.driver else ("filter",)
        for entry in os.listdir(serverbin):
            if entry not in private:
                os.symlink(os.path.join(serverbin, entry), os.path.join(t, "lib", entry))
        if self.stage.driver:
            # The stock driver programs and the staged one, a copy that is
            # root's as cups-driverd wants it.
            self._dir("lib", "driver")
            stock = os.path.join(serverbin, "driver")
            for entry in os.listdir(stock) if os.path.isdir(stock) else ():
                if entry != "bandrill":
                    os.symlink(os.path.join(stock, entry), os.path.join(t, "lib/driver", entry))
            shutil.copyfile(self.stage.driver, os.path.join(t, "lib/driver/bandrill"))
            os.chmod(os.path.join(t, "lib/driver/bandrill"), 0o755)
        # A bandrill filter installed on the system (by the package) is not
        # the one under test.
        for entry in os.listdir(os.path.join(serverbin, "filter")):
            if entry != "bandrill":
                os.symlink(os.path.join(serverbin, "filter", entry), os.path.join(t, "lib/filter", entry))
        # cupsd runs only a filter that is root's (when it is root) and
        # writable by no one else; a copy made here is.
        filt = os.path.join(t, "lib/filter/bandrill")
        shutil.copyfile(self.stage.filter, filt)
        os.chmod(filt, 0o755)
        # Data: the stock files, and a model directory that adds the
        # installed PPDs to the stock ones.
        for entry in os.listdir(datadir):
            if entry != "model":
                os.symlink(os.path.join(datadir, entry), os.path.join(t, "data", entry))
        stock_model = os.path.join(datadir, "model")
        if os.path.isdir(stock_model):
            for entry in os.listdir(stock_model):
                if entry != self.stage.ppd_subdir:
                    os.symlink(os.path.join(stock_model, entry), os.path.join(t, "data/model", entry))
        os.symlink(self.stage.ppd_dir, os.path.join(t, "data/model", self.stage.ppd_subdir))

    def _write_config(self, serverbin, datadir):
        t = self.tmp
        user = "" if os.getuid() != 0 else "User lp\nGroup lp\n"
        with open(os.path.join(t, "etc/cups-files.conf"), "w") as f:
            f.write(f"""ServerRoot {t}/etc
RequestRoot {t}/spool
TempDir {t}/spool/tmp
ServerBin {serverbin}
DataDir {datadir}
CacheDir {t}/cache
StateDir {t}/run
AccessLog {t}/log/access_log
ErrorLog {t}/log/error_log
PageLog {t}/log/page_log
Printcap {t}/printcap
FileDevice Yes
SystemGroup root
{user}""")
        with open(os.path.join(t, "etc/cupsd.conf"), "w") as f:
            f.write(f"""Listen {self.sock}
LogLevel debug
MaxLogSize 0
Browsing No
WebInterface No
DefaultAuthType None
ErrorPolicy abort-job
PreserveJobHistory Yes
PreserveJobFiles No
MaxJobs 0
JobKillDelay 30
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
""")

    def start(self):
        self.proc = subprocess.Popen(
            ["cupsd", "-f", "-c", os.path.join(self.tmp, "etc/cupsd.conf"),
             "-s", os.path.join(self.tmp, "etc/cups-files.conf")],
            stdout=open(os.path.join(self.tmp, "log/cupsd.out"), "wb"), stderr=subprocess.STDOUT,
            env=dict(os.environ, PATH="/usr/sbin:/sbin:" + os.environ.get("PATH", "")))
        deadline = time.monotonic() + 30
        while True:
            if self.proc.poll() is not None:
                raise Failure("cupsd exited at start:\n" + self.log_tail())
            if os.path.exists(self.sock) and self.lp_cmd(["lpstat", "-r"], check_rc=False).returncode == 0:
                return
            check(time.monotonic() < deadline, "cupsd did not answer on its socket:\n" + self.log_tail())
            time.sleep(0.1)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def log_tail(self, lines=60):
        path = os.path.join(self.tmp, "log/error_log")
        try:
            with open(path, errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except OSError:
            return "(no error_log)"

    def job_log(self, job_id):
        """The scheduler's log lines of one job (filter messages included)."""
        try:
            with open(os.path.join(self.tmp, "log/error_log"), errors="replace") as f:
                return "".join(l for l in f if "[Job %d]" % job_id in l)
        except OSError:
            return ""

    def lp_cmd(self, cmd, check_rc=True):
        return run(cmd, env=self.env, check_rc=check_rc)

    def models(self):
        """`lpinfo -m`: {ppd-name: make-and-model}."""
        out = self.lp_cmd(["lpinfo", "-m"]).stdout.decode(errors="replace")
        models = {}
        for line in out.splitlines():
            name, _, desc = line.partition(" ")
            models[name] = desc
        return models

    def add_queue(self, name, model, options=()):
        """lpadmin -m MODEL with a file: device; returns the output path."""
        path = os.path.join(self.out_dir, name + ".prn")
        cmd = ["lpadmin", "-p", name, "-E", "-v", "file://" + path, "-m", model]
        for o in options:
            cmd += ["-o", o]
        self.lp_cmd(cmd)
        return path

    def queue_ppd(self, name):
        """The queue's own PPD copy, which carries the defaults set with lpadmin -o."""
        return os.path.join(self.tmp, "etc/ppd", name + ".ppd")

    def submit(self, queue, path, options=(), copies=1):
        cmd = ["lp", "-d", queue, "-t", os.path.basename(path)]
        if copies != 1:
            cmd += ["-n", str(copies)]
        for o in options:
            cmd += ["-o", o]
        out = self.lp_cmd(cmd + [path]).stdout.decode()
        m = re.search(r"request id is \S+-(\d+)", out)
        check(m, "lp printed no job id: " + out)
        return int(m.group(1))

    def job_state(self, job_id):
        """(job-state keyword, job-state-reasons) through ipptool on the socket."""
        uri = "ipp://%s/jobs/%d" % (self.sock.replace("/", "%2F"), job_id)
        res = self.lp_cmd(["ipptool", "-c", "-d", "job_id=%d" % job_id, uri,
                           os.path.join(HERE, "get-job-state.test")], check_rc=False)
        lines = res.stdout.decode(errors="replace").strip().splitlines()
        if res.returncode != 0 or len(lines) < 2:
            raise Failure("ipptool could not get job %d: %s %s" % (job_id, res.stdout, res.stderr))
        state, _, reasons = lines[-1].partition(",")
        return state.strip('"'), reasons.strip('"')

    def wait_job(self, job_id, states=("completed", "canceled", "aborted"), timeout=120):
        deadline = time.monotonic() + timeout
        while True:
            state, reasons = self.job_state(job_id)
            if state in states:
                return state, reasons
            if time.monotonic() > deadline:
                raise Failure("job %d still %s (%s) after %d s:\n%s" %
                              (job_id, state, reasons, timeout, self.job_log(job_id)))
            time.sleep(0.1)

    def expect_completed(self, job_id):
        state, reasons = self.wait_job(job_id)
        check(state == "completed", "job %d ended %s (%s):\n%s" % (job_id, state, reasons,
                                                                    self.job_log(job_id)))

    def cancel(self, job_id):
        self.lp_cmd(["cancel", str(job_id)])


class PrivateCups:
    """Context manager: a temporary tree, the staged install and a running
    scheduler; the tree is removed afterwards unless the test failed and
    BANDRILL_E2E_KEEP is set."""

    def __init__(self, cmake, build_dir):
        self.cmake = cmake
        self.build_dir = build_dir

    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix="bandrill-e2e.")
        os.chmod(self.tmp, 0o755)
        self.cups = None
        try:
            self.stage = Stage(self.cmake, self.build_dir, os.path.join(self.tmp, "stage"))
            self.cups = Scheduler(self.stage, os.path.join(self.tmp, "cups"))
            self.work = os.path.join(self.tmp, "work")
            os.makedirs(self.work)
            self.cups.start()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        if self.cups:
            self.cups.stop()
            if exc_type is not None:
                log("scheduler log (last lines):\n" + self.cups.log_tail())
        if exc_type is not None and os.environ.get("BANDRILL_E2E_KEEP"):
            log("kept " + self.tmp)
        else:
            shutil.rmtree(self.tmp, ignore_errors=True)
        return False


# --- PNG reading (the decoder's previews) ---------------------------------

class Bitmap:
    """A one-bit page: ink[y][x] is True where the printer puts a dot."""

    def __init__(self, width, height, ink):
        self.width = width
        self.height = height
        self.ink = ink

    def density(self, x0, y0, x1, y1):
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.width, int(x1)), min(self.height, int(y1))
        n = (x1 - x0) * (y1 - y0)
        if n <= 0:
            return 0.0
        return sum(sum(row[x0:x1]) for row in self.ink[y0:y1]) / n

    def bbox(self):
        rows = [y for y in range(self.height) if any(self.ink[y])]
        if not rows:
            return None
        cols = [x for x in range(self.width) if any(self.ink[y][x] for y in rows)]
        return cols[0], rows[0], cols[-1] + 1, rows[-1] + 1


def grey_rows(path):
    """A grey PNG (bit depth 1 or 8, not interlaced): (width, height, rows),
    each row a bytes of 0 (black) to 255 (white) a pixel."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", path + " is not a PNG")
    pos, idat, hdr = 8, b"", None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b"IHDR":
            hdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    w, h, depth, ctype, _, _, interlace = hdr
    check(ctype == 0 and depth in (1, 8) and interlace == 0, "%s: unexpected PNG type %r" % (path, hdr))
    raw = zlib.decompress(idat)
    stride = (w * depth + 7) // 8
    bpp = max(1, depth // 8)
    prev = bytearray(stride)
    rows = []
    for y in range(h):
        ftype = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 255
            elif ftype == 2:
                line[i] = (line[i] + b) & 255
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        prev = line
        if depth == 1:
            rows.append(bytes(255 if (line[x >> 3] >> (7 - (x & 7))) & 1 else 0 for x in range(w)))
        else:
            rows.append(bytes(line))
    return w, h, rows


def read_png(path):
    """Grey PNG (1 or 8 bits) as a Bitmap; dark pixels (< 128) are ink."""
    w, h, rows = grey_rows(path)
    return Bitmap(w, h, [[v < 128 for v in row] for row in rows])


# --- the decoder -------------------------------------------------------------

class Decoded:
    def __init__(self, listing, pages):
        self.listing = listing
        self.pages = pages


def decode(decoder, lang, stream_path, out_dir):
    """bandrill-decode on a printer stream: must decode cleanly."""
    os.makedirs(out_dir, exist_ok=True)
    res = run([decoder, "--lang", lang, "--out", out_dir, "--prefix", "page", stream_path],
              check_rc=False)
    listing = res.stdout.decode(errors="replace")
    check(res.returncode == 0, "bandrill-decode --lang %s %s exited %d:\n%s%s" % (
        lang, stream_path, res.returncode, listing[-3000:], res.stderr.decode(errors="replace")))
    pngs = sorted(glob.glob(os.path.join(out_dir, "page-page*.png")),
                  key=lambda p: int(re.search(r"page(\d+)\.png$", p).group(1)))
    return Decoded(listing, [read_png(p) for p in pngs])
