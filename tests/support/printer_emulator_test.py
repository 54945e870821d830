#!/usr/bin/env python3
"""Tests of the printer emulator the app's status, pacing and link tests
stand on: its answers byte for byte, where it recognises a query, its
reading rate, pauses and vanishing, the pseudo-terminal and the command."""
import json
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from printer_emulator import Connection, PrinterEmulator, _EscPosParser, _TsplParser  # noqa: E402

ESCPOS_QUERIES = b"\x10\x04\x01" b"\x10\x04\x02" b"\x10\x04\x03" b"\x10\x04\x04" b"\x1b\x76" \
                 b"\x1d\x72\x01"
# A run of bytes that look like every query, for bitmap data.
LOOKALIKES = b"\x10\x04\x01\x10\x04\x04\x1b\x76\x1d\x72\x01\x1d\x72\x31\x1b!?~!T"


def read_exact(sock, n, timeout=3.0):
    out = b""
    end = time.monotonic() + timeout
    while len(out) < n:
        left = end - time.monotonic()
        if left <= 0 or not select.select([sock], [], [], left)[0]:
            break
        chunk = sock.recv(n - len(out)) if hasattr(sock, "recv") else os.read(sock, n - len(out))
        if not chunk:
            break
        out += chunk
    return out


def nothing_more(sock, wait=0.2):
    """What arrives within wait seconds (b"" if nothing)."""
    if not select.select([sock], [], [], wait)[0]:
        return b""
    return sock.recv(100) if hasattr(sock, "recv") else os.read(sock, 100)


class EmulatorCase(unittest.TestCase):
    def setUp(self):
        self.threads = set(threading.enumerate())

    def tearDown(self):
        # Every emulator was stopped: its thread is gone.
        left = [t for t in threading.enumerate() if t not in self.threads]
        self.assertEqual(left, [])

    def connect(self, emu, sndbuf=None):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if sndbuf:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, sndbuf)
        s.connect(("127.0.0.1", emu.port))
        self.addCleanup(s.close)
        return s


class Answers(EmulatorCase):
    def test_escpos_answers_per_state(self):
        # DLE EOT 1, 2, 3, 4, ESC v, GS r 1.
        table = [
            ("ok", "12 12 12 12 00 00"),
            ("paper-out", "1a 32 12 7e 0f 0f"),
            ("paper-near-end", "12 12 12 1e 03 03"),
            ("cover-open", "1a 16 12 12 00 00"),
            ("jam", "1a 52 1a 12 00 00"),
            ("error", "1a 52 32 12 00 00"),
            ("offline", "1a 12 12 12 00 00"),
            ("paused", "1a 12 12 12 00 00"),
            ("ribbon-out", "12 12 12 12 00 00"),
            ("paper-out+cover-open", "1a 36 12 7e 0f 0f"),
        ]
        with PrinterEmulator(family="escpos") as emu:
            s = self.connect(emu)
            for state, expected in table:
                with self.subTest(state=state):
                    emu.set_state(state)
                    s.sendall(ESCPOS_QUERIES)
                    self.assertEqual(read_exact(s, 6).hex(" "), expected)
            emu.set_state("silent")
            s.sendall(ESCPOS_QUERIES)
            self.assertEqual(nothing_more(s), b"")
            emu.wait_bytes(len(ESCPOS_QUERIES) * (len(table) + 1))
            conn = emu.connections[0]
            self.assertEqual([q.name for q in conn.queries[:6]],
                             ["DLE EOT 1", "DLE EOT 2", "DLE EOT 3", "DLE EOT 4", "ESC v",
                              "GS r 1"])
            self.assertEqual([q.reply for q in conn.queries[-6:]], [None] * 6)
            self.assertEqual(conn.payload(), b"")

    def test_tspl_answers_per_state(self):
        table = [("ok", "00"), ("head-open", "01"), ("cover-open", "01"), ("jam", "02"),
                 ("paper-out", "04"), ("ribbon-out", "08"), ("paused", "10"),
                 ("offline", "10"), ("printing", "20"), ("error", "80"),
                 ("paper-near-end", "00"), ("paper-out+ribbon-out+paused", "1c")]
        with PrinterEmulator(family="tspl", model="TDP-245 Plus") as emu:
            s = self.connect(emu)
            for state, expected in table:
                with self.subTest(state=state):
                    emu.set_state(state)
                    s.sendall(b"\x1b!?")
                    self.assertEqual(read_exact(s, 1).hex(), expected)
            s.sendall(b"~!T")
            self.assertEqual(read_exact(s, 13), b"TDP-245 Plus\r")
            emu.set_state("silent")
            s.sendall(b"\x1b!?~!T")
            self.assertEqual(nothing_more(s), b"")

    def test_families_without_queries_only_record(self):
        for family in ("cpcl", "paperang", "peripage"):
            with self.subTest(family=family), PrinterEmulator(family=family) as emu:
                s = self.connect(emu)
                s.sendall(ESCPOS_QUERIES + b"\x1b!?~!T")
                self.assertEqual(nothing_more(s), b"")
                emu.wait_bytes(len(ESCPOS_QUERIES) + 6)
                self.assertEqual(emu.data, ESCPOS_QUERIES + b"\x1b!?~!T")

    def test_bad_state_and_family_refused(self):
        with self.assertRaises(ValueError):
            PrinterEmulator(family="zpl")
        emu = PrinterEmulator(state="ok")
        with self.assertRaises(ValueError):
            emu.set_state("paper-out+lid-up")

    def test_late_answer_is_read_by_the_next_query(self):
        # The asker gives up after 0.1 s; the answer, made when the paper
        # was out, comes 0.5 s after the query and waits for the next one.
        with PrinterEmulator(family="escpos", state="paper-out", delay=0.5) as emu:
            s = self.connect(emu)
            s.sendall(b"\x10\x04\x04")
            self.assertEqual(nothing_more(s, 0.1), b"")
            emu.set_state("ok")
            emu.wait_until(lambda: emu.queries and emu.queries[0].sent is not None, 5)
            emu.set_delay(0)
            s.sendall(b"\x10\x04\x04")
            self.assertEqual(read_exact(s, 2).hex(" "), "7e 12")
            first = emu.queries[0]
            self.assertGreaterEqual(first.sent - first.time, 0.45)


