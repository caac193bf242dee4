#!/usr/bin/python3
"""The SiLA 2 interface on the demo lab, through the standard-only client: each step prints one
line (PASS or FAIL); the exit status is 0 only when every step held.

    lab_scenario.py --base-port 50100 --pem LAB/sila-certificate.pem [--sim-control PORT_DIR/krb-sim.control]
    lab_scenario.py --base-port 50100 --insecure ...

The scenario leaves P0003 where it found it, so it can run again (with TLS, then plain text)."""
import argparse
import socket
import sys
import threading
import time

import sila_client

UNITS_NEEDED = ("Base1", "Cascader1", "Ext1", "Store4")
# What the scenario calls on each unit; a unit may implement more.
FEATURES_NEEDED = {
    "Base1": ("UnitController", "UnitStatusProvider", "PlateTransferController"),
    "Cascader1": ("UnitController",),
    "Ext1": ("UnitController", "PlateTransferController"),
    "Store4": ("UnitController", "InventoryController"),
}


class StepFailed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise StepFailed(message)


class Scenario:
    def __init__(self, options):
        self.options = options
        self.units = {}
        self.failures = 0
        self.busy_values = []
        self.busy_before_move = 0  # how many Busy values had come when the move started
        self.busy_lock = threading.Lock()
        self.busy_subscription = None

    def step(self, title, action):
        """Runs one step and prints its line; a step that raises fails, the others go on."""
        try:
            detail = action()
            print(f"PASS {title}: {detail}", flush=True)
            return True
        except (StepFailed, sila_client.SilaError, sila_client.SilaConnectionError, KeyError, ValueError,
                OSError) as failure:
            self.failures += 1
            print(f"FAIL {title}: {type(failure).__name__}: {failure}", flush=True)
            return False

    # connection and discovery

    def connect(self):
        options = self.options
        found = []
        for port in range(options.base_port, options.base_port + options.units):
            client = sila_client.SilaClient(options.host, port, root_pem=options.pem,
                                            standard_dir=options.standard_dir, tls_name=options.tls_name)
            name = client.server_name()
            self.units[name] = client
            found.append(f"{name}@{port}")
        missing = [unit for unit in UNITS_NEEDED if unit not in self.units]
        check(not missing, f"no server for {', '.join(missing)} among {', '.join(found)}")
        transport = "plain text" if options.pem is None else f"TLS trusting {options.pem}"
        return f"{' '.join(found)} over {transport}"

    def discover(self):
        lines = []
        for unit in UNITS_NEEDED:
            features = self.units[unit].discover()
            for needed in FEATURES_NEEDED[unit]:
                check(needed in features, f"{unit} lacks {needed} (has {features})")
            lines.append(f"{unit}[{self.units[unit].server_type()}]: {len(features)} features")
        return "; ".join(lines) + ", protos generated from the fetched FDLs"

    def feature(self, unit, identifier):
        return self.units[unit].feature(identifier)

    # the steps

    def activate(self, unit):
        result = self.feature(unit, "UnitController").run("Activate")
        return f"{unit} activated, ReaderConnected={result['ReaderConnected']}"

    def subscribe_busy(self):
        subscription = self.feature("Base1", "UnitStatusProvider").subscribe("Busy")
        first = threading.Event()

        def follow():
            for value in subscription:
                with self.busy_lock:
                    self.busy_values.append(value)
                first.set()

        threading.Thread(target=follow, daemon=True).start()
        check(first.wait(10), "no value within 10 s of subscribing")
        self.busy_subscription = subscription
        return f"first value Busy={self.busy_values[0]}"

    def where(self, barcode):
        """The simulator's answer to WHERE, over its control socket."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as control:
            control.settimeout(30)
            control.connect(self.options.sim_control)
            control.sendall(f"WHERE {barcode}\n".encode())
            reply = b""
            while b"OK" not in reply and b"ERR" not in reply:
                chunk = control.recv(4096)
                if not chunk:
                    break
                reply += chunk
        return [line for line in reply.decode().splitlines() if line.startswith("PLATE ")]

    def check_where(self, barcode, expected):
        found = self.where(barcode)
        check(found == [expected], f"simulator has {found}, expected {expected}")
        return f"simulator: {expected}"

    def move(self, unit, source, target_unit, target):
        progress = []
        result = self.feature(unit, "PlateTransferController").run(
            "MovePlate", on_info=lambda status, value: progress.append((status, value)),
            SourceCassette=source[0], SourceLevel=source[1], TargetUnit=target_unit,
            TargetCassette=target[0], TargetLevel=target[1])
        check(progress and progress[-1][0] == "finishedSuccessfully", f"execution info ended with {progress[-1:]}")
        return f"{unit} {source[0]}/{source[1]} -> {target_unit} {target[0]}/{target[1]} done, " \
               f"{len(progress)} execution infos, result {result}"

    def mark_busy_before_move(self):
        with self.busy_lock:
            self.busy_before_move = len(self.busy_values)

    def busy_seen(self):
        """From the last value before the move on: idle, busy, idle again."""
        def went_busy_and_back(values):
            return len(values) >= 3 and values[0] is False and True in values and values[-1] is False

        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with self.busy_lock:
                values = self.busy_values[max(self.busy_before_move - 1, 0):]
            if went_busy_and_back(values):
                break
            time.sleep(0.05)
        check(went_busy_and_back(values), f"Busy values from the move on: {values}")
        return f"Busy went {' -> '.join(str(v) for v in values)}"

    def occupied_target(self):
        try:
            self.feature("Base1", "PlateTransferController").run(
                "MovePlate", SourceCassette=1, SourceLevel=1, TargetUnit="Ext1", TargetCassette=2, TargetLevel=1)
        except sila_client.DefinedExecutionError as error:
            check(error.short_identifier == "TargetOccupied", f"got {error}")
            return f"Base1 1/1 -> Ext1 2/1 (E0001 there): {error.identifier}: {error.message}"
        raise StepFailed("the move onto an occupied location succeeded")

    def missing_parameter(self):
        try:
            self.feature("Base1", "PlateTransferController").start(
                "MovePlate", SourceCassette=1, SourceLevel=1, TargetUnit="", TargetCassette=2)
        except sila_client.ValidationError as error:
            check(error.parameter.endswith("TargetLevel"), f"validation error names {error.parameter}")
            return f"MovePlate without TargetLevel: {error.parameter}: {error.message}"
        raise StepFailed("MovePlate without TargetLevel was accepted")

    def scan_and_contents(self):
        partition = self.options.partition
        progress = []
        result = self.feature("Store4", "InventoryController").run(
            "ScanInventory", on_info=lambda status, value: progress.append(value), Partition=partition)
        scanned = result["Locations"]
        check(scanned, f"ScanInventory({partition}) gave no locations")
        contents = {(entry["Cassette"], entry["Level"]): entry
                    for entry in self.feature("Store4", "InventoryController").get("Contents")}
        differing = []
        for location in scanned:
            stored = contents.get((location["Cassette"], location["Level"]))
            if stored is None or (stored["Present"], stored["Barcode"]) != (location["Present"], location["Barcode"]):
                differing.append((location, stored))
        check(not differing, f"Contents differs from the scan at {differing[:3]}")
        plates = [f"{loc['Cassette']}/{loc['Level']}={loc['Barcode']}" for loc in scanned if loc["Present"]]
        return f"Store4 partition {partition}: {len(scanned)} locations scanned ({len(progress)} execution infos), " \
               f"plates {' '.join(plates)}; Contents agrees at every one"

    def run(self):
        if not self.step("connect to every unit's server and read SiLAService", self.connect):
            return 1
        if not self.step("fetch every FDL and generate its proto with the standard XSLT", self.discover):
            return 1
        for unit in UNITS_NEEDED:
            self.step(f"UnitController.Activate on {unit}", lambda unit=unit: self.activate(unit))
        self.step("subscribe to Base1 UnitStatusProvider.Busy", self.subscribe_busy)
        simulator = self.options.sim_control is not None
        if simulator:
            self.step("P0003 before the move", lambda: self.check_where("P0003", "PLATE COM1 SLOT 3 1 P0003"))
        self.mark_busy_before_move()
        self.step("MovePlate P0003 Base1 3/1 through the cascade to Ext1 6/1",
                  lambda: self.move("Base1", (3, 1), "Ext1", (6, 1)))
        if simulator:
            self.step("P0003 after the move", lambda: self.check_where("P0003", "PLATE COM3 SLOT 6 1 P0003"))
        self.step("Busy subscription saw the move", self.busy_seen)
        self.step("a move onto an occupied location gives TargetOccupied", self.occupied_target)
        if simulator:
            self.step("nothing moved on TargetOccupied", lambda: self.check_where("P0001", "PLATE COM1 SLOT 1 1 P0001"))
        self.step("a MovePlate missing a parameter gives a validation error", self.missing_parameter)
        self.step("ScanInventory on a partition of Store4 and Contents", self.scan_and_contents)
        self.step("MovePlate P0003 back from Ext1 6/1 to Base1 3/1",
                  lambda: self.move("Ext1", (6, 1), "Base1", (3, 1)))
        if simulator:
            self.step("P0003 is back", lambda: self.check_where("P0003", "PLATE COM1 SLOT 3 1 P0003"))
        if self.busy_subscription:
            self.busy_subscription.cancel()
        for client in self.units.values():
            client.close()
        print(f"{'ALL STEPS HELD' if self.failures == 0 else f'{self.failures} STEP(S) FAILED'}", flush=True)
        return 0 if self.failures == 0 else 1


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--base-port", type=int, required=True, help="[SiLA] BasePort: unit i is at BasePort+i")
    parser.add_argument("--units", type=int, default=5, help="how many unit servers to look at (default 5)")
    transport = parser.add_mutually_exclusive_group(required=True)
    transport.add_argument("--pem", help="the server's certificate (sila-certificate.pem) to trust")
    transport.add_argument("--insecure", action="store_true", help="plain-text gRPC ([SiLA] Insecure=1)")
    parser.add_argument("--tls-name", help="host name to check the certificate against instead of --host")
    parser.add_argument("--sim-control", help="krb-sim's control socket, to check WHERE P0003")
    parser.add_argument("--partition", default="Racks", help="Store4's partition to scan (default Racks)")
    parser.add_argument("--standard-dir", help="folder with fdl2proto.xsl and SiLAFramework.proto")
    return parser.parse_args(argv)


def main(argv):
    return Scenario(parse_arguments(argv)).run()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
