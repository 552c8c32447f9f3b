"""vesk.aio.Scope: the same calls as vesk.Scope for asyncio programs.

    async with vesk.aio.Scope("127.0.0.1", 22300) as scope:
        reply = await scope.set_magnification(1000)
        run = await scope.autofocus()

Requests on one Scope are sent one at a time (a lock), so that each reply
meets its own request; use one Scope per concurrent task where the service
should see them as separate clients."""

from __future__ import annotations

import asyncio
import inspect
import time
from types import TracebackType
from typing import Any, Dict, Generator, List, Optional, Type

from ._calls import AsyncCalls
from ._catalogue import CATALOGUE
from ._operations import Call, Progress, Report, Sleep
from ._protocol import (HEADER_SIZE, REFUSED_CONNECTION, build_request, closed_at_once_error, padded_body,
                        reply_length, service_full_error, timeout_error)
from ._reply import Reply
from ._session import SNAPSHOT, Reconnect, ReconnectCallback, Watch, log, may_retry
from .errors import ConnectionFailed, VeskError
from .instrument import Instrument

_TICK = 1.0
_REFUSAL_WAIT = 0.05


class Scope(AsyncCalls):
    """A connection to a VESK service for asyncio; the arguments, methods,
    results and errors are those of vesk.Scope, each method a coroutine
    (on_reconnect may also be a coroutine function).
    The connection opens on `async with`, open(), or the first call, as in
    vesk.Scope; close() is a coroutine."""

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
        self._reader: Optional[asyncio.StreamReader] = None
        self._writer: Optional[asyncio.StreamWriter] = None
        self._sequence = 0
        self._lock: Optional[asyncio.Lock] = None
        self._watch = Watch()

    async def open(self) -> Scope:
        """Connect now, unless connected; returns the Scope."""
        if self._writer is not None:
            return self
        try:
            reader, writer = await asyncio.wait_for(asyncio.open_connection(self.host, self.port),
                                                    self.connect_timeout)
        except (OSError, asyncio.TimeoutError) as failure:
            raise ConnectionFailed("cannot connect to %s:%d: %s" % (self.host, self.port, failure)) from None
        # A refused client is told so at once and disconnected.
        try:
            said = await asyncio.wait_for(reader.read(len(REFUSED_CONNECTION)), _REFUSAL_WAIT)
        except asyncio.TimeoutError:
            self._reader, self._writer = reader, writer
            self._watch.connections += 1
            log.info("connected to %s:%d", self.host, self.port)
            if self._watch.cause is not None:
                await self._reconnected()
            return self
        except OSError:
            said = b""
        writer.close()
        raise closed_at_once_error(said, self.host, self.port)

    async def _reconnected(self) -> None:
        before = dict(self._watch.known)
        snapshot: List[Reply] = []
        for code in SNAPSHOT:
            try:
                snapshot.append(await self._exchange_once(Call(code), self.timeout, code, b""))
            except VeskError as failure:
                raise ConnectionFailed("reconnected to %s:%d, but reading the instrument's state on the new "
                                       "connection failed (%s); the request was not sent"
                                       % (self.host, self.port, failure)) from failure
        found = self._watch.compare(before, snapshot)
        if self.on_reconnect is not None:
            outcome = self.on_reconnect(found)
            if inspect.isawaitable(outcome):
                await outcome

    @property
    def last_reconnect(self) -> Optional[Reconnect]:
        return self._watch.last_reconnect

    @property
    def connected(self) -> bool:
        return self._writer is not None

    async def close(self) -> None:
        """Close the connection and wait until it is closed."""
        writer = self._drop()
        if writer is not None:
            try:
                await writer.wait_closed()
            except OSError:
                pass  # the peer had gone: closed all the same

    def _drop(self) -> Optional[asyncio.StreamWriter]:
        writer = self._writer
        if writer is not None:
            writer.close()
            self._writer = self._reader = None
        return writer

    async def __aenter__(self) -> Scope:
        return await self.open()

    async def __aexit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                        traceback: Optional[TracebackType]) -> None:
        await self.close()

    def __repr__(self) -> str:
        return "<vesk.aio.Scope %s:%d%s>" % (self.host, self.port, "" if self.connected else " (not connected)")

    async def call(self, code: str, **fields: Any) -> Reply:
        """As vesk.Scope.call."""
        return await self._exchange(Call(code, fields))

    async def request(self, code: str, body: bytes = b"", timeout: Optional[float] = None) -> Reply:
        """As vesk.Scope.request."""
        return await self._exchange(Call(code, body=bytes(body)), timeout)

    async def _command(self, code: str, fields: Dict[str, Any]) -> Reply:
        return await self._exchange(Call(code, fields))

    async def _exchange(self, step: Call, timeout: Optional[float] = None) -> Reply:
        if self._lock is None:
            self._lock = asyncio.Lock()
        command = CATALOGUE.get(step.code)
        body = step.body
        if body is None:
            if command is None:
                raise ValueError("%r is not in the command catalogue: use request(code, body)" % (step.code,))
            body = padded_body(command, command.encode(step.fields, self.text_encoding, self.strict))
        if timeout is None:
            timeout = self.timeout + (command.service_wait if command else 0.0)
        async with self._lock:
            if self._writer is None:
                await self.open()
            try:
                return await self._exchange_once(step, timeout, step.code, body)
            except ConnectionFailed as failure:
                if not may_retry(step.code, failure):
                    raise
                log.info("retrying %s on a new connection: %s", step.code, failure)
                await self.open()
                return await self._exchange_once(step, timeout, step.code, body)

    async def _exchange_once(self, step: Call, timeout: float, code: str, body: bytes) -> Reply:
        self._sequence += 1
        request = build_request(code, body, self._sequence)
        log.debug("-> %s #%d %s", code, self._sequence, step.fields or body.hex())
        ticker = asyncio.ensure_future(_tick(step, timeout)) if step.progress else None
        try:
            raw = await asyncio.wait_for(self._send_and_receive(request, step), timeout)
        except asyncio.TimeoutError:
            error = timeout_error(step.code, timeout)
            self._watch.broke(error)
            self._drop()
            raise error from None
        except BaseException as failure:
            # Cut short (cancelled, connection lost): its reply may still
            # come, and must never be read as the next request's.
            self._watch.broke(failure)
            self._drop()
            raise
        finally:
            if ticker is not None:
                ticker.cancel()
        return self._watch.accept(request, raw, self.text_encoding, self._sequence, self._drop)

    async def _send_and_receive(self, request: bytes, step: Call) -> bytes:
        reader, writer = self._reader, self._writer
        if reader is None or writer is None:
            raise ConnectionFailed("the connection to %s:%d closed before %s could be sent"
                                   % (self.host, self.port, step.code))
        try:
            writer.write(request)
            await writer.drain()
        except OSError as failure:
            raise ConnectionFailed("sending %s failed: %s" % (step.code, failure)) from None
        try:
            head = await reader.readexactly(HEADER_SIZE)
        except asyncio.IncompleteReadError as short:
            if short.partial.startswith(REFUSED_CONNECTION[:3]):
                raise service_full_error() from None
            raise ConnectionFailed("the connection closed before the %s reply" % step.code) from None
        except OSError as failure:
            raise ConnectionFailed("receiving the %s reply failed: %s" % (step.code, failure)) from None
        try:
            body = await reader.readexactly(reply_length(head) - HEADER_SIZE)
        except (asyncio.IncompleteReadError, OSError):
            raise ConnectionFailed("the connection closed in the middle of the %s reply" % step.code) from None
        return head + body

    async def _steps(self, steps: Generator[Any, Any, Any]) -> Any:
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
                    value = await self._exchange(step, step.timeout)
                elif isinstance(step, Sleep):
                    await asyncio.sleep(step.seconds)
                elif isinstance(step, Report):
                    outcome = step.callback(step.value)
                    if inspect.isawaitable(outcome):
                        await outcome
            except BaseException as failure:  # handed to the steps, which may clean up (stop the stage)
                error = failure


async def _tick(step: Call, limit: float) -> None:
    start = time.monotonic()
    while True:
        await asyncio.sleep(_TICK)
        if step.progress is not None:
            step.progress(Progress(step.code, time.monotonic() - start, limit, None))
