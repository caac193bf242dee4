"""Command texts, argument checks, reply lines and the typed results, without a server."""

import unittest

from krbclient import (ActivationResult, Climate, InventoryResult, MoveResult, ProtocolError,
                       Quantity)
from krbclient.commands import BY_METHOD, TABLE
from krbclient.protocol import LineBuffer, parse_decimal, unit_command, update_command


class CommandTextTest(unittest.TestCase):
    def test_commands_are_one_line_with_one_cr(self):
        cases = [
            ("KRB2Activate", "Base1", [], b"KRB2Activate(Base1)\r"),
            ("KRB2ServiceReadBarcode", "U", ["3", "2"], b"KRB2ServiceReadBarcode(U,3,2)\r"),
            # The last argument keeps its commas: the server reads it as the rest.
            ("KRB2ReadBackStr", "U", ["WR DM1,2"], b"KRB2ReadBackStr(U,WR DM1,2)\r"),
            ("KRB2DefineSector", "U", ["1", "6", ""], b"KRB2DefineSector(U,1,6,)\r"),
        ]
        for name, unit, arguments, expected in cases:
            with self.subTest(name=name):
                self.assertEqual(unit_command(name, unit, arguments), expected)

    def test_text_that_would_split_or_end_a_command_is_refused(self):
        cases = [
            ("a,b", []),  # a unit ID with a comma addresses another unit
            ("a)b", []),
            ("Base1\r", []),
            ("Base1", ["x\ny"]),
            ("Base1", ["a,b", "c"]),  # only the last argument may hold commas
            ("Base1", ["ok", "c)d"]),
        ]
        for unit, arguments in cases:
            with self.subTest(unit=unit, arguments=arguments):
                with self.assertRaises(ValueError):
                    unit_command("KRB2ReadBackStr", unit, arguments)
        with self.assertRaises(ValueError):
            update_command("UpdatePlateName", "U1", 12, "Assay (3)")
        self.assertEqual(update_command("UpdatePlateName", "U1", 12, "Assay, batch 3"),
                         b"UpdatePlateName(U1,12,Assay, batch 3)\r")

    def test_typed_arguments_become_the_servers_texts(self):
        move = BY_METHOD["service_move_plate"]
        self.assertEqual(move.arguments((2, 3, 1, 1, 0, "Ext1", 2, 6, 1, 2, 0)),
                         ["2", "3", "1", "1", "0", "Ext1", "2", "6", "1", "2", "0"])
        export = BY_METHOD["inventory_plate_export"]
        self.assertEqual(export.arguments((True, False)), ["export", "1", "0"])
        for bad in [("3",), (True,), (2.5,)]:
            with self.subTest(bad=bad), self.assertRaises(TypeError):
                BY_METHOD["manual_access"].arguments(bad)
        with self.assertRaises(TypeError):
            BY_METHOD["manual_access"].arguments((1, 2))

    def test_the_table_has_every_unit_command_once(self):
        self.assertEqual(len(TABLE), 40)
        self.assertEqual(len({c.name for c in TABLE}), 40)
        self.assertEqual(len(BY_METHOD), 40)


class ReplyLineTest(unittest.TestCase):
    def test_lines_are_cut_at_cr_lf_across_receives(self):
        buffer = LineBuffer()
        self.assertEqual(buffer.feed(b"1"), [])
        self.assertEqual(buffer.feed(b"\r"), [])
        self.assertEqual(buffer.feed(b"\n\r\nI_E#0(U)\r\nI_"), ["1", "", "I_E#0(U)"])
        self.assertEqual(buffer.pending, b"I_")

    def test_an_endless_line_is_an_error(self):
        buffer = LineBuffer(max_line=8)
        with self.assertRaises(ProtocolError):
            buffer.feed(b"123456789")

    def test_decimals_are_sign_and_digits_only(self):
        for text, value in [("0", 0), ("-7", -7), ("+3", 3), ("00033", 33)]:
            self.assertEqual(parse_decimal(text), value)
        for text in ["", " 1", "1 ", "0x1", "1_000", "1.5", "-", "E3"]:
            with self.subTest(text=text), self.assertRaises(ProtocolError):
                parse_decimal(text)


class ResultTest(unittest.TestCase):
    def test_activation_codes(self):
        cases = {
            "1": ActivationResult(1),
            "1;1": ActivationResult(1, 1),
            "1;-1": ActivationResult(1, -1),
            "1;-5": ActivationResult(1, -5),
            "-3": ActivationResult(-3),
            "-7": ActivationResult(-7),
        }
        for reply, expected in cases.items():
            with self.subTest(reply=reply):
                self.assertEqual(ActivationResult.parse(reply), expected)
        self.assertTrue(ActivationResult.parse("1;1").reader_ready)
        self.assertFalse(ActivationResult.parse("-4").activated)
        for reply in ["", "0", "2", "1;", "-3;1", "1;x", "ok"]:
            with self.subTest(reply=reply), self.assertRaises(ProtocolError):
                ActivationResult.parse(reply)

    def test_move_results(self):
        cases = {
            "1": MoveResult(1),
            "-6": MoveResult(-6),
            "-Ext1;3": MoveResult(-1, "Ext1", 3),
            "-null;4": MoveResult(-1, None, 4),
        }
        for reply, expected in cases.items():
            with self.subTest(reply=reply):
                self.assertEqual(MoveResult.parse(reply), expected)
        self.assertTrue(MoveResult.parse("1").moved)
        for reply in ["", "0", "5", "Ext1;3", "-Ext1;x", "-Ext1;12"]:
            with self.subTest(reply=reply), self.assertRaises(ProtocolError):
                MoveResult.parse(reply)

    def test_inventory_results(self):
        self.assertTrue(InventoryResult.parse("1").ok)
        self.assertEqual(InventoryResult.parse("0").start_code, 0)
        self.assertEqual(InventoryResult.parse("E_#7301").unit_error_code, 7301)
        missing = InventoryResult.parse("E_Inventory File doesn't exist")
        self.assertFalse(missing.ok)
        self.assertEqual(missing.error, "Inventory File doesn't exist")
        for reply in ["", "E_#", "E_#x", "done"]:
            with self.subTest(reply=reply), self.assertRaises(ProtocolError):
                InventoryResult.parse(reply)

    def test_climate_values_are_numbers_with_their_units(self):
        def C(v): return Quantity(v, "°C")
        def H(v): return Quantity(v, "%RH")
        def P(v): return Quantity(v, "%")
        cases = {
            "037.00;090.00;005.00;0": (C(37.0), H(90.0), P(5.0), P(0.0)),
            "-004.50;40,5;0;002.10": (C(-4.5), H(40.5), P(0.0), P(2.1)),
            # Fields that are empty, missing or no number could not be read.
            ";;;": (None, None, None, None),
            "037.00;;x;": (C(37.0), None, None, None),
            "037.00": (C(37.0), None, None, None),
            "": (None, None, None, None),
            "1.2.3;-;+;.": (None, None, None, None),
        }
        for reply, (temperature, humidity, co2, n2) in cases.items():
            with self.subTest(reply=reply):
                self.assertEqual(Climate.parse(reply),
                                 Climate(temperature, humidity, co2, n2, reply))
        self.assertEqual(str(Climate.parse("037.50;;005.00;0")),
                         "temperature 37.5 °C, humidity ?, co2 5 %, n2 0 %")
        with self.assertRaises(ProtocolError):
            Climate.parse("1;2;3;4;5")


if __name__ == "__main__":
    unittest.main()
