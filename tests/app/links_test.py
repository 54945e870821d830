#!/usr/bin/env python3
"""The printer application's links to printers, end to end: a receipt
printer on a pseudo-terminal (serial:), file:// devices confined to the
folders allowed, and Bluetooth printers listed from a mock BlueZ on a
private D-Bus (the listing case runs in a network namespace of its own,
since PAPPL's listing also sends mDNS and SNMP queries).

  links_test.py --app APP --filter FILTER --ppd-dir DIR --raster HELPER --decoder DECODE CASE
"""
import os
import re
import shutil
import subprocess
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import app_test  # noqa: E402
from app_test import raster, run_filter, workdir  # noqa: E402
from appserver import Failure, Server, check, log, run  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from printer_emulator import PrinterEmulator  # noqa: E402

# ---------------------------------------------------------------- serial

def printed(emu):
    """What the printer got besides the job's status query (an ESC/POS
    printer on a two-way link is asked before the job)."""
    return b"".join(c.payload() for c in emu.connections)


def receipt(work, name, lines, pages=3):
    """A receipt of pages as PWG raster, and the filter's stream for it."""
    pwg = raster("pwg", os.path.join(work, name + ".pwg"), 384, lines, 203, pages)
    ras = raster("cups", os.path.join(work, name + ".ras"), 384, lines, 203, pages)
    return pwg, run_filter("escpos-58", ras, "")


