"""The lab views: dataclasses and the parser of the server's XML documents.

Every view is one `MyLabPlate` document; the views differ only in how much of the lab they
hold, so all of them parse into a `Lab`.
"""

from __future__ import annotations

import re
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from datetime import datetime
from collections.abc import Iterator

from .errors import ProtocolError
from .protocol import parse_decimal

# The server writes day.month.year and the time unless it is midnight.
_DATE = re.compile(r"(\d{1,2})\.(\d{1,2})\.(\d{4})(?: (\d{1,2}):(\d{2}):(\d{2}))?")
_NOT_SET = datetime(1899, 12, 30)


@dataclass
class Plate:
    id: int
    level: int
    barcode: str
    user_id: str
    present: bool
    type: int
    type_name: str
    z_pitch: int
    date_load: datetime | None
    date_unload: datetime | None
    date_check: datetime | None


@dataclass
class Cassette:
    id: int
    type: int
    levels: int
    z_pitch: int
    plates: list[Plate] = field(default_factory=list)


@dataclass
class Sector:
    name: str
    min_cassette: int
    max_cassette: int
    cassettes: list[Cassette] = field(default_factory=list)


@dataclass
class Unit:
    id: str
    name: str
    firmware: str
    serial_number: str
    double_deck: bool
    activated: bool
    error: bool
    bcr: bool
    plate_presence_sensor: bool
    shovel_sensor: bool
    xfer1_sensor: bool
    xfer2_sensor: bool
    com_port: int
    bcr_com_port: int
    bcr_init: bool
    ready: bool
    door_opened: bool
    error_code: int
    plates: int
    co2: bool
    o2: bool
    n2: bool
    temperature: bool
    humidity: bool
    doors: int
    sectors: list[Sector] = field(default_factory=list)


@dataclass
class TransferStation:
    # The cassette view writes placeholders here, so name and type stay texts.
    name: str
    type: str
    unit: str


@dataclass
class System:
    name: str
    id: str
    units: list[Unit] = field(default_factory=list)
    transfer_stations: list[TransferStation] = field(default_factory=list)


@dataclass
class Lab:
    systems: list[System] = field(default_factory=list)

    def units(self) -> Iterator[Unit]:
        for system in self.systems:
            yield from system.units

    def find_unit(self, unit_id: str) -> Unit | None:
        return next((u for u in self.units() if u.id == unit_id), None)

    def locations(self) -> Iterator[tuple[Unit, Cassette, Plate]]:
        """Every location of the view, with a plate or empty."""
        for unit in self.units():
            for sector in unit.sectors:
                for cassette in sector.cassettes:
                    for location in cassette.plates:
                        yield unit, cassette, location

    def plates(self) -> Iterator[tuple[Unit, Cassette, Plate]]:
        """The locations that hold a plate."""
        return ((unit, cassette, plate) for unit, cassette, plate in self.locations()
                if plate.present)


def parse_date(text: str) -> datetime | None:
    """A view's date-time; the zero date (30.12.1899) means not set."""
    match = _DATE.fullmatch(text.strip())
    if not match:
        raise ProtocolError("not a date-time", text)
    day, month, year, hour, minute, second = (int(g) if g else 0 for g in match.groups())
    try:
        value = datetime(year, month, day, hour, minute, second)
    except ValueError as error:
        raise ProtocolError(f"not a date-time ({error})", text) from error
    return None if value == _NOT_SET else value


def document_body(response: bytes) -> bytes:
    """The XML document of a view response: after the HTTP header, from the declaration on."""
    if not response:
        raise ProtocolError("empty view response")
    status = response.split(b"\n", 1)[0].strip()
    if not status.startswith(b"HTTP/1.1 200"):
        raise ProtocolError("not a view response", response[:80])
    start = response.find(b"<?xml")
    if start < 0:
        raise ProtocolError("view response without an XML document", response[:200])
    return response[start:]


def parse_view(response: bytes) -> Lab:
    """Parses a whole view response (header and document) into a `Lab`."""
    body = document_body(response)
    try:
        root = ET.fromstring(re.sub(r"^<\?xml[^>]*\?>", "", _document_text(body)))
    except ET.ParseError as error:
        raise ProtocolError(f"malformed view document: {error}") from error
    if root.tag != "MyLabPlate":
        raise ProtocolError(f"unexpected root element {root.tag}")
    return Lab([_system(e) for e in root.findall("System")])


