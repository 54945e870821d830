#!/usr/bin/env python3
"""A printer for the tests: a loopback TCP device (or a file descriptor such
as a pseudo-terminal's master side) that records every byte it receives,
answers its family's status queries from a state the test sets at any time,
and reads at a chosen rate through a small receive buffer, so that a writer
faster than the printer really blocks.

From a Python test:

    from printer_emulator import PrinterEmulator
    with PrinterEmulator(family="escpos", state="paper-out", rate=11520) as emu:
        uri = "socket://127.0.0.1:%d" % emu.port
        ...                                 # print to uri
        emu.set_state("ok")                 # the paper is back
        emu.wait_bytes(5000)
        conn = emu.connections[0]
        conn.data, conn.payload(), conn.queries, conn.arrivals, conn.bursts()

    with PrinterEmulator.on_pty(family="escpos", rate=11520) as emu:
        uri = "serial:%s?baud=115200" % emu.tty

From a shell or C++ test, as a command:

    printer_emulator.py --family tspl --state ok --rate 11520 --record FILE --control-port 0
        [--tty] [--delay S] [--rcvbuf N] [--model NAME] [--stats FILE]

prints one JSON line {"port": P, "control_port": C, "tty": null, "pid": N}
and serves until SIGTERM, SIGINT or "quit". The control port takes one
command a line and answers one line ("ok", "error: ..." or JSON):

    state paper-out | state ok | state silent | state paper-out+cover-open
    rate 11520 | rate 0 (as fast as it comes)     delay 1.5
    pause 5 | pause (until resume) | resume       refuse on | refuse off
    vanish reset [AFTER] | vanish stall [AFTER]   model NAME
    stats | arrivals [CONN] | quit

The printer. Connections are taken one after another, as a print server
port does: a second client waits in the listen queue until the first one
closes. A vanished or refusing printer stays so until told otherwise. The
state changes only the status answers; whether the printer reads is set by
rate, pause and vanish alone, so a test can combine both as it needs.

Where queries are recognised. The printer parses its family's stream the
way a printer does, just enough to know where binary data lies: the bytes of
a bitmap (ESC/POS GS v 0, ESC *, GS ( ...; TSPL BITMAP in mode 0-2 and the
zlib block of mode 3) and the parameters of the fixed-length ESC/POS
commands it knows are passed over, and a query is recognised anywhere else,
split across reads or not. So 10 04 01 inside a raster is never answered,
whatever the timing, and a query sent after a page is answered as soon as
the reader reaches it (real-time, even with data still queued behind it;
ESC v and GS r 1 too, though real printers answer those only when idle).
Families without a query (cpcl, paperang, peripage, none) only record.

Answers, per condition (OR-ed when several are set; "ok" is none):

    escpos      DLE EOT 1  DLE EOT 2  DLE EOT 3  DLE EOT 4  ESC v / GS r 1
    base           12         12         12         12         00
    paper-out      +08        +20        -          +6C        +0F
    paper-near-end -          -          -          +0C        +03
    cover-open     +08        +04        -          -          -
    jam            +08        +40        +08        -          -
    error          +08        +40        +20        -          -
    offline/paused +08        -          -          -          -

    tspl  ESC ! ?: head-open (= cover-open) 01, jam 02, paper-out 04,
    ribbon-out 08, paused and offline 10, printing 20, error 80; ok 00.
    ~!T: the model name and CR.

A condition the family has no sensor for (ribbon-out on ESC/POS,
paper-near-end on TSPL) adds nothing. "silent" never answers. With a delay
each answer goes out that long after its query, as the state was when the
query came: longer than the asker's deadline, it is the stale answer the
next query reads. An answer due after its connection closed is dropped; on
a file descriptor it is still written (a serial line keeps it).
"""
import argparse
import json
import math
import os
import re
import select
import signal
import socket
import struct
import sys
import threading
import time
import tty

FAMILIES = ("escpos", "tspl", "cpcl", "paperang", "peripage", "none")