class Recognition(unittest.TestCase):
    """Queries are recognised outside bitmap data and command parameters,
    wherever the reads split the stream."""

    # Each part before the query hides 10 04 n, 1B 76 or 1D 72 01 in its
    # data or parameters.
    ESCPOS_BEFORE = (b"\x1b\x40\x00\x1b\x61\x01"
                     + b"\x1d\x76\x30\x00\x0a\x00\x02\x00" + LOOKALIKES  # 10 x 2 bytes
                     + b"\x1b\x2a\x21\x04\x00" + LOOKALIKES[:12]           # 4 columns x 3
                     + b"\x1d\x28\x4c\x05\x00\x30\x10\x04\x01\x00"    # GS ( L, 5 bytes
                     + b"\x1b\x70\x00\x10\x10" + b"\x04\x01"               # ESC p 0 16 16
                     + b"\x1b\x4a\x10" + b"\x04\x02"                        # ESC J 16
                     + b"\x1d\x56\x42\x10" + b"\x04\x02")                  # GS V B 16
    ESCPOS = ESCPOS_BEFORE + b"\x10\x04\x02" + b"\x1d\x56\x31"

    TSPL_BEFORE = (b"SIZE 48 mm,30 mm\r\nCLS\r\n"
                   + b"BITMAP 0,0,4,5,1," + LOOKALIKES + b"\r\n"                   # 4 x 5 bytes
                   + b"BITMAP 8, 16, 2, 2, 3, 21," + LOOKALIKES + b"\x1b\r\n"     # 21 bytes
                   + b"PRINT 1,1\r\n")
    TSPL_MIDDLE = b"TEXT 10,10,\"3\",0,1,1,\"x\"\r\n"
    TSPL = TSPL_BEFORE + b"\x1b!?" + TSPL_MIDDLE + b"~!T"

    def feed(self, parser, stream, sizes):
        found, at = [], 0
        for size in sizes:
            found += parser.feed(stream[at:at + size])
            at += size
        found += parser.feed(stream[at:])
        return found

    def test_escpos_queries_outside_data_only(self):
        for sizes in ([], [1] * len(self.ESCPOS), [3, 5, 7] * 8):
            with self.subTest(sizes=sizes[:3]):
                self.assertEqual(self.feed(_EscPosParser(), self.ESCPOS, sizes),
                                 [(len(self.ESCPOS_BEFORE), 3, "DLE EOT 2")])

    def test_tspl_queries_outside_data_only(self):
        for sizes in ([], [1] * len(self.TSPL), [2, 9] * 10):
            with self.subTest(sizes=sizes[:3]):
                self.assertEqual(self.feed(_TsplParser(), self.TSPL, sizes),
                                 [(len(self.TSPL_BEFORE), 3, "ESC !?"),
                                  (len(self.TSPL_BEFORE) + 3 + len(self.TSPL_MIDDLE), 3, "~!T")])

    def test_a_page_between_queries_over_the_wire(self):
        # Two bands: 256 bytes by 5 rows, 5 bytes by 256 rows.
        page = (b"\x1d\x76\x30\x00\x00\x01\x05\x00" + LOOKALIKES * 64
                + b"\x1d\x76\x30\x00\x05\x00\x00\x01" + LOOKALIKES * 64)
        with PrinterEmulator(family="escpos", state="cover-open") as emu:
            s = socket.create_connection(("127.0.0.1", emu.port))
            try:
                s.sendall(b"\x10\x04\x02" + page + b"\x10\x04\x01")
                self.assertEqual(read_exact(s, 2).hex(" "), "16 1a")
                self.assertEqual(nothing_more(s), b"")
                self.assertTrue(emu.wait_bytes(len(page) + 6))
                self.assertEqual(emu.connections[0].payload(), page)
            finally:
                s.close()