def case_serial():
    """Every byte of a 3-page receipt over a pseudo-terminal at 9600 and
    115200 baud with RTS/CTS, in order, and the job completed only once
    the printer has read the last byte."""
    work = workdir("bandrill-links-serial-")
    with Server(app_test.ARGS.app) as srv:
        for baud, lines in ((9600, 40), (115200, 300)):
            name = "r%d" % baud
            pwg, want = receipt(work, name, lines)
            # The printer reads at the line's rate.
            with PrinterEmulator.on_pty(family="escpos", rate=baud // 10) as emu:
                srv.add_uri(name, "escpos-58",
                            "serial:%s?baud=%d+bits=8+parity=none+flow=rtscts" % (emu.tty, baud))
                # A raster job is answered when the job has ended.
                started = time.monotonic()
                job = srv.print_job(name, pwg, "image/pwg-raster")
                took = time.monotonic() - started
                taken = len(printed(emu))
                info = srv.wait_job(name, job)
                got = printed(emu)
            check(info.get("job-state") == "completed", "%d baud: %s" % (baud, info))
            check(taken == len(want),
                  "%d baud: the job ended with %d of %d bytes taken" % (baud, taken, len(want)))
            check(got == want, "%d baud: the printer got %d bytes, not the filter's %d"
                  % (baud, len(got), len(want)))
            # The line's rate is kept (a pseudo-terminal would take it all at once).
            check(took >= len(want) / (baud / 10) * 0.9,
                  "%d baud: %d bytes in %.2f s" % (baud, len(want), took))
            log("%d baud: %d bytes in %.1f s, in order, the job completed after the last one"
                % (baud, len(want), took))


def device(kind, rate=11520):
    """A printer for a link test: a pseudo-terminal (serial:) or a TCP port
    on loopback with a small receive buffer (socket://); (emulator, URI,
    what the job's messages call it)."""
    if kind == "serial":
        emu = PrinterEmulator.on_pty(family="escpos", rate=rate).start()
        return emu, "serial:%s?baud=115200+flow=rtscts" % emu.tty, "serial printer on " + emu.tty
    emu = PrinterEmulator(family="escpos", rate=rate).start()
    return (emu, "socket://127.0.0.1:%d/" % emu.port, "printer at 127.0.0.1:%d" % emu.port)


def with_option(uri, text):
    return uri + ("+" if "?" in uri else "?") + text


def case_link_faults():
    """A printer that stops for 5 s loses nothing; one that goes away, or
    takes nothing, ends its job with a reason and no page it did not take
    counted as printed; a job stuck on a printer that takes nothing can be
    cancelled."""
    work = workdir("bandrill-links-faults-")
    pwg, want = receipt(work, "big", 300)
    # Pages larger than what a TCP receiver takes in before it reads.
    longer, _ = receipt(work, "longer", 1000)
    with Server(app_test.ARGS.app) as srv:
        # Stops for 5 s after 4 KB: the terminal's buffer fills and the
        # link waits, then goes on.
        emu, uri, _ = device("serial")
        try:
            srv.add_uri("stall", "escpos-58", uri)
            emu.vanish("stall", after=4096)

            def resume():
                emu.wait_bytes(4096, timeout=60)
                time.sleep(5)
                emu.resume()
            waker = threading.Thread(target=resume)
            waker.start()
            started = time.monotonic()
            job = srv.print_job("stall", pwg, "image/pwg-raster")
            info = srv.wait_job("stall", job)
            waker.join()
            # What the terminal still held when the job ended: a
            # pseudo-terminal buffers what its writer cannot see (a serial
            # port's queue is seen and waited for), so the printer reads on.
            held = len(want) - len(printed(emu))
            emu.wait_until(lambda: len(printed(emu)) >= len(want), timeout=30)
            got = printed(emu)
        finally:
            emu.stop()
        check(info.get("job-state") == "completed", "stall: %s" % info)
        check(got == want, "stall: %d bytes of %d, or out of order" % (len(got), len(want)))
        check(time.monotonic() - started >= 5, "stall: the stop was not felt")
        log("a printer that stops for 5 s: all %d bytes in order, job completed (%d still in the "
            "terminal's buffer then)" % (len(got), held))

        for kind in ("serial", "socket"):
            # Goes away after 4 KB, in the first page.
            emu, uri, name = device(kind)
            try:
                srv.add_uri("gone-" + kind, "escpos-58", uri)
                emu.vanish("reset", after=4096)
                job = srv.print_job("gone-" + kind, pwg if kind == "serial" else longer,
                                    "image/pwg-raster", expect_ok=False)
                info = srv.wait_job("gone-" + kind, job)
            finally:
                emu.stop()
            message = info.get("job-state-message", "")
            pages = int(info.get("job-impressions-completed", "0"))
            check(info.get("job-state") == "aborted", "%s gone: %s" % (kind, info))
            check(name in message and "broke" in message, "%s gone: no reason in %s"
                  % (kind, info))
            # A socket's queue shows what the printer has not taken; a
            # pseudo-terminal hides up to 18 KB, the first page here.
            check(pages == 0 if kind == "socket" else pages < 3,
                  "%s gone: %d pages reported printed" % (kind, pages))
            log("%s printer that goes away: aborted, %d pages counted (%s)" % (kind, pages, message))

            # Takes nothing: the deadline (2 s here) ends the job.
            emu, uri, _ = device(kind)
            try:
                srv.add_uri("dead-" + kind, "escpos-58", with_option(uri, "timeout=2"))
                emu.pause()
                job = srv.print_job("dead-" + kind, pwg, "image/pwg-raster", expect_ok=False)
                info = srv.wait_job("dead-" + kind, job)
            finally:
                emu.stop()
            check(info.get("job-state") == "aborted" and
                  "has taken no data for 2 s" in info.get("job-state-message", ""),
                  "%s deadline: %s" % (kind, info))
            log("%s printer that takes nothing: aborted (%s)" % (kind, info.get("job-state-message")))

        # Takes nothing, default deadline (60 s): Cancel-Job gets through.
        emu, uri, _ = device("socket")
        try:
            srv.add_uri("stuck", "escpos-58", uri)
            emu.pause()
            submit = threading.Thread(target=srv.print_job,
                                      args=("stuck", pwg, "image/pwg-raster"),
                                      kwargs={"expect_ok": False})
            submit.start()
            deadline = time.time() + 30
            jobs = []
            while not jobs and time.time() < deadline:
                jobs = srv.active_jobs("stuck")
                time.sleep(0.2)
            check(jobs, "cancel: no job")
            time.sleep(3)  # the link is blocked by now
            cancelled = time.monotonic()
            srv.cancel("stuck", jobs[0])
            info = srv.wait_job("stuck", jobs[0], timeout=20)
            submit.join(30)
        finally:
            emu.stop()
        check(info.get("job-state") == "canceled", "cancel: %s" % info)
        log("a job stuck on a printer that takes nothing: cancelled in %.1f s"
            % (time.monotonic() - cancelled))

        # A raw document to a printer that reads slowly: once cancelled,
        # no more than what was on its way arrives (the kernel's socket
        # buffers, up to 4 MiB, and the piece being written).
        size = 16 << 20
        raw = os.path.join(work, "big.raw")
        with open(raw, "wb") as f:
            f.write(b"\x1b@" + b"x" * size)
        emu, uri, _ = device("socket", rate=2 << 20)
        try:
            srv.add_uri("slow", "escpos-58", uri)
            submit = threading.Thread(target=srv.print_job,
                                      args=("slow", raw, "application/vnd.bandrill-escpos"),
                                      kwargs={"expect_ok": False})
            submit.start()
            check(emu.wait_bytes(256 << 10, timeout=30), "raw cancel: nothing arrived")
            jobs = srv.active_jobs("slow")
            check(jobs, "raw cancel: no job")
            srv.cancel("slow", jobs[0])
            at_cancel = emu.total
            info = srv.wait_job("slow", jobs[0], timeout=30)
            submit.join(30)
            emu.wait_closed(timeout=30)
            after = emu.total - at_cancel
        finally:
            emu.stop()
        check(info.get("job-state") == "canceled", "raw cancel: %s" % info)
        check(after < 6 << 20, "raw cancel: %d bytes arrived after the cancel (of %d)"
              % (after, size))
        log("a raw job cancelled after %d bytes: %d more arrived" % (at_cancel, after))


# ---------------------------------------------------------------- file://

CREATE_PRINTER = """{
\tNAME "Create-Printer"
\tOPERATION Create-Printer
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri system-uri $uri
\tATTR name requesting-user-name nobody
\tATTR keyword printer-service-type print
\tATTR keyword smi55357-driver escpos-58
\tATTR uri smi55357-device-uri %(uri)s
\tGROUP printer-attributes-tag
\tATTR name printer-name %(name)s
}
"""


def create_as_nobody(srv, name, uri, work):
    """Create-Printer over loopback from user nobody; the status code."""
    path = os.path.join(work, "create-%s.test" % name)
    with open(path, "w") as f:
        f.write(CREATE_PRINTER % {"uri": uri, "name": name})
    os.chmod(path, 0o644)
    res = run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--",
               "ipptool", "-tv", "-T", "20", "ipp://localhost:%d/ipp/system" % srv.port, path],
              env=dict(os.environ, HOME="/tmp"), check_rc=False)
    out = res.stdout.decode(errors="replace")
    m = re.search(r"status-code = (\S+)", out) or re.search(r"\[FAIL\].*\n.*?(\S+-error\S*)", out)
    check(m is not None, "Create-Printer as nobody gave no status:\n" + out +
          res.stderr.decode(errors="replace"))
    return m.group(1)


