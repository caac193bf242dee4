"""The client's exchanges against a scripted peer: framing, replies, errors and time-outs."""

import asyncio
import io
import json
import unittest
from contextlib import redirect_stderr, redirect_stdout

from krbclient import (ActivationResult, Client, Climate, CommandFailedError,
                       CommandRejectedError, EventKind, InventoryResult, KRBConnectionError,
                       KRBTimeoutError, MoveResult, ProtocolError, Quantity, UnknownUnitError)
from krbclient.cli import main

from .fake_server import FakeServer


def answer(reply: bytes):
    """Answers once a whole command (ending in CR) has arrived."""
    return lambda received: reply if received.endswith(b"\r") else None


class UnitCommandExchangeTest(unittest.TestCase):
    def test_replies_are_converted_as_the_table_says(self):
        cases = [
            (lambda c: c.read_ready_flag("U"), b"1\r\n", 1),
            (lambda c: c.read_set_climate("U"), b"037.50;090.00;005.00;0\r\n",
             Climate(Quantity(37.5, "°C"), Quantity(90.0, "%RH"), Quantity(5.0, "%"),
                     Quantity(0.0, "%"), "037.50;090.00;005.00;0")),
            (lambda c: c.lock("U"), b"\r\n", None),
            (lambda c: c.activate("U"), b"1;1\r\n", ActivationResult(1, 1)),
            (lambda c: c.partition_inventory_export("U", "Racks", True, False), b"1\r\n\r\n",
             InventoryResult("1")),
            (lambda c: c.service_move_plate("U", 2, 3, 1, 0, 0, "V", 2, 4, 1, 0, 0), b"-V;3\r\n",
             MoveResult(-1, "V", 3)),
        ]
        for call, reply, expected in cases:
            with self.subTest(reply=reply), FakeServer(answer(reply)) as server:
                self.assertEqual(call(Client(port=server.port, timeout=5)), expected)

    def test_each_command_is_one_send_on_a_connection_of_its_own(self):
        with FakeServer(answer(b"0\r\n")) as server:
            client = Client(port=server.port, timeout=5)
            client.is_operation_running("Base1")
            client.service_is_plate_at_location("Base1", 3, 2)
            self.assertEqual(server.received, [b"KRB2IsOperationRunning(Base1)\r",
                                               b"KRB2ServiceIsPlateAtLocation(Base1,3,2)\r"])

    def test_error_replies_raise_their_exceptions(self):
        for reply, error in [(b"E1\r\n", CommandRejectedError), (b"E2\r\n", UnknownUnitError),
                             (b"E3\r\n", CommandFailedError)]:
            with self.subTest(reply=reply), FakeServer(answer(reply)) as server:
                client = Client(port=server.port, timeout=5)
                with self.assertRaises(error):
                    client.read_error_code("U")
                # The inventory exports end with one line end only when they fail this way.
                with self.assertRaises(error):
                    client.inventory_plate_export("U", True, True)

    def test_replies_of_the_wrong_form_are_protocol_errors(self):
        cases = [
            (lambda c: c.read_ready_flag("U"), b"yes\r\n"),
            (lambda c: c.beeper_on("U"), b"1\r\n"),
            (lambda c: c.inventory_plate_export("U", True, True), b"1\r\nextra\r\n"),
            (lambda c: c.service_move_plate("U", 2, 3, 1, 0, 0, "U", 2, 4, 1, 0, 0), b"7\r\n"),
        ]
        for call, reply in cases:
            with self.subTest(reply=reply), FakeServer(answer(reply)) as server:
                with self.assertRaises(ProtocolError):
                    call(Client(port=server.port, timeout=5))

    def test_silence_and_early_close_and_no_server(self):
        with FakeServer(lambda received: None) as server:
            with self.assertRaises(KRBTimeoutError):
                Client(port=server.port, timeout=0.3).read_ready_flag("U")
        with FakeServer(answer(b"1")) as server:  # closes before the line end
            with self.assertRaises(KRBConnectionError):
                Client(port=server.port, timeout=5).read_ready_flag("U")
        with FakeServer(answer(b"")) as server:
            port = server.port
        with self.assertRaises(KRBConnectionError):
            Client(port=port, timeout=2).read_ready_flag("U")

    def test_bad_arguments_are_refused_before_anything_is_sent(self):
        with FakeServer(answer(b"1\r\n")) as server:
            client = Client(port=server.port, timeout=5)
            with self.assertRaises(ValueError):
                client.activate("Base1,Ext1")
            with self.assertRaises(ValueError):
                client.command("KRB2Lock(U)\rKRB2UnLock(U)")
            with self.assertRaises(ValueError):
                client.unit("Base 1")
            with self.assertRaises(TypeError):
                client.manual_access("U", "3")
            self.assertEqual(server.received, [])


