"""The errors of the vesk package: each outcome of a request that is not a
plain success has its own class, so that none can pass for another."""

from __future__ import annotations

from typing import Any, Tuple


class VeskError(Exception):
    """Base class of every error that the package raises."""


class OutOfRange(VeskError, ValueError):
    """A value outside its wire type or the range that the service checks;
    nothing was sent."""


class NotExact(OutOfRange):
    """From a Scope(strict=True): the service would clamp or snap the value
    to `value` rather than set it as given; nothing was sent."""

    def __init__(self, message: str, value: float) -> None:
        super().__init__(message)
        self.value = value


class BadPath(OutOfRange):
    """An image path that cannot name a file on the instrument's computer
    (a folder, too long, characters Windows or its code page lacks);
    nothing was sent."""


class OutsideStageLimits(OutOfRange):
    """A stage target outside the limits that Scope(instrument=...) gives;
    the instrument would refuse the whole move, and nothing was sent.
    `axis`, `target`, `limits` (low, high)."""

    def __init__(self, axis: str, target: float, limits: Tuple[float, float], relative: bool = False) -> None:
        unit = "degrees" if axis in ("tilt", "rotation") else "mm"
        super().__init__("move_stage: %s would end at %g %s, outside the stage's %g .. %g %s%s; the instrument refuses "
                         "the whole move" % (axis, target, unit, limits[0], limits[1], unit,
                                             " (a relative move, from where the stage stands)" if relative else ""))
        self.axis = axis
        self.target = target
        self.limits = limits


class NotSaved(VeskError):
    """The capture ended, but its file is not where Scope(image_folder=...)
    says the instrument's drive is reached."""


class AdjustmentWarning(UserWarning):
    """The service will clamp or snap a value (Scope(strict=True) raises
    NotExact instead)."""


class ConnectionFailed(VeskError, ConnectionError):
    """The service could not be reached, or the connection broke."""


class ServiceFull(ConnectionFailed):
    """The service answered "SRV ERR": all 20 slots are busy, or this computer
    already holds as many connections as one address may (10 by default)."""


class Timeout(VeskError, TimeoutError):
    """No reply in time. The connection has been closed, so that a late
    reply can never be taken for a later request's; the next call opens a
    new one.

    The command was sent and may still be carried out: the service runs one
    command at a time for all its clients, and a request queued behind a
    long one runs when its turn comes, unless the service drops the waiting
    request of a connection that has closed before then (a service that
    does so will not run it; one already running completes). Read the state
    back before relying on it. `code`, `seconds`, and `sent` (False when
    the request could not even be sent whole)."""

    def __init__(self, message: str, code: str = "", seconds: float = 0.0, sent: bool = True) -> None:
        super().__init__(message)
        self.code = code
        self.seconds = seconds
        self.sent = sent


class ProtocolError(VeskError):
    """A reply that does not answer the request (code, magic, sequence or
    length wrong); the connection has been closed."""


class NotServed(VeskError):
    """The request came back unchanged: the service does not serve this code
    (the extended commands need the EnableFenk registry flag)."""

    def __init__(self, message: str, code: str) -> None:
        super().__init__(message)
        self.code = code


class Refused(VeskError):
    """The service answered with status -1. `reply` still carries the body's
    readings where the command sends them on failure."""

    def __init__(self, message: str, reply: Any) -> None:
        super().__init__(message)
        self.reply = reply


class WaitTimeout(VeskError, TimeoutError):
    """A wait (stage move, capture, gun alignment, ...) did not end within its
    time-out. The connection stays open; `last` is the last reading, and
    `capture` the Capture (not saved) when a save's wait ran out."""

    def __init__(self, message: str, last: Any = None, capture: Any = None) -> None:
        super().__init__(message)
        self.last = last
        self.capture = capture


class NotReady(VeskError):
    """The instrument is not in a state for the request (high voltage while
    the vacuum is not ready), and waiting was not asked for."""