def _document_text(body: bytes) -> str:
    # Values are 8-bit text although the declaration names UTF-8: what is not UTF-8 is
    # read as Latin-1, so that every byte comes through.
    try:
        return body.decode("utf-8")
    except UnicodeDecodeError:
        return body.decode("latin-1")


class _Fields:
    """Typed reads of one element's children, naming the element in every error."""

    def __init__(self, element: ET.Element) -> None:
        self._element = element

    def text(self, tag: str) -> str:
        child = self._element.find(tag)
        if child is None:
            raise ProtocolError(f"<{self._element.tag}> has no <{tag}>")
        return child.text or ""

    def integer(self, tag: str) -> int:
        return parse_decimal(self.text(tag).strip(), f"<{tag}>")

    def flag(self, tag: str) -> bool:
        value = self.text(tag).strip()
        if value not in ("0", "1"):
            raise ProtocolError(f"<{tag}> is not 0 or 1", value)
        return value == "1"

    def date(self, tag: str) -> datetime | None:
        text = self.text(tag)
        try:
            return parse_date(text)
        except ProtocolError as error:
            raise ProtocolError(f"<{tag}> {error.args[0]}") from error

    def each(self, tag: str) -> list[ET.Element]:
        return self._element.findall(tag)


def _system(element: ET.Element) -> System:
    f = _Fields(element)
    return System(
        f.text("SysName"),
        f.text("SysId"),
        [_unit(e) for e in f.each("Unit")],
        [_transfer_station(e) for e in f.each("xFerSt")],
    )


def _unit(element: ET.Element) -> Unit:
    f = _Fields(element)
    return Unit(
        id=f.text("UnitId"),
        name=f.text("UnitName"),
        firmware=f.text("UnitFW"),
        serial_number=f.text("UnitSN"),
        double_deck=f.flag("UnitDoubleDeck"),
        activated=f.flag("UnitActivated"),
        error=f.flag("UnitError"),
        bcr=f.flag("UnitBCR"),
        plate_presence_sensor=f.flag("UnitPPSensor"),
        shovel_sensor=f.flag("UnitPShovelSensor"),
        xfer1_sensor=f.flag("UnitPXfer1Sensor"),
        xfer2_sensor=f.flag("UnitPXfer2Sensor"),
        com_port=f.integer("UnitCOMPort"),
        bcr_com_port=f.integer("UnitBCRCOMPort"),
        bcr_init=f.flag("UnitBCRInit"),
        ready=f.flag("UnitReady"),
        door_opened=f.flag("UnitDoorOpened"),
        error_code=f.integer("UnitErrorCode"),
        plates=f.integer("UnitPlates"),
        co2=f.flag("UnitCO2"),
        o2=f.flag("UnitO2"),
        n2=f.flag("UnitN2"),
        temperature=f.flag("UnitTemperature"),
        humidity=f.flag("UnitHumidity"),
        doors=f.integer("UnitDoors"),
        sectors=[_sector(e) for e in f.each("Sector")],
    )


def _sector(element: ET.Element) -> Sector:
    f = _Fields(element)
    return Sector(
        f.text("SectorName"),
        f.integer("SectorMinCass"),
        f.integer("SectorMaxCass"),
        [_cassette(e) for e in f.each("Cassette")],
    )


def _cassette(element: ET.Element) -> Cassette:
    f = _Fields(element)
    return Cassette(
        f.integer("CassetteId"),
        f.integer("CassetteType"),
        f.integer("CassetteLevels"),
        f.integer("CassetteZPitch"),
        [_plate(e) for e in f.each("Plate")],
    )


def _plate(element: ET.Element) -> Plate:
    f = _Fields(element)
    return Plate(
        id=f.integer("PlateId"),
        level=f.integer("PlateLevel"),
        barcode=f.text("PlateBCR"),
        user_id=f.text("PlateUserId"),
        present=f.flag("PlatePP"),
        type=f.integer("PlateType"),
        type_name=f.text("PlateTypeName"),
        z_pitch=f.integer("PlateZPitch"),
        date_load=f.date("PlateDateLoad"),
        date_unload=f.date("PlateDateUnload"),
        date_check=f.date("PlateDateCheck"),
    )


def _transfer_station(element: ET.Element) -> TransferStation:
    f = _Fields(element)
    return TransferStation(f.text("xFerName"), f.text("xFerType"), f.text("xFerUnit"))
