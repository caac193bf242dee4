"""The client's own logic, without the project's server: error decoding, the FDL -> proto ->
module pipeline, value conversion, and the generic calls against a Python SiLA server."""
import base64
import os
import subprocess
import tempfile
import unittest

import grpc

import fake_server
import sila_client


class FakeRpcError(grpc.RpcError):
    def __init__(self, code, details):
        super().__init__()
        self._code = code
        self._details = details

    def code(self):
        return self._code

    def details(self):
        return self._details


def aborted_with(error):
    return FakeRpcError(grpc.StatusCode.ABORTED, base64.b64encode(error.SerializeToString()).decode())


class ErrorDecodingTest(unittest.TestCase):
    def test_each_status_becomes_the_exception_of_its_kind(self):
        fw = sila_client.FeatureCompiler().framework()
        undefined = fw.SiLAError(undefinedExecutionError=fw.UndefinedExecutionError(message="boom"))
        cases = [
            (aborted_with(fw.SiLAError(validationError=fw.ValidationError(parameter="f/Command/C/Parameter/P",
                                                                          message="missing"))),
             sila_client.ValidationError, {"parameter": "f/Command/C/Parameter/P", "message": "missing"}),
            (aborted_with(fw.SiLAError(definedExecutionError=fw.DefinedExecutionError(
                errorIdentifier="o/c/F/v1/DefinedExecutionError/TargetFull", message="full"))),
             sila_client.DefinedExecutionError,
             {"identifier": "o/c/F/v1/DefinedExecutionError/TargetFull", "short_identifier": "TargetFull",
              "message": "full"}),
            (aborted_with(undefined),
             sila_client.UndefinedExecutionError, {"message": "boom"}),
            (aborted_with(fw.SiLAError(frameworkError=fw.FrameworkError(
                errorType=fw.FrameworkError.COMMAND_EXECUTION_NOT_FINISHED, message="later"))),
             sila_client.FrameworkError, {"error_type": "COMMAND_EXECUTION_NOT_FINISHED", "message": "later"}),
            (FakeRpcError(grpc.StatusCode.UNAVAILABLE, "connection refused"),
             sila_client.SilaConnectionError, {"code": grpc.StatusCode.UNAVAILABLE}),
            # Only ABORTED carries SiLA errors, whatever another status's details look like.
            (FakeRpcError(grpc.StatusCode.INTERNAL, aborted_with(undefined).details()),
             sila_client.SilaConnectionError, {"code": grpc.StatusCode.INTERNAL}),
            (FakeRpcError(grpc.StatusCode.ABORTED, "not base64 at all!"),
             sila_client.SilaConnectionError, {"code": grpc.StatusCode.ABORTED}),
            (aborted_with(fw.SiLAError()), sila_client.SilaConnectionError, {"code": grpc.StatusCode.ABORTED}),
        ]
        for rpc_error, kind, fields in cases:
            with self.subTest(details=rpc_error.details()):
                decoded = sila_client.decode_rpc_error(rpc_error, fw)
                self.assertIs(type(decoded), kind)
                for name, value in fields.items():
                    self.assertEqual(getattr(decoded, name), value)


class PipelineTest(unittest.TestCase):
    def test_silaservice_definition_gives_a_stub_with_every_member(self):
        compiler = sila_client.FeatureCompiler()
        with open(os.path.join(compiler.standard_dir, "SiLAService.sila.xml"), encoding="utf-8") as source:
            definition = sila_client.FeatureDefinition(source.read())
        self.assertEqual(definition.fully_qualified_identifier, sila_client.SILA_SERVICE)
        messages, services = compiler.compile(definition)
        stub = services.SiLAServiceStub(grpc.insecure_channel("127.0.0.1:1"))
        for rpc in ("Get_ServerName", "Get_ServerType", "Get_ServerUUID", "Get_ImplementedFeatures",
                    "GetFeatureDefinition", "SetServerName"):
            self.assertTrue(hasattr(stub, rpc), rpc)
        response = messages.Get_ImplementedFeatures_Responses()
        response.ImplementedFeatures.add().value = "a/b/C/v1"
        self.assertEqual(sila_client.to_python(response), {"ImplementedFeatures": ["a/b/C/v1"]})

    def test_a_broken_definition_is_refused(self):
        compiler = sila_client.FeatureCompiler()
        with self.assertRaises(ValueError):
            sila_client.FeatureDefinition("<Other/>")
        with self.assertRaises(ValueError):
            compiler.proto_of("<unclosed")

    def test_a_feature_loads_once_whatever_its_descriptions_say(self):
        compiler = sila_client.FeatureCompiler()
        with open(fake_server.SAMPLE_RACK_FDL, encoding="utf-8") as source:
            fdl = source.read()
        first = compiler.compile(sila_client.FeatureDefinition(fdl))
        reworded = fdl.replace("Fills the first slots of the rack.", "Fills slots of rack 2.")
        self.assertIs(compiler.compile(sila_client.FeatureDefinition(reworded)), first)
        another_type = fdl.replace("<DataType><Basic>Integer</Basic></DataType>\n    </Parameter>",
                                   "<DataType><Basic>Real</Basic></DataType>\n    </Parameter>", 1)
        self.assertNotEqual(another_type, fdl)
        with self.assertRaises(ValueError):
            compiler.compile(sila_client.FeatureDefinition(another_type))

    def test_standard_folder_without_the_xslt_is_refused(self):
        with tempfile.TemporaryDirectory() as empty:
            with self.assertRaises(FileNotFoundError):
                sila_client.FeatureCompiler(empty)


