"""Framing and reply checks, shared by the blocking and the asyncio client."""

from __future__ import annotations

import struct
from typing import Union

from ._catalogue import CATALOGUE, Command
from ._reply import Reply
from .replies import REPLY_TYPES
from .errors import ConnectionFailed, NotServed, ProtocolError, Refused, ServiceFull, Timeout

HEADER = struct.Struct(">H4s4sh4s")  # length, magic, code, status, reserved
HEADER_SIZE = CATALOGUE.header_size
MAX_MESSAGE = CATALOGUE.max_message_size
REPLY_MAGIC = b"BS!a"
REFUSED_CONNECTION = b"SRV ERR\r\n"


def code_bytes(code: Union[str, bytes]) -> bytes:
    data = code.encode("ascii") if isinstance(code, str) else bytes(code)
    if len(data) != 4:
        raise ValueError("a command code has four characters, not %r" % (code,))
    return data


def build_request(code: Union[str, bytes], body: bytes, sequence: int) -> bytes:
    """The request; `sequence` travels in the reserved bytes, which the
    service sends back, so that every reply names the request it answers."""
    if HEADER_SIZE + len(body) > MAX_MESSAGE:
        raise ValueError("a request body holds at most %d bytes" % (MAX_MESSAGE - HEADER_SIZE))
    reserved = struct.pack(">I", sequence & 0xFFFFFFFF)
    return HEADER.pack(HEADER_SIZE + len(body), b"\0\0\0\0", code_bytes(code), 0, reserved) + bytes(body)


def reply_length(head: bytes) -> int:
    """The whole reply's length from its header; ProtocolError when it
    cannot be one."""
    length: int = struct.unpack_from(">H", head)[0]
    if not HEADER_SIZE <= length <= MAX_MESSAGE:
        raise ProtocolError("reply with an impossible length %d" % length)
    return length


def check_reply(request: bytes, raw: bytes, text_encoding: str) -> Reply:
    """The Reply for `raw`, which answers `request`, or the error it means.
    ProtocolError means that the connection must be closed."""
    _, magic, code, status, reserved = HEADER.unpack_from(raw)
    _, _, sent_code, _, sent_reserved = HEADER.unpack_from(request)
    name = sent_code.decode("ascii", "replace")
    if code != sent_code or reserved != sent_reserved:
        raise ProtocolError("the reply (%r) does not answer this %s request" % (code, name))
    command = CATALOGUE.get(name)
    if magic != REPLY_MAGIC:
        if raw == request:
            extended = command is not None and command.extended
            raise NotServed("%s was not served: the request came back unchanged%s"
                            % (name, " (an extended command: the service serves it only while its EnableFenk "
                                     "registry flag is 1)" if extended else ""), name)
        raise ProtocolError("%s reply without the BS!a magic" % name)
    body = raw[HEADER_SIZE:]
    if command is None:
        return Reply(None, name, status, body, raw, {})
    if len(body) != command.reply_size:
        raise ProtocolError("%s reply of %d body bytes, where the command has %d"
                            % (name, len(body), command.reply_size))
    failed = status == -1
    readings = not (failed and command.failure_body in ("not written", "no body"))
    fields = command.decode(body, text_encoding) if readings else {}
    reply = REPLY_TYPES.get(name, Reply)(command, name, status, body, raw, fields)
    if failed:
        raise Refused("%s refused: %s" % (name, command.failure_note), reply)
    return reply


def timeout_message(code: str, seconds: float, sent: bool = True) -> str:
    waiting = ", ".join("%s up to about %d s" % (c.code, round(c.service_wait)) for c in CATALOGUE.waiting_commands())
    if not sent:
        return ("%s could not be sent within %.1f s; the connection has been closed. The service may have received "
                "part of it, never all of it." % (code, seconds))
    return ("no reply to %s within %.1f s; the connection has been closed. The command was sent and may still be "
            "carried out: the service carries out one command at a time for all its clients, so it may queue "
            "behind another client's waiting command (%s), and it runs when its turn comes unless the service "
            "drops the waiting requests of closed connections (one already running completes). Read the state "
            "back before relying on it; give Scope(timeout=...) more time if such waits are expected."
            % (code, seconds, waiting))


def service_full_error() -> ServiceFull:
    return ServiceFull("the service already serves 20 clients, or as many from this computer as it allows (SRV ERR)")


def closed_at_once_error(said: bytes, host: str, port: int) -> ConnectionFailed:
    """What a connection that the service ended before any request means:
    the refusal text when all its slots are taken, else most likely an
    address outside its allow-list."""
    if said.startswith(REFUSED_CONNECTION.rstrip()):
        return service_full_error()
    return ConnectionFailed("%s:%d closed the connection at once (is this computer on its allow-list?)" % (host, port))


def timeout_error(code: str, seconds: float, sent: bool = True) -> Timeout:
    return Timeout(timeout_message(code, seconds, sent), code, seconds, sent)


def padded_body(command: Command, body: bytes) -> bytes:
    """Commands whose body the service may leave unwritten are sent padded
    to their reply's size with zeros, so that such a body can only ever hold
    zeros, never an earlier reply's bytes."""
    if command.failure_body == "not written" and len(body) < command.reply_size:
        return body + bytes(command.reply_size - len(body))
    return body