# Bits each condition adds to the ESC/POS answers: DLE EOT 1..4 and the
# paper sensor of ESC v / GS r 1.
_ESCPOS_BITS = {
    "paper-out": (0x08, 0x20, 0x00, 0x6C, 0x0F),
    "paper-near-end": (0x00, 0x00, 0x00, 0x0C, 0x03),
    "cover-open": (0x08, 0x04, 0x00, 0x00, 0x00),
    "jam": (0x08, 0x40, 0x08, 0x00, 0x00),
    "error": (0x08, 0x40, 0x20, 0x00, 0x00),
    "offline": (0x08, 0x00, 0x00, 0x00, 0x00),
    "paused": (0x08, 0x00, 0x00, 0x00, 0x00),
    "ribbon-out": (0x00, 0x00, 0x00, 0x00, 0x00),
    "printing": (0x00, 0x00, 0x00, 0x00, 0x00),
}
_TSPL_BITS = {
    "cover-open": 0x01, "jam": 0x02, "paper-out": 0x04, "ribbon-out": 0x08,
    "paused": 0x10, "offline": 0x10, "printing": 0x20, "error": 0x80,
    "paper-near-end": 0x00,
}
CONDITIONS = tuple(sorted(_ESCPOS_BITS)) + ("head-open",)


def parse_state(text):
    """'ok', 'silent' or conditions joined by '+': (silent, frozenset)."""
    text = text.strip().lower()
    if text == "silent":
        return True, frozenset()
    if text == "ok":
        return False, frozenset()
    names = set()
    for name in text.split("+"):
        if name == "head-open":
            name = "cover-open"
        if name not in _ESCPOS_BITS:
            raise ValueError("unknown printer state %r (ok, silent or %s)" %
                             (name, ", ".join(CONDITIONS)))
        names.add(name)
    return False, frozenset(names)


def reply_for(family, conditions, query, model="TSPL-EMULATOR"):
    """The answer bytes to a recognised query in the given conditions."""
    if family == "escpos":
        if query.startswith("DLE EOT "):
            column, base = int(query[-1]) - 1, 0x12
        else:  # ESC v, GS r 1
            column, base = 4, 0x00
        for name in conditions:
            base |= _ESCPOS_BITS[name][column]
        return bytes([base])
    if family == "tspl":
        if query == "~!T":
            return model.encode("ascii", "replace") + b"\r"
        status = 0
        for name in conditions:
            status |= _TSPL_BITS[name]
        return bytes([status])
    return None


