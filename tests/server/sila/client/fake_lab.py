"""A fake demo lab for the scenario's own test: one Python SiLA server per unit at BasePort+i,
the plates of the demo's set-up, and a control socket that answers WHERE like the simulator.
Faults make it break one promise each, so that the test sees the scenario notice."""
import base64
import os
import random
import socket
import tempfile
import threading
import time
import uuid
from concurrent import futures

import grpc

import fake_server
import sila_client

HERE = os.path.dirname(os.path.abspath(__file__))
LAB_FEATURES = ("LabUnitController", "LabUnitStatusProvider", "LabPlateTransferController",
                "LabInventoryController")
UNITS = ("Base1", "Cascader1", "Ext1", "Store4", "Tubes5")
PLATES = {
    "Base1": {(1, 1): "P0001", (1, 2): "P0002", (3, 1): "P0003", (5, 5): "P0004", (12, 3): "P0005"},
    "Ext1": {(2, 1): "E0001", (4, 4): "E0002"},
    "Store4": {(1, 1): "R0001", (2, 1): "R0002", (3, 3): "P4001"},
}
RACKS = [(cassette, level) for cassette in (1, 2) for level in (1, 2, 3)]


class SilaAbort(Exception):
    def __init__(self, error):
        super().__init__()
        self.error = error


class Executions:
    """Observable commands: each runs on a thread of its own from its start."""

    def __init__(self, fw):
        self.fw = fw
        self.running = {}

    def start(self, action):
        done = threading.Event()
        entry = {"done": done, "result": None, "error": None}

        def run():
            try:
                entry["result"] = action()
            except SilaAbort as abort:
                entry["error"] = abort.error
            done.set()

        execution = str(uuid.uuid4())
        self.running[execution] = entry
        threading.Thread(target=run, daemon=True).start()
        return self.fw.CommandConfirmation(commandExecutionUUID=self.fw.CommandExecutionUUID(value=execution))

    def info(self, request):
        status = self.fw.ExecutionInfo.CommandStatus
        entry = self.running[request.value]
        yield self.fw.ExecutionInfo(commandStatus=status.running, progressInfo=self.fw.Real(value=0.0))
        entry["done"].wait()
        final = status.finishedWithError if entry["error"] else status.finishedSuccessfully
        yield self.fw.ExecutionInfo(commandStatus=final, progressInfo=self.fw.Real(value=1.0))

    def result(self, request, context):
        entry = self.running.pop(request.value)
        entry["done"].wait()
        if entry["error"]:
            fake_server.abort_with(context, entry["error"])
        return entry["result"]


class FakeLab:
    def __init__(self, faults=(), tls=None):
        self.faults = set(faults)
        self.plates = {unit: dict(PLATES.get(unit, {})) for unit in UNITS}
        self.lock = threading.Lock()
        self.busy_history = {unit: [False] for unit in UNITS}
        self.busy_changed = threading.Condition(self.lock)
        self.units = self._serve(tls)
        self.base_port = self.units[0].port
        self.control_path = os.path.join(tempfile.mkdtemp(prefix="fake-lab-"), "krb-sim.control")
        self._serve_control()

    def _serve(self, tls):
        # The units need consecutive ports: try bases until every one binds.
        for _ in range(20):
            base = random.randrange(20000, 60000)
            units = []
            try:
                for index, name in enumerate(UNITS):
                    units.append(UnitServer(self, name, base + index, tls))
                return units
            except RuntimeError:
                for unit in units:
                    unit.stop()
        raise RuntimeError("no five consecutive free ports")

    def _serve_control(self):
        self.control = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.control.bind(self.control_path)
        self.control.listen()
        threading.Thread(target=self._answer_control, daemon=True).start()

    def _answer_control(self):
        while True:
            try:
                connection, _ = self.control.accept()
            except OSError:
                return
            with connection:
                words = connection.recv(4096).decode().split()
                connection.sendall(self.where(words[1]).encode() if words[:1] == ["WHERE"] else b"ERR\n")

    def where(self, barcode):
        with self.lock:
            found = [f"PLATE COM{UNITS.index(unit) + 1} SLOT {place[0]} {place[1]} {barcode}\n"
                     for unit, plates in self.plates.items() for place, held in plates.items() if held == barcode]
        return "".join(found) + f"OK {len(found)}\n" if found else f"ERR no plate with barcode {barcode}\n"

    def set_busy(self, unit, busy):
        if "silent_busy" in self.faults:
            return
        with self.busy_changed:
            self.busy_history[unit].append(busy)
            self.busy_changed.notify_all()

    def stop(self):
        for unit in self.units:
            unit.stop()
        self.control.close()
        with self.busy_changed:
            self.busy_changed.notify_all()


