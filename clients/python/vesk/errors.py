"""The errors of the vesk package: each outcome of a request that is not a
plain success has its own class, so that none can pass for another."""


class VeskError(Exception):
    """Base class of every error that the package raises."""


class OutOfRange(VeskError, ValueError):
    """A value outside its wire type or the range that the service checks;
    nothing was sent."""


class NotExact(OutOfRange):
    """From a Scope(strict=True): the service would clamp or snap the value
    to `value` rather than set it as given; nothing was sent."""

    def __init__(self, message, value):
        super().__init__(message)
        self.value = value


class AdjustmentWarning(UserWarning):
    """The service will clamp or snap a value (Scope(strict=True) raises
    NotExact instead)."""


class ConnectionFailed(VeskError, ConnectionError):
    """The service could not be reached, or the connection broke."""


class ServiceFull(ConnectionFailed):
    """The service already serves 20 clients and answered "SRV ERR"."""


class Timeout(VeskError, TimeoutError):
    """No reply in time. The connection has been closed, so that a late
    reply can never be taken for a later request's; the next call opens a
    new one."""


class ProtocolError(VeskError):
    """A reply that does not answer the request (code, magic, sequence or
    length wrong); the connection has been closed."""


class NotServed(VeskError):
    """The request came back unchanged: the service does not serve this code
    (the extended commands need the EnableFenk registry flag)."""

    def __init__(self, message, code):
        super().__init__(message)
        self.code = code


class Refused(VeskError):
    """The service answered with status -1. `reply` still carries the body's
    readings where the command sends them on failure."""

    def __init__(self, message, reply):
        super().__init__(message)
        self.reply = reply


class WaitTimeout(VeskError, TimeoutError):
    """A wait (stage move, capture, gun alignment, ...) did not end within its
    time-out. The connection stays open; `last` is the last reading."""

    def __init__(self, message, last=None):
        super().__init__(message)
        self.last = last


class NotReady(VeskError):
    """The instrument is not in a state for the request (high voltage while
    the vacuum is not ready), and waiting was not asked for."""