class _EscPosParser:
    """Finds DLE EOT n, ESC v and GS r 1 in an ESC/POS stream, passing over
    bitmap data and the parameters of the fixed-length commands below."""
    _START = re.compile(rb"[\x10\x1b\x1d]")
    # Parameter bytes after ESC c: @ a J d ! 3 2 E - M t R p.
    _ESC_PARAMS = {0x40: 0, 0x61: 1, 0x4A: 1, 0x64: 1, 0x21: 1, 0x33: 1, 0x32: 0,
                   0x45: 1, 0x2D: 1, 0x4D: 1, 0x74: 1, 0x52: 1, 0x70: 3}
    # ... and after GS c: ! L W H h w FF a.
    _GS_PARAMS = {0x21: 1, 0x4C: 2, 0x57: 2, 0x48: 1, 0x68: 1, 0x77: 1, 0x0C: 0, 0x61: 1}

    def __init__(self):
        self.pending = b""   # the start of a command not complete yet
        self.skip = 0        # data bytes still to pass over
        self.offset = 0      # stream offset of pending[0]

    def _command(self, buf, i):
        """(bytes to take, data bytes after them, query) for the command at
        buf[i], or None while its header is incomplete."""
        avail = len(buf) - i
        if avail < 2:
            return None
        first, c = buf[i], buf[i + 1]
        if first == 0x10:
            if c != 0x04:
                return 1, 0, None
            if avail < 3:
                return None
            n = buf[i + 2]
            return 3, 0, ("DLE EOT %d" % n if 1 <= n <= 4 else None)
        if first == 0x1B:
            if c == 0x76:
                return 2, 0, "ESC v"
            if c == 0x2A:  # ESC * m nL nH: nL + 256 nH columns of 1 or 3 bytes
                if avail < 5:
                    return None
                m, nl, nh = buf[i + 2], buf[i + 3], buf[i + 4]
                return 5, (nl + 256 * nh) * (1 if m in (0, 1) else 3), None
            return 2, self._ESC_PARAMS.get(c, 0), None
        # GS
        if c == 0x76:  # GS v 0 m xL xH yL yH: xL + 256 xH bytes by yL + 256 yH rows
            if avail < 8:
                return None
            xl, xh, yl, yh = buf[i + 4], buf[i + 5], buf[i + 6], buf[i + 7]
            return 8, (xl + 256 * xh) * (yl + 256 * yh), None
        if c == 0x72:
            if avail < 3:
                return None
            return 3, 0, ("GS r 1" if buf[i + 2] in (0x01, 0x31) else None)
        if c == 0x28:  # GS ( fn pL pH: pL + 256 pH bytes
            if avail < 5:
                return None
            return 5, buf[i + 3] + 256 * buf[i + 4], None
        if c == 0x56:  # GS V m [n]: the feed-and-cut forms carry n
            if avail < 3:
                return None
            return 3, (1 if buf[i + 2] in (0x41, 0x42, 0x61, 0x62, 0x67, 0x68) else 0), None
        return 2, self._GS_PARAMS.get(c, 0), None

    def feed(self, data):
        """The queries completed by data: [(offset, length, name)]."""
        buf = self.pending + data
        found, i, n = [], 0, len(buf)
        while i < n:
            if self.skip:
                step = min(self.skip, n - i)
                i += step
                self.skip -= step
                continue
            m = self._START.search(buf, i)
            if not m:
                i = n
                break
            i = m.start()
            cmd = self._command(buf, i)
            if cmd is None:
                break
            take, self.skip, query = cmd
            if query:
                found.append((self.offset + i, take, query))
            i += take
        self.offset += i
        self.pending = buf[i:]
        return found


class _TsplParser:
    """Finds ESC ! ? and ~!T in a TSPL stream, passing over the data of
    BITMAP commands: width x height bytes, or in mode 3 the length given."""
    _BITMAP = re.compile(rb"BITMAP\s*-?\d+\s*,\s*-?\d+\s*,\s*(\d+)\s*,\s*(\d+)\s*,"
                         rb"\s*(\d+)\s*,(?:\s*(\d+)\s*,)?$")

    def __init__(self):
        self.pending = b""
        self.skip = 0
        self.offset = 0
        self.line = bytearray()  # the command line so far (its first bytes)

    def feed(self, data):
        buf = self.pending + data
        found, i, n = [], 0, len(buf)
        while i < n:
            if self.skip:
                step = min(self.skip, n - i)
                i += step
                self.skip -= step
                continue
            b = buf[i]
            if b in (0x1B, 0x7E):  # ESC ! c and ~!c act at once
                if n - i < 3:
                    break
                if buf[i + 1] == 0x21:
                    query = {(0x1B, 0x3F): "ESC !?", (0x7E, 0x54): "~!T"}.get((b, buf[i + 2]))
                    if query:
                        found.append((self.offset + i, 3, query))
                    i += 3
                    continue
            i += 1
            if b == 0x0A:
                self.line = bytearray()
                continue
            if len(self.line) < 128:
                self.line.append(b)
            if b == 0x2C and self.line.startswith(b"BITMAP"):
                m = self._BITMAP.match(self.line)
                if m and (m.group(3) != b"3" or m.group(4) is not None):
                    # mode 3 names its zlib block's length; 0-2 send rows
                    self.skip = (int(m.group(4)) if m.group(3) == b"3"
                                 else int(m.group(1)) * int(m.group(2)))
                    self.line = bytearray()
        self.offset += i
        self.pending = buf[i:]
        return found


