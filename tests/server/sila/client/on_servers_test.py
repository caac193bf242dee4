"""The lab scenario against the project's own SiLA 2 servers (sila_fake_lab_host: the real gRPC
servers over an in-memory lab), over TLS trusting the PEM they write and with Insecure=1.
Run by CTest, which names the host program in KRB_SILA_FAKE_LAB_HOST."""
import contextlib
import io
import os
import subprocess
import tempfile
import time
import unittest

import lab_scenario
import sila_client
from run_on_demo_lab import free_base_port, sila_section

HOST_PROGRAM = os.environ.get("KRB_SILA_FAKE_LAB_HOST")


@unittest.skipUnless(HOST_PROGRAM, "KRB_SILA_FAKE_LAB_HOST names no program")
class OnServersTest(unittest.TestCase):
    def start_host(self, folder, insecure):
        base_port = free_base_port(5)
        config = os.path.join(folder, "DriverConfig.lni")
        with open(config, "w", newline="") as out:
            out.write("[TCP]\r\nport=0\r\n" + sila_section(base_port, insecure))
        output = open(os.path.join(folder, "host.out"), "w+")
        self.addCleanup(output.close)
        host = subprocess.Popen([HOST_PROGRAM, config], stdout=output, stderr=subprocess.STDOUT)
        self.addCleanup(self.stop, host, output)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and host.poll() is None:
            output.seek(0)
            if "ready" in output.read():
                return base_port
            time.sleep(0.1)
        output.seek(0)
        self.fail(f"the host did not start: {output.read()}")

    def stop(self, host, output):
        """Stops the host; it must end cleanly (a sanitizer's report ends it with another status)."""
        host.terminate()
        status = host.wait(timeout=30)
        output.seek(0)
        self.assertEqual(status, 0, output.read()[-4000:])

    def run_scenario(self, base_port, *transport):
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            status = lab_scenario.main(["--base-port", str(base_port), *transport])
        lines = output.getvalue().splitlines()
        self.assertEqual(status, 0, "\n".join(lines))
        self.assertEqual(lines[-1], "ALL STEPS HELD")
        return lines

    def test_scenario_over_tls_trusting_the_written_pem(self):
        with tempfile.TemporaryDirectory() as folder:
            base_port = self.start_host(folder, insecure=False)
            pem = os.path.join(folder, "sila-certificate.pem")
            lines = self.run_scenario(base_port, "--pem", pem)
            self.assertIn("over TLS", lines[0])
            # A client that does not trust the certificate gets no answer.
            with self.assertRaises(sila_client.SilaConnectionError):
                sila_client.SilaClient("127.0.0.1", base_port, root_pem=None, timeout=5).server_name()

    def test_scenario_with_insecure(self):
        with tempfile.TemporaryDirectory() as folder:
            base_port = self.start_host(folder, insecure=True)
            self.run_scenario(base_port, "--insecure")

    def test_every_property_of_every_fetched_fdl_answers(self):
        with tempfile.TemporaryDirectory() as folder:
            base_port = self.start_host(folder, insecure=True)
            with sila_client.SilaClient("127.0.0.1", base_port + 4) as tubes:
                self.assertEqual(tubes.server_name(), "Tubes5")
                features = tubes.discover()
                self.assertIn("TubeTransferController", features)
                # Every member of every fetched FDL answers: none is UNIMPLEMENTED.
                for identifier in features:
                    feature = tubes.feature(identifier)
                    for prop, member in feature.definition.properties.items():
                        if member.observable:
                            subscription = feature.subscribe(prop)
                            next(iter(subscription))
                            subscription.cancel()
                        else:
                            feature.get(prop)


if __name__ == "__main__":
    unittest.main()
