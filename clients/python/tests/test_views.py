"""The view parser on the server's golden documents, and on documents that are broken."""

import os
import unittest
from datetime import datetime
from pathlib import Path

from krbclient import ProtocolError, parse_view
from krbclient.views import parse_date

GOLDEN = Path(os.environ.get("KRB_VIEW_GOLDEN_DIR",
                             Path(__file__).resolve().parents[3] / "tests/server/end_to_end/golden"))


def golden(name: str) -> bytes:
    return (GOLDEN / name).read_bytes()


class GoldenViewTest(unittest.TestCase):
    def test_lab_view_lists_systems_without_units(self):
        lab = parse_view(golden("DrawLab.txt"))
        self.assertEqual([(s.id, s.name) for s in lab.systems], [("1", "Incubators"), ("2", "TubeLab")])
        self.assertEqual(list(lab.units()), [])

    def test_tree_view_holds_every_unit_sector_cassette_and_plate(self):
        lab = parse_view(golden("DrawTree.txt"))
        self.assertEqual([u.id for u in lab.units()], ["Base1", "Cascader1", "Ext1", "Store4", "Tubes5"])
        base = lab.find_unit("Base1")
        self.assertEqual((base.com_port, base.bcr_com_port, base.plates, base.doors), (1, 11, 200, 1))
        self.assertTrue(base.bcr and base.ready and base.co2 and not base.activated)
        self.assertEqual([(s.name, s.min_cassette, s.max_cassette) for s in base.sectors],
                         [("Assay", 1, 6), ("Stock", 7, 15), ("ROOT", 16, 20)])
        plates = {(u.id, c.id, p.level): p for u, c, p in lab.plates()}
        first = plates[("Base1", 1, 1)]
        self.assertEqual((first.id, first.barcode, first.user_id, first.present),
                         (1, "P0001", "Plate 1", True))
        self.assertEqual((first.type_name, first.z_pitch), ("MTP", 25))
        self.assertIsNone(first.date_load)  # the zero date means not set
        self.assertEqual(lab.systems[0].transfer_stations[0].unit, "Base1")

    def test_narrow_views_keep_only_their_part(self):
        cases = {
            # view file: (units, sectors, cassettes, plates)
            "DrawSys_2.txt": (2, 0, 0, 0),
            "DrawUnit_Base1.txt": (1, 3, 0, 0),
            "DrawSector_Base1_Stock.txt": (1, 1, 7, 0),
            "DrawCassette_Store4_9.txt": (1, 2, 1, 6),
            "DrawPlate_Base1_2.txt": (1, 1, 1, 1),
            "UnitContent_Tubes5.txt": (1, 1, 2, 2),
        }
        for name, expected in cases.items():
            with self.subTest(view=name):
                lab = parse_view(golden(name))
                units = list(lab.units())
                sectors = [s for u in units for s in u.sectors]
                cassettes = [c for s in sectors for c in s.cassettes]
                self.assertEqual((len(units), len(sectors), len(cassettes),
                                  sum(1 for _ in lab.locations())), expected)

    def test_plates_are_the_locations_that_hold_one(self):
        lab = parse_view(golden("DrawTree.txt"))
        locations = list(lab.locations())
        plates = list(lab.plates())
        self.assertEqual((len(locations), len(plates)), (490, 10))
        self.assertTrue(all(plate.present for _, _, plate in plates))
        self.assertEqual([p for _, _, p in plates], [p for _, _, p in locations if p.present])
        self.assertEqual(list(parse_view(golden("DrawCassette_Store4_9.txt")).plates()), [])

    def test_cassette_view_keeps_its_placeholder_station_texts(self):
        lab = parse_view(golden("DrawCassette_Store4_9.txt"))
        station = lab.systems[0].transfer_stations[0]
        self.assertEqual((station.name, station.type, station.unit), ("qq", "ww", "Base1"))


