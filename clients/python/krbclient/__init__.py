"""A client for the lab's storage unit server: unit commands, views, updates, notifications."""

from .client import Client
from .errors import (
    CommandError,
    CommandFailedError,
    CommandRejectedError,
    KRBConnectionError,
    KRBError,
    KRBTimeoutError,
    ProtocolError,
    UnknownUnitError,
)
from .events import Event, EventKind, parse_event
from .history import (HistoryEntry, HistoryUnavailableError, RecordChange, RecordState,
                      parse_history)
from .results import ActivationResult, Climate, InventoryResult, MoveResult, Quantity
from .views import Cassette, Lab, Plate, Sector, System, TransferStation, Unit, parse_view

__version__ = "0.1.0"

__all__ = [
    "ActivationResult",
    "Cassette",
    "Client",
    "Climate",
    "CommandError",
    "CommandFailedError",
    "CommandRejectedError",
    "Event",
    "EventKind",
    "HistoryEntry",
    "HistoryUnavailableError",
    "InventoryResult",
    "KRBConnectionError",
    "KRBError",
    "KRBTimeoutError",
    "Lab",
    "MoveResult",
    "Plate",
    "ProtocolError",
    "Quantity",
    "RecordChange",
    "RecordState",
    "Sector",
    "System",
    "TransferStation",
    "Unit",
    "UnknownUnitError",
    "parse_event",
    "parse_history",
    "parse_view",
]
