#!/usr/bin/env python3
"""Jobs that must not jam a printer, and outcomes that say what happened.

  jobs_test.py --app APP --raster HELPER CASE

  images     oversized and odd images refused by their header, with the
             reason, the server free for the next job (the 30000 x 30000
             white PNG among them)
  outcomes   a PWG raster cut off inside a page or between pages, and a
             page longer than any media: aborted, with the reason
  raw_cancel a raw job to a printer that reads slowly stops soon after
             Cancel-Job
  full_disk  a file:// printer on a full disk: the job aborted with the
             reason, the printer stopped, the next job kept until resumed
"""
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from appserver import Server, check, log, run, run_case  # noqa: E402
import load_test  # noqa: E402

ARGS = None


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff)


def white_png(path, width, height, phys=None, colour=False):
    """A white grey (or RGB) PNG, compressed row by row (a 30000 x 30000
    grey one is about a megabyte)."""
    row = b"\0" + b"\xff" * (width * (3 if colour else 1))
    # Blocks of rows, each compressed after a full flush (which forgets
    # what came before), are the same bytes: compressed once, repeated.
    per_block = max(1, min(height, (4 << 20) // len(row)))
    blocks, rest = divmod(height, per_block)
    z = zlib.compressobj(9)
    data = z.compress(row * per_block) + z.flush(zlib.Z_FULL_FLUSH)
    if blocks > 1:
        data += (z.compress(row * per_block) + z.flush(zlib.Z_FULL_FLUSH)) * (blocks - 1)
    data += z.compress(row * rest) + z.flush(zlib.Z_FULL_FLUSH)
    adler = 1
    for _ in range(blocks):
        adler = zlib.adler32(row * per_block, adler)
    adler = zlib.adler32(row * rest, adler)
    # A last empty fixed-code block, then the checksum of every row.
    data += b"\x03\x00" + struct.pack(">I", adler)
    extra = chunk(b"pHYs", struct.pack(">IIB", phys[0], phys[1], 1)) if phys else b""
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2 if colour else 0, 0, 0, 0))
                + extra + chunk(b"IDAT", data) + chunk(b"IEND", b""))
    return path


def print_and_wait(srv, printer, path, fmt, timeout=60):
    """Print-Job (a raster job is printed while it is sent, and its answer
    may be an error); the job's end."""
    with open(path, "rb") as f:
        status, values = load_test.ipp_request(srv.port, printer, 0x0002,
                                               [(0x42, "requesting-user-name", "tester"),
                                                (0x49, "document-format", fmt)], f.read())
    check("job-id" in values, "%s: no job (status 0x%04x)" % (path, status))
    return srv.wait_job(printer, values["job-id"], timeout=timeout)


def case_images():
    work = tempfile.mkdtemp(prefix="bandrill-app-images-")
    with Server(ARGS.app) as srv:
        srv.add("p", "escpos-58")
        cases = [
            ("30000 x 30000 white", white_png(os.path.join(work, "bomb.png"), 30000, 30000), "too large"),
            ("16385 x 1", white_png(os.path.join(work, "wide.png"), 16385, 1), "too large"),
        ]
        for what, path, reason in cases:
            started = time.time()
            info = print_and_wait(srv, "p", path, "image/png")
            check(info.get("job-state") == "aborted", "%s: %s" % (what, info))
            check(reason in info.get("job-state-message", ""), "%s: message %r" % (what, info.get("job-state-message")))
            check("document-format-error" in info.get("job-state-reasons", ""), "%s: reasons %s" % (what, info))
            log("%s (%d bytes): aborted in %.1f s: %s" % (what, os.path.getsize(path), time.time() - started,
                                                          info.get("job-state-message")))
        for f in srv.outputs("p"):
            os.unlink(f)
        # The app reads images itself: one within the sides but large in
        # memory is read at a fraction of its size, and pixels that are not
        # square print; so does a small PNG after the refused ones.
        for what, path in (("10000 x 10000 colour", white_png(os.path.join(work, "rgb.png"), 10000, 10000,
                                                                colour=True)),
                           ("non-square pixels", white_png(os.path.join(work, "phys.png"), 200, 100,
                                                           (3000, 2000))),
                           ("a PNG after the refused ones", load_test.make_png(os.path.join(work, "ok.png"),
                                                                                200, 100, 1))):
            info = print_and_wait(srv, "p", path, "image/png")
            check(info.get("job-state") == "completed", "%s: %s" % (what, info))
            check(srv.read_output("p"), "%s printed nothing" % what)
    shutil.rmtree(work, ignore_errors=True)


