"""The command catalogue: every command's request and reply layout, loaded
from catalogue.json, which the build exports from the same catalogue that
vesk-client and docs/commands.md use. Encoding and decoding of bodies live
here and nowhere else."""

from __future__ import annotations

import json
import math
import numbers
import os
import re
import struct
from typing import Any, Dict, List, Mapping, Optional, Tuple

from . import _adjust, _paths
from .errors import BadPath, OutOfRange

_FORMATS = {"s16": ">h", "u16": ">H", "s32": ">i", "u32": ">I", "f32": ">f", "bcd16": ">H"}
_INTEGER_LIMITS = {
    "s16": (-32768, 32767),
    "u16": (0, 65535),
    "s32": (-(2 ** 31), 2 ** 31 - 1),
    "u32": (0, 2 ** 32 - 1),
    "bcd16": (0, 65535),
}


def snake(name: str) -> str:
    """acceleratingVoltage -> accelerating_voltage; item12 -> item12."""
    return re.sub(r"(?<=[a-z0-9])([A-Z])", r"_\1", name).lower()


class Field:
    """One field of a body, as the catalogue describes it."""

    __slots__ = ("name", "offset", "type", "width", "unit", "range", "variable", "meaning", "python_name")

    def __init__(self, data: Dict[str, Any]) -> None:
        self.name: str = data["name"]
        self.offset: int = data["offset"]
        self.type: str = data["type"]
        self.width: int = data["width"]
        self.unit: str = data["unit"]
        self.range: Optional[Tuple[float, float]] = (data["range"][0], data["range"][1]) if data.get("range") else None
        self.variable: bool = data.get("variable", False)
        self.meaning: str = data["meaning"]
        # The unit joins the name, so that a value never travels without it:
        # accelerating_voltage_kv, working_distance_mm.
        self.python_name = snake(self.name) + ("_" + self.unit.lower() if self.unit else "")

    def describe(self) -> str:
        text = "%s (%s%s)" % (self.python_name, self.type, ", " + self.unit if self.unit else "")
        if self.range:
            text += ", %s .. %s" % (_number(self.range[0]), _number(self.range[1]))
        if self.meaning:
            text += ": " + self.meaning
        return text


def _number(value: float) -> str:
    return str(int(value)) if float(value).is_integer() else str(value)


def _shortest_float32(value: float) -> float:
    """The shortest decimal that is the same single-precision value: 10.3,
    not 10.300000190734863."""
    if not math.isfinite(value):
        return value
    packed = struct.pack(">f", value)
    for digits in range(6, 10):
        candidate = float("%.*g" % (digits, value))
        if struct.pack(">f", candidate) == packed:
            return candidate
    return value


class Command:
    """One command: code, table, layouts, status rules, service wait."""

    def __init__(self, data: Dict[str, Any], max_body: int) -> None:
        self.max_body = max_body
        self.code: str = data["code"]
        self.table: str = data["table"]
        self.entry: int = data["entry"]
        self.summary: str = data["summary"]
        self.request_size: int = data["requestSize"]
        self.request = [Field(f) for f in data["request"]]
        self.reply_size: int = data["replySize"]
        self.reply = [Field(f) for f in data["reply"]]
        self.success_status: Optional[int] = data["successStatus"]
        self.failure_body: str = data["failureBody"]
        self.failure_note: str = data["failureNote"]
        self.service_wait: float = data["serviceWaitMs"] / 1000.0
        self.note: str = data["note"]
        self.extended = self.table == "extended"

    def request_field(self, name: str) -> Optional[Field]:
        """The request field by its wire name or its Python name, or None."""
        for field in self.request:
            if name in (field.name, field.python_name):
                return field
        return None

    def encode(self, values: Mapping[str, Any], text_encoding: str = "cp932", strict: bool = False) -> bytes:
        """The request body for {field: value} (wire or Python names); every
        field must be given. Numbers are any numbers.Integral or
        numbers.Real (NumPy's too). Values outside their type or the range
        that the service checks, NaN and infinities raise OutOfRange naming
        the field; a value that the service would clamp or snap warns
        (AdjustmentWarning), or with strict raises NotExact; nothing is sent."""
        given: Dict[str, Any] = {}
        for name, value in values.items():
            field = self.request_field(name)
            if field is None:
                raise TypeError("%s has no request field %r (its fields: %s)"
                                % (self.code, name, ", ".join(f.python_name for f in self.request) or "none"))
            if field.name in given:
                raise TypeError("%s: %s given twice" % (self.code, field.python_name))
            given[field.name] = value
        missing = [f.python_name for f in self.request if f.name not in given]
        if missing:
            raise TypeError("%s needs %s" % (self.code, ", ".join(missing)))
        body = bytearray(self.request_size)
        for field in self.request:
            data = _encode_field(self.code, field, given[field.name], text_encoding, self.max_body, strict)
            end = field.offset + len(data)
            if len(body) < end:
                body.extend(bytes(end - len(body)))
            body[field.offset:end] = data
        return bytes(body)

    def decode(self, body: bytes, text_encoding: str = "cp932") -> Dict[str, Any]:
        """{wire name: value} for every reply field that the body holds."""
        values: Dict[str, Any] = {}
        for field in self.reply:
            if field.type == "text":
                if field.offset < len(body):
                    raw = body[field.offset:field.offset + field.width] if not field.variable else body[field.offset:]
                    values[field.name] = raw.split(b"\0", 1)[0].decode(text_encoding, "replace")
                continue
            if field.offset + field.width > len(body):
                continue
            value = struct.unpack_from(_FORMATS[field.type], body, field.offset)[0]
            if field.type == "f32":
                value = _shortest_float32(value)
            elif field.type == "bcd16":
                value = "%04X" % value
            values[field.name] = value
        return values

    def signature_text(self) -> str:
        return ", ".join(f.python_name for f in self.request)


