"""Notification lines as typed events."""

import unittest

from krbclient import EventKind, parse_event


class NotificationLineTest(unittest.TestCase):
    def test_every_notification_form(self):
        cases = {
            "I_DeviceBisy(Base1)": (EventKind.BUSY, "Base1", None),
            "I_DeviceNotBisy(Base1)": (EventKind.IDLE, "Base1", None),
            "I_DeviceActivated(U 2)": (EventKind.ACTIVATED, "U 2", None),
            "I_DeviceDeActivated(U)": (EventKind.DEACTIVATED, "U", None),
            "I_DeviceDeactivated(U)": (EventKind.DEACTIVATED, "U", None),
            "I_DoorOpened(U)": (EventKind.DOOR_OPENED, "U", None),
            "I_DoorClosed(U)": (EventKind.DOOR_CLOSED, "U", None),
            "I_E#7301(U)": (EventKind.ERROR, "U", 7301),
            "I_E#0(U)": (EventKind.ERROR, "U", 0),
            "I_DeviceBisy()": (EventKind.BUSY, "", None),
        }
        for line, (kind, unit, code) in cases.items():
            with self.subTest(line=line):
                event = parse_event(line)
                self.assertEqual((event.kind, event.unit, event.code, event.line),
                                 (kind, unit, code, line))
        self.assertTrue(parse_event("I_E#0(U)").error_cleared)
        self.assertFalse(parse_event("I_E#5(U)").error_cleared)

    def test_lines_of_no_known_form_are_kept_as_unknown(self):
        for line in ["", "I_DeviceBisy", "I_DeviceBisy(U", "I_E#(U)", "I_E#-1(U)",
                     "I_Something(U)", "E3", "i_devicebisy(U)"]:
            with self.subTest(line=line):
                event = parse_event(line)
                self.assertEqual(event.kind, EventKind.UNKNOWN)
                self.assertEqual(event.line, line)


if __name__ == "__main__":
    unittest.main()