class Reading(EmulatorCase):
    def writer(self, sock, data):
        """Sends data from a thread; returns the thread and its result."""
        result = {}

        def run():
            t = time.monotonic()
            try:
                sock.sendall(data)
            except OSError as e:
                result["error"] = e
            result["seconds"] = time.monotonic() - t
        th = threading.Thread(target=run)
        th.start()
        return th, result

    def test_rate_limits_the_reader_and_blocks_the_writer(self):
        data = bytes(range(256)) * 160   # 40 KiB at 40000 B/s: about a second
        with PrinterEmulator(family="none", rate=40000) as emu:
            s = self.connect(emu, sndbuf=4096)
            th, result = self.writer(s, data)
            th.join(30)
            s.close()
            self.assertTrue(emu.wait_closed(timeout=30))
            conn = emu.connections[0]
            self.assertEqual(bytes(conn.data), data)
            self.assertEqual(conn.how, "closed")
            # Never faster than the rate: each read is at most two slices
            # of 400 bytes, and the reads span the bytes at 40000 B/s.
            self.assertLessEqual(max(n for _, n in conn.arrivals), 800)
            span = conn.arrivals[-1][0] - conn.arrivals[0][0]
            self.assertGreaterEqual(span, (len(data) - 800) / 40000 * 0.9)
            # The writer waited for the reader: its kernel buffers hold far
            # less than 40 KiB.
            self.assertGreaterEqual(result["seconds"], 0.3)

    def test_arrivals_show_the_writers_pauses(self):
        with PrinterEmulator(family="none") as emu:
            s = self.connect(emu)
            for _ in range(4):
                s.sendall(b"\x55" * 256)
                time.sleep(0.15)
            emu.wait_bytes(1024)
            bursts = emu.connections[0].bursts(gap=0.05)
            # A busy machine may join two chunks, never split one.
            self.assertGreaterEqual(len(bursts), 2)
            self.assertEqual(sum(b[2] for b in bursts), 1024)
            self.assertTrue(all(b[2] % 256 == 0 for b in bursts), bursts)
        c = Connection(0, 0, 0.0)
        c.arrivals = [(0.0, 100), (0.004, 156), (0.030, 256), (0.031, 10), (0.2, 1)]
        self.assertEqual(c.bursts(gap=0.01), [(0.0, 0.004, 256), (0.030, 0.031, 266),
                                              (0.2, 0.2, 1)])

    def test_pause_and_resume_lose_nothing(self):
        data = os.urandom(300000)
        with PrinterEmulator(family="escpos") as emu:
            emu.pause()
            s = self.connect(emu, sndbuf=4096)
            s.setblocking(False)
            sent = 0
            try:
                while sent < len(data):
                    sent += s.send(data[sent:sent + 65536])
            except BlockingIOError:
                pass
            # The paused printer read nothing and the writer is stuck.
            self.assertLess(sent, len(data))
            self.assertFalse(emu.wait_bytes(1, timeout=0.3))
            s.setblocking(True)
            th, _ = self.writer(s, data[sent:])
            emu.resume()
            th.join(30)
            self.assertTrue(emu.wait_bytes(len(data), timeout=30))
            self.assertEqual(emu.data, data)
            s.close()
            emu.wait_closed()

    def test_timed_pause(self):
        with PrinterEmulator(family="none") as emu:
            s = self.connect(emu)
            emu.pause(0.4)
            sent_at = time.monotonic()
            s.sendall(b"abc")
            self.assertTrue(emu.wait_bytes(3))
            conn = emu.connections[0]
            self.assertGreaterEqual(conn.start + conn.arrivals[0][0] - sent_at, 0.35)

    def test_vanish_with_reset_at_a_byte_count(self):
        data = os.urandom(1 << 20)
        with PrinterEmulator(family="escpos", rate=400000) as emu:
            emu.vanish("reset", after=5000)
            s = self.connect(emu, sndbuf=4096)
            th, result = self.writer(s, data)
            th.join(30)
            self.assertIsInstance(result.get("error"), (ConnectionResetError, BrokenPipeError))
            conn = emu.connections[0]
            self.assertEqual((conn.how, bytes(conn.data)), ("vanished", data[:5000]))
            # It comes back for the next connection, and a reset is a reset
            # even when every byte was read.
            emu.vanish("reset", after=3)
            s2 = self.connect(emu)
            s2.sendall(b"abc")
            with self.assertRaises(ConnectionResetError):
                read_exact(s2, 1)
            self.assertEqual(emu.connections[1].how, "vanished")

    def test_stalled_printer_notices_the_writer_leave(self):
        for linger in (False, True):
            with self.subTest(reset=linger), PrinterEmulator(family="none") as emu:
                emu.vanish("stall", after=3000)
                s = self.connect(emu)
                # All of it fits in the buffers, so the writer's FIN is not
                # queued behind unsent bytes; or the writer resets.
                s.sendall(b"x" * 5000)
                self.assertFalse(emu.wait_bytes(3001, timeout=0.3))
                self.assertEqual(emu.total, 3000)
                if linger:
                    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                s.close()
                self.assertTrue(emu.wait_closed())
                conn = emu.connections[0]
                self.assertIsNotNone(conn.peer_closed)
                self.assertEqual((conn.how, len(conn.data)), ("reset" if linger else "closed", 3000))

    def test_refused_connections(self):
        with PrinterEmulator(family="escpos") as emu:
            port = emu.port
            emu.refuse(True)
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("127.0.0.1", port)).close()
            emu.refuse(False)
            self.assertEqual(emu.port, port)
            s = self.connect(emu)
            s.sendall(b"\x10\x04\x01")
            self.assertEqual(read_exact(s, 1), b"\x12")

    def test_connections_one_after_another(self):
        with PrinterEmulator(family="escpos") as emu:
            a = self.connect(emu)
            b = self.connect(emu)
            b.sendall(b"second\x10\x04\x03")
            a.sendall(b"first")
            # The second waits in the queue until the first has gone.
            self.assertEqual(nothing_more(b, 0.2), b"")
            a.close()
            self.assertEqual(read_exact(b, 1), b"\x12")
            b.close()
            emu.wait_closed(1)
            self.assertEqual([bytes(c.data) for c in emu.connections],
                             [b"first", b"second\x10\x04\x03"])
            self.assertEqual(emu.data, b"firstsecond\x10\x04\x03")


