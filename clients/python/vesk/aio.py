"""vesk.aio.Scope: the same calls as vesk.Scope for asyncio programs.

    async with vesk.aio.Scope("127.0.0.1", 22300) as scope:
        reply = await scope.set_magnification(1000)
        run = await scope.autofocus()

Requests on one Scope are sent one at a time (a lock), so that each reply
meets its own request; use one Scope per concurrent task where the service
should see them as separate clients."""

import asyncio
import functools
import inspect
import time

from . import _operations
from ._catalogue import CATALOGUE
from ._protocol import (HEADER_SIZE, REFUSED_CONNECTION, build_request, check_reply, closed_at_once_error, padded_body,
                        reply_length, service_full_error, timeout_error)
from ._operations import Call, Progress, Report, Sleep
from .errors import ConnectionFailed, ProtocolError

_TICK = 1.0
_REFUSAL_WAIT = 0.05


class Scope:
    """A connection to a VESK service for asyncio; the arguments, methods,
    results and errors are those of vesk.Scope, each method a coroutine.
    The connection opens on `async with`, open(), or the first call, as in
    vesk.Scope; close() is a coroutine."""

    def __init__(self, host="127.0.0.1", port=22300, timeout=10.0, connect_timeout=5.0, image_folder=None,
                 text_encoding="cp932", strict=False):
        self.host = host
        self.port = port
        self.timeout = timeout
        self.connect_timeout = connect_timeout
        self.image_folder = image_folder
        self.text_encoding = text_encoding
        self.strict = strict
        self._reader = None
        self._writer = None
        self._sequence = 0
        self._lock = None

    async def open(self):
        """Connect now, unless connected; returns the Scope."""
        if self._writer is not None:
            return self
        try:
            self._reader, self._writer = await asyncio.wait_for(asyncio.open_connection(self.host, self.port),
                                                                self.connect_timeout)
        except (OSError, asyncio.TimeoutError) as failure:
            raise ConnectionFailed("cannot connect to %s:%d: %s" % (self.host, self.port, failure)) from None
        # A refused client is told so at once and disconnected.
        try:
            said = await asyncio.wait_for(self._reader.read(len(REFUSED_CONNECTION)), _REFUSAL_WAIT)
        except asyncio.TimeoutError:
            return self
        except OSError:
            said = b""
        self._drop()
        raise closed_at_once_error(said, self.host, self.port)

    @property
    def connected(self):
        return self._writer is not None

    async def close(self):
        """Close the connection and wait until it is closed."""
        writer = self._drop()
        if writer is not None:
            try:
                await writer.wait_closed()
            except OSError:
                pass  # the peer had gone: closed all the same

    def _drop(self):
        writer = self._writer
        if writer is not None:
            writer.close()
            self._writer = self._reader = None
        return writer

    async def __aenter__(self):
        return await self.open()

    async def __aexit__(self, *exc):
        await self.close()

    async def call(self, code, **fields):
        """As vesk.Scope.call."""
        return await self._exchange(Call(code, fields))

    async def request(self, code, body=b"", timeout=None):
        """As vesk.Scope.request."""
        return await self._exchange(Call(code, body=bytes(body)), timeout)

    async def _exchange(self, step, timeout=None):
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
            self._sequence += 1
            request = build_request(step.code, body, self._sequence)
            if self._writer is None:
                await self.open()
            ticker = asyncio.ensure_future(_tick(step, timeout)) if step.progress else None
            try:
                raw = await asyncio.wait_for(self._send_and_receive(request, step), timeout)
            except asyncio.TimeoutError:
                self._drop()
                raise timeout_error(step.code, timeout) from None
            except BaseException:
                # Cut short (cancelled, connection lost): its reply may still
                # come, and must never be read as the next request's.
                self._drop()
                raise
            finally:
                if ticker is not None:
                    ticker.cancel()
            try:
                return check_reply(request, raw, self.text_encoding)
            except ProtocolError:
                self._drop()
                raise

    async def _send_and_receive(self, request, step):
        reader = self._reader
        try:
            self._writer.write(request)
            await self._writer.drain()
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

    async def _run(self, steps):
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
                    value = await self._exchange(step, step.timeout)
                elif isinstance(step, Sleep):
                    await asyncio.sleep(step.seconds)
                elif isinstance(step, Report):
                    outcome = step.callback(step.value)
                    if inspect.isawaitable(outcome):
                        await outcome
            except BaseException as failure:  # handed to the steps, which may clean up (stop the stage)
                error = failure


async def _tick(step, limit):
    start = time.monotonic()
    while True:
        await asyncio.sleep(_TICK)
        step.progress(Progress(step.code, time.monotonic() - start, limit, None))


def _coroutine(function):
    @functools.wraps(function)
    async def method(self, *args, **kwargs):
        return await self._run(function(self, *args, **kwargs))

    return method


_operations.install(Scope, _coroutine)
