"""One TCP exchange per command: connect, one send, read the reply, close.

The server reads one command per receive event and keeps no state per connection, so a
fresh connection per command keeps replies from mixing and a command from being split.
"""

from __future__ import annotations

import socket
import time

from .errors import KRBConnectionError, KRBTimeoutError, ProtocolError
from .protocol import LineBuffer

# Views of a large lab run to a few hundred kilobytes; this bounds a misbehaving peer.
MAX_DOCUMENT = 64 * 1024 * 1024


class Deadline:
    def __init__(self, timeout: float) -> None:
        self._end = time.monotonic() + timeout
        self.timeout = timeout

    def remaining(self) -> float:
        left = self._end - time.monotonic()
        if left <= 0:
            raise KRBTimeoutError(f"no reply within {self.timeout:g} s")
        return left


def connect(host: str, port: int, deadline: Deadline) -> socket.socket:
    try:
        return socket.create_connection((host, port), timeout=deadline.remaining())
    except socket.timeout as error:
        raise KRBTimeoutError(f"connecting to {host}:{port} timed out") from error
    except OSError as error:
        raise KRBConnectionError(f"cannot connect to {host}:{port}: {error}") from error


def _receive(sock: socket.socket, deadline: Deadline) -> bytes:
    sock.settimeout(deadline.remaining())
    try:
        return sock.recv(65536)
    except socket.timeout as error:
        raise KRBTimeoutError(f"no reply within {deadline.timeout:g} s") from error
    except OSError as error:
        raise KRBConnectionError(f"connection lost: {error}") from error


def _send(sock: socket.socket, data: bytes, deadline: Deadline) -> None:
    sock.settimeout(deadline.remaining())
    try:
        sock.sendall(data)
    except socket.timeout as error:
        raise KRBTimeoutError("sending timed out") from error
    except OSError as error:
        raise KRBConnectionError(f"sending failed: {error}") from error


def exchange_lines(
    host: str, port: int, command: bytes, timeout: float, wanted: "LineWanted"
) -> list[str]:
    """Sends the command and reads CR LF lines until `wanted` says the reply is complete."""
    deadline = Deadline(timeout)
    with connect(host, port, deadline) as sock:
        _send(sock, command, deadline)
        buffer = LineBuffer()
        lines: list[str] = []
        while not wanted(lines):
            data = _receive(sock, deadline)
            if not data:
                raise KRBConnectionError("the server closed the connection before replying")
            lines += buffer.feed(data)
        return lines


def exchange_document(host: str, port: int, request: bytes, timeout: float) -> bytes:
    """Sends the request and reads until the server closes the connection."""
    deadline = Deadline(timeout)
    with connect(host, port, deadline) as sock:
        _send(sock, request, deadline)
        chunks: list[bytes] = []
        size = 0
        while data := _receive(sock, deadline):
            size += len(data)
            if size > MAX_DOCUMENT:
                raise ProtocolError(f"document larger than {MAX_DOCUMENT} bytes")
            chunks.append(data)
        return b"".join(chunks)


class LineWanted:
    """How many reply lines complete a command's reply."""

    def __init__(self, count: int, stop_early: frozenset[str] = frozenset()) -> None:
        self._count = count
        self._stop_early = stop_early

    def __call__(self, lines: list[str]) -> bool:
        if lines and lines[0] in self._stop_early:
            return True
        return len(lines) >= self._count
