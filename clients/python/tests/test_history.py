"""`Client.history` against a scripted dashboard port: the query it sends, the entries it
returns, and the errors of a refused query or a trail that is off."""

import json
import threading
import unittest
from datetime import datetime, timezone
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from krbclient import (Client, HistoryEntry, HistoryUnavailableError, RecordChange,
                       RecordState)

MOVE = {
    "time": "2026-12-09T10:00:00.123Z", "server": "lab1 /labs/DriverConfig.lni",
    "interface": "text", "client": "10.0.0.7:5100", "unit": "Base1",
    "command": "KRB2ServiceMovePlate", "arguments": "2,3,1,1,0,Ext1,2,6,1,2,0", "reply": "1",
    "durationUs": 5200,
    "change": {"slotNo": 3, "cassette": 3, "level": 1,
               "before": {"present": True, "barcode": "P0003", "name": "Plate 3"},
               "after": {"present": False, "barcode": "", "name": "Location 3"},
               "cause": "move"},
}


class ScriptedDashboard:
    """Answers every GET with one status and body, and keeps the paths asked for."""

    def __init__(self, status: int, body: str) -> None:
        self.paths: list[str] = []
        outer = self

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self) -> None:  # noqa: N802 (the server's name)
                outer.paths.append(self.path)
                data = body.encode()
                self.send_response(status)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args) -> None:
                pass

        self._server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self._server.server_address[1]

    def __enter__(self) -> "ScriptedDashboard":
        threading.Thread(target=self._server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc) -> None:
        self._server.shutdown()
        self._server.server_close()


class HistoryTest(unittest.TestCase):
    def test_a_query_asks_the_dashboard_port_and_returns_typed_entries(self):
        body = json.dumps({"entries": [MOVE, dict(MOVE, change=None, command="KRB2Activate")]})
        with ScriptedDashboard(200, body) as dashboard:
            client = Client(port=1, web_port=dashboard.port, timeout=5)
            since = datetime(2026, 12, 9, 10, 0, tzinfo=timezone.utc)
            entries = client.history(plate="P0003", since=since, limit=5)
            self.assertEqual(client.history(unit="Base1", client="10.0.0.7"), entries)
        self.assertEqual(dashboard.paths, [
            "/history?plate=P0003&since=2026-12-09T10%3A00%3A00.000Z&limit=5",
            "/history?unit=Base1&client=10.0.0.7",
        ])
        self.assertEqual(entries[0], HistoryEntry(
            datetime(2026, 12, 9, 10, 0, 0, 123000, tzinfo=timezone.utc),
            "lab1 /labs/DriverConfig.lni", "text", "10.0.0.7:5100", "Base1",
            "KRB2ServiceMovePlate", "2,3,1,1,0,Ext1,2,6,1,2,0", "1", 5200,
            RecordChange(3, 3, 1, RecordState(True, "P0003", "Plate 3"),
                         RecordState(False, "", "Location 3"), "move")))
        self.assertIsNone(entries[1].change)

    def test_refusals_raise_with_the_servers_reason(self):
        cases = [
            (400, "limit: \"0\" is no number from 1 to 10000\n", ValueError),
            (503, "the audit trail is off\n", HistoryUnavailableError),
        ]
        for status, reason, error in cases:
            with self.subTest(status=status), ScriptedDashboard(status, reason) as dashboard:
                client = Client(web_port=dashboard.port, timeout=5)
                with self.assertRaisesRegex(error, reason.strip()):
                    client.history(limit=0)


if __name__ == "__main__":
    unittest.main()
