"""vesk.Scope: the blocking client."""

from __future__ import annotations

import select
import socket
import threading
import time
from types import TracebackType
from typing import Any, Dict, Generator, List, Optional, Type

from ._calls import Calls
from ._catalogue import CATALOGUE
from ._operations import Call, Progress, Report, Sleep
from ._protocol import (HEADER_SIZE, REFUSED_CONNECTION, build_request, closed_at_once_error, padded_body,
                        reply_length, service_full_error, timeout_error)
from ._reply import Reply
from ._session import SNAPSHOT, Reconnect, ReconnectCallback, Watch, log, may_retry
from .errors import ConnectionFailed, ProtocolError, VeskError
from .instrument import Instrument

# How often a waiting call reports progress.
_TICK = 1.0
# How long a new connection listens for a refusal before its first request.
_REFUSAL_WAIT = 0.05


class Scope(Calls):
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
    and closes the connection; the next call opens a new one. The command
    may still be carried out (see Timeout): read the state back.
    image_folder: a local folder that stands for the instrument computer's
    drive (a shared folder, or the simulator's image folder), so that
    captures can be confirmed and read. text_encoding: of paths and names
    on the wire (the control PC's code page). strict: raise NotExact,
    rather than warn (AdjustmentWarning), where the service would clamp or
    snap a value (magnification steps, accelerating-voltage steps).
    instrument: what the protocol does not say (stage limits, focus
    relation, data bar): vesk.SIMULATOR on the simulator.
    on_reconnect: called with a Reconnect each time a broken connection is
    opened anew; its `changed` lists the readings that differ from the last
    ones seen (an instrument that restarted). `last_reconnect` keeps it.

    The connection opens on `with`, open(), or the first call, as in
    vesk.aio.Scope. One Scope may be shared by threads: a lock sends one
    request at a time and keeps each reply with its own request (waits such
    as move_stage() interleave with other threads' calls between their
    requests). close() waits for a request under way.

    Logging: logger "vesk" (DEBUG each request and reply, INFO retries and
    reconnects, WARNING a reconnect that finds the instrument changed).

    Errors: Refused (status -1; .reply keeps the readings), NotServed (an
    extended command without EnableFenk), ServiceFull, Timeout,
    ProtocolError, ConnectionFailed, OutOfRange (nothing sent), WaitTimeout.
    call(code, **fields) and request(code, body) reach any command."""

    def __init__(self, host: str = "127.0.0.1", port: int = 22300, timeout: float = 10.0,
                 connect_timeout: float = 5.0, image_folder: Optional[str] = None, text_encoding: str = "cp932",
                 strict: bool = False, instrument: Optional[Instrument] = None,
                 on_reconnect: Optional[ReconnectCallback] = None) -> None:
        self.host = host
        self.port = port
        self.timeout = timeout
        self.connect_timeout = connect_timeout
        self.image_folder = image_folder
        self.text_encoding = text_encoding
        self.strict = strict
        self.instrument = instrument
        self.on_reconnect = on_reconnect
        self._socket: Optional[socket.socket] = None
        self._sequence = 0
        self._lock = threading.RLock()
        self._watch = Watch()

    # ---- Connection ----

    def _connect(self) -> None:
        try:
            sock = socket.create_connection((self.host, self.port), self.connect_timeout)
        except OSError as failure:
            raise ConnectionFailed("cannot connect to %s:%d: %s" % (self.host, self.port, failure)) from None
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # A refused client is told so at once and disconnected; a request sent
        # into that closing connection would be reset and lose the message.
        readable, _, _ = select.select([sock], [], [], _REFUSAL_WAIT)
        if readable:
            try:
                said = sock.recv(len(REFUSED_CONNECTION))
            except OSError:
                said = b""
            sock.close()
            raise closed_at_once_error(said, self.host, self.port)
        self._socket = sock
        self._watch.connections += 1
        log.info("connected to %s:%d", self.host, self.port)
        if self._watch.cause is not None:
            self._reconnected()

    def _reconnected(self) -> None:
        before = dict(self._watch.known)
        snapshot: List[Reply] = []
        for code in SNAPSHOT:
            try:
                snapshot.append(self._exchange_once(Call(code), self.timeout, code, b""))
            except VeskError as failure:
                raise ConnectionFailed("reconnected to %s:%d, but reading the instrument's state on the new "
                                       "connection failed (%s); the request was not sent"
                                       % (self.host, self.port, failure)) from failure
        found = self._watch.compare(before, snapshot)
        if self.on_reconnect is not None:
            self.on_reconnect(found)

    @property
    def last_reconnect(self) -> Optional[Reconnect]:
        return self._watch.last_reconnect

    def open(self) -> Scope:
        """Connect now, unless connected; returns the Scope."""
        with self._lock:
            if self._socket is None:
                self._connect()
        return self

    @property
    def connected(self) -> bool:
        return self._socket is not None

    def close(self) -> None:
        with self._lock:
            if self._socket is not None:
                self._socket.close()
                self._socket = None

    def __enter__(self) -> Scope:
        return self.open()

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<vesk.Scope %s:%d%s>" % (self.host, self.port, "" if self.connected else " (not connected)")

    # ---- Requests ----

    def call(self, code: str, **fields: Any) -> Reply:
        """Send command `code` with its request fields by wire or Python name
        (scope.call("EMGS", magnification=1000)); returns its Reply."""
        return self._exchange(Call(code, fields))

    def request(self, code: str, body: bytes = b"", timeout: Optional[float] = None) -> Reply:
        """Send `code` with a body of raw bytes; the reply is checked as any
        other (a code outside the catalogue gets a Reply without fields)."""
        return self._exchange(Call(code, body=bytes(body)), timeout)

    def _command(self, code: str, fields: Dict[str, Any]) -> Reply:
        return self._exchange(Call(code, fields))

    def _exchange(self, step: Call, timeout: Optional[float] = None) -> Reply:
        command = CATALOGUE.get(step.code)
        body = step.body
        if body is None:
            if command is None:
                raise ValueError("%r is not in the command catalogue: use request(code, body)" % (step.code,))
            body = padded_body(command, command.encode(step.fields, self.text_encoding, self.strict))
        if timeout is None:
            timeout = self.timeout + (command.service_wait if command else 0.0)
        with self._lock:
            if self._socket is None:
                self._connect()
            try:
                return self._exchange_once(step, timeout, step.code, body)
            except ConnectionFailed as failure:
                if not may_retry(step.code, failure):
                    raise
                log.info("retrying %s on a new connection: %s", step.code, failure)
                self._connect()
                return self._exchange_once(step, timeout, step.code, body)

    def _exchange_once(self, step: Call, timeout: float, code: str, body: bytes) -> Reply:
        self._sequence += 1
        request = build_request(code, body, self._sequence)
        log.debug("-> %s #%d %s", code, self._sequence, step.fields or body.hex())
        try:
            raw = self._send_and_receive(request, step, timeout)
        except BaseException as failure:
            # Whatever cut the exchange short (time-out, Ctrl+C), its reply
            # may still come: never read it as the next request's.
            self._watch.broke(failure)
            self.close()
            raise
        return self._watch.accept(request, raw, self.text_encoding, self._sequence, self.close)

    def _send_and_receive(self, request: bytes, step: Call, timeout: float) -> bytes:
        sock = self._socket
        if sock is None:
            raise ConnectionFailed("the connection to %s:%d closed before %s could be sent"
                                   % (self.host, self.port, step.code))
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
        head = self._receive(sock, HEADER_SIZE, step, start, timeout, allow_short=True)
        if head.startswith(REFUSED_CONNECTION[:len(head)]) and len(head) >= 3:
            raise service_full_error()
        if len(head) < HEADER_SIZE:
            raise ConnectionFailed("the connection closed before the %s reply" % step.code)
        body = self._receive(sock, reply_length(head) - HEADER_SIZE, step, start, timeout)
        return head + body

    @staticmethod
    def _receive(sock: socket.socket, count: int, step: Call, start: float, timeout: float,
                 allow_short: bool = False) -> bytes:
        data = bytearray()
        while len(data) < count:
            remaining = timeout - (time.monotonic() - start)
            if remaining <= 0:
                raise timeout_error(step.code, timeout)
            sock.settimeout(min(remaining, _TICK) if step.progress else remaining)
            try:
                chunk = sock.recv(count - len(data))
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
    def _refusal_waiting(sock: socket.socket) -> bool:
        try:
            sock.settimeout(1.0)
            return sock.recv(len(REFUSED_CONNECTION)).startswith(b"SRV ERR")
        except OSError:
            return False

    # ---- Steps ----

    def _steps(self, steps: Generator[Any, Any, Any]) -> Any:
        value: Any = None
        error: Optional[BaseException] = None
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
