"""The unit command table: wire name, arguments after the unit ID, and how the reply reads.

Client methods and the command line are both built over these rows, so a command's name,
argument order and result conversion are written down once.
"""

from __future__ import annotations

import enum
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

from .errors import ProtocolError
from .protocol import flag, parse_decimal
from .results import ActivationResult, Climate, InventoryResult, MoveResult


class Kind(enum.Enum):
    INT = "integer"
    TEXT = "text"
    FLAG = "flag"


@dataclass(frozen=True)
class Param:
    name: str
    kind: Kind


def _empty(reply: str) -> None:
    if reply:
        raise ProtocolError("expected an empty reply", reply)


def _text(reply: str) -> str:
    return reply


@dataclass(frozen=True)
class UnitCommand:
    method: str
    name: str
    params: tuple[Param, ...]
    convert: Callable[[str], Any]
    # The inventory exports end their reply with a CR LF of their own before the server's.
    two_line_ends: bool = False
    summary: str = ""
    # Sent before the caller's arguments: a field the server reads but does not use.
    preset: tuple[str, ...] = ()

    def arguments(self, values: tuple[Any, ...]) -> list[str]:
        if len(values) != len(self.params):
            raise TypeError(f"{self.method} takes {len(self.params)} arguments after the unit")
        return [*self.preset, *(_argument_text(p, v) for p, v in zip(self.params, values))]


def _argument_text(param: Param, value: Any) -> str:
    if param.kind is Kind.INT:
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"{param.name} must be an int, not {type(value).__name__}")
        return str(value)
    if param.kind is Kind.FLAG:
        return flag(bool(value))
    return str(value)


def _p(spec: str) -> tuple[Param, ...]:
    """Params from "name:kind ..." (kinds i, t, f)."""
    kinds = {"i": Kind.INT, "t": Kind.TEXT, "f": Kind.FLAG}
    return tuple(Param(n, kinds[k]) for n, k in (item.split(":") for item in spec.split()))


_MOVE = _p(
    "source_type:i source_slot:i source_level:i source_cascade_slot:i source_cascade_code:i "
    "target_unit:t target_type:i target_slot:i target_level:i target_cascade_slot:i "
    "target_cascade_code:i"
)
_dec = parse_decimal