class Pty(EmulatorCase):
    def open_tty(self, emu):
        fd = os.open(emu.tty, os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, fd)
        return fd

    def test_rate_and_answers_on_a_pseudo_terminal(self):
        job = (b"SIZE 40 mm,30 mm\r\nBITMAP 0,0,50,600,1," + LOOKALIKES * 1500
               + b"\r\nPRINT 1,1\r\n")
        with PrinterEmulator.on_pty(family="tspl", state="paper-out", rate=60000) as emu:
            fd = self.open_tty(emu)
            os.write(fd, job + b"\x1b!?")
            self.assertEqual(read_exact(fd, 1), b"\x04")
            self.assertEqual(emu.data, job + b"\x1b!?")
            conn = emu.connections[0]
            self.assertEqual(conn.payload(), job)
            # Read at the rate: slices of 600 bytes, at most two at once.
            self.assertLessEqual(max(n for _, n in conn.arrivals), 1200)
            span = conn.arrivals[-1][0] - conn.arrivals[0][0]
            self.assertGreaterEqual(span, (len(job) - 1200) / 60000 * 0.9)

    def test_answer_waits_on_the_line_after_the_writer_closed(self):
        with PrinterEmulator.on_pty(family="escpos", state="cover-open", delay=0.3) as emu:
            fd = os.open(emu.tty, os.O_RDWR | os.O_NOCTTY)
            os.write(fd, b"\x10\x04\x02")
            os.close(fd)
            emu.wait_until(lambda: emu.queries and emu.queries[0].sent is not None, 5)
            fd = self.open_tty(emu)
            self.assertEqual(read_exact(fd, 1), b"\x16")

    def test_vanished_terminal_fails_the_writer(self):
        with PrinterEmulator.on_pty(family="escpos") as emu:
            fd = self.open_tty(emu)
            emu.vanish("reset", after=10)
            os.write(fd, b"0123456789")
            emu.wait_closed()
            with self.assertRaises(OSError):
                for _ in range(100):
                    os.write(fd, b"more")
                    time.sleep(0.01)
            self.assertEqual(emu.data, b"0123456789")


