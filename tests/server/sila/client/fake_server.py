"""A small SiLA 2 server in Python for the client's tests: SiLAService and the SampleRack test
feature, built from the same generated modules the client uses."""
import base64
import os
import threading
import uuid
from concurrent import futures

import grpc

import sila_client

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE_RACK_FDL = os.path.join(HERE, "testdata", "SampleRack.sila.xml")


def abort_with(context, error):
    context.abort(grpc.StatusCode.ABORTED, base64.b64encode(error.SerializeToString()).decode("ascii"))


class FakeServer:
    def __init__(self, name="Rack1", capacity=4, tls=None, linger=False):
        compiler = sila_client.FeatureCompiler()
        self.fw = compiler.framework()
        with open(os.path.join(compiler.standard_dir, "SiLAService.sila.xml"), encoding="utf-8") as source:
            self.service_fdl = source.read()
        with open(SAMPLE_RACK_FDL, encoding="utf-8") as source:
            self.rack_fdl = source.read()
        service = sila_client.FeatureDefinition(self.service_fdl)
        rack = sila_client.FeatureDefinition(self.rack_fdl)
        self.fdls = {d.fully_qualified_identifier: d.xml for d in (service, rack)}
        self.rack_identifier = rack.fully_qualified_identifier
        self.service_pb2, service_grpc = compiler.compile(service)
        self.rack_pb2, rack_grpc = compiler.compile(rack)
        self.name = name
        self.server_type = "SampleRack"
        self.capacity = capacity
        self.linger = linger  # keep the info stream open after the final status
        self.full = []
        self.changed = threading.Condition()
        self.executions = {}
        self.server = grpc.server(futures.ThreadPoolExecutor(max_workers=8))
        # The generated base classes answer UNIMPLEMENTED for what the fake leaves out.
        service = type("Service", (ServiceServicer, service_grpc.SiLAServiceServicer), {})
        rack = type("Rack", (RackServicer, rack_grpc.SampleRackServicer), {})
        service_grpc.add_SiLAServiceServicer_to_server(service(self), self.server)
        rack_grpc.add_SampleRackServicer_to_server(rack(self), self.server)
        if tls:
            credentials = grpc.ssl_server_credentials([tls])
            self.port = self.server.add_secure_port("127.0.0.1:0", credentials)
        else:
            self.port = self.server.add_insecure_port("127.0.0.1:0")
        self.server.start()

    def stop(self):
        with self.changed:
            self.changed.notify_all()
        self.server.stop(None)


class ServiceServicer:
    def __init__(self, fake):
        self.fake = fake

    def _string(self, response, field, value):
        message = getattr(self.fake.service_pb2, response)()
        getattr(message, field).value = value
        return message

    def Get_ServerName(self, request, context):
        return self._string("Get_ServerName_Responses", "ServerName", self.fake.name)

    def Get_ServerType(self, request, context):
        return self._string("Get_ServerType_Responses", "ServerType", self.fake.server_type)

    def Get_ServerUUID(self, request, context):
        return self._string("Get_ServerUUID_Responses", "ServerUUID", "7f1b2c3d-0000-4000-8000-000000000001")

    def Get_ImplementedFeatures(self, request, context):
        response = self.fake.service_pb2.Get_ImplementedFeatures_Responses()
        for identifier in self.fake.fdls:
            response.ImplementedFeatures.add().value = identifier
        return response

    def GetFeatureDefinition(self, request, context):
        fdl = self.fake.fdls.get(request.FeatureIdentifier.value)
        if fdl is None:
            abort_with(context, self.fake.fw.SiLAError(definedExecutionError=self.fake.fw.DefinedExecutionError(
                errorIdentifier=sila_client.SILA_SERVICE + "/DefinedExecutionError/UnimplementedFeature",
                message="no such feature")))
        return self._string("GetFeatureDefinition_Responses", "FeatureDefinition", fdl)


class RackServicer:
    def __init__(self, fake):
        self.fake = fake

    def Fill(self, request, context):
        fw = self.fake.fw
        if not request.HasField("Count"):
            abort_with(context, fw.SiLAError(validationError=fw.ValidationError(
                parameter=self.fake.rack_identifier + "/Command/Fill/Parameter/Count", message="Count is missing")))
        execution = str(uuid.uuid4())
        self.fake.executions[execution] = (request.Count.value, request.Label.value)
        return fw.CommandConfirmation(commandExecutionUUID=fw.CommandExecutionUUID(value=execution))

    def Fill_Info(self, request, context):
        fw = self.fake.fw
        status = fw.ExecutionInfo.CommandStatus
        if request.value not in self.fake.executions:
            abort_with(context, fw.SiLAError(frameworkError=fw.FrameworkError(
                errorType=fw.FrameworkError.INVALID_COMMAND_EXECUTION_UUID, message="unknown execution")))
        yield fw.ExecutionInfo(commandStatus=status.running, progressInfo=fw.Real(value=0.5))
        count, _ = self.fake.executions[request.value]
        ends = status.finishedSuccessfully if self._fits(count) else status.finishedWithError
        yield fw.ExecutionInfo(commandStatus=ends, progressInfo=fw.Real(value=1.0))
        while self.fake.linger and context.is_active():
            threading.Event().wait(0.1)

    def _fits(self, count):
        return len(self.fake.full) + count <= self.fake.capacity

    def Fill_Result(self, request, context):
        fw = self.fake.fw
        count, label = self.fake.executions.pop(request.value)
        if not self._fits(count):
            abort_with(context, fw.SiLAError(definedExecutionError=fw.DefinedExecutionError(
                errorIdentifier=self.fake.rack_identifier + "/DefinedExecutionError/RackFull",
                message=f"{count} slots asked, {self.fake.capacity - len(self.fake.full)} free")))
        with self.fake.changed:
            self.fake.full += [label] * count
            self.fake.changed.notify_all()
        response = self.fake.rack_pb2.Fill_Responses()
        for slot in range(self.fake.capacity):
            entry = response.Slots.add()
            entry.Slot.value = slot + 1
            entry.Full.value = slot < len(self.fake.full)
            entry.Label.value = self.fake.full[slot] if slot < len(self.fake.full) else ""
        return response

    def Empty(self, request, context):
        with self.fake.changed:
            removed = len(self.fake.full)
            self.fake.full = []
            self.fake.changed.notify_all()
        response = self.fake.rack_pb2.Empty_Responses()
        response.Removed.value = removed
        return response

    def Get_Capacity(self, request, context):
        response = self.fake.rack_pb2.Get_Capacity_Responses()
        response.Capacity.value = self.fake.capacity
        return response

    def Subscribe_FullSlots(self, request, context):
        sent = None
        while context.is_active():
            with self.fake.changed:
                if sent == len(self.fake.full):
                    self.fake.changed.wait(0.2)
                    continue
                sent = len(self.fake.full)
            response = self.fake.rack_pb2.Subscribe_FullSlots_Responses()
            response.FullSlots.value = sent
            yield response
