#!/usr/bin/env python3
"""The Debian packages, installed and removed on this machine.

    package_test.py --source SOURCE_DIR --build BUILD_DIR

Builds the packages with scripts/package.sh (build tree BUILD_DIR, the
.deb files in a temporary folder), checks them with lintian (no error),
installs them with apt-get, then:
  - a private cupsd using the system's filter and data directories lists
    the eight PPDs with lpinfo -m and prints the sample PDF through the
    installed filter and PPD; the stream decodes;
  - the installed printer application, when that package was built, serves
    on a free localhost port with its own state folder and prints the
    sample PNG sent with ipptool; the stream decodes;
  - its service: the package made its system user (in lp and dialout) and
    the state and spool folders it owns; the unit runs it as that user,
    on localhost, sandboxed (systemd-analyze verify and security); run as
    the unit runs it, the server keeps its state where the unit lets it
    write and cannot write into a root-owned folder through a printer;
and purges both packages, after which no file of theirs may remain. The
packages are purged, and files they replaced restored, whatever happens.

Exit 77 (skipped) when not root, when a tool is missing, or when a
bandrill package is already installed (the test would remove it).
"""
import argparse
import glob
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

import harness  # noqa: E402
from harness import Failure, check, log, run  # noqa: E402

PACKAGES = ("bandrill", "bandrill-printer-app")
PPD_NAMES = ("bandrill-tspl-203.ppd", "bandrill-tspl-300.ppd", "bandrill-escpos-58.ppd",
             "bandrill-escpos-80.ppd", "bandrill-cpcl.ppd", "bandrill-paperang.ppd",
             "bandrill-peripage-384.ppd", "bandrill-peripage-576.ppd")
SKIP = 77
APT_ENV = dict(os.environ, DEBIAN_FRONTEND="noninteractive")


