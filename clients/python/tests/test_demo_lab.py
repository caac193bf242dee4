"""The client against the demo lab: krb-sim and KRBServer started for this module."""

import asyncio
import unittest
from datetime import datetime

from krbclient import (ActivationResult, Client, CommandFailedError, CommandRejectedError,
                       EventKind, MoveResult, Quantity, UnknownUnitError)

from .demo_lab import DemoLab

lab: DemoLab
client: Client


def setUpModule():
    global lab, client
    lab = DemoLab().start()
    client = Client(port=lab.port, timeout=120)


def tearDownModule():
    lab.stop()


def located(view, unit_id, cassette_id, level):
    return next(p for u, c, p in view.locations()
                if u.id == unit_id and c.id == cassette_id and p.level == level)


def busy_then_idle(events, unit_id):
    """Reads events until the unit went busy and then idle again; returns their kinds."""
    kinds = []
    for event in events:
        if event.unit == unit_id and event.kind in (EventKind.BUSY, EventKind.IDLE):
            kinds.append(event.kind)
            if kinds[-2:] == [EventKind.BUSY, EventKind.IDLE]:
                return kinds
    return kinds


class ActivationTest(unittest.TestCase):
    def test_activation_codes_and_the_views_flags(self):
        self.assertFalse(client.unit("Base1").find_unit("Base1").activated)
        self.assertEqual(client.activate("Base1"), ActivationResult(1, 1))  # own reader port
        self.assertEqual(client.activate("Cascader1"), ActivationResult(1))  # no reader
        base = client.unit("Base1").find_unit("Base1")
        self.assertTrue(base.activated)
        self.assertEqual((base.serial_number, base.firmware), ("1101", "7100"))
        self.assertEqual(client.read_ready_flag("Base1"), 1)
        client.write_set_climate("Base1", 37, 90, 5, 0)
        climate = client.read_set_climate("Base1")
        self.assertEqual((climate.temperature, climate.humidity, climate.co2),
                         (Quantity(37.0, "°C"), Quantity(90.0, "%RH"), Quantity(5.0, "%")))
        self.assertEqual(client.read_actual_climate("Base1").temperature.unit, "°C")
        client.deactivate("Cascader1")
        self.assertFalse(client.unit("Cascader1").find_unit("Cascader1").activated)


class MoveAndInventoryTest(unittest.TestCase):
    def test_a_moved_plate_shows_in_the_tree_after_the_inventory(self):
        self.assertTrue(client.activate("Store4").activated)
        before = client.tree()
        self.assertEqual(located(before, "Store4", 1, 1).barcode, "R0001")
        self.assertFalse(located(before, "Store4", 2, 5).present)

        self.assertEqual(client.service_move_plate("Store4", 2, 1, 1, 0, 0, "Store4", 2, 2, 5, 0, 0),
                         MoveResult(1))
        self.assertEqual(client.service_is_plate_at_location("Store4", 2, 5), 1)

        result = client.partition_inventory_export("Store4", "Racks", True, True)
        self.assertTrue(result.ok, result)
        after = client.tree()
        moved = located(after, "Store4", 2, 5)
        self.assertEqual((moved.present, moved.barcode), (True, "R0001"))
        self.assertIsInstance(moved.date_check, datetime)  # stamped by the merge
        self.assertFalse(located(after, "Store4", 1, 1).present)


class ListenerTest(unittest.TestCase):
    def test_a_listener_sees_busy_and_idle_during_a_move(self):
        self.assertTrue(client.activate("Ext1").activated)
        with client.listen(timeout=30) as events:
            self.assertEqual(client.service_move_plate("Ext1", 2, 2, 1, 0, 0, "Ext1", 2, 3, 1, 0, 0),
                             MoveResult(1))
            self.assertEqual(busy_then_idle(events, "Ext1")[-2:], [EventKind.BUSY, EventKind.IDLE])

        async def move_back_while_listening():
            async with client.listen_async(timeout=30) as events:
                move = asyncio.get_running_loop().run_in_executor(
                    None, client.service_move_plate, "Ext1", 2, 3, 1, 0, 0, "Ext1", 2, 2, 1, 0, 0)
                kinds = []
                async for event in events:
                    if event.unit == "Ext1" and event.kind in (EventKind.BUSY, EventKind.IDLE):
                        kinds.append(event.kind)
                        if kinds[-2:] == [EventKind.BUSY, EventKind.IDLE]:
                            break
                return kinds, await move

        kinds, moved = asyncio.run(move_back_while_listening())
        self.assertEqual(moved, MoveResult(1))
        self.assertEqual(kinds[-2:], [EventKind.BUSY, EventKind.IDLE])


class ErrorReplyTest(unittest.TestCase):
    def test_each_error_reply_raises_its_exception(self):
        cases = [
            (CommandRejectedError, lambda: client.transfer_st_position("Base1", 3)),
            (CommandRejectedError, lambda: client.command("KRB2NoSuchCommand(Base1)")),
            (UnknownUnitError, lambda: client.activate("base1")),  # IDs compare exactly
            (CommandFailedError, lambda: client.activate_shaker("Base1", 2**40)),  # out of range
        ]
        for error, call in cases:
            with self.subTest(error=error.__name__), self.assertRaises(error):
                call()


class UpdateTest(unittest.TestCase):
    def test_plate_and_slot_updates_show_in_the_views(self):
        self.assertEqual(client.update_plate_name("Base1", 12, "Assay 7"), 1)
        self.assertEqual(client.update_plate_barcode("Base1", 12, "X0012"), 1)
        self.assertEqual(client.update_plate_present("Base1", 12, True), 1)
        self.assertEqual(client.update_plate_load_date("Base1", 12, datetime(2026, 12, 8, 9, 30)), 1)
        self.assertEqual(client.update_plate_check_date("Base1", 12), 1)  # the server's now
        plate = next(p for _, _, p in client.plate("Base1", 12).plates())
        self.assertEqual((plate.user_id, plate.barcode, plate.present), ("Assay 7", "X0012", True))
        self.assertEqual(plate.date_load, datetime(2026, 12, 8, 9, 30))
        self.assertIsNotNone(plate.date_check)
        self.assertEqual(client.update_plate_name("NoUnit", 12, "x"), -1)

        self.assertEqual(client.update_slot_z_pitch("Base1", 20, 30), 1)
        cassette = client.cassette("Base1", 20).find_unit("Base1").sectors
        pitches = [c.z_pitch for s in cassette for c in s.cassettes]
        self.assertEqual(pitches, [30])


if __name__ == "__main__":
    unittest.main()
