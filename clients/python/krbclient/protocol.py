"""The wire forms of the command protocol, as pure functions over text and bytes."""

from __future__ import annotations

import re
from collections.abc import Sequence

from .errors import ERROR_REPLIES, ProtocolError

ENCODING = "utf-8"
# Replies are 8-bit text; undecodable bytes survive a round trip instead of being replaced.
ENCODING_ERRORS = "surrogateescape"
CR = "\r"
LINE_END = b"\r\n"
# The longest reply or notification line we accept; no legitimate one comes near it.
MAX_LINE = 64 * 1024

_DECIMAL = re.compile(r"[+-]?[0-9]+")


def encode(text: str) -> bytes:
    return text.encode(ENCODING, ENCODING_ERRORS)


def decode(data: bytes) -> str:
    return data.decode(ENCODING, ENCODING_ERRORS)


def check_field(value: str, what: str, *, last: bool = False) -> str:
    """Refuses text that would split the command or end it early.

    The server cuts arguments at "," and the argument list at the first ")"; the last
    argument of a row keeps its commas. A CR or LF would end the command inside one send.
    """
    forbidden = ")\r\n" if last else ",)\r\n"
    bad = sorted({c for c in value if c in forbidden})
    if bad:
        raise ValueError(f"{what} {value!r} must not contain {' '.join(map(repr, bad))}")
    return value


def unit_command(name: str, unit: str, arguments: Sequence[str] = ()) -> bytes:
    """The text of one unit command: name(unit,arg,...) and its CR, as one send."""
    check_field(unit, "unit ID")
    for i, argument in enumerate(arguments):
        check_field(argument, f"argument {i + 1} of {name}", last=i == len(arguments) - 1)
    return encode(name + "(" + ",".join([unit, *arguments]) + ")" + CR)


def update_command(name: str, unit: str, number: int, value: str) -> bytes:
    """name(unit,number,value) and CR: the plate and slot update commands."""
    check_field(unit, "unit ID")
    check_field(value, f"value of {name}", last=True)
    return encode(f"{name}({unit},{number},{value}){CR}")


def flag(on: bool) -> str:
    return "1" if on else "0"


def parse_decimal(text: str, what: str = "reply") -> int:
    """A decimal number as the server writes it: optional sign, digits, nothing else."""
    if not _DECIMAL.fullmatch(text):
        raise ProtocolError(f"{what} is not a decimal number", text)
    return int(text)


def raise_for_error(command: str, reply: str) -> None:
    error = ERROR_REPLIES.get(reply)
    if error is not None:
        raise error(command, reply_meaning(reply))


def reply_meaning(reply: str) -> str:
    return {
        "E1": "unknown command or argument not accepted",
        "E2": "no unit has this ID",
        "E3": "the command failed while it ran",
    }[reply]


class LineBuffer:
    """Collects received bytes and hands out complete CR LF lines, bounded in length."""

    def __init__(self, max_line: int = MAX_LINE) -> None:
        self._pending = b""
        self._max_line = max_line

    def feed(self, data: bytes) -> list[str]:
        self._pending += data
        *lines, self._pending = self._pending.split(LINE_END)
        if len(self._pending) > self._max_line or any(len(x) > self._max_line for x in lines):
            raise ProtocolError(f"line longer than {self._max_line} bytes")
        return [decode(line) for line in lines]

    @property
    def pending(self) -> bytes:
        return self._pending