def case_outcomes():
    work = tempfile.mkdtemp(prefix="bandrill-app-outcomes-")
    with Server(ARGS.app) as srv:
        srv.add("p", "escpos-58")
        pwg = load_test_raster(work, "two.pwg", 384, 300, 2)
        with open(pwg, "rb") as f:
            whole = f.read()
        page2 = whole.find(b"PwgRaster", 4 + 1796)   # the second page's header
        check(page2 > 0, "no second page header in the raster")
        cuts = [
            ("cut inside page 2", whole[:page2 + 1796 + 200], "Page 2 is incomplete"),
            ("cut between pages", whole[:page2], "has 2 pages; only 1 arrived"),
        ]
        # A page of 384 x 5,000,000 dots: its header is enough, the page is
        # refused before its lines.
        tall = bytearray(whole[:4 + 1796])
        struct.pack_into(">I", tall, 4 + 376, 5000000)
        cuts.append(("384 x 5,000,000 page", bytes(tall), "5000000 dots long"))
        for what, data, reason in cuts:
            path = os.path.join(work, "cut.pwg")
            with open(path, "wb") as f:
                f.write(data)
            info = print_and_wait(srv, "p", path, "image/pwg-raster")
            check(info.get("job-state") == "aborted", "%s: %s" % (what, info))
            check(reason in info.get("job-state-message", ""), "%s: message %r" % (what, info.get("job-state-message")))
            log("%s: aborted: %s" % (what, info.get("job-state-message")))
        info = print_and_wait(srv, "p", pwg, "image/pwg-raster")
        check(info.get("job-state") == "completed", "the whole raster: %s" % info)
    shutil.rmtree(work, ignore_errors=True)


def load_test_raster(work, name, width, height, pages):
    path = os.path.join(work, name)
    run([ARGS.raster, "pwg", path, str(width), str(height), "203", str(pages)])
    return path


def case_raw_cancel():
    """The printer reads through a small window, slowly; once the job is
    cancelled, little more may come than what was already on its way."""
    work = tempfile.mkdtemp(prefix="bandrill-app-cancel-")
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    received = [0, 0]   # before, after the cancel
    cancelled = threading.Event()

    def reader():
        conn, _ = listener.accept()
        with conn:
            while True:
                data = conn.recv(4096)
                if not data:
                    break
                received[1 if cancelled.is_set() else 0] += len(data)
                if not cancelled.is_set():
                    time.sleep(0.005)
    with Server(ARGS.app) as srv:
        srv.add_uri("p", "escpos-58", "socket://127.0.0.1:%d" % listener.getsockname()[1])
        t = threading.Thread(target=reader)
        t.start()
        raw = os.path.join(work, "big.raw")
        with open(raw, "wb") as f:
            f.write(b"\x1b@" + b"x" * (32 << 20))
        job = srv.print_job("p", raw, "application/vnd.bandrill-escpos")
        deadline = time.time() + 30
        while received[0] < 256 << 10:
            check(time.time() < deadline, "the raw job sent only %d bytes in 30 s" % received[0])
            time.sleep(0.05)
        srv.cancel("p", job)
        cancelled.set()
        info = srv.wait_job("p", job, timeout=60)
        t.join(60)
        listener.close()
        check(info.get("job-state") == "canceled", "raw cancel: %s" % info)
        # What was already on its way when the cancel came (the kernel's
        # socket buffers, a few MiB at most, and one 64 KiB piece), not the
        # rest of the 32 MiB.
        check(received[1] < 8 << 20, "%d bytes arrived after the cancel (of %d)" % (received[1], 32 << 20))
        log("raw job cancelled after %d bytes; %d more arrived" % (received[0], received[1]))
    shutil.rmtree(work, ignore_errors=True)


def case_full_disk():
    if os.getuid() != 0:
        log("SKIP: mounting a small file system needs root")
        sys.exit(77)
    work = tempfile.mkdtemp(prefix="bandrill-app-disk-")
    disk = os.path.join(work, "disk")
    os.makedirs(disk)
    run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk])
    try:
        # file:// devices may write into the small disk.
        with Server(ARGS.app, env={"BANDRILL_FILE_DEVICE_DIRS": disk}) as srv:
            srv.add("p", "escpos-58", device_dir=disk)
            big = os.path.join(work, "big.raw")
            with open(big, "wb") as f:
                f.write(b"\x1b@" + b"y" * (1 << 20))
            small = os.path.join(work, "small.raw")
            with open(small, "wb") as f:
                f.write(b"\x1b@small\n")
            info = print_and_wait(srv, "p", big, "application/vnd.bandrill-escpos")
            check(info.get("job-state") == "aborted", "full disk: %s" % info)
            check("No space left" in info.get("job-state-message", ""), "full disk: message %r" % info)
            a = srv.attributes("p")
            check(a.get("printer-state") == "stopped", "full disk: printer %s" % a.get("printer-state"))
            job = srv.print_job("p", small, "application/vnd.bandrill-escpos")
            time.sleep(2)
            check(srv.job("p", job).get("job-state") in ("pending", "pending-held"),
                  "full disk: the next job was not kept: %s" % srv.job("p", job))
            for f in os.listdir(disk):
                os.unlink(os.path.join(disk, f))
            srv.cli("resume", "-d", "p")
            info = srv.wait_job("p", job)
            check(info.get("job-state") == "completed", "after room was made: %s" % info)
            log("full disk: job aborted (%s), printer stopped, the next job printed once resumed"
                % info.get("job-state-message"))
    finally:
        subprocess.run(["umount", disk])
    shutil.rmtree(work, ignore_errors=True)


CASES = {"images": case_images, "outcomes": case_outcomes, "raw_cancel": case_raw_cancel,
         "full_disk": case_full_disk}


def main():
    return run_case(sys.modules[__name__], CASES, "--app", "--raster")


if __name__ == "__main__":
    sys.exit(main())
