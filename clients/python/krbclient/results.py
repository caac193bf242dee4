"""Typed results of the unit commands whose replies are more than a number or a text."""

from __future__ import annotations

import re
from dataclasses import dataclass

from .errors import ProtocolError
from .protocol import parse_decimal


@dataclass(frozen=True)
class ActivationResult:
    """The reply of "KRB2Activate": "1", "1;" + reader result, or a negative code.

    `code` is 1 when the unit was activated, else the negative failure code (-1, -3 .. -7).
    `reader` is the barcode reader result after the ";" (1 set, -1 refused, -n library
    code n), or None when no reader is configured or activation failed.
    """

    code: int
    reader: int | None = None

    @property
    def activated(self) -> bool:
        return self.code == 1

    @property
    def reader_ready(self) -> bool:
        return self.reader == 1

    @classmethod
    def parse(cls, reply: str) -> ActivationResult:
        head, separator, reader = reply.partition(";")
        code = parse_decimal(head, "activation code")
        if not separator:
            if code != 1 and code >= 0:
                raise ProtocolError("activation code out of range", reply)
            return cls(code)
        if code != 1:
            raise ProtocolError("a reader result follows a failed activation", reply)
        return cls(code, parse_decimal(reader, "reader result"))


_FAILED_STEP = re.compile(r"-(.*);([0-9])")


@dataclass(frozen=True)
class MoveResult:
    """The reply of "KRB2ServiceMovePlate".

    "1": moved. "-n": refused before anything moved (`code` -n). "-UNIT;d": step d failed
    at the unit with ID UNIT (`failed_unit` None when the server knew no unit by that port).
    """

    code: int
    failed_unit: str | None = None
    failed_step: int | None = None

    @property
    def moved(self) -> bool:
        return self.code == 1

    @classmethod
    def parse(cls, reply: str) -> MoveResult:
        failed = _FAILED_STEP.fullmatch(reply)
        if failed:
            unit = failed.group(1)
            return cls(-1, None if unit == "null" else unit, int(failed.group(2)))
        code = parse_decimal(reply, "move result")
        if code != 1 and code >= 0:
            raise ProtocolError("move result out of range", reply)
        return cls(code)


@dataclass(frozen=True)
class InventoryResult:
    """The reply of an inventory with plate export.

    "1": scanned and merged into the unit's contents. A decimal: the scan did not start
    (`start_code`). "E_#n": the unit reported error n (`unit_error_code`). Other "E_" texts
    (the inventory file is missing, communication failed) are kept in `error`.
    """

    reply: str
    start_code: int | None = None
    unit_error_code: int | None = None
    error: str | None = None

    @property
    def ok(self) -> bool:
        return self.reply == "1"

    @classmethod
    def parse(cls, reply: str) -> InventoryResult:
        if reply.startswith("E_#"):
            code = parse_decimal(reply[3:], "unit error code")
            return cls(reply, unit_error_code=code, error=reply[2:])
        if reply.startswith("E_"):
            return cls(reply, error=reply[2:])
        code = parse_decimal(reply, "inventory result")
        return cls(reply, start_code=None if code == 1 else code)


@dataclass(frozen=True)
class Quantity:
    """A measured or set value with its unit: `Quantity(37.0, "°C")`."""

    value: float
    unit: str

    def __str__(self) -> str:
        return f"{self.value:g} {self.unit}"


# The order of the reply's fields, with each value's unit.
_CLIMATE_FIELDS = (("temperature", "°C"), ("humidity", "%RH"), ("co2", "%"), ("n2", "%"))
_CLIMATE_NUMBER = re.compile(r"[-+]?(?:\d+(?:[.,]\d*)?|[.,]\d+)")


@dataclass(frozen=True)
class Climate:
    """The reply of "KRB2ReadActualClimate" or "KRB2ReadSetClimate": "T;H;CO2;N2".

    Each value is a `Quantity` (temperature in °C, humidity in %RH, CO2 and N2 in %), or None
    when its field is missing, empty or no number. The controller reports all four; the unit's
    view (`Unit.temperature`, `humidity`, `co2`, `n2`) tells which of them the unit controls.
    `text` keeps the reply as it came.
    """

    temperature: Quantity | None
    humidity: Quantity | None
    co2: Quantity | None
    n2: Quantity | None
    text: str

    def __str__(self) -> str:
        values = (f"{name} {getattr(self, name) or '?'}" for name, _ in _CLIMATE_FIELDS)
        return ", ".join(values)

    @classmethod
    def parse(cls, reply: str) -> Climate:
        fields = reply.split(";")
        if len(fields) > len(_CLIMATE_FIELDS):
            raise ProtocolError("a climate reply has four fields", reply)
        fields += [""] * (len(_CLIMATE_FIELDS) - len(fields))
        values = {name: _quantity(text.strip(), unit)
                  for (name, unit), text in zip(_CLIMATE_FIELDS, fields)}
        return cls(**values, text=reply)


def _quantity(text: str, unit: str) -> Quantity | None:
    if not _CLIMATE_NUMBER.fullmatch(text):
        return None
    return Quantity(float(text.replace(",", ".")), unit)