def case_file_devices():
    """file:// devices: only allowed folders and printer devices, checked
    when the printer is added (as root or as nobody over loopback) and again
    when it prints; one new file per job named by the job's id."""
    if os.getuid() != 0:
        log("SKIP: needs root (nobody's requests are made with setpriv)")
        sys.exit(77)
    work = workdir("bandrill-links-file-")
    os.chmod(work, 0o755)
    allowed = os.path.join(work, "allowed")
    outside = os.path.join(work, "outside")  # stands for /etc: nothing may land here
    for d in (allowed, os.path.join(allowed, "sub"), outside):
        os.makedirs(d)
    with open(os.path.join(outside, "passwd"), "w") as f:
        f.write("root:x:0:0\n")
    os.symlink(outside, os.path.join(allowed, "link-out"))
    with Server(app_test.ARGS.app) as srv:
        srv.env["BANDRILL_FILE_DEVICE_DIRS"] = allowed
        srv.stop()
        srv.start()
        refused = [
            ("file://" + outside + "/", "not a folder printers may write to"),
            ("file://" + outside + "/passwd", "regular file"),
            ("file://" + allowed + "/link-out", "not a folder printers may write to"),
            ("file://" + allowed + "/sub/../../outside/", "'..'"),
            ("file://" + allowed + "/%2e%2e/outside/", "'..'"),
            ("file:///dev/null", "not a printer device"),
        ]
        statuses = set()
        for i, (uri, says) in enumerate(refused):
            res = srv.cli("add", "-d", "bad%d" % i, "-m", "escpos-58", "-v", uri, check_rc=False)
            text = res.stderr.decode(errors="replace")
            check(res.returncode != 0, "root could add %s" % uri)
            with open(srv.log_path, errors="replace") as f:
                server_log = f.read()
            check(says in text or says in server_log,
                  "add %s: the reason '%s' is neither shown nor logged:\n%s" % (uri, says, text))
            status = create_as_nobody(srv, "nb%d" % i, uri, work)
            check(status != "successful-ok", "nobody could add %s" % uri)
            statuses.add(status)
        log("refused as root and as nobody (%s): %s" % (", ".join(sorted(statuses)),
                                                       ", ".join(u for u, _ in refused)))

        # Bad URIs of the other schemes are told before the server is asked.
        for uri, says in (("bt://0-11-22-33-44-55", "six two-digit hex groups"),
                          ("bt://00-11-22-33-44-55?channel=31", "1 to 30"),
                          ("serial:/dev/ttyS0?baud=9601", "not a baud rate"),
                          ("serial:/dev/ttyS0?flow=maybe", "rtscts")):
            res = srv.cli("add", "-d", "x", "-m", "paperang", "-v", uri, check_rc=False)
            text = res.stderr.decode(errors="replace")
            check(res.returncode != 0 and says in text, "add %s: %d %s" % (uri, res.returncode, text))
            check(create_as_nobody(srv, "x", uri, work) != "successful-ok",
                  "the server took %s" % uri)
        log("bad bt:// and serial: URIs refused with their reason")

        # An allowed folder: a file per job, named by the job's id.
        srv.add("ok", "escpos-58", device_dir=allowed)
        status = create_as_nobody(srv, "nbok", "file://" + os.path.join(allowed, "sub"), work)
        check(status == "successful-ok", "nobody could not add an allowed folder: %s" % status)
        pwg = raster("pwg", os.path.join(work, "p.pwg"), 384, 60, 203)
        names = []
        for title in ("Label", "Label", "x" * 300):
            job = srv.print_job("ok", pwg, "image/pwg-raster",
                                [("name", "job-name", title)])
            check(srv.wait_job("ok", job).get("job-state") == "completed", "job %s" % title)
            names.append(job)
        files = sorted(f for f in os.listdir(allowed) if f.endswith(".prn"))
        check(len(files) == 3, "3 jobs, files %r" % files)
        for job in names:
            check(any(f.startswith("job-%d-" % job) for f in files), "no file of job %d: %r" % (job, files))
        check(max(len(f) for f in files) <= 90, "over-long file names: %r" % files)

        # A folder swapped for a link out after the printer was added: the
        # job is refused when the device opens, nothing lands outside.
        sub2 = os.path.join(allowed, "swap")
        os.makedirs(sub2)
        srv.add("swap", "escpos-58", device_dir=sub2)
        os.rmdir(sub2)
        os.symlink(outside, sub2)
        job = srv.print_job("swap", pwg, "image/pwg-raster", expect_ok=False)
        info = srv.wait_job("swap", job)
        check(info.get("job-state") == "aborted" and
              "not a folder printers may write to" in info.get("job-state-message", ""),
              "swapped folder: %s" % info)
        check(sorted(os.listdir(outside)) == ["passwd"], "written outside: %r" % os.listdir(outside))
        with open(os.path.join(outside, "passwd")) as f:
            check(f.read() == "root:x:0:0\n", "the file outside was changed")
        log("allowed folder: one file per job by id (%s); a swapped folder refused at print time"
            % ", ".join(files[:2]))


