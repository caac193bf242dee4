"""Service listeners: one registered connection that yields events, blocking or asyncio."""

from __future__ import annotations

import asyncio
import contextlib
from collections import deque
from collections.abc import AsyncIterator, Iterator

from .errors import KRBConnectionError, KRBTimeoutError
from .events import Event, parse_event
from .protocol import LineBuffer, encode
from .transport import Deadline, connect

REGISTRATION = encode("KRBServiceSocket\r")


@contextlib.contextmanager
def _reading(timeout: float | None) -> Iterator[None]:
    """Turns a failed read of the next events into the client's own errors."""
    try:
        yield
    except TimeoutError as error:  # socket and asyncio time-outs alike
        raise KRBTimeoutError(f"no notification within {timeout:g} s") from error
    except OSError as error:
        raise KRBConnectionError(f"listener connection lost: {error}") from error


class Listener:
    """Iterates over the events of one service listener connection.

    `timeout` bounds the wait for each event (None waits for ever). Use it as a context
    manager, or call close(), to end the registration.
    """

    def __init__(self, host: str, port: int, connect_timeout: float, timeout: float | None):
        self._sock = connect(host, port, Deadline(connect_timeout))
        self._timeout = timeout
        self._buffer = LineBuffer()
        self._ready: deque[str] = deque()
        try:
            self._sock.settimeout(connect_timeout)
            self._sock.sendall(REGISTRATION)
        except OSError as error:
            self._sock.close()
            raise KRBConnectionError(f"registration failed: {error}") from error

    def __iter__(self) -> Iterator[Event]:
        return self

    def __next__(self) -> Event:
        while not self._ready:
            self._ready.extend(self._buffer.feed(self._receive()))
        return parse_event(self._ready.popleft())

    def _receive(self) -> bytes:
        self._sock.settimeout(self._timeout)
        with _reading(self._timeout):
            data = self._sock.recv(65536)
        if not data:
            raise StopIteration
        return data

    def close(self) -> None:
        self._sock.close()

    def __enter__(self) -> Listener:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class AsyncListener:
    """The asyncio form of `Listener`: `async with` and `async for`."""

    def __init__(self, host: str, port: int, connect_timeout: float, timeout: float | None):
        self._host, self._port = host, port
        self._connect_timeout = connect_timeout
        self._timeout = timeout
        self._buffer = LineBuffer()
        self._ready: deque[str] = deque()
        self._reader: asyncio.StreamReader | None = None
        self._writer: asyncio.StreamWriter | None = None

    async def open(self) -> AsyncListener:
        try:
            self._reader, self._writer = await asyncio.wait_for(
                asyncio.open_connection(self._host, self._port), self._connect_timeout
            )
            self._writer.write(REGISTRATION)
            await asyncio.wait_for(self._writer.drain(), self._connect_timeout)
        except asyncio.TimeoutError as error:
            raise KRBTimeoutError(f"connecting to {self._host}:{self._port} timed out") from error
        except OSError as error:
            where = f"{self._host}:{self._port}"
            raise KRBConnectionError(f"cannot register at {where}: {error}") from error
        return self

    def __aiter__(self) -> AsyncIterator[Event]:
        return self

    async def __anext__(self) -> Event:
        assert self._reader is not None, "open() the listener first"
        while not self._ready:
            with _reading(self._timeout):
                data = await asyncio.wait_for(self._reader.read(65536), self._timeout)
            if not data:
                raise StopAsyncIteration
            self._ready.extend(self._buffer.feed(data))
        return parse_event(self._ready.popleft())

    async def close(self) -> None:
        if self._writer is not None:
            self._writer.close()
            try:
                await self._writer.wait_closed()
            except OSError:
                pass

    async def __aenter__(self) -> AsyncListener:
        return await self.open()

    async def __aexit__(self, *exc: object) -> None:
        await self.close()