# fmt: off
TABLE: tuple[UnitCommand, ...] = (
    UnitCommand("activate_shaker", "KRB2ActivateShaker", _p("speed:i"), _empty, summary="start the shaker at a speed"),
    UnitCommand("deactivate_shaker", "KRB2DeactivateShaker", (), _empty, summary="stop the shaker"),
    UnitCommand("activate", "KRB2Activate", (), ActivationResult.parse, summary="connect, initialise and configure the unit"),
    UnitCommand("deactivate", "KRB2Deactivate", (), _empty, summary="end communication with the unit"),
    UnitCommand("reset", "KRB2Reset", (), _empty, summary="reset the unit (it is no longer activated)"),
    UnitCommand("read_actual_climate", "KRB2ReadActualClimate", (), Climate.parse, summary="actual temperature, humidity, CO2 and N2"),
    UnitCommand("write_set_climate", "KRB2WriteSetClimate", _p("temperature:t humidity:t co2:t n2:t"), _empty, summary="set the climate set points"),
    UnitCommand("read_set_climate", "KRB2ReadSetClimate", (), Climate.parse, summary="climate set points"),
    UnitCommand("service_read_barcode", "KRB2ServiceReadBarcode", _p("slot:i level:i"), _text, summary="read the barcode of a plate"),
    UnitCommand("inventory_plate_export", "KRB2InventoryPlateExp", _p("detect:f barcodes:f"), InventoryResult.parse, True, "scan the unit and merge the result into its contents", ("export",)),
    UnitCommand("inventory", "KRB2Inventory", _p("file:t detect:f barcodes:f"), _dec, summary="start a scan into an inventory file"),
    UnitCommand("partition_inventory_export", "KRB2PartitionInventoryExp", _p("partition:t detect:f barcodes:f"), InventoryResult.parse, True, "scan a partition and merge the result", ("export",)),
    UnitCommand("partition_inventory", "KRB2PartitionInventory", _p("file:t partition:t detect:f barcodes:f"), _dec, summary="start a partition scan into a file"),
    UnitCommand("get_sys_status", "KRB2GetSysStatus", (), _dec, summary="system status number"),
    UnitCommand("read_set_shaker_speed", "KRB2ReadSetShakerSpeed", (), _dec, summary="shaker speed set point"),
    UnitCommand("swap_in", "KRB2SwapIn", (), _dec, summary="swap the carousel in"),
    UnitCommand("swap_out", "KRB2SwapOut", (), _dec, summary="swap the carousel back"),
    UnitCommand("service_move_plate", "KRB2ServiceMovePlate", _MOVE, MoveResult.parse, summary="move a plate, also across a cascade"),
    UnitCommand("lock", "KRB2Lock", (), _empty, summary="lock the user door"),
    UnitCommand("unlock", "KRB2UnLock", (), _empty, summary="unlock the user door"),
    UnitCommand("define_sector", "KRB2DefineSector", _p("smallest:i largest:i name:t"), _empty, summary="define a sector of cassettes"),
    UnitCommand("abandon_access", "KRB2AbandonAccess", (), _empty, summary="abandon manual access"),
    UnitCommand("continue_access", "KRB2ContinueAccess", (), _empty, summary="continue after manual access"),
    UnitCommand("read_back_str", "KRB2ReadBackStr", _p("command:t"), _text, summary="send a controller command, return its reply"),
    UnitCommand("service_is_plate_at_location", "KRB2ServiceIsPlateAtLocation", _p("slot:i level:i"), _dec, summary="1 when a plate is at the location"),
    UnitCommand("alternate_xfer_station", "KRB2AlternateXferStation", _p("station:i"), _text, summary="choose the transfer station"),
    UnitCommand("transfer_st_position", "KRB2TransferStPosition", _p("position:t"), _empty, summary="turn the transfer station (0, 1 or 2)"),
    UnitCommand("read_ready_flag", "KRB2ReadReadyFlag", (), _dec, summary="1 when the unit is ready"),
    UnitCommand("read_error_flag", "KRB2ReadErrorFlag", (), _dec, summary="1 when the unit reports an error"),
    UnitCommand("read_error_code", "KRB2ReadErrorCode", (), _dec, summary="the unit's error code"),
    UnitCommand("read_user_door_flag", "KRB2ReadUserDoorFlag", (), _dec, summary="1 closed, 0 open"),
    UnitCommand("is_operation_running", "KRB2IsOperationRunning", (), _dec, summary="1 while an operation runs"),
    UnitCommand("clear_history", "KRB2ClearHistory", (), _dec, summary="empty every location of the unit's contents"),
    UnitCommand("read_shovel_detector", "KRB2ReadShovelDetector", (), _dec, summary="1 when a plate is on the shovel"),
    UnitCommand("read_xfer_station_detector1", "KRB2ReadXferStationDetector1", (), _dec, summary="1 when a plate is on transfer station 1"),
    UnitCommand("read_xfer_station_detector2", "KRB2ReadXferStationDetector2", (), _dec, summary="1 when a plate is on transfer station 2"),
    UnitCommand("soft_reset", "KRB2SoftReset", (), _dec, summary="clear the unit's error state"),
    UnitCommand("manual_access", "KRB2ManualAccess", _p("slot:i"), _dec, summary="turn a slot to the door for manual access"),
    UnitCommand("beeper_on", "KRB2BeeperOn", (), _empty, summary="switch the beeper on"),
    UnitCommand("beeper_off", "KRB2BeeperOff", (), _empty, summary="switch the beeper off"),
)
# fmt: on

BY_METHOD: dict[str, UnitCommand] = {command.method: command for command in TABLE}