class _NoQueries:
    def feed(self, data):
        return []


def _parser(family):
    return {"escpos": _EscPosParser, "tspl": _TsplParser}.get(family, _NoQueries)()


class Query:
    """A recognised query: when (seconds after the connection began), where
    in the connection's bytes, its answer (None: not answered) and when the
    answer went out (None: not yet, or dropped)."""
    __slots__ = ("time", "offset", "length", "name", "reply", "sent")

    def __init__(self, time_, offset, length, name, reply):
        self.time, self.offset, self.length = time_, offset, length
        self.name, self.reply, self.sent = name, reply, None

    def as_dict(self):
        return {"time": round(self.time, 6), "offset": self.offset, "name": self.name,
                "reply": self.reply.hex() if self.reply is not None else None,
                "sent": round(self.sent, 6) if self.sent is not None else None}

    def __repr__(self):
        return "Query(%s)" % self.as_dict()


class Connection:
    """One connection (or the file descriptor's life) as the printer saw it."""

    def __init__(self, index, offset, start):
        self.index = index
        self.offset = offset    # where its bytes begin in the whole record
        self.start = start      # time.monotonic() when it was taken
        self.end = None         # ... and when it ended
        self.how = None         # closed, reset, vanished or stopped
        # Seconds after start the writer was seen to close or reset while
        # the printer was not reading (a FIN queued behind bytes the
        # printer has no room for arrives only once they are read).
        self.peer_closed = None
        self.data = bytearray()
        self.arrivals = []      # (seconds after start, bytes) per read
        self.queries = []

    def payload(self):
        """The bytes without the queries: what the printer would print."""
        out, at = bytearray(), 0
        for q in self.queries:
            out += self.data[at:q.offset]
            at = q.offset + q.length
        return bytes(out + self.data[at:])

    def bursts(self, gap=0.01):
        """The arrivals grouped where the reader saw no byte for more than
        gap seconds: [(first arrival, last arrival, bytes)]."""
        out = []
        for t, n in self.arrivals:
            if out and t - out[-1][1] <= gap:
                out[-1] = (out[-1][0], t, out[-1][2] + n)
            else:
                out.append((t, t, n))
        return out

    def as_dict(self, arrivals=False):
        d = {"index": self.index, "offset": self.offset, "bytes": len(self.data),
             "how": self.how,
             "duration": round(self.end - self.start, 6) if self.end else None,
             "peer_closed": self.peer_closed,
             "queries": [q.as_dict() for q in self.queries]}
        if arrivals:
            d["arrivals"] = [(round(t, 6), n) for t, n in self.arrivals]
        return d


