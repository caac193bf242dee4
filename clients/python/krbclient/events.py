"""Service notifications: typed events parsed from the listener's lines."""

from __future__ import annotations

import enum
import re
from dataclasses import dataclass


class EventKind(enum.Enum):
    BUSY = "busy"
    IDLE = "idle"
    ACTIVATED = "activated"
    DEACTIVATED = "deactivated"
    DOOR_OPENED = "door opened"
    DOOR_CLOSED = "door closed"
    ERROR = "error"  # code 0: the unit left its error state
    UNKNOWN = "unknown"  # a line of no known form; kept, never dropped


@dataclass(frozen=True)
class Event:
    kind: EventKind
    unit: str | None
    line: str
    code: int | None = None

    @property
    def error_cleared(self) -> bool:
        return self.kind is EventKind.ERROR and self.code == 0


_NAMES = {
    "I_DeviceBisy": EventKind.BUSY,
    "I_DeviceNotBisy": EventKind.IDLE,
    "I_DeviceActivated": EventKind.ACTIVATED,
    # The poll writes "DeActivated", a registration's snapshot "Deactivated".
    "I_DeviceDeActivated": EventKind.DEACTIVATED,
    "I_DeviceDeactivated": EventKind.DEACTIVATED,
    "I_DoorOpened": EventKind.DOOR_OPENED,
    "I_DoorClosed": EventKind.DOOR_CLOSED,
}
_LINE = re.compile(r"(I_[A-Za-z]+|I_E#[0-9]+)\((.*)\)")


def parse_event(line: str) -> Event:
    """One notification line (without its CR LF) as an event; unknown forms give UNKNOWN."""
    match = _LINE.fullmatch(line)
    if not match:
        return Event(EventKind.UNKNOWN, None, line)
    name, unit = match.groups()
    if name.startswith("I_E#"):
        return Event(EventKind.ERROR, unit, line, int(name[4:]))
    kind = _NAMES.get(name)
    if kind is None:
        return Event(EventKind.UNKNOWN, unit, line)
    return Event(kind, unit, line)