def installed(pkg):
    res = subprocess.run(["dpkg-query", "-W", "-f=${Status}", pkg],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return res.returncode == 0 and res.stdout.decode().endswith(" installed")


def deb_paths(deb):
    """The files and links a .deb holds, as absolute paths."""
    out = run(["dpkg-deb", "--fsys-tarfile", deb], check_rc=True).stdout
    res = subprocess.run(["tar", "-tvf", "-"], input=out, stdout=subprocess.PIPE, check=True)
    paths = []
    for line in res.stdout.decode().splitlines():
        if line.startswith(("-", "l", "h")):
            name = re.split(r"\s+", line, maxsplit=5)[5].split(" -> ")[0].split(" link to ")[0]
            paths.append("/" + os.path.normpath(name))
    return paths


class Machine:
    """What the test does to the system, undone by restore()."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.backup = os.path.join(tmp, "backup")
        self.saved = []       # files of no package that the packages replace
        self.installed = []   # packages this test installed
        self.lists = {}       # package: its dpkg -L list

    def save_strays(self, debs):
        """Files that dpkg would overwrite without a word (a `cmake
        --install` left them) are kept and put back afterwards."""
        for deb in debs:
            for path in deb_paths(deb):
                if os.path.lexists(path) and not os.path.isdir(path):
                    owner = subprocess.run(["dpkg-query", "-S", path], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
                    if owner.returncode != 0:
                        dest = self.backup + path
                        os.makedirs(os.path.dirname(dest), exist_ok=True)
                        shutil.copy2(path, dest, follow_symlinks=False)
                        self.saved.append(path)
        if self.saved:
            log("kept aside, to be restored: " + " ".join(self.saved))

    def install(self, debs):
        self.installed = [os.path.basename(d).split("_")[0] for d in debs]
        res = run(["apt-get", "install", "-y", "--no-install-recommends"] + debs,
                  env=APT_ENV, check_rc=False)
        check(res.returncode == 0, "apt-get install failed:\n" + res.stdout.decode(errors="replace")[-3000:]
              + res.stderr.decode(errors="replace")[-3000:])
        for pkg in self.installed:
            check(installed(pkg), "%s is not installed after apt-get install" % pkg)
            self.lists[pkg] = run(["dpkg", "-L", pkg]).stdout.decode().split("\n")
            self.lists[pkg] = [p for p in self.lists[pkg] if p.startswith("/") and p != "/."]

    def purge(self):
        """apt-get purge; True when it succeeded."""
        present = [p for p in self.installed if installed(p)]
        if not present:
            return True
        res = run(["apt-get", "purge", "-y"] + present, env=APT_ENV, check_rc=False)
        if res.returncode != 0:
            log("apt-get purge failed:\n" + res.stdout.decode(errors="replace")[-3000:]
                + res.stderr.decode(errors="replace")[-3000:])
            # Whatever apt left: dpkg itself.
            subprocess.run(["dpkg", "--purge"] + present, env=APT_ENV)
        return res.returncode == 0 and not any(installed(p) for p in present)

    def leftovers(self):
        """Paths of the packages' lists that purging left behind."""
        left = []
        for pkg, paths in self.lists.items():
            for path in paths:
                if not os.path.lexists(path):
                    continue
                if os.path.isdir(path):
                    # A folder stays if another package or other files use it.
                    others = subprocess.run(["dpkg-query", "-S", path], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL).returncode == 0
                    if others or os.listdir(path):
                        continue
                left.append(path)
        # What the postinst of a systemd unit made.
        for pattern in ("/etc/systemd/system/*/bandrill*", "/var/lib/systemd/deb-systemd-helper-enabled/**/bandrill*",
                        "/var/lib/bandrill-printer-app.state", "/var/lib/bandrill-printer-app",
                        "/var/spool/bandrill-printer-app"):
            left += glob.glob(pattern, recursive=True)
        return left

    def restore(self):
        for path in self.saved:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            shutil.copy2(self.backup + path, path, follow_symlinks=False)


def print_through_cups(tmp, decoder):
    """The installed PPDs listed by a private cupsd, and the sample PDF
    printed with the installed filter."""
    cups = harness.Scheduler(None, os.path.join(tmp, "cups"))
    cups.start()
    try:
        models = cups.models()
        ours = sorted(name for name in models if name.startswith("lsb/usr/bandrill/"))
        log("lpinfo -m: " + ", ".join(ours))
        check(ours == sorted("lsb/usr/bandrill/" + p for p in PPD_NAMES),
              "lpinfo -m lists %s, not the eight PPDs" % ours)

        out = cups.add_queue("labels", "lsb/usr/bandrill/bandrill-tspl-203.ppd")
        pdf = os.path.join(harness.HERE, "..", "..", "samples", "sample.pdf")
        job = cups.submit("labels", pdf, ["ImageFilter=0"])
        cups.expect_completed(job)
        check("/filter/bandrill" in cups.job_log(job),
              "the job log names no bandrill filter:\n" + cups.job_log(job))
        with open(out, "rb") as f:
            stream = f.read()
        check(stream.endswith(b"PRINT 1,1\r\n"), "the TSPL stream does not end with PRINT: %r" % stream[-40:])
        pages = harness.decode(decoder, "tspl", out, os.path.join(tmp, "cups-decoded")).pages
        check(len(pages) == 1, "the PDF printed %d pages" % len(pages))
        check(pages[0].bbox() is not None, "the printed label is blank")
        log("cupsd: sample.pdf printed through %s, %d bytes, %d x %d dots" % (
            "lsb/usr/bandrill/bandrill-tspl-203.ppd", len(stream), pages[0].width, pages[0].height))
    except BaseException:
        log("scheduler log (last lines):\n" + cups.log_tail())
        raise
    finally:
        cups.stop()


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ipp(args, what):
    res = run(["ipptool"] + args, check_rc=False)
    text = res.stdout.decode(errors="replace")
    check(res.returncode == 0, "ipptool %s failed:\n%s%s" % (what, text, res.stderr.decode(errors="replace")))
    return text


def stop_server(server):
    """SIGTERM, and SIGKILL after 20 s."""
    if server.poll() is None:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


def print_through_app(tmp, decoder, app_files):
    """The installed printer application on a free port, with its state in
    a folder of its own, printing the sample PNG to a file device."""
    programs = [p for p in app_files if os.path.basename(p) == "bandrill-printer-app"
                and os.access(p, os.X_OK) and not os.path.isdir(p)]
    check(programs, "the bandrill-printer-app package holds no program bandrill-printer-app")
    units = [p for p in app_files if re.search(r"/systemd/system/[^/]+\.service$", p)]
    check(units, "the bandrill-printer-app package holds no systemd service")
    # The postinst enabled the service the Debian way.
    for unit in units:
        with open(unit, errors="replace") as f:
            wanted = re.findall(r"^\s*WantedBy\s*=\s*(.+)$", f.read(), re.M)
        for target in " ".join(wanted).split():
            link = "/etc/systemd/system/%s.wants/%s" % (target, os.path.basename(unit))
            check(os.path.islink(link), "the postinst did not enable %s (no %s)" % (unit, link))
    app = programs[0]
    state = os.path.join(tmp, "app")
    out = os.path.join(tmp, "app-out")
    os.makedirs(state)
    os.makedirs(out)
    os.chmod(out, 0o777)
    # file:// devices write only where they are allowed to.
    env = dict(os.environ, SNAP_COMMON=state, BANDRILL_FILE_DEVICE_DIRS=out)
    port = free_port()
    log_file = os.path.join(state, "server.log")
    server = subprocess.Popen([app, "server", "-o", "server-port=%d" % port, "-o", "listen-hostname=localhost",
                               "-o", "log-file=" + log_file, "-o", "log-level=debug"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)

    def server_log():
        try:
            with open(log_file, errors="replace") as f:
                return "".join(f.readlines()[-40:])
        except OSError:
            return "(no log)"

    try:
        deadline = time.monotonic() + 30
        while True:
            check(server.poll() is None, "%s server exited %s:\n%s" % (app, server.returncode, server_log()))
            try:
                socket.create_connection(("localhost", port), timeout=1).close()
                break
            except OSError:
                check(time.monotonic() < deadline, "the printer application does not answer on port %d" % port)
                time.sleep(0.2)
        res = run([app, "add", "-d", "receipts", "-m", "escpos-58", "-v", "file://" + out],
                  env=env, check_rc=False)
        check(res.returncode == 0, "%s add failed: %s%s\n%s" % (app, res.stdout.decode(errors="replace"),
                                                                res.stderr.decode(errors="replace"), server_log()))
        uri = "ipp://localhost:%d/ipp/print/receipts" % port
        png = os.path.join(harness.HERE, "..", "..", "samples", "sample.png")
        text = ipp(["-t", "-v", "-f", png, "-d", "format=image/png", uri,
                    os.path.join(os.path.dirname(os.path.abspath(__file__)), "print-job.test")], "Print-Job")
        m = re.search(r"job-id \(integer\) = (\d+)", text)
        check(m, "Print-Job returned no job-id:\n" + text)
        job = int(m.group(1))
        deadline = time.monotonic() + 60
        while True:
            text = ipp(["-t", "-v", "-d", "job_id=%d" % job, uri,
                        os.path.join(os.path.dirname(os.path.abspath(__file__)), "get-job.test")],
                       "Get-Job-Attributes")
            m = re.search(r"job-state \(enum\) = (\S+)", text)
            state = m.group(1) if m else "?"
            if state in ("completed", "canceled", "aborted"):
                break
            check(time.monotonic() < deadline, "job %d still %s after 60 s:\n%s" % (job, state, server_log()))
            time.sleep(0.2)
        check(state == "completed", "job %d ended %s:\n%s\n%s" % (job, state, text, server_log()))
        streams = sorted(glob.glob(os.path.join(out, "*.prn")))
        check(len(streams) == 1, "the file device holds %r" % streams)
        pages = harness.decode(decoder, "escpos", streams[0], os.path.join(tmp, "app-decoded")).pages
        check(len(pages) == 1 and pages[0].bbox() is not None, "the receipt is missing or blank")
        log("printer application: sample.png printed on escpos-58 (%s), %d bytes, %d x %d dots" % (
            app, os.path.getsize(streams[0]), pages[0].width, pages[0].height))
    except BaseException:
        log("printer application log (last lines):\n" + server_log())
        raise
    finally:
        stop_server(server)


SERVICE_USER = "bandrill-printer-app"
STATE_DIR = "/var/lib/bandrill-printer-app"
SPOOL_DIR = "/var/spool/bandrill-printer-app"

# The unit's settings that keep the service to itself.
UNIT_SETTINGS = {
    "User": SERVICE_USER, "Group": SERVICE_USER, "SupplementaryGroups": "lp dialout",
    "NoNewPrivileges": "yes", "ProtectSystem": "strict", "ProtectHome": "yes", "PrivateTmp": "yes",
    "ReadWritePaths": "%s %s" % (STATE_DIR, SPOOL_DIR), "CapabilityBoundingSet": "",
}


def unit_settings(unit):
    settings = {}
    with open(unit) as f:
        for line in f:
            m = re.match(r"^\s*([A-Za-z]+)\s*=\s*(.*?)\s*$", line)
            if m:
                settings.setdefault(m.group(1), []).append(m.group(2))
    return settings


def check_service(tmp, app_files):
    """The system user, the unit's sandbox, and the server run as the unit
    runs it."""
    import grp
    import pwd
    user = pwd.getpwnam(SERVICE_USER)
    check(user.pw_uid < 1000 and user.pw_shell in ("/usr/sbin/nologin", "/bin/false"),
          "the service user is no system user: %r" % (user,))
    groups = [g.gr_name for g in grp.getgrall() if SERVICE_USER in g.gr_mem]
    check("lp" in groups and "dialout" in groups, "the service user is in %r, not lp and dialout" % groups)
    for d in (STATE_DIR, SPOOL_DIR):
        st = os.stat(d)
        check(st.st_uid == user.pw_uid and (st.st_mode & 0o7777) == 0o750,
              "%s: owner %d, mode %o" % (d, st.st_uid, st.st_mode & 0o7777))

    unit = [p for p in app_files if p.endswith("/bandrill-printer-app.service")][0]
    settings = unit_settings(unit)
    for key, want in UNIT_SETTINGS.items():
        check(settings.get(key) == [want], "%s: %s=%r, not %r" % (unit, key, settings.get(key), want))
    start = " ".join(settings.get("ExecStart", []))
    check("listen-hostname=localhost" in start, "the unit's server listens beyond localhost: " + start)
    timeout = settings.get("TimeoutStopSec", ["?"])[0]
    check(re.match(r"^\d+s?$", timeout) is not None and int(timeout.rstrip("s")) <= 120,
          "TimeoutStopSec %r" % timeout)
    res = run(["systemd-analyze", "verify", unit], check_rc=False)
    check(res.returncode == 0, "systemd-analyze verify %s:\n%s" % (unit, res.stderr.decode(errors="replace")))
    res = run(["systemd-analyze", "security", "--offline=true", unit], check_rc=False)
    text = res.stdout.decode(errors="replace")
    m = re.search(r"Overall exposure level for \S+: ([0-9.]+) (\S+)", text)
    check(m is not None, "systemd-analyze security said:\n" + text[-2000:] + res.stderr.decode(errors="replace"))
    check(float(m.group(1)) <= 3.0, "the unit's exposure is %s %s:\n%s" % (m.group(1), m.group(2), text))
    log("service: user %s in %s; unit verified, exposure %s %s" % (SERVICE_USER, ",".join(sorted(groups)),
                                                                  m.group(1), m.group(2)))

    # The server as the unit starts it (its user, groups, environment and
    # options), on a free port; systemd's own sandbox is not here, so this
    # shows what the user alone may write.
    env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin"}
    for e in settings.get("Environment", []):
        k, v = e.split("=", 1)
        env[k] = v
    runtime = env.get("TMPDIR")
    if runtime:
        os.makedirs(runtime, exist_ok=True)
        os.chown(runtime, user.pw_uid, user.pw_gid)
    port = free_port()
    args = [a for a in start.split() if not a.startswith("server-port=")]
    args = [a for i, a in enumerate(args) if not (a == "-o" and i + 1 < len(args) and args[i + 1] == "-o")]
    as_user = ["setpriv", "--reuid=" + SERVICE_USER, "--regid=" + SERVICE_USER, "--init-groups", "--no-new-privs"]
    log_file = os.path.join(SPOOL_DIR, "test.log")
    server = subprocess.Popen(as_user + args + ["-o", "server-port=%d" % port, "-o", "log-file=" + log_file,
                                                "-o", "log-level=debug"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    locked = os.path.join(tmp, "root-only")
    os.makedirs(locked)
    os.chmod(tmp, 0o755)
    os.chmod(locked, 0o755)
    # The folder file:// devices may write to when BANDRILL_FILE_DEVICE_DIRS
    # is not set: the spool's output folder.
    allowed = os.path.join(SPOOL_DIR, "output")
    try:
        deadline = time.monotonic() + 30
        while True:
            check(server.poll() is None, "the server as the service user exited %s" % server.returncode)
            try:
                socket.create_connection(("localhost", port), timeout=1).close()
                break
            except OSError:
                check(time.monotonic() < deadline, "the server as the service user does not answer")
                time.sleep(0.2)
        cli = as_user + [args[0]]
        uri = "ipp://localhost:%d/ipp/system" % port
        os.makedirs(allowed, exist_ok=True)
        os.chown(allowed, user.pw_uid, user.pw_gid)
        added = []
        for name, device in (("allowed", allowed), ("locked", locked)):
            res = run(cli + ["add", "-u", uri, "-d", name, "-m", "escpos-58", "-v", "file://" + device],
                      env=env, check_rc=False)
            out = res.stdout.decode(errors="replace") + res.stderr.decode(errors="replace")
            # A folder outside the allowed ones is refused when added.
            check(res.returncode == 0 or name == "locked", "add %s: %s" % (name, out))
            if res.returncode == 0:
                added.append(name)
        raw = os.path.join(tmp, "raw.escpos")
        with open(raw, "wb") as f:
            f.write(b"\x1b@hello\n")
        os.chmod(raw, 0o644)
        states = {"locked": "refused when added"}
        for name in added:
            text = ipp(["-t", "-v", "-f", raw, "-d", "format=application/vnd.bandrill-escpos",
                        "ipp://localhost:%d/ipp/print/%s" % (port, name),
                        os.path.join(os.path.dirname(os.path.abspath(__file__)), "print-job.test")], "Print-Job")
            job = int(re.search(r"job-id \(integer\) = (\d+)", text).group(1))
            deadline = time.monotonic() + 20
            while True:
                text = ipp(["-t", "-v", "-d", "job_id=%d" % job, "ipp://localhost:%d/ipp/print/%s" % (port, name),
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "get-job.test")], "Get-Job")
                state = re.search(r"job-state \(enum\) = (\S+)", text).group(1)
                if state in ("completed", "aborted", "canceled") or time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            states[name] = state
        check(states["allowed"] == "completed" and os.listdir(allowed),
              "the service user could not print into its spool: %r" % states)
        check(not os.listdir(locked), "the service user wrote into a root-owned folder: %r" % os.listdir(locked))
        state_file = os.path.join(STATE_DIR, "bandrill-printer-app.state")
        check(os.path.exists(state_file) and os.stat(state_file).st_uid == user.pw_uid,
              "no state file of the service user in " + STATE_DIR)
        log("service user's server: printed into its spool, nothing in a root-owned folder (job %s), "
            "state in %s" % (states["locked"], state_file))
    except BaseException:
        try:
            with open(log_file, errors="replace") as f:
                log("service server log (last lines):\n" + "".join(f.readlines()[-30:]))
        except OSError:
            pass
        raise
    finally:
        stop_server(server)
        if runtime:
            shutil.rmtree(runtime, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--build", required=True)
    args = ap.parse_args()

    if os.getuid() != 0:
        log("SKIP: installing packages needs root")
        return SKIP
    for tool in ("apt-get", "dpkg-deb", "dpkg-shlibdeps", "cupsd", "ipptool", "lpinfo"):
        if not shutil.which(tool, path="/usr/sbin:/sbin:" + os.environ.get("PATH", "")):
            log("SKIP: %s not found" % tool)
            return SKIP
    os.environ["PATH"] = "/usr/sbin:/sbin:" + os.environ.get("PATH", "")
    already = [p for p in PACKAGES if installed(p)]
    if already:
        log("SKIP: %s already installed here; the test would remove it" % " ".join(already))
        return SKIP

    tmp = tempfile.mkdtemp(prefix="bandrill-package.")
    os.chmod(tmp, 0o755)   # apt's download user and cupsd's filters read below here
    dist = os.path.join(tmp, "dist")
    machine = Machine(tmp)
    failed = True
    try:
        started = time.monotonic()
        res = run(["sh", os.path.join(args.source, "scripts", "package.sh"), "--out", dist,
                   "--build", args.build], check_rc=False)
        log(res.stdout.decode(errors="replace").rstrip())
        check(res.returncode == 0, "scripts/package.sh failed:\n" + res.stderr.decode(errors="replace"))
        debs = sorted(glob.glob(os.path.join(dist, "*.deb")))
        names = [os.path.basename(d).split("_")[0] for d in debs]
        check("bandrill" in names, "no bandrill package in %s: %s" % (dist, names))
        log("packages built in %.0f s: %s" % (time.monotonic() - started,
                                              ", ".join("%s (%d bytes)" % (os.path.basename(d), os.path.getsize(d))
                                                        for d in debs)))

        if shutil.which("lintian"):
            for deb in debs:
                res = run(["lintian", deb], check_rc=False)
                tags = res.stdout.decode(errors="replace").strip()
                log("lintian %s: %s" % (os.path.basename(deb), tags or "clean"))
                errors = [t for t in tags.splitlines() if t.startswith("E:")]
                check(not errors, "lintian errors:\n" + "\n".join(errors))
        else:
            log("lintian not found: packages not checked with it")

        machine.save_strays(debs)
        machine.install(debs)
        decoder = "/usr/bin/bandrill-decode"
        expected = {"bandrill": ["/usr/lib/cups/filter/bandrill", "/usr/lib/cups/driver/bandrill", decoder, "/usr/share/man/man8/bandrill.8.gz",
                                 "/usr/share/man/man1/bandrill-decode.1.gz", "/usr/share/doc/bandrill/copyright"],
                    "bandrill-printer-app": ["/usr/share/man/man8/bandrill-printer-app.8.gz",
                                             "/usr/share/doc/bandrill-printer-app/copyright"]}
        for pkg, paths in machine.lists.items():
            for path in expected[pkg]:
                check(path in paths, "the %s package holds no %s" % (pkg, path))

        print_through_cups(tmp, decoder)

        if "bandrill-printer-app" in machine.lists:
            print_through_app(tmp, decoder, machine.lists["bandrill-printer-app"])
            check_service(tmp, machine.lists["bandrill-printer-app"])
        else:
            log("printer application part skipped: this build has no bandrill-printer-app package")
        failed = False
    except Failure as e:
        log("FAIL: %s" % e)
    finally:
        purged = machine.purge()
        left = machine.leftovers()
        machine.restore()
        if not purged:
            log("FAIL: apt-get purge did not remove %s" % " ".join(machine.installed))
            failed = True
        if left:
            log("FAIL: left after purging: %s" % " ".join(left))
            failed = True
        if machine.installed and purged and not left:
            log("purged %s: no file of theirs remains" % " ".join(machine.installed))
        if failed and os.environ.get("BANDRILL_E2E_KEEP"):
            log("kept " + tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