class PrinterEmulator:
    """The emulated printer; see the module's documentation. Every method
    may be called from any thread while it runs."""

    def __init__(self, family="escpos", state="ok", rate=None, delay=0.0, rcvbuf=None,
                 record=None, model="TSPL-EMULATOR", control_port=None):
        if family not in FAMILIES:
            raise ValueError("unknown family %r (%s)" % (family, ", ".join(FAMILIES)))
        self.family = family
        self.model = model
        self._silent, self._conditions = parse_state(state)
        self._state = state
        self._delay = float(delay)
        # A small receive buffer when pacing, so the writer feels the rate.
        self._rcvbuf = rcvbuf if rcvbuf is not None else (4096 if rate else None)
        self._record_path = record
        self._control_port = control_port
        self._cond = threading.Condition(threading.RLock())
        self._wake_r = self._wake_w = None   # a pipe that interrupts the poll
        self._rate = None
        self.set_rate(rate)
        self._paused_until = 0.0
        self._stalled = False
        self._vanish = None          # (mode, byte count in the connection)
        self._refusing = False
        self._stopping = False
        self._thread = None
        self._fd = None              # a file descriptor instead of TCP
        self._slave = None
        self._fd_retry = 0.0
        self._listener = None
        self._control = None
        self._clients = {}           # control connections: socket -> line buffer
        self._conn = None            # (Connection, socket or None, parser)
        self._replies = []           # (due time, Connection, socket, Query) in order
        self._record = None
        self.connections = []
        self.total = 0
        self.port = None
        self.control_port = None
        self.tty = None

    # Starting and stopping.

    @classmethod
    def on_fd(cls, fd, **kwargs):
        """A printer reading fd (it owns it and closes it when it stops)."""
        emu = cls(**kwargs)
        emu._fd = fd
        return emu

    @classmethod
    def on_pty(cls, **kwargs):
        """A printer on a new pseudo-terminal; the device is emu.tty. The
        printer keeps the terminal's side open (in raw mode) so that the
        line outlives the writer's opens and closes, like a serial port."""
        master, slave = os.openpty()
        tty.setraw(slave)
        emu = cls.on_fd(master, **kwargs)
        emu._slave = slave
        emu.tty = os.ttyname(slave)
        return emu

    def start(self):
        if self._record_path:
            self._record = open(self._record_path, "wb")
        if self._fd is not None:
            os.set_blocking(self._fd, False)
            with self._cond:
                self._begin(None)
        else:
            self._listen(0)
        if self._control_port is not None:
            self._control = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self._control.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self._control.bind(("127.0.0.1", self._control_port))
            self._control.listen(8)
            self.control_port = self._control.getsockname()[1]
        self._wake_r, self._wake_w = os.pipe()
        os.set_blocking(self._wake_w, False)
        self._thread = threading.Thread(target=self._run, name="printer-emulator", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        """Stops serving and closes everything; returns when the thread ended."""
        with self._cond:
            self._stopping = True
        self._wake()
        if self._thread:
            self._thread.join()
            self._thread = None
        with self._cond:
            if self._conn:
                self._end("stopped")
            for s in [self._listener, self._control] + list(self._clients):
                if s:
                    s.close()
            self._listener = self._control = None
            self._clients = {}
            for fd in (self._fd, self._slave, self._wake_r, self._wake_w):
                if fd is not None:
                    os.close(fd)
            self._fd = self._slave = self._wake_r = self._wake_w = None
            if self._record:
                self._record.close()
                self._record = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # What the test changes while it runs.

    def set_state(self, state):
        """ok, silent, or conditions joined by '+' (paper-out+cover-open)."""
        silent, conditions = parse_state(state)
        with self._cond:
            self._silent, self._conditions, self._state = silent, conditions, state

    def set_rate(self, rate):
        """Bytes per second the printer reads; None or 0: as fast as it comes.
        It reads in slices of about 10 ms worth (at least 32 bytes). The
        receive buffer is sized when the printer starts (4096 when it has a
        rate then, else the system's): give rcvbuf to slow down later."""
        with self._cond:
            self._rate = float(rate) if rate else None
            self._quantum = max(32, int(self._rate / 100)) if self._rate else 65536
            self._tokens = 0.0
            self._refilled = time.monotonic()
        self._wake()

    def set_delay(self, seconds):
        with self._cond:
            self._delay = float(seconds)

    def pause(self, seconds=None):
        """Stops reading for seconds (None: until resume()); what the writer
        sends meanwhile waits in the kernel's buffers, nothing is lost."""
        with self._cond:
            self._paused_until = time.monotonic() + seconds if seconds else math.inf
        self._wake()

    def resume(self):
        """Reads again after pause() or a stalled vanish()."""
        with self._cond:
            self._paused_until = 0.0
            self._stalled = False
        self._wake()

    def vanish(self, mode="reset", after=None):
        """The printer goes away, at once or when the current connection (or
        the next one) has brought `after` bytes, the last of them read.
        reset: a TCP connection is closed with RST (a file descriptor is
        closed); stall: it stops reading until resume()."""
        if mode not in ("reset", "stall"):
            raise ValueError("vanish mode is reset or stall, not %r" % mode)
        with self._cond:
            self._vanish = (mode, int(after or 0))
        self._wake()

    def refuse(self, on=True):
        """Refuses connections (the port is closed) or takes them again (on
        the same port). A connection already open goes on."""
        with self._cond:
            self._refusing = on
            if on and self._listener:
                if self._thread in (None, threading.current_thread()):
                    self._listener.close()
                    self._listener = None
                else:
                    # The serving thread closes it: a socket closed while
                    # another thread polls it stays open (and keeps taking
                    # connections) until that poll returns.
                    self._wake()
                    self._cond.wait_for(lambda: self._listener is None, 10)
            elif not on and not self._listener and self.port:
                self._listen(self.port)
        self._wake()

    # What the test reads.

    @property
    def data(self):
        """Every byte received, all connections one after another."""
        with self._cond:
            return b"".join(bytes(c.data) for c in self.connections)

    @property
    def queries(self):
        with self._cond:
            return [q for c in self.connections for q in c.queries]

    def stats(self, arrivals=False):
        with self._cond:
            return {"family": self.family, "state": self._state, "total": self.total,
                    "connected": self._conn[0].index if self._conn else None,
                    "connections": [c.as_dict(arrivals) for c in self.connections]}

    def wait_until(self, predicate, timeout=10.0):
        """Waits until predicate() holds (it is checked after every event);
        returns its last value."""
        with self._cond:
            return self._cond.wait_for(predicate, timeout)

    def wait_bytes(self, count, timeout=10.0):
        return self.wait_until(lambda: self.total >= count, timeout)

    def wait_connections(self, count, timeout=10.0):
        return self.wait_until(lambda: len(self.connections) >= count, timeout)

    def wait_closed(self, index=-1, timeout=10.0):
        """Waits until connection `index` has ended."""
        return self.wait_until(lambda: self.connections and
                               self.connections[index].end is not None, timeout)

    # The serving thread.

    def _wake(self):
        if self._wake_w is not None:
            try:
                os.write(self._wake_w, b"x")
            except BlockingIOError:
                pass  # full: the thread wakes anyway

    def _listen(self, port):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if self._rcvbuf:
            # Set before listen() so accepted sockets start with it.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, self._rcvbuf)
        s.bind(("127.0.0.1", port))
        s.listen(8)
        self._listener = s
        self.port = s.getsockname()[1]

    def _begin(self, sock):
        conn = Connection(len(self.connections), self.total, time.monotonic())
        self.connections.append(conn)
        self._conn = (conn, sock, _parser(self.family))
        self._cond.notify_all()

    def _end(self, how):
        conn, sock, _ = self._conn
        conn.end, conn.how = time.monotonic(), how
        self._conn = None
        if sock:
            if how == "vanished":
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
        elif how == "vanished":
            os.close(self._fd)
            self._fd = None
        self._cond.notify_all()

    def _may_read(self, now):
        """Whether to read now, else how long until the printer may."""
        if self._stalled:
            return False, None
        if self._paused_until > now:
            return False, (None if self._paused_until == math.inf else self._paused_until - now)
        if not self._rate:
            return True, None
        self._tokens = min(2 * self._quantum,
                           self._tokens + (now - self._refilled) * self._rate)
        self._refilled = now
        if self._tokens >= self._quantum:
            return True, None
        return False, (self._quantum - self._tokens) / self._rate

    def _run(self):
        while True:
            with self._cond:
                if self._stopping:
                    return
                if self._refusing and self._listener:
                    self._listener.close()
                    self._listener = None
                    self._cond.notify_all()
                now = time.monotonic()
                waits = [self._send_due(now)]
                if self._conn and self._vanish and self._vanish[1] <= len(self._conn[0].data):
                    self._do_vanish()
                poller, handlers = select.poll(), {}

                def want(fd, events, handler):
                    fd = fd if isinstance(fd, int) else fd.fileno()
                    poller.register(fd, events)
                    handlers[fd] = handler
                want(self._wake_r, select.POLLIN, self._drain_wake)
                if self._control:
                    want(self._control, select.POLLIN, self._accept_control)
                for c in self._clients:
                    want(c, select.POLLIN, lambda ev, c=c: self._control_input(c))
                if self._conn:
                    conn, sock, _ = self._conn
                    read, wait = self._may_read(now)
                    waits.append(wait)
                    fd = sock.fileno() if sock else self._fd
                    if sock is None and self._fd_retry > now:
                        waits.append(self._fd_retry - now)
                    elif read:
                        want(fd, select.POLLIN, self._read)
                    elif sock and conn.peer_closed is None:
                        # Not reading, but the test wants to know if the
                        # writer gave up.
                        want(fd, select.POLLRDHUP, self._peer_gone)
                elif self._listener and not self._refusing:
                    want(self._listener, select.POLLIN, self._accept)
                waits = [w for w in waits if w is not None]
                timeout = max(0, min(waits)) * 1000 + 1 if waits else None
            events = poller.poll(timeout)
            with self._cond:
                for fd, ev in events:
                    if self._stopping:
                        return
                    if fd in handlers:
                        handlers[fd](ev)

    def _drain_wake(self, ev):
        os.read(self._wake_r, 4096)

    def _accept(self, ev):
        if not self._listener or self._refusing:
            return
        try:
            sock, _ = self._listener.accept()
        except OSError:
            return
        sock.setblocking(False)
        self._tokens, self._refilled = 0.0, time.monotonic()
        self._begin(sock)

    def _peer_gone(self, ev):
        if not self._conn:
            return
        conn, sock, _ = self._conn
        conn.peer_closed = round(time.monotonic() - conn.start, 6)
        if self._stalled:
            # Nobody will read the rest: this connection is over.
            self._end("reset" if ev & (select.POLLERR | select.POLLHUP) else "closed")
        self._cond.notify_all()

    def _read(self, ev):
        if not self._conn or self._stalled or self._paused_until > time.monotonic():
            return  # gone or paused while the thread was polling
        conn, sock, parser = self._conn
        n = int(self._tokens) if self._rate else 65536
        if self._vanish:
            n = min(n, self._vanish[1] - len(conn.data))
            if n <= 0:
                return self._do_vanish()
        try:
            data = sock.recv(n) if sock else os.read(self._fd, n)
        except BlockingIOError:
            return
        except ConnectionResetError:
            return self._end("reset")
        except OSError:
            if sock:
                return self._end("reset")
            # No terminal side open (EIO): look again a little later.
            self._fd_retry = time.monotonic() + 0.05
            return
        if not data:
            if sock:
                return self._end("closed")
            self._fd_retry = time.monotonic() + 0.05
            return
        now = time.monotonic()
        if self._rate:
            self._tokens -= len(data)
        conn.data += data
        conn.arrivals.append((now - conn.start, len(data)))
        self.total += len(data)
        if self._record:
            self._record.write(data)
            self._record.flush()
        for offset, length, name in parser.feed(data):
            reply = None if self._silent else reply_for(self.family, self._conditions, name,
                                                        self.model)
            q = Query(now - conn.start, offset, length, name, reply)
            conn.queries.append(q)
            if reply is not None:
                self._replies.append((now + self._delay, conn, sock, q))
        self._send_due(now)
        if self._vanish and self._vanish[1] <= len(conn.data):
            self._do_vanish()
        self._cond.notify_all()

    def _send_due(self, now):
        """Sends the answers due; returns seconds until the next one."""
        while self._replies and self._replies[0][0] <= now:
            _, conn, sock, q = self._replies.pop(0)
            try:
                if sock is None and self._fd is not None:
                    os.write(self._fd, q.reply)
                elif sock is not None and self._conn and self._conn[0] is conn:
                    sock.send(q.reply)
                else:
                    continue  # its connection is gone
                q.sent = now - conn.start
                self._cond.notify_all()
            except OSError:
                pass
        return self._replies[0][0] - now if self._replies else None

    def _do_vanish(self):
        mode, _ = self._vanish
        self._vanish = None
        if mode == "stall":
            self._stalled = True
        else:
            self._end("vanished")

    # The control port.

    def _accept_control(self, ev):
        try:
            c, _ = self._control.accept()
        except OSError:
            return
        self._clients[c] = b""

    def _control_input(self, c):
        try:
            data = c.recv(4096)
        except OSError:
            data = b""
        if not data:
            c.close()
            del self._clients[c]
            return
        buf = self._clients[c] + data
        while b"\n" in buf:
            line, buf = buf.split(b"\n", 1)
            answer = self.command(line.decode("utf-8", "replace"))
            try:
                c.sendall(answer.encode() + b"\n")
            except OSError:
                pass
        if c in self._clients:
            self._clients[c] = buf

    def command(self, line):
        """Carries out one control line; returns the answer line."""
        words = line.split()
        if not words:
            return "error: empty command"
        cmd, args = words[0], words[1:]
        try:
            if cmd == "state" and len(args) == 1:
                self.set_state(args[0])
            elif cmd == "rate" and len(args) == 1:
                self.set_rate(float(args[0]))
            elif cmd == "delay" and len(args) == 1:
                self.set_delay(float(args[0]))
            elif cmd == "pause" and len(args) <= 1:
                self.pause(float(args[0]) if args else None)
            elif cmd == "resume" and not args:
                self.resume()
            elif cmd == "vanish" and 1 <= len(args) <= 2:
                self.vanish(args[0], int(args[1]) if len(args) > 1 else None)
            elif cmd == "refuse" and len(args) == 1 and args[0] in ("on", "off"):
                self.refuse(args[0] == "on")
            elif cmd == "model" and args:
                with self._cond:
                    self.model = line.split(None, 1)[1].strip()
            elif cmd == "stats" and not args:
                return json.dumps(self.stats())
            elif cmd == "arrivals" and len(args) <= 1:
                with self._cond:
                    if not self.connections:
                        return "[]"
                    conn = self.connections[int(args[0]) if args else -1]
                    return json.dumps([(round(t, 6), n) for t, n in conn.arrivals])
            elif cmd == "quit" and not args:
                with self._cond:
                    self._stopping = True
                self._wake()
            else:
                return "error: unknown command %r" % line.strip()
        except (ValueError, IndexError) as e:
            return "error: %s" % e
        return "ok"


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--family", default="escpos", choices=FAMILIES)
    p.add_argument("--state", default="ok")
    p.add_argument("--rate", type=float, default=0, help="bytes per second (0: unlimited)")
    p.add_argument("--delay", type=float, default=0.0, help="seconds before each answer")
    p.add_argument("--rcvbuf", type=int, help="receive buffer (default 4096 with a rate)")
    p.add_argument("--record", help="file that receives every byte")
    p.add_argument("--model", default="TSPL-EMULATOR", help="the TSPL ~!T answer")
    p.add_argument("--control-port", type=int, help="0: a free port")
    p.add_argument("--tty", action="store_true", help="serve a pseudo-terminal instead of TCP")
    p.add_argument("--stats", help="file for the final statistics (JSON)")
    a = p.parse_args(argv)
    kwargs = dict(family=a.family, state=a.state, rate=a.rate, delay=a.delay,
                  rcvbuf=a.rcvbuf, record=a.record, model=a.model, control_port=a.control_port)
    try:
        emu = PrinterEmulator.on_pty(**kwargs) if a.tty else PrinterEmulator(**kwargs)
    except ValueError as e:
        p.error(str(e))
    emu.start()

    def request_stop(signum, frame):
        emu._stopping = True
        emu._wake()
    signal.signal(signal.SIGTERM, request_stop)
    signal.signal(signal.SIGINT, request_stop)
    print(json.dumps({"port": emu.port, "control_port": emu.control_port, "tty": emu.tty,
                      "pid": os.getpid()}), flush=True)
    while emu._thread.is_alive():
        emu._thread.join(0.2)
    emu.stop()
    if a.stats:
        with open(a.stats, "w") as f:
            json.dump(emu.stats(arrivals=True), f)
    return 0


if __name__ == "__main__":
    sys.exit(main())
