"""`Client`: one method per unit command, the views, the update commands and listeners."""

from __future__ import annotations

from datetime import datetime
from typing import Any

from .commands import BY_METHOD, UnitCommand
from .errors import ProtocolError
from .history import HistoryEntry, fetch_history, history_query
from .listener import AsyncListener, Listener
from .protocol import encode, parse_decimal, raise_for_error, unit_command, update_command
from .results import ActivationResult, Climate, InventoryResult, MoveResult
from .transport import LineWanted, exchange_document, exchange_lines
from .views import Lab, parse_view

_ERROR_REPLIES = frozenset({"E1", "E2", "E3"})
_DATE_FORMAT = "%d.%m.%Y %H:%M:%S"


class Client:
    """A client of one server. Each call opens its own connection, sends one command and
    waits up to `timeout` seconds for the complete reply.

    Scans and moves take as long as the unit needs: give the client a timeout that covers
    the longest operation it will run. `web_port` is the dashboard's port ([Web] Port), where
    `history` asks the audit trail.
    """

    def __init__(self, host: str = "localhost", port: int = 3100, timeout: float = 60.0,
                 web_port: int = 3180):
        self.host = host
        self.port = port
        self.timeout = timeout
        self.web_port = web_port

    # -- the frame every unit command goes through

    def _run(self, method: str, unit: str, *values: Any) -> Any:
        command: UnitCommand = BY_METHOD[method]
        reply = self._ask(command.name, unit_command(command.name, unit, command.arguments(values)),
                          2 if command.two_line_ends else 1)
        return command.convert(reply)

    def _ask(self, name: str, text: bytes, line_ends: int) -> str:
        lines = exchange_lines(self.host, self.port, text, self.timeout,
                               LineWanted(line_ends, _ERROR_REPLIES))
        raise_for_error(name, lines[0])
        if line_ends == 2 and lines[1] != "":
            raise ProtocolError(f"{name}: expected a second line end", "\r\n".join(lines))
        return lines[0]

    def command(self, text: str) -> str:
        """Sends one raw command line (without CR) and returns its reply line.

        E1, E2 and E3 raise like the typed methods do; the text must be one command.
        """
        if "\r" in text or "\n" in text:
            raise ValueError("one command per send: the text must not contain CR or LF")
        name = text.split("(", 1)[0]
        two = name in ("KRB2InventoryPlateExp", "KRB2PartitionInventoryExp")
        return self._ask(name, encode(text + "\r"), 2 if two else 1)

    # -- unit commands, in the order of the server's table

    def activate_shaker(self, unit: str, speed: int) -> None:
        return self._run("activate_shaker", unit, speed)

    def deactivate_shaker(self, unit: str) -> None:
        return self._run("deactivate_shaker", unit)

    def activate(self, unit: str) -> ActivationResult:
        return self._run("activate", unit)

    def deactivate(self, unit: str) -> None:
        return self._run("deactivate", unit)

    def reset(self, unit: str) -> None:
        return self._run("reset", unit)

    def read_actual_climate(self, unit: str) -> Climate:
        return self._run("read_actual_climate", unit)

    def write_set_climate(self, unit: str, temperature: str | float, humidity: str | float,
                          co2: str | float, n2: str | float) -> None:
        return self._run("write_set_climate", unit, temperature, humidity, co2, n2)

    def read_set_climate(self, unit: str) -> Climate:
        return self._run("read_set_climate", unit)

    def service_read_barcode(self, unit: str, slot: int, level: int) -> str:
        return self._run("service_read_barcode", unit, slot, level)

    def inventory_plate_export(self, unit: str, detect: bool, barcodes: bool) -> InventoryResult:
        return self._run("inventory_plate_export", unit, detect, barcodes)

    def inventory(self, unit: str, file: str, detect: bool, barcodes: bool) -> int:
        return self._run("inventory", unit, file, detect, barcodes)

    def partition_inventory_export(self, unit: str, partition: str, detect: bool,
                                   barcodes: bool) -> InventoryResult:
        return self._run("partition_inventory_export", unit, partition, detect, barcodes)

    def partition_inventory(self, unit: str, file: str, partition: str, detect: bool,
                            barcodes: bool) -> int:
        return self._run("partition_inventory", unit, file, partition, detect, barcodes)

    def get_sys_status(self, unit: str) -> int:
        return self._run("get_sys_status", unit)

    def read_set_shaker_speed(self, unit: str) -> int:
        return self._run("read_set_shaker_speed", unit)

    def swap_in(self, unit: str) -> int:
        return self._run("swap_in", unit)

    def swap_out(self, unit: str) -> int:
        return self._run("swap_out", unit)

    def service_move_plate(self, unit: str, source_type: int, source_slot: int,
                           source_level: int, source_cascade_slot: int, source_cascade_code: int,
                           target_unit: str, target_type: int, target_slot: int,
                           target_level: int, target_cascade_slot: int,
                           target_cascade_code: int) -> MoveResult:
        return self._run("service_move_plate", unit, source_type, source_slot, source_level,
                         source_cascade_slot, source_cascade_code, target_unit, target_type,
                         target_slot, target_level, target_cascade_slot, target_cascade_code)

    def lock(self, unit: str) -> None:
        return self._run("lock", unit)

    def unlock(self, unit: str) -> None:
        return self._run("unlock", unit)

    def define_sector(self, unit: str, smallest: int, largest: int, name: str) -> None:
        return self._run("define_sector", unit, smallest, largest, name)

    def abandon_access(self, unit: str) -> None:
        return self._run("abandon_access", unit)

    def continue_access(self, unit: str) -> None:
        return self._run("continue_access", unit)

    def read_back_str(self, unit: str, command: str) -> str:
        return self._run("read_back_str", unit, command)

    def service_is_plate_at_location(self, unit: str, slot: int, level: int) -> int:
        return self._run("service_is_plate_at_location", unit, slot, level)

    def alternate_xfer_station(self, unit: str, station: int) -> str:
        return self._run("alternate_xfer_station", unit, station)

    def transfer_st_position(self, unit: str, position: int | str) -> None:
        return self._run("transfer_st_position", unit, position)

    def read_ready_flag(self, unit: str) -> int:
        return self._run("read_ready_flag", unit)

    def read_error_flag(self, unit: str) -> int:
        return self._run("read_error_flag", unit)

    def read_error_code(self, unit: str) -> int:
        return self._run("read_error_code", unit)

    def read_user_door_flag(self, unit: str) -> int:
        return self._run("read_user_door_flag", unit)

    def is_operation_running(self, unit: str) -> int:
        return self._run("is_operation_running", unit)

    def clear_history(self, unit: str) -> int:
        return self._run("clear_history", unit)

    def read_shovel_detector(self, unit: str) -> int:
        return self._run("read_shovel_detector", unit)

    def read_xfer_station_detector1(self, unit: str) -> int:
        return self._run("read_xfer_station_detector1", unit)

    def read_xfer_station_detector2(self, unit: str) -> int:
        return self._run("read_xfer_station_detector2", unit)

    def soft_reset(self, unit: str) -> int:
        return self._run("soft_reset", unit)

    def manual_access(self, unit: str, slot: int) -> int:
        return self._run("manual_access", unit, slot)

    def beeper_on(self, unit: str) -> None:
        return self._run("beeper_on", unit)

    def beeper_off(self, unit: str) -> None:
        return self._run("beeper_off", unit)

    # -- views

    def _view(self, path: str) -> Lab:
        if any(c in path for c in " \r\n"):
            raise ValueError(f"view query {path!r} must not contain blanks or line breaks")
        request = encode(f"GET /PlateExp/{path} HTTP/1.1\r\nHost: {self.host}\r\n\r\n")
        return parse_view(exchange_document(self.host, self.port, request, self.timeout))

    def lab(self) -> Lab:
        """Every system's name and ID (no units)."""
        return self._view("DrawLab")

    def tree(self) -> Lab:
        """The whole lab: every unit with its sectors, cassettes and plates."""
        return self._view("DrawTree")

    def system(self, system_id: str) -> Lab:
        return self._view(f"DrawSys?id={system_id}")

    def unit(self, unit_id: str) -> Lab:
        return self._view(f"DrawUnit?id={unit_id}")

    def sector(self, unit_id: str, name: str) -> Lab:
        return self._view(f"DrawSector?{_unit_query(unit_id)}&id={name}")

    def cassette(self, unit_id: str, cassette: int) -> Lab:
        return self._view(f"DrawCassette?{_unit_query(unit_id)}&id={cassette:d}")

    def unit_content(self, unit_id: str) -> Lab:
        return self._view(f"UnitContent?id={unit_id}")

    def plate(self, unit_id: str, plate: int) -> Lab:
        return self._view(f"DrawPlate?{_unit_query(unit_id)}&id={plate:d}")

    # -- plate and slot updates: the server's result code (1 done, negative on failure)

    def _update(self, name: str, unit: str, number: int, value: str) -> int:
        lines = exchange_lines(self.host, self.port, update_command(name, unit, number, value),
                               self.timeout, LineWanted(1))
        return parse_decimal(lines[0], f"{name} result")

    def update_plate_name(self, unit: str, location: int, name: str) -> int:
        return self._update("UpdatePlateName", unit, location, name)

    def update_plate_present(self, unit: str, location: int, present: bool) -> int:
        return self._update("UpdatePlatePP", unit, location, "1" if present else "0")

    def update_plate_barcode(self, unit: str, location: int, barcode: str) -> int:
        return self._update("UpdatePlateBCR", unit, location, barcode)

    def update_plate_check_date(self, unit: str, location: int,
                                when: datetime | None = None) -> int:
        """`when` None stamps the server's current date-time."""
        return self._update("UpdatePlateCheckDate", unit, location, _date_value(when))

    def update_plate_load_date(self, unit: str, location: int,
                               when: datetime | None = None) -> int:
        return self._update("UpdatePlateLoadDate", unit, location, _date_value(when))

    def update_plate_unload_date(self, unit: str, location: int,
                                 when: datetime | None = None) -> int:
        return self._update("UpdatePlateUnloadDate", unit, location, _date_value(when))

    def update_slot_z_pitch(self, unit: str, cassette: int, z_pitch: int) -> int:
        return self._update("UpdateSlotZPitch", unit, cassette, str(z_pitch))

    def update_slot_levels(self, unit: str, cassette: int, levels: int) -> int:
        return self._update("UpdateSlotLevels", unit, cassette, str(levels))

    # -- the audit trail, from the dashboard's port

    def history(self, plate: str | None = None, unit: str | None = None,
                client: str | None = None, since: datetime | str | None = None,
                until: datetime | str | None = None,
                limit: int | None = None) -> list[HistoryEntry]:
        """The trail's entries, oldest first: with `plate`, the record changes of that
        barcode's journey; else the commands and changes of `unit` / `client` ("address" or
        "address:port") between `since` and `until`. A refused parameter raises ValueError;
        a trail that is off raises HistoryUnavailableError."""
        query = history_query(plate=plate, unit=unit, client=client, since=since, until=until,
                              limit=limit)
        return fetch_history(self.host, self.web_port, query, self.timeout)

    # -- notifications

    def listen(self, timeout: float | None = None) -> Listener:
        """Registers a service listener; iterate over it for events.

        `timeout` bounds the wait for each event (None: wait for ever).
        """
        return Listener(self.host, self.port, self.timeout, timeout)

    def listen_async(self, timeout: float | None = None) -> AsyncListener:
        """The asyncio listener: `async with client.listen_async() as events`."""
        return AsyncListener(self.host, self.port, self.timeout, timeout)


def _unit_query(unit_id: str) -> str:
    if "&id=" in unit_id:
        raise ValueError(f"unit ID {unit_id!r} must not contain '&id='")
    return f"unitid={unit_id}"


def _date_value(when: datetime | None) -> str:
    return "0" if when is None else when.strftime(_DATE_FORMAT)
