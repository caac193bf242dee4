"""A scripted TCP peer: records what each connection sent and answers from a script."""

from __future__ import annotations

import socket
import threading
from collections.abc import Callable

# Given the bytes received so far on a connection: the bytes to send, or None to wait for more.
Script = Callable[[bytes], "bytes | None"]


class FakeServer:
    def __init__(self, script: Script, close_after_reply: bool = True) -> None:
        self._script = script
        self._close_after_reply = close_after_reply
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self.received: list[bytes] = []  # one entry per connection
        self._threads: list[threading.Thread] = []
        self._stop = threading.Event()
        accept = threading.Thread(target=self._accept, daemon=True)
        accept.start()

    def _accept(self) -> None:
        while not self._stop.is_set():
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            thread = threading.Thread(target=self._serve, args=(connection,), daemon=True)
            self._threads.append(thread)
            thread.start()

    def _serve(self, connection: socket.socket) -> None:
        index = len(self.received)
        self.received.append(b"")
        with connection:
            connection.settimeout(5)
            try:
                while not self._stop.is_set():
                    data = connection.recv(4096)
                    if not data:
                        return
                    self.received[index] += data
                    reply = self._script(self.received[index])
                    if reply is None:
                        continue
                    connection.sendall(reply)
                    if self._close_after_reply:
                        return
            except OSError:
                return

    def close(self) -> None:
        self._stop.set()
        self._listener.close()
        for thread in self._threads:
            thread.join(timeout=5)

    def __enter__(self) -> FakeServer:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