def _encode_field(code: str, field: Field, value: Any, text_encoding: str, max_body: int, strict: bool = False) -> bytes:
    what = "%s %s" % (code, field.python_name)
    if field.type == "text":
        if isinstance(value, (bytes, bytearray)):
            data = bytes(value)
        else:
            data = _encode_text(what, str(value), text_encoding, field.name == "path")
        if b"\0" in data:
            raise OutOfRange("%s: the text holds a NUL" % what)
        room = field.width if not field.variable else max_body - field.offset
        if len(data) + 1 > room:
            raise OutOfRange("%s: the text takes %d bytes with its NUL; at most %d fit" % (what, len(data) + 1, room))
        if field.name == "path":
            _paths.check_image_path(what, value, text_encoding)
        data = bytes(data) + b"\0"
        return data + bytes(field.width - len(data)) if not field.variable else data
    # NumPy's numbers register as numbers.Integral and numbers.Real; its
    # bool_ registers as neither, like bool here.
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a number, not %s %r" % (what, type(value).__name__, value))
    given = value
    value = int(value) if isinstance(value, numbers.Integral) else float(value)
    if isinstance(value, float) and not math.isfinite(value):
        raise OutOfRange("%s=%r is not a finite number" % (what, given))
    if field.type == "f32":
        value = float(value)
        try:
            packed = struct.pack(">f", value)
        except OverflowError:
            raise OutOfRange("%s=%r does not fit a single-precision float" % (what, given)) from None
    else:
        if isinstance(value, float):
            if not value.is_integer():
                raise TypeError("%s must be a whole number, not %r" % (what, given))
            value = int(value)
        low, high = _INTEGER_LIMITS[field.type]
        if not low <= value <= high:
            raise OutOfRange("%s=%r does not fit %s (%d .. %d)" % (what, value, field.type, low, high))
        packed = struct.pack(_FORMATS[field.type], value)
    if field.range and not field.range[0] <= value <= field.range[1]:
        raise OutOfRange("%s=%r is outside %s .. %s%s, which the service refuses"
                         % (what, value, _number(field.range[0]), _number(field.range[1]),
                            " " + field.unit if field.unit else ""))
    _adjust.check(code, field, what, value, strict)
    return packed


def _encode_text(what: str, text: str, text_encoding: str, path: bool = False) -> bytes:
    try:
        return text.encode(text_encoding)
    except UnicodeEncodeError as failure:
        raise (BadPath if path else OutOfRange)("%s: %r cannot be written in the instrument computer's code page (%s): %r is not in it"
                         % (what, text, text_encoding, failure.object[failure.start:failure.end])) from None


class Catalogue:
    def __init__(self, data: Dict[str, Any]) -> None:
        self.header_size: int = data["headerSize"]
        self.max_message_size: int = data["maxMessageSize"]
        self.commands = [Command(c, self.max_message_size - self.header_size) for c in data["commands"]]
        self._by_code = {c.code: c for c in self.commands}

    def get(self, code: str) -> Optional[Command]:
        return self._by_code.get(code)

    def get_command(self, code: str) -> Command:
        """The command of `code`; KeyError for one outside the catalogue."""
        return self._by_code[code]

    def waiting_commands(self) -> List[Command]:
        """Commands that hold the service for a second or more before replying."""
        return [c for c in self.commands if c.service_wait >= 1.0]


def load() -> Catalogue:
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "catalogue.json")
    with open(path, encoding="ascii") as stream:
        return Catalogue(json.load(stream))


CATALOGUE = load()
