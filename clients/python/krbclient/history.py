"""The audit trail as the dashboard's port serves it (`GET /history`): a plate's journey, or
the commands of a unit or a client in a time window."""

from __future__ import annotations

import json
import socket
import urllib.error
import urllib.parse
import urllib.request
from dataclasses import dataclass
from datetime import datetime, timezone
from typing import Any

from .errors import KRBConnectionError, KRBError, KRBTimeoutError, ProtocolError


class HistoryUnavailableError(KRBError):
    """The server's audit trail is off, or its store cannot be read (HTTP 503)."""


@dataclass(frozen=True)
class RecordState:
    present: bool
    barcode: str
    name: str


@dataclass(frozen=True)
class RecordChange:
    """A contents record that changed: where, from what to what, and why ("move", ...)."""

    slot_no: int
    cassette: int
    level: int
    before: RecordState
    after: RecordState
    cause: str


@dataclass(frozen=True)
class HistoryEntry:
    """One line of the trail, oldest first. A record change carries the fields of the command
    that caused it, when one did; a command alone has no `change`."""

    time: datetime
    server: str
    interface: str
    client: str
    unit: str
    command: str
    arguments: str
    reply: str
    duration_us: int
    change: RecordChange | None


def _utc_text(when: datetime | str) -> str:
    if isinstance(when, str):
        return when
    # A naive time is the caller's local time, as datetime.now() gives it.
    return when.astimezone(timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"


def history_query(**parameters: Any) -> str:
    """The query string of the given parameters; None leaves one out."""
    pairs = []
    for name, value in parameters.items():
        if value is None:
            continue
        if name in ("since", "until"):
            value = _utc_text(value)
        pairs.append((name, str(value)))
    return urllib.parse.urlencode(pairs, quote_via=urllib.parse.quote)


def _parse_time(text: str) -> datetime:
    return datetime.fromisoformat(text.replace("Z", "+00:00"))


def _state(data: dict[str, Any]) -> RecordState:
    return RecordState(bool(data["present"]), str(data["barcode"]), str(data["name"]))


def _change(data: dict[str, Any] | None) -> RecordChange | None:
    if data is None:
        return None
    return RecordChange(int(data["slotNo"]), int(data["cassette"]), int(data["level"]),
                        _state(data["before"]), _state(data["after"]), str(data["cause"]))


def parse_history(document: bytes | str) -> list[HistoryEntry]:
    """The entries of a `GET /history` answer."""
    try:
        entries = json.loads(document)["entries"]
        return [HistoryEntry(_parse_time(e["time"]), e["server"], e["interface"], e["client"],
                             e["unit"], e["command"], e["arguments"], e["reply"],
                             int(e["durationUs"]), _change(e["change"])) for e in entries]
    except (ValueError, KeyError, TypeError) as error:
        raise ProtocolError(f"not a history answer ({error})",
                            document if isinstance(document, str) else document[:200]) from error


def fetch_history(host: str, port: int, query: str, timeout: float) -> list[HistoryEntry]:
    """Asks the dashboard's port. A parameter the server refuses raises ValueError with its
    reason; a trail that is off or unreadable raises HistoryUnavailableError."""
    url = f"http://{host}:{port}/history" + (f"?{query}" if query else "")
    try:
        with urllib.request.urlopen(url, timeout=timeout) as answer:
            return parse_history(answer.read())
    except urllib.error.HTTPError as error:
        reason = error.read().decode("utf-8", "replace").strip()
        if error.code == 400:
            raise ValueError(reason) from None
        if error.code == 503:
            raise HistoryUnavailableError(reason) from None
        raise ProtocolError(f"GET /history answered {error.code}", reason) from None
    except (socket.timeout, TimeoutError) as error:
        raise KRBTimeoutError(f"no history answer within {timeout:g} s") from error
    except urllib.error.URLError as error:
        if isinstance(error.reason, (socket.timeout, TimeoutError)):
            raise KRBTimeoutError(f"no history answer within {timeout:g} s") from error
        raise KRBConnectionError(f"cannot reach the dashboard at {host}:{port}: {error.reason}") \
            from error