def _document(inner: str) -> bytes:
    return ("HTTP/1.1 200 OK\nServer: KRB\nContent-Type: text/XML\n\n"
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<MyLabPlate>\r\n" + inner
            + "</MyLabPlate>\r\n").encode()


_CASSETTE = ("<System><SysName>S</SysName><SysId>1</SysId><Unit><UnitId>U</UnitId>{unit}"
             "<Sector><SectorName>A</SectorName><SectorMinCass>1</SectorMinCass>"
             "<SectorMaxCass>1</SectorMaxCass><Cassette><CassetteId>{id}</CassetteId>"
             "<CassetteType>1</CassetteType><CassetteLevels>2</CassetteLevels>"
             "<CassetteZPitch>25</CassetteZPitch></Cassette></Sector></Unit></System>")


class BrokenViewTest(unittest.TestCase):
    def test_malformed_documents_give_a_protocol_error(self):
        cases = {
            "empty": b"",
            "no status line": b"<?xml version=\"1.0\"?><MyLabPlate></MyLabPlate>",
            "error status": b"HTTP/1.1 404 Not Found\n\n",
            "no document": b"HTTP/1.1 200 OK\nServer: KRB\n\n",
            "cut off": _document("<System><SysName>S</SysName>")[:-20],
            "other root": b"HTTP/1.1 200 OK\n\n<?xml version=\"1.0\"?><Other/>",
            "unescaped value": _document("<System><SysName>a<b</SysName></System>"),
            "system without id": _document("<System><SysName>S</SysName></System>"),
            "unit without fields": _document(_CASSETTE.format(unit="", id="1")),
        }
        for name, response in cases.items():
            with self.subTest(case=name), self.assertRaises(ProtocolError):
                parse_view(response)

    def test_a_field_of_the_wrong_kind_names_its_element(self):
        for old, new in [(b"<UnitPlates>200<", b"<UnitPlates>many<"),
                         (b"<PlatePP>1<", b"<PlatePP>yes<"),
                         (b"<PlateLevel>2<", b"<PlateLevel><"),
                         (b"<PlateDateLoad>30.12.1899<", b"<PlateDateLoad>31.02.2026<")]:
            with self.subTest(element=old):
                with self.assertRaises(ProtocolError) as raised:
                    parse_view(golden("DrawPlate_Base1_2.txt").replace(old, new))
                self.assertIn(old[1:old.index(b">")].decode(), str(raised.exception))

    def test_escaped_values_come_back_as_text(self):
        lab = parse_view(_document("<System><SysName>A &amp; B &lt;1&gt;</SysName>"
                                   "<SysId>7</SysId></System>"))
        self.assertEqual(lab.systems[0].name, "A & B <1>")

    def test_eight_bit_values_are_read_whatever_their_encoding(self):
        for raw, expected in [("Caf\u00e9".encode(), "Caf\u00e9"), (b"Caf\xe9", "Caf\u00e9")]:
            with self.subTest(raw=raw):
                response = _document("<System><SysName>x</SysName><SysId>1</SysId></System>")
                lab = parse_view(response.replace(b"<SysName>x<", b"<SysName>" + raw + b"<"))
                self.assertEqual(lab.systems[0].name, expected)


class DateTest(unittest.TestCase):
    def test_dates_as_the_server_writes_them(self):
        cases = {
            "30.12.1899": None,
            "08.12.2026": datetime(2026, 12, 8),
            "08.12.2026 23:05:09": datetime(2026, 12, 8, 23, 5, 9),
            "30.12.1899 10:00:00": datetime(1899, 12, 30, 10),
        }
        for text, expected in cases.items():
            with self.subTest(text=text):
                self.assertEqual(parse_date(text), expected)
        for text in ["", "2026-12-08", "8.12.26", "32.01.2026", "08.12.2026 25:00:00", "08.12.2026 1"]:
            with self.subTest(text=text), self.assertRaises(ProtocolError):
                parse_date(text)


if __name__ == "__main__":
    unittest.main()
