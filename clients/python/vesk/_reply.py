"""The base of every reply class (vesk.replies holds one per command,
generated from the catalogue)."""

from __future__ import annotations

import enum
from typing import TYPE_CHECKING, Any, ClassVar, Dict, Mapping, Optional, Type

if TYPE_CHECKING:
    from ._catalogue import Command


def coded(kind: Type[enum.IntEnum], value: int) -> int:
    """The member for value, or the plain number where the instrument sends
    one that the catalogue names no meaning for."""
    try:
        return kind(value)
    except ValueError:
        return value


class Reply:
    """A decoded reply. Fields read as attributes by their Python names, the
    unit joined to the name (reply.magnification, reply.accelerating_voltage_kv),
    coded fields as enums (reply.ht_state is HtState.ON), or by index with
    either name (reply["acceleratingVoltage"]). `fields` holds the values as
    received by wire name, `units` their units, `raw` the bytes as received,
    `status` the header's status (`failed` when -1).

    vesk.replies has one subclass per command, whose docstring says what
    each field means."""

    code: str
    status: int
    body: bytes
    raw: bytes
    fields: Dict[str, Any]
    units: Dict[str, str]
    command: Optional[Command]
    _enums: ClassVar[Mapping[str, Type[enum.IntEnum]]] = {}

    def __init__(self, command: Optional[Command], code: str, status: int, body: bytes, raw: bytes,
                 fields: Dict[str, Any]) -> None:
        self.command = command
        self.code = code
        self.status = status
        self.body = body
        self.raw = raw
        self.fields = fields
        self.units = {}
        names: Dict[str, str] = {}
        for field in command.reply if command is not None else ():
            names[field.python_name] = field.name
            if field.name in fields:
                value = fields[field.name]
                kind = self._enums.get(field.python_name)
                self.__dict__[field.python_name] = coded(kind, value) if kind is not None else value
                if field.unit:
                    self.units[field.name] = field.unit
        self._names = names

    @property
    def failed(self) -> bool:
        return self.status == -1

    def __getattr__(self, name: str) -> Any:
        names = self.__dict__.get("_names", {})
        if name in names:
            note = self.command.failure_note if self.command is not None else ""
            raise AttributeError("%s reply carries no %s (failed: %s)" % (self.code, name, note))
        raise AttributeError("%s reply has no field %r (its fields: %s)" % (self.code, name, ", ".join(names) or "none"))

    def __getitem__(self, name: str) -> Any:
        for python, wire in self._names.items():
            if name == wire:
                return getattr(self, python)
        return getattr(self, name)

    def __dir__(self) -> Any:
        return list(super().__dir__()) + list(self._names)

    def as_dict(self) -> Dict[str, Any]:
        """{python name: value} of the fields that the reply carries."""
        return {python: self.__dict__[python] for python in self._names if python in self.__dict__}

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Reply) and (self.code, self.status, self.raw) == (other.code, other.status, other.raw)

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        shown = ", ".join("%s=%s" % (name, _shown(value)) for name, value in self.as_dict().items())
        if self.failed:
            state = "refused (status -1)" + (": " if shown else "")
        else:
            state = ""
        return "%s(%s%s)" % (type(self).__name__, state, shown)


def _shown(value: Any) -> str:
    if isinstance(value, enum.Enum):
        return "%s.%s" % (type(value).__name__, value.name)
    return repr(value)