# ---------------------------------------------------------------- Bluetooth

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""


class MockBluez:
    """A private system bus (dbus-daemon) with python3-dbusmock's BlueZ on it."""

    def __init__(self, work):
        self.procs = []
        sock = os.path.join(work, "system_bus_socket")
        config = os.path.join(work, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG % sock)
        self.address = "unix:path=" + sock
        self.procs.append(subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork"],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        deadline = time.time() + 20
        while not os.path.exists(sock):
            check(time.time() < deadline, "dbus-daemon did not start")
            time.sleep(0.05)
        self.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address)
        self.procs.append(subprocess.Popen([sys.executable, "-m", "dbusmock", "--template", "bluez5"],
                                           env=self.env, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))
        import dbus
        self.dbus = dbus
        self.bus = dbus.bus.BusConnection(self.address)
        while not self.bus.name_has_owner("org.bluez"):
            check(time.time() < deadline, "the mock BlueZ did not start")
            time.sleep(0.05)
        self.mock = dbus.Interface(self.bus.get_object("org.bluez", "/"), "org.bluez.Mock")

    def set_device(self, address, **props):
        path = "/org/bluez/hci0/dev_" + address.replace(":", "_")
        obj = self.bus.get_object("org.bluez", path)
        for k, v in props.items():
            obj.Set("org.bluez.Device1", k, v, dbus_interface="org.freedesktop.DBus.Properties")

    def power(self, on):
        obj = self.bus.get_object("org.bluez", "/org/bluez/hci0")
        obj.Set("org.bluez.Adapter1", "Powered", self.dbus.Boolean(on),
                dbus_interface="org.freedesktop.DBus.Properties")

    def close(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def case_bluetooth():
    """Paired and nearby Bluetooth printers listed with a suggested driver
    (devices command, Add Printer page, auto-detected driver), and a job
    for a printer that cannot be reached told why in words."""
    if os.getuid() != 0:
        log("SKIP: needs root (runs in a network namespace of its own)")
        sys.exit(77)
    if os.environ.get("BANDRILL_LINKS_NETNS") != "1":
        # Listing also sends mDNS and SNMP queries: only loopback here. The
        # case runs in a Python that has dbusmock (Debian's, if the one
        # running this has not).
        python = None
        for exe in (sys.executable, "/usr/bin/python3"):
            if subprocess.run([exe, "-c", "import dbus, dbusmock"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                python = exe
                break
        check(python, "no Python with dbus and dbusmock (python3-dbusmock)")
        cmd = [python] + sys.argv
        res = subprocess.run(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"]
                             + cmd, env=dict(os.environ, BANDRILL_LINKS_NETNS="1"))
        sys.exit(res.returncode)
    work = workdir("bandrill-links-bt-")
    bluez = MockBluez(work)
    try:
        m = bluez.mock
        m.AddAdapter("hci0", "host")
        m.AddDevice("hci0", "00:11:22:33:44:55", "Paperang_P2")
        m.PairDevice("hci0", "00:11:22:33:44:55", 0x040680)
        m.AddDevice("hci0", "00:11:22:33:44:66", "Pixel 7")
        m.PairDevice("hci0", "00:11:22:33:44:66", 0x5a020c)
        m.AddDevice("hci0", "AA:BB:CC:DD:EE:FF", "MTP-II")  # seen, not paired

        # The client commands with the server's sanitizer settings (PAPPL's
        # own leaks suppressed).
        settings = Server(app_test.ARGS.app)
        shutil.rmtree(settings.dir)
        client_env = dict(settings.env, DBUS_SYSTEM_BUS_ADDRESS=bluez.address, SNAP_COMMON=work)
        res = run([app_test.ARGS.app, "devices", "-o", "verbose=1"], env=client_env, check_rc=False)
        out = res.stdout.decode(errors="replace")
        check(res.returncode == 0, "devices exited %d:\n%s%s"
              % (res.returncode, out, res.stderr.decode(errors="replace")))
        check("bt://00-11-22-33-44-55" in out and
              "Paperang_P2 (Bluetooth 00:11:22:33:44:55, paired; driver paperang)" in out,
              "devices: no paired Paperang:\n" + out)
        check("MTP-II (Bluetooth AA:BB:CC:DD:EE:FF, not paired; driver escpos-58)" in out,
              "devices: no nearby MTP-II:\n" + out)
        check("Pixel" not in out, "devices lists a phone:\n" + out)
        log("devices: %s" % "; ".join(l.strip() for l in out.splitlines() if "Bluetooth" in l))

        res = run([app_test.ARGS.app, "drivers", "-o", "device-id=MDL:MTP-II_4F3A;"], env=client_env,
                  check_rc=False)
        check(res.returncode == 0 and res.stdout.decode().startswith("escpos-58 "),
              "drivers for a device ID: %d %s" % (res.returncode, res.stdout.decode()))

        with Server(app_test.ARGS.app) as srv:
            srv.env.update(DBUS_SYSTEM_BUS_ADDRESS=bluez.address)
            srv.stop()
            srv.start()
            # The driver detected from the name BlueZ has for the printer.
            srv.add_uri("pocket", "auto", "bt://00-11-22-33-44-55")
            model = srv.attributes("pocket").get("printer-make-and-model")
            check(model == "bandrill Paperang-compatible Pocket Printer",
                  "pocket printer added with %r" % model)
            # PAPPL saves such a printer with the driver "auto": it comes
            # back with its driver, BlueZ asked or not.
            srv.stop()
            srv.env.pop("DBUS_SYSTEM_BUS_ADDRESS")
            srv.start()
            model = srv.attributes("pocket").get("printer-make-and-model")
            check(model == "bandrill Paperang-compatible Pocket Printer",
                  "after a restart the pocket printer is %r" % model)
            srv.stop()
            srv.env.update(DBUS_SYSTEM_BUS_ADDRESS=bluez.address)
            srv.start()

            # A job for a printer that cannot be reached waits, saying why.
            bluez.power(False)
            png = app_test.make_png(os.path.join(work, "p.png"), 100, 60)
            job = srv.print_job("pocket", png, "image/png")
            wait_message(srv, "pocket", job, "Bluetooth is off")
            reasons = srv.attributes("pocket").get("printer-state-reasons", "")
            check("offline" in reasons, "Bluetooth off: printer reasons %r" % reasons)
            bluez.power(True)
            bluez.set_device("00:11:22:33:44:55", Paired=bluez.dbus.Boolean(False, variant_level=1))
            wait_message(srv, "pocket", job, "is not paired with this computer")
            srv.cancel("pocket", job)
            info = srv.wait_job("pocket", job, timeout=20)
            check(info.get("job-state") == "canceled", "cancel while waiting: %s" % info)
            log("auto-detected driver paperang; unreachable printer: 'Bluetooth is off', then "
                "'not paired', printer offline; the job cancelled")
        bluez.set_device("00:11:22:33:44:55", Paired=bluez.dbus.Boolean(True, variant_level=1))

        # The Add Printer page. PAPPL 1.3.1's DNS-SD listing keeps its lock
        # when no avahi-daemon runs, after which the server neither adds a
        # printer from that page nor stops on SIGTERM: this server lists
        # once and is killed.
        srv = Server(app_test.ARGS.app)
        srv.env.update(DBUS_SYSTEM_BUS_ADDRESS=bluez.address)
        srv.start()
        try:
            html = urllib.request.urlopen("http://localhost:%d/addprinter" % srv.port,
                                          timeout=60).read().decode()
        finally:
            srv.proc.kill()
            srv.proc.wait()
            srv.proc = None
        option = '<option value="bt://00-11-22-33-44-55|MDL:Paperang_P2;CLS:PRINTER;">' \
                 'Paperang_P2 (Bluetooth 00:11:22:33:44:55, paired; driver paperang)</option>'
        check(option in html, "Add Printer page: no Paperang:\n" + html[:3000])
        check("MTP-II (Bluetooth AA:BB:CC:DD:EE:FF, not paired; driver escpos-58)" in html,
              "Add Printer page: no MTP-II")
        check("Auto-Detect Driver" in html, "Add Printer page: no auto-detected driver")
        shutil.rmtree(srv.dir, ignore_errors=True)
        log("Add Printer page: the Paperang and the MTP-II listed with their drivers")
    finally:
        bluez.close()


def wait_message(srv, name, job, text, timeout=30):
    deadline = time.time() + timeout
    info = {}
    while time.time() < deadline:
        info = srv.job(name, job)
        if text in info.get("job-state-message", ""):
            check(info.get("job-state") in ("processing", "pending"), "job %s" % info)
            return info
        time.sleep(0.3)
    raise Failure("job %d never said '%s': %s" % (job, text, info))


CASES = {
    "serial": case_serial,
    "link_faults": case_link_faults,
    "file_devices": case_file_devices,
    "bluetooth": case_bluetooth,
}


if __name__ == "__main__":
    sys.exit(app_test.main(CASES))
