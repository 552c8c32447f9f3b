"""vesk.Scope: the blocking client."""

import functools
import select
import socket
import threading
import time

from . import _operations
from ._catalogue import CATALOGUE
from ._protocol import (HEADER_SIZE, REFUSED_CONNECTION, build_request, check_reply, closed_at_once_error, padded_body,
                        reply_length, service_full_error, timeout_error)
from ._operations import Call, Progress, Report, Sleep
from .errors import ConnectionFailed, ProtocolError

# How often a waiting call reports progress.
_TICK = 1.0
# How long a new connection listens for a refusal before its first request.
_REFUSAL_WAIT = 0.05


class Scope:
    """A connection to a VESK service: one typed method per command, in the
    wire's units and names, and waits that say how they ended.

        with vesk.Scope("127.0.0.1", 22300) as scope:
            scope.set_magnification(1000).magnification
            scope.set_stigmators(x=12, y=-40)
            run = scope.autofocus()            # run.still_running, run.working_distance_mm
            scope.move_stage(x=1.5, y=-2.0)    # polls WSTR to the end
            scope.capture(r"C:\\images\\a.bmp").read().pixels

    timeout: seconds allowed for a reply on top of the time the command
    itself may take inside the service (the catalogue's: about 20 s for
    EFAS, ESAS and DACS, 180 s for ISAV); it covers queueing behind other
    clients' commands. A reply that does not come in time raises Timeout
    and closes the connection; the next call opens a new one.
    image_folder: a local folder that stands for the instrument computer's
    drive (a shared folder, or the simulator's image folder), so that
    captures can be read. text_encoding: of paths and names on the wire
    (the control PC's code page). strict: raise NotExact, rather than warn
    (AdjustmentWarning), where the service would clamp or snap a value
    (magnification steps, accelerating-voltage steps).

    Errors: Refused (status -1; .reply keeps the readings), NotServed (an
    extended command without EnableFenk), ServiceFull, Timeout,
    ProtocolError, ConnectionFailed, OutOfRange (nothing sent), WaitTimeout.
    call(code, **fields) and request(code, body) reach any command.

    The connection opens on `with`, open(), or the first call, as in
    vesk.aio.Scope. One Scope may be shared by threads: a lock sends one
    request at a time and keeps each reply with its own request (waits such
    as move_stage() interleave with other threads' calls between their
    requests). close() waits for a request under way."""

    def __init__(self, host="127.0.0.1", port=22300, timeout=10.0, connect_timeout=5.0, image_folder=None,
                 text_encoding="cp932", strict=False):
        self.host = host
        self.port = port
        self.timeout = timeout
        self.connect_timeout = connect_timeout
        self.image_folder = image_folder
        self.text_encoding = text_encoding
        self.strict = strict
        self._socket = None
        self._sequence = 0
        self._lock = threading.RLock()

    # ---- Connection ----

    def _connect(self):
        try:
            self._socket = socket.create_connection((self.host, self.port), self.connect_timeout)
        except OSError as failure:
            raise ConnectionFailed("cannot connect to %s:%d: %s" % (self.host, self.port, failure)) from None
        self._socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # A refused client is told so at once and disconnected; a request sent
        # into that closing connection would be reset and lose the message.
        readable, _, _ = select.select([self._socket], [], [], _REFUSAL_WAIT)
        if readable:
            try:
                said = self._socket.recv(len(REFUSED_CONNECTION))
            except OSError:
                said = b""
            self.close()
            raise closed_at_once_error(said, self.host, self.port)

    def open(self):
        """Connect now, unless connected; returns the Scope."""
        with self._lock:
            if self._socket is None:
                self._connect()
        return self

    @property
    def connected(self):
        return self._socket is not None

    def close(self):
        with self._lock:
            if self._socket is not None:
                self._socket.close()
                self._socket = None

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<vesk.Scope %s:%d%s>" % (self.host, self.port, "" if self.connected else " (closed)")

    # ---- Requests ----

    def call(self, code, **fields):
        """Send command `code` with its request fields by wire or Python name
        (scope.call("EMGS", magnification=1000)); returns its Reply."""
        return self._exchange(Call(code, fields))

    def request(self, code, body=b"", timeout=None):
        """Send `code` with a body of raw bytes; the reply is checked as any
        other (a code outside the catalogue gets a Reply without fields)."""
        return self._exchange(Call(code, body=bytes(body)), timeout)

    def _exchange(self, step, timeout=None):
        command = CATALOGUE.get(step.code)
        body = step.body
        if body is None:
            if command is None:
                raise ValueError("%r is not in the command catalogue: use request(code, body)" % (step.code,))
            body = padded_body(command, command.encode(step.fields, self.text_encoding, self.strict))
        if timeout is None:
            timeout = self.timeout + (command.service_wait if command else 0.0)
        with self._lock:
            self._sequence += 1
            request = build_request(step.code, body, self._sequence)
            if self._socket is None:
                self._connect()
            try:
                raw = self._send_and_receive(request, step, timeout)
            except BaseException:
                # Whatever cut the exchange short (time-out, Ctrl+C), its reply
                # may still come: never read it as the next request's.
                self.close()
                raise
            try:
                return check_reply(request, raw, self.text_encoding)
            except ProtocolError:
                self.close()
                raise

    def _send_and_receive(self, request, step, timeout):
        sock = self._socket
        try:
            sock.settimeout(timeout)
            sock.sendall(request)
        except socket.timeout:
            raise timeout_error(step.code, timeout, sent=False) from None
        except OSError as failure:
            # A refused client is told so at once and disconnected.
            if self._refusal_waiting(sock):
                raise service_full_error() from None
            raise ConnectionFailed("sending %s failed: %s" % (step.code, failure)) from None
        start = time.monotonic()
        head = self._receive(HEADER_SIZE, step, start, timeout, allow_short=True)
        if head.startswith(REFUSED_CONNECTION[:len(head)]) and len(head) >= 3:
            raise service_full_error()
        if len(head) < HEADER_SIZE:
            raise ConnectionFailed("the connection closed before the %s reply" % step.code)
        body = self._receive(reply_length(head) - HEADER_SIZE, step, start, timeout)
        return head + body

    def _receive(self, count, step, start, timeout, allow_short=False):
        data = bytearray()
        while len(data) < count:
            remaining = timeout - (time.monotonic() - start)
            if remaining <= 0:
                raise timeout_error(step.code, timeout)
            self._socket.settimeout(min(remaining, _TICK) if step.progress else remaining)
            try:
                chunk = self._socket.recv(count - len(data))
            except socket.timeout:
                if step.progress:
                    step.progress(Progress(step.code, time.monotonic() - start, timeout, None))
                continue
            except OSError as failure:
                raise ConnectionFailed("receiving the %s reply failed: %s" % (step.code, failure)) from None
            if not chunk:
                if allow_short:
                    return bytes(data)
                raise ConnectionFailed("the connection closed in the middle of the %s reply" % step.code)
            data += chunk
        return bytes(data)

    @staticmethod
    def _refusal_waiting(sock):
        try:
            sock.settimeout(1.0)
            return sock.recv(len(REFUSED_CONNECTION)).startswith(b"SRV ERR")
        except OSError:
            return False

    # ---- Steps ----

    def _run(self, steps):
        value = None
        error = None
        while True:
            try:
                step = steps.throw(error) if error is not None else steps.send(value)
            except StopIteration as stop:
                return stop.value
            value = error = None
            try:
                if isinstance(step, Call):
                    value = self._exchange(step, step.timeout)
                elif isinstance(step, Sleep):
                    time.sleep(step.seconds)
                elif isinstance(step, Report):
                    step.callback(step.value)
            except BaseException as failure:  # handed to the steps, which may clean up (stop the stage)
                error = failure


def _blocking(function):
    @functools.wraps(function)
    def method(self, *args, **kwargs):
        return self._run(function(self, *args, **kwargs))

    return method


_operations.install(Scope, _blocking)