class ValueTest(unittest.TestCase):
    def test_list_of_structures_round_trips(self):
        compiler = sila_client.FeatureCompiler()
        with open(fake_server.SAMPLE_RACK_FDL, encoding="utf-8") as source:
            messages, _ = compiler.compile(sila_client.FeatureDefinition(source.read()))
        slots = [{"Slot": 1, "Full": True, "Label": "A"}, {"Slot": 2, "Full": False, "Label": ""}]
        message = sila_client.fill(messages.Fill_Responses(), {"Slots": slots})
        self.assertEqual(message.Slots[0].Label.value, "A")
        self.assertEqual(sila_client.to_python(message), {"Slots": slots})
        with self.assertRaises(KeyError):
            sila_client.fill(messages.Fill_Parameters(), {"Amount": 1})


def self_signed_certificate(folder):
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=SiLA2",
                    "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    with open(key, "rb") as k, open(cert, "rb") as c:
        return k.read(), c.read(), cert


class GenericCallsTest(unittest.TestCase):
    """One scenario over both transports: discovery, each kind of call and each kind of error."""

    def run_scenario(self, fake, root_pem=None):
        with sila_client.SilaClient("127.0.0.1", fake.port, root_pem=root_pem) as client:
            self.assertEqual(client.server_name(), "Rack1")
            self.assertEqual(client.server_type(), "SampleRack")
            self.assertEqual(client.discover(), ["SampleRack", "SiLAService"])
            rack = client.feature("SampleRack")
            self.assertEqual(rack.get("Capacity"), 4)

            subscription = rack.subscribe("FullSlots")
            values = iter(subscription)
            self.assertEqual(next(values), 0)

            infos = []
            result = rack.run("Fill", on_info=lambda *info: infos.append(info), Count=3, Label="S")
            self.assertEqual(infos, [("running", 0.5), ("finishedSuccessfully", 1.0)])
            self.assertEqual([slot["Full"] for slot in result["Slots"]], [True, True, True, False])
            self.assertEqual(next(values), 3)

            execution = rack.start("Fill", Count=2, Label="T")
            self.assertEqual(execution.wait(), "finishedWithError")
            with self.assertRaises(sila_client.DefinedExecutionError) as full:
                execution.result()
            self.assertEqual(full.exception.short_identifier, "RackFull")

            with self.assertRaises(sila_client.ValidationError) as missing:
                rack.start("Fill", Label="T")
            self.assertTrue(missing.exception.parameter.endswith("/Parameter/Count"))

            with self.assertRaises(sila_client.DefinedExecutionError) as unknown:
                client.feature_definition("org.example/none/Nothing/v1")
            self.assertEqual(unknown.exception.short_identifier, "UnimplementedFeature")

            self.assertEqual(rack.call("Empty"), {"Removed": 3})
            self.assertEqual(next(values), 0)
            subscription.cancel()
            self.assertEqual(list(values), [])
            with self.assertRaises(KeyError):
                rack.call("Nothing")

    def test_plain_text(self):
        fake = fake_server.FakeServer()
        try:
            self.run_scenario(fake)
        finally:
            fake.stop()

    def test_an_info_stream_left_open_after_the_final_status_ends_the_wait(self):
        fake = fake_server.FakeServer(linger=True)
        try:
            with sila_client.SilaClient("127.0.0.1", fake.port) as client:
                client.discover()
                result = client.feature("SampleRack").run("Fill", Count=1, Label="L")
                self.assertEqual(result["Slots"][0], {"Slot": 1, "Full": True, "Label": "L"})
        finally:
            fake.stop()

    def test_tls_trusting_the_servers_pem(self):
        with tempfile.TemporaryDirectory() as folder:
            key, cert, cert_path = self_signed_certificate(folder)
            fake = fake_server.FakeServer(tls=(key, cert))
            try:
                self.run_scenario(fake, root_pem=cert_path)
            finally:
                fake.stop()

    def test_tls_refuses_an_untrusted_server(self):
        with tempfile.TemporaryDirectory() as folder:
            key, cert, _ = self_signed_certificate(folder)
            _, _, other_path = self_signed_certificate(tempfile.mkdtemp(dir=folder))
            fake = fake_server.FakeServer(tls=(key, cert))
            try:
                with self.assertRaises(sila_client.SilaConnectionError) as refused:
                    sila_client.SilaClient("127.0.0.1", fake.port, root_pem=other_path, timeout=5).server_name()
                self.assertEqual(refused.exception.code, grpc.StatusCode.UNAVAILABLE)
            finally:
                fake.stop()


if __name__ == "__main__":
    unittest.main()