class UnitServer:
    """One unit's SiLA server: SiLAService and the lab features, answering from the lab."""

    def __init__(self, lab, name, port, tls):
        compiler = sila_client.FeatureCompiler()
        self.lab = lab
        self.name = name
        self.server_type = "FakeUnit"
        self.fw = compiler.framework()
        self.executions = Executions(self.fw)
        with open(os.path.join(compiler.standard_dir, "SiLAService.sila.xml"), encoding="utf-8") as source:
            service = sila_client.FeatureDefinition(source.read())
        self.fdls = {service.fully_qualified_identifier: service.xml}
        self.server = grpc.server(futures.ThreadPoolExecutor(max_workers=16))
        self.service_pb2, service_grpc = compiler.compile(service)
        servicer = type("Service", (fake_server.ServiceServicer, service_grpc.SiLAServiceServicer), {})
        service_grpc.add_SiLAServiceServicer_to_server(servicer(self), self.server)
        self.modules = {}
        for file_stem in LAB_FEATURES:
            with open(os.path.join(HERE, "testdata", file_stem + ".sila.xml"), encoding="utf-8") as source:
                definition = sila_client.FeatureDefinition(source.read())
            self.fdls[definition.fully_qualified_identifier] = definition.xml
            messages, services = compiler.compile(definition)
            self.modules[definition.identifier] = (definition.fully_qualified_identifier, messages)
            getattr(services, f"add_{definition.identifier}Servicer_to_server")(self, self.server)
        address = f"127.0.0.1:{port}"
        try:
            bound = (self.server.add_secure_port(address, grpc.ssl_server_credentials([tls])) if tls
                     else self.server.add_insecure_port(address))
        except RuntimeError:
            bound = 0
        if bound != port:
            raise RuntimeError(f"port {port} is taken")
        self.port = port
        self.server.start()

    def stop(self):
        self.server.stop(None)

    def _messages(self, feature):
        return self.modules[feature][1]

    def _error(self, feature, **kind):
        return SilaAbort(self.fw.SiLAError(**kind))

    # UnitController

    def Activate(self, request, context):
        def activate():
            if "busy_stuck" in self.lab.faults:
                self.lab.set_busy(self.name, True)
            response = self._messages("UnitController").Activate_Responses()
            response.ReaderConnected.value = self.name in ("Base1", "Store4")
            return response
        return self.executions.start(activate)

    def Activate_Info(self, request, context):
        yield from self.executions.info(request)

    def Activate_Result(self, request, context):
        return self.executions.result(request, context)

    # UnitStatusProvider

    def Subscribe_Busy(self, request, context):
        history = self.lab.busy_history[self.name]
        with self.lab.busy_changed:
            sent = len(history) - 1  # the current value at once, then every change
        while context.is_active():
            with self.lab.busy_changed:
                if sent == len(history):
                    self.lab.busy_changed.wait(0.2)
                    continue
                pending, sent = history[sent:], len(history)
            for value in pending:
                response = self._messages("UnitStatusProvider").Subscribe_Busy_Responses()
                response.Busy.value = value
                yield response

    # PlateTransferController

    def MovePlate(self, request, context):
        identifier = self.modules["PlateTransferController"][0]
        for parameter in ("SourceCassette", "SourceLevel", "TargetUnit", "TargetCassette", "TargetLevel"):
            if not request.HasField(parameter) and "no_validation" not in self.lab.faults:
                fake_server.abort_with(context, self.fw.SiLAError(validationError=self.fw.ValidationError(
                    parameter=f"{identifier}/Command/MovePlate/Parameter/{parameter}", message="missing")))
        source = (request.SourceCassette.value, request.SourceLevel.value)
        target_unit = request.TargetUnit.value or self.name
        target = (request.TargetCassette.value, request.TargetLevel.value)
        return self.executions.start(lambda: self._move(identifier, source, target_unit, target))

    def _move(self, identifier, source, target_unit, target):
        def defined(name):
            return SilaAbort(self.fw.SiLAError(definedExecutionError=self.fw.DefinedExecutionError(
                errorIdentifier=f"{identifier}/DefinedExecutionError/{name}", message=f"{name} at {self.name}")))

        with self.lab.lock:
            if source not in self.lab.plates[self.name]:
                raise defined("SourceEmpty")
            if target in self.lab.plates[target_unit] and "no_occupancy_check" not in self.lab.faults:
                raise defined("TargetOccupied")
        self.lab.set_busy(self.name, True)
        time.sleep(0.05)
        with self.lab.lock:
            if "lost_move" not in self.lab.faults:
                self.lab.plates[target_unit][target] = self.lab.plates[self.name].pop(source)
        self.lab.set_busy(self.name, False)
        return self._messages("PlateTransferController").MovePlate_Responses()

    def MovePlate_Info(self, request, context):
        yield from self.executions.info(request)

    def MovePlate_Result(self, request, context):
        return self.executions.result(request, context)

    # InventoryController

    def _locations(self, response, field, stale):
        with self.lab.lock:
            plates = dict(self.lab.plates[self.name])
        for place in RACKS:
            entry = getattr(response, field).add()
            entry.Cassette.value, entry.Level.value = place
            barcode = plates.get(place, "")
            entry.Present.value = bool(barcode)
            entry.Barcode.value = "X9999" if stale and place == (1, 1) else barcode
        return response

    def ScanInventory(self, request, context):
        messages = self._messages("InventoryController")
        return self.executions.start(lambda: self._locations(messages.ScanInventory_Responses(), "Locations", False))

    def ScanInventory_Info(self, request, context):
        yield from self.executions.info(request)

    def ScanInventory_Result(self, request, context):
        return self.executions.result(request, context)

    def Get_Contents(self, request, context):
        messages = self._messages("InventoryController")
        return self._locations(messages.Get_Contents_Responses(), "Contents", "stale_contents" in self.lab.faults)
