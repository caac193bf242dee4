"""Exceptions raised by the client."""

from __future__ import annotations


class KRBError(Exception):
    """Base class of every error the client raises."""


class CommandError(KRBError):
    """The server answered a unit command with one of its error replies."""

    reply = ""

    def __init__(self, command: str, detail: str) -> None:
        super().__init__(f"{command}: {self.reply} ({detail})")
        self.command = command


class CommandRejectedError(CommandError):
    """"E1": the server knows no such command, or an argument is not one it accepts."""

    reply = "E1"


class UnknownUnitError(CommandError):
    """"E2": no unit has the given unit ID."""

    reply = "E2"


class CommandFailedError(CommandError):
    """"E3": the command failed while it ran (for example a number out of range)."""

    reply = "E3"


class KRBTimeoutError(KRBError, TimeoutError):
    """No complete reply came within the client's time-out."""


class KRBConnectionError(KRBError, ConnectionError):
    """The server could not be reached, or closed the connection before replying."""


class ProtocolError(KRBError):
    """A reply or document that does not have the form its command gives."""

    def __init__(self, message: str, reply: str | bytes = "") -> None:
        super().__init__(message if not reply else f"{message}: {reply!r}")
        self.reply = reply


ERROR_REPLIES: dict[str, type[CommandError]] = {
    "E1": CommandRejectedError,
    "E2": UnknownUnitError,
    "E3": CommandFailedError,
}