class Command(EmulatorCase):
    def start(self, *args):
        d = tempfile.TemporaryDirectory(prefix="emulator-")
        self.addCleanup(d.cleanup)
        p = subprocess.Popen([sys.executable, "-B", os.path.join(HERE, "printer_emulator.py"),
                              *args, "--record", os.path.join(d.name, "rec"),
                              "--stats", os.path.join(d.name, "stats.json")],
                             stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: p.poll() is None and (p.kill(), p.wait()))
        self.addCleanup(p.stdout.close)
        return p, json.loads(p.stdout.readline()), d.name

    def test_control_port(self):
        p, info, d = self.start("--family", "escpos", "--control-port", "0", "--rate", "20000")
        ctl = socket.create_connection(("127.0.0.1", info["control_port"]))
        self.addCleanup(ctl.close)
        f = ctl.makefile("rw")

        def cmd(line):
            f.write(line + "\n")
            f.flush()
            return f.readline().strip()
        self.assertEqual(cmd("state paper-out"), "ok")
        self.assertTrue(cmd("state wet").startswith("error:"))
        self.assertTrue(cmd("fly").startswith("error:"))
        s = socket.create_connection(("127.0.0.1", info["port"]))
        s.sendall(b"page\x10\x04\x04")
        self.assertEqual(read_exact(s, 1), b"\x7e")
        self.assertEqual(cmd("pause"), "ok")
        s.sendall(b"more")
        self.assertEqual(json.loads(cmd("stats"))["total"], 7)
        self.assertEqual(cmd("resume"), "ok")
        s.close()
        stats = {}
        for _ in range(100):
            stats = json.loads(cmd("stats"))
            if stats["connections"][0]["how"]:
                break
            time.sleep(0.05)
        conn = stats["connections"][0]
        self.assertEqual((conn["bytes"], conn["how"]), (11, "closed"))
        self.assertEqual(conn["queries"][0]["reply"], "7e")
        self.assertEqual(sum(n for _, n in json.loads(cmd("arrivals"))), 11)
        self.assertEqual(cmd("quit"), "ok")
        self.assertEqual(p.wait(10), 0)
        with open(os.path.join(d, "rec"), "rb") as r:
            self.assertEqual(r.read(), b"page\x10\x04\x04more")
        with open(os.path.join(d, "stats.json")) as r:
            self.assertEqual(json.load(r)["total"], 11)

    def test_sigterm_on_a_pseudo_terminal(self):
        p, info, d = self.start("--family", "tspl", "--tty", "--model", "TE200")
        self.assertIsNone(info["port"])
        fd = os.open(info["tty"], os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, fd)
        os.write(fd, b"~!T")
        self.assertEqual(read_exact(fd, 6), b"TE200\r")
        p.send_signal(signal.SIGTERM)
        self.assertEqual(p.wait(10), 0)
        with open(os.path.join(d, "rec"), "rb") as r:
            self.assertEqual(r.read(), b"~!T")


if __name__ == "__main__":
    unittest.main()
