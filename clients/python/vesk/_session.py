"""What both clients keep of a session beyond one request: the logger, the
instrument's last known state, and what a reconnect found."""

from __future__ import annotations

import dataclasses
import logging
from typing import Any, Callable, Dict, List, Optional, Tuple

from ._catalogue import CATALOGUE
from ._protocol import check_reply
from ._reply import Reply
from .errors import ConnectionFailed, ProtocolError, ServiceFull, VeskError

log = logging.getLogger("vesk")

# Read on every reconnect, to notice an instrument that restarted meanwhile.
SNAPSHOT = ("FXSR", "EXSR", "WSTR")
# What is compared: (reply field, name shown).
_WATCHED = (("ht_state", "ht_state"), ("accelerating_voltage_kv", "accelerating_voltage_kv"),
            ("magnification", "magnification"), ("position1", "stage x"), ("position2", "stage y"),
            ("position3", "stage z"), ("position4", "stage tilt"), ("position5", "stage rotation"))
# Commands that only read: sent again once when the connection broke under them.
READS = frozenset(c.code for c in CATALOGUE.commands if c.summary.startswith("read"))


@dataclasses.dataclass
class Reconnect:
    """What a reconnect found: `count` (1 for the first reconnect),
    `changed` {name: (before, after)} of the readings that differ from the
    last ones this client saw (high voltage, accelerating voltage,
    magnification, stage axes), and `cause`, the error that broke the
    connection before. A changed high voltage or stage after a break most
    often means that the instrument or the service restarted."""

    count: int
    changed: Dict[str, Tuple[Any, Any]]
    cause: Optional[str] = None

    @property
    def instrument_changed(self) -> bool:
        return bool(self.changed)

    def describe(self) -> str:
        if not self.changed:
            return "reconnected (%d); the instrument reads as before" % self.count
        return ("reconnected (%d); the instrument changed while this client was away (it may have restarted): %s"
                % (self.count, ", ".join("%s %s -> %s" % (name, _shown(a), _shown(b))
                                         for name, (a, b) in self.changed.items())))


def _shown(value: Any) -> str:
    return str(value.name) if hasattr(value, "name") else repr(value)


ReconnectCallback = Callable[[Reconnect], Any]


class Watch:
    """The last readings seen, and the reconnect bookkeeping."""

    def __init__(self) -> None:
        self.known: Dict[str, Any] = {}
        self.connections = 0
        self.reconnects = 0
        self.cause: Optional[str] = None
        self.last_reconnect: Optional[Reconnect] = None

    def note(self, reply: Reply) -> None:
        values = reply.as_dict()
        for field, name in _WATCHED:
            if field in values and (field.startswith("position") == (reply.code == "WSTR")):
                self.known[name] = values[field]

    def broke(self, failure: BaseException) -> None:
        self.cause = "%s: %s" % (type(failure).__name__, failure)

    def accept(self, request: bytes, raw: bytes, text_encoding: str, sequence: int,
               drop: Callable[[], Any]) -> Reply:
        """The checked reply to `request`. A reply that does not answer it
        leaves the stream out of step: the connection is dropped (`drop`)."""
        try:
            reply = check_reply(request, raw, text_encoding)
        except ProtocolError as failure:
            self.broke(failure)
            drop()
            raise
        except VeskError as failure:
            log.debug("<- %s #%d %s", request[6:10].decode("ascii", "replace"), sequence, failure)
            raise
        log.debug("<- %r", reply)
        self.note(reply)
        return reply

    def compare(self, before: Dict[str, Any], snapshot: List[Reply]) -> Reconnect:
        """The Reconnect for the readings known `before` against those of the
        new connection's `snapshot`."""
        for reply in snapshot:
            self.note(reply)
        changed = {name: (value, self.known[name]) for name, value in before.items()
                   if name in self.known and self.known[name] != value}
        self.reconnects += 1
        self.last_reconnect = Reconnect(self.reconnects, changed, self.cause)
        self.cause = None
        if changed:
            log.warning("%s", self.last_reconnect.describe())
        else:
            log.info("%s", self.last_reconnect.describe())
        return self.last_reconnect


def may_retry(code: str, failure: BaseException) -> bool:
    """A read whose connection broke (not a refusal, not a time-out) is sent
    again once on a new connection: it changes nothing."""
    return code in READS and isinstance(failure, ConnectionFailed) and not isinstance(failure, ServiceFull)