class UpdateAndViewExchangeTest(unittest.TestCase):
    def test_update_commands_send_their_text_and_return_the_code(self):
        with FakeServer(answer(b"-2\r\n")) as server:
            client = Client(port=server.port, timeout=5)
            self.assertEqual(client.update_plate_present("U1", 12, True), -2)
            self.assertEqual(client.update_slot_levels("U1", 2, 5), -2)
            self.assertEqual(server.received, [b"UpdatePlatePP(U1,12,1)\r",
                                               b"UpdateSlotLevels(U1,2,5)\r"])

    def test_a_view_is_read_until_the_server_closes(self):
        document = (b"HTTP/1.1 200 OK\nServer: KRB\nContent-Type: text/XML\n\n<?xml version=\"1.0\"?>"
                    b"\r\n<MyLabPlate>\r\n<System><SysName>S</SysName><SysId>1</SysId></System>"
                    b"</MyLabPlate>\r\n")
        with FakeServer(lambda received: document if received.endswith(b"\r\n\r\n") else None) as server:
            lab = Client(port=server.port, timeout=5).sector("Base1", "Stock")
            self.assertEqual(lab.systems[0].name, "S")
            self.assertTrue(server.received[0].startswith(
                b"GET /PlateExp/DrawSector?unitid=Base1&id=Stock HTTP/1.1\r\n"))


class ListenerExchangeTest(unittest.TestCase):
    LINES = b"I_DeviceNotBisy(U)\r\nI_DeviceActivated(U)\r\nI_E#0(U)\r\nI_DeviceBi"

    def script(self, received):
        return self.LINES if received == b"KRBServiceSocket\r" else None

    def test_blocking_listener_yields_events_and_times_out(self):
        with FakeServer(self.script, close_after_reply=False) as server:
            with Client(port=server.port, timeout=5).listen(timeout=0.3) as events:
                kinds = [next(events).kind for _ in range(3)]
                with self.assertRaises(KRBTimeoutError):
                    next(events)  # the fourth line never completes
        self.assertEqual(kinds, [EventKind.IDLE, EventKind.ACTIVATED, EventKind.ERROR])

    def test_asyncio_listener_yields_the_same_events(self):
        async def first_three(port):
            async with Client(port=port, timeout=5).listen_async(timeout=0.3) as events:
                seen = [(await anext(events)).kind for _ in range(3)]
                with self.assertRaises(KRBTimeoutError):
                    await anext(events)
                return seen

        with FakeServer(self.script, close_after_reply=False) as server:
            kinds = asyncio.run(first_three(server.port))
        self.assertEqual(kinds, [EventKind.IDLE, EventKind.ACTIVATED, EventKind.ERROR])


class CommandLineTest(unittest.TestCase):
    def run_cli(self, *argv):
        out, err = io.StringIO(), io.StringIO()
        with redirect_stdout(out), redirect_stderr(err):
            try:
                status = main(list(argv))
            except SystemExit as exit_:
                status = exit_.code
        return status, out.getvalue(), err.getvalue()

    def test_commands_print_their_results_and_errors_set_the_status(self):
        with FakeServer(answer(b"1;1\r\n")) as server:
            status, out, _ = self.run_cli("--port", str(server.port), "activate", "Base1")
            self.assertEqual((status, json.loads(out)), (0, {"code": 1, "reader": 1}))
        with FakeServer(answer(b"E2\r\n")) as server:
            status, out, err = self.run_cli("--port", str(server.port), "read-ready-flag", "X")
            self.assertEqual((status, out), (1, ""))
            self.assertIn("E2", err)
        with FakeServer(answer(b"1\r\n")) as server:
            status, _, _ = self.run_cli("--port", str(server.port), "update-plate-load-date",
                                        "U", "4", "2026-12-08T10:30:00")
            self.assertEqual(status, 0)
            self.assertEqual(server.received, [b"UpdatePlateLoadDate(U,4,08.12.2026 10:30:00)\r"])

    def test_malformed_arguments_are_usage_errors(self):
        for argv in [("manual-access", "U", "x"), ("inventory-plate-export", "U", "1", "yes"),
                     ("update-plate-check-date", "U", "1", "tomorrow"), ("no-such-command",)]:
            with self.subTest(argv=argv):
                status, _, err = self.run_cli(*argv)
                self.assertEqual(status, 2)
                self.assertIn("usage", err)

    def test_help_lists_the_commands(self):
        status, out, _ = self.run_cli("--help")
        self.assertEqual(status, 0)
        for name in ("activate", "service-move-plate", "tree", "update-slot-levels", "listen"):
            self.assertIn(name, out)


if __name__ == "__main__":
    unittest.main()
