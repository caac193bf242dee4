"""The lab scenario against a fake demo lab: it passes on a lab that keeps every promise, and
fails the right step, with exit status 1, on a lab that breaks one."""
import contextlib
import io
import tempfile
import unittest

import fake_lab
import lab_scenario
from test_sila_client import self_signed_certificate


def run_scenario(lab, *transport):
    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        status = lab_scenario.main(["--base-port", str(lab.base_port), "--sim-control", lab.control_path,
                                    *transport])
    return status, output.getvalue().splitlines()


class LabScenarioTest(unittest.TestCase):
    def test_each_broken_promise_fails_its_step(self):
        cases = [
            ((), []),
            (("no_occupancy_check",), ["a move onto an occupied location gives TargetOccupied",
                                       "nothing moved on TargetOccupied"]),
            (("no_validation",), ["a MovePlate missing a parameter gives a validation error"]),
            (("silent_busy",), ["Busy subscription saw the move"]),
            # Busy since the activation: the move's own busy time is not seen.
            (("busy_stuck",), ["Busy subscription saw the move"]),
            # The move reports success but the plate stays: only the simulator can tell, twice.
            (("lost_move",), ["P0003 after the move", "MovePlate P0003 back from Ext1 6/1 to Base1 3/1"]),
            (("stale_contents",), ["ScanInventory on a partition of Store4 and Contents"]),
        ]
        for faults, failing in cases:
            with self.subTest(faults=faults):
                lab = fake_lab.FakeLab(faults)
                try:
                    status, lines = run_scenario(lab, "--insecure")
                finally:
                    lab.stop()
                failed = [line.split(":", 1)[0][len("FAIL "):] for line in lines if line.startswith("FAIL ")]
                self.assertEqual(failed, failing, "\n".join(lines))
                self.assertEqual(status, 1 if failing else 0)
                self.assertTrue(lines[-1].endswith("ALL STEPS HELD" if not failing else "FAILED"))
                self.assertTrue(all(line.startswith(("PASS ", "FAIL ")) for line in lines[:-1]), lines)

    def test_tls_trusting_the_pem(self):
        with tempfile.TemporaryDirectory() as folder:
            key, cert, cert_path = self_signed_certificate(folder)
            lab = fake_lab.FakeLab(tls=(key, cert))
            try:
                status, lines = run_scenario(lab, "--pem", cert_path)
            finally:
                lab.stop()
        self.assertEqual(status, 0, "\n".join(lines))
        self.assertIn(f"over TLS trusting {cert_path}", lines[0])

    def test_p0003_ends_where_it_started(self):
        lab = fake_lab.FakeLab()
        try:
            for _ in range(2):
                status, lines = run_scenario(lab, "--insecure")
                self.assertEqual(status, 0, "\n".join(lines))
            self.assertEqual(lab.where("P0003"), "PLATE COM1 SLOT 3 1 P0003\nOK 1\n")
        finally:
            lab.stop()


if __name__ == "__main__":
    unittest.main()
