"""A SiLA 2 client that knows nothing but the standard.

It reads SiLAService, fetches every feature's definition (FDL) from the server, turns each into
its proto with the standard XSLT, compiles that to Python modules and calls commands and
properties by their identifiers. SiLA errors arrive as Python exceptions by kind."""
import atexit
import base64
import importlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import xml.etree.ElementTree as ElementTree

import grpc

FDL_NAMESPACE = "{http://www.sila-standard.org}"
FRAMEWORK_PACKAGE = "sila2.org.silastandard"
SILA_SERVICE = "org.silastandard/core/SiLAService/v1"
VENDORED_STANDARD_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "..", "third_party", "sila")


def default_standard_dir():
    """$SILA_STANDARD_DIR, else the project's vendored copy."""
    if os.environ.get("SILA_STANDARD_DIR"):
        return os.environ["SILA_STANDARD_DIR"]
    return os.path.normpath(VENDORED_STANDARD_DIR)


# ---------------------------------------------------------------- errors


class SilaError(Exception):
    """An error the server reported as the standard's SiLAError."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


class ValidationError(SilaError):
    def __init__(self, parameter, message):
        super().__init__(message)
        self.parameter = parameter

    def __str__(self):
        return f"validation error on {self.parameter}: {self.message}"


class DefinedExecutionError(SilaError):
    def __init__(self, identifier, message):
        super().__init__(message)
        self.identifier = identifier

    @property
    def short_identifier(self):
        """The error's own identifier, without its feature's prefix."""
        return self.identifier.rsplit("/", 1)[-1]

    def __str__(self):
        return f"defined execution error {self.identifier}: {self.message}"


class UndefinedExecutionError(SilaError):
    def __str__(self):
        return f"undefined execution error: {self.message}"


class FrameworkError(SilaError):
    def __init__(self, error_type, message):
        super().__init__(message)
        self.error_type = error_type

    def __str__(self):
        return f"framework error {self.error_type}: {self.message}"


class SilaConnectionError(Exception):
    """A gRPC failure that carries no SiLAError (server down, TLS refused, bad status)."""

    def __init__(self, code, details):
        super().__init__(f"{code.name if code else 'UNKNOWN'}: {details}")
        self.code = code
        self.details = details


def decode_rpc_error(rpc_error, framework):
    """The exception a failed call stands for: a SiLAError when the status is ABORTED with a
    base64 SiLAError as its details, a connection error otherwise."""
    code = rpc_error.code() if hasattr(rpc_error, "code") else None
    details = rpc_error.details() if hasattr(rpc_error, "details") else str(rpc_error)
    if code != grpc.StatusCode.ABORTED:
        return SilaConnectionError(code, details)
    try:
        error = framework.SiLAError()
        error.ParseFromString(base64.b64decode(details or "", validate=True))
    except Exception:  # undecodable details: the server broke the error format
        return SilaConnectionError(code, f"ABORTED without a SiLAError: {details!r}")
    kind = error.WhichOneof("error")
    if kind == "validationError":
        return ValidationError(error.validationError.parameter, error.validationError.message)
    if kind == "definedExecutionError":
        defined = error.definedExecutionError
        return DefinedExecutionError(defined.errorIdentifier, defined.message)
    if kind == "undefinedExecutionError":
        return UndefinedExecutionError(error.undefinedExecutionError.message)
    if kind == "frameworkError":
        framework_error = error.frameworkError
        type_name = framework.FrameworkError.ErrorType.Name(framework_error.errorType)
        return FrameworkError(type_name, framework_error.message)
    return SilaConnectionError(code, "ABORTED with an empty SiLAError")


# ---------------------------------------------------------------- feature definitions


class FeatureDefinition:
    """What the client needs from an FDL: identifiers, observability, members and errors."""

    def __init__(self, xml_text):
        self.xml = xml_text
        root = ElementTree.fromstring(xml_text.encode("utf-8"))
        if root.tag != FDL_NAMESPACE + "Feature":
            raise ValueError(f"not a SiLA feature definition: root element {root.tag}")
        self.identifier = _child_text(root, "Identifier")
        self.originator = root.get("Originator", "")
        self.category = root.get("Category", "none")
        self.feature_version = root.get("FeatureVersion", "1.0")
        self.commands = {
            _child_text(node, "Identifier"): Member(node) for node in root.findall(FDL_NAMESPACE + "Command")
        }
        self.properties = {
            _child_text(node, "Identifier"): Member(node) for node in root.findall(FDL_NAMESPACE + "Property")
        }
        self.errors = [
            _child_text(node, "Identifier") for node in root.findall(FDL_NAMESPACE + "DefinedExecutionError")
        ]

    @property
    def fully_qualified_identifier(self):
        major = self.feature_version.split(".", 1)[0]
        return f"{self.originator}/{self.category}/{self.identifier}/v{major}"


class Member:
    def __init__(self, node):
        self.identifier = _child_text(node, "Identifier")
        self.observable = _child_text(node, "Observable") == "Yes"
        self.parameters = [_child_text(p, "Identifier") for p in node.findall(FDL_NAMESPACE + "Parameter")]
        self.responses = [_child_text(r, "Identifier") for r in node.findall(FDL_NAMESPACE + "Response")]
        self.errors = [
            e.text.strip() for e in node.findall(f"{FDL_NAMESPACE}DefinedExecutionErrors/{FDL_NAMESPACE}Identifier")
        ]


def _child_text(node, name):
    child = node.find(FDL_NAMESPACE + name)
    return child.text.strip() if child is not None and child.text else ""


# ---------------------------------------------------------------- FDL -> proto -> modules


class FeatureCompiler:
    """Turns FDLs into imported Python modules. The modules live in one folder per process
    (protobuf keeps one descriptor pool per process, so a proto is loaded at most once)."""

    _lock = threading.Lock()
    _folder = None
    _loaded = {}  # proto file name -> (proto text, (pb2, pb2_grpc))

    def __init__(self, standard_dir=None):
        self.standard_dir = standard_dir or default_standard_dir()
        for needed in ("fdl2proto.xsl", "SiLAFramework.proto"):
            if not os.path.isfile(os.path.join(self.standard_dir, needed)):
                raise FileNotFoundError(f"{needed} not found in {self.standard_dir}")

    def framework(self):
        with open(os.path.join(self.standard_dir, "SiLAFramework.proto"), encoding="utf-8") as source:
            pb2, _ = self._load("SiLAFramework.proto", source.read(), with_services=False)
        return pb2

    def proto_of(self, fdl_xml):
        """The proto the standard XSLT produces from this FDL."""
        xsl = os.path.join(self.standard_dir, "fdl2proto.xsl")
        result = subprocess.run(["xsltproc", xsl, "-"], input=fdl_xml.encode("utf-8"), capture_output=True)
        if result.returncode != 0 or not result.stdout.strip():
            raise ValueError(f"fdl2proto.xsl failed: {result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode("utf-8")

    def compile(self, definition):
        """(messages module, services module) for a FeatureDefinition."""
        self.framework()
        return self._load(definition.identifier + ".proto", self.proto_of(definition.xml), with_services=True)

    def _load(self, file_name, proto_text, with_services):
        with FeatureCompiler._lock:
            known = FeatureCompiler._loaded.get(file_name)
            if known:
                # Servers may word a feature's descriptions their own way; the messages must agree.
                if _proto_structure(known[0]) != _proto_structure(proto_text):
                    raise ValueError(f"{file_name} is already loaded with other messages or services")
                return known[1]
            folder = self._module_folder()
            with open(os.path.join(folder, file_name), "w", encoding="utf-8") as out:
                out.write(proto_text)
            self._run_protoc(folder, file_name, with_services)
            stem = file_name[: -len(".proto")]
            importlib.invalidate_caches()
            pb2 = importlib.import_module(stem + "_pb2")
            pb2_grpc = importlib.import_module(stem + "_pb2_grpc") if with_services else None
            FeatureCompiler._loaded[file_name] = (proto_text, (pb2, pb2_grpc))
            return pb2, pb2_grpc

    @staticmethod
    def _module_folder():
        if FeatureCompiler._folder is None:
            FeatureCompiler._folder = tempfile.mkdtemp(prefix="sila-client-")
            atexit.register(shutil.rmtree, FeatureCompiler._folder, True)
            sys.path.insert(0, FeatureCompiler._folder)
        return FeatureCompiler._folder

    @staticmethod
    def _run_protoc(folder, file_name, with_services):
        command = [shutil.which("protoc") or "protoc", f"-I{folder}", f"--python_out={folder}"]
        if with_services:
            plugin = shutil.which("grpc_python_plugin") or "/usr/bin/grpc_python_plugin"
            command += [f"--plugin=protoc-gen-grpc_python={plugin}", f"--grpc_python_out={folder}"]
        result = subprocess.run(command + [os.path.join(folder, file_name)], capture_output=True)
        if result.returncode != 0:
            raise ValueError(f"protoc failed on {file_name}: {result.stderr.decode(errors='replace').strip()}")


def _proto_structure(proto_text):
    """The proto without its comments and layout: what the generated modules depend on."""
    without_comments = re.sub(r"/\*.*?\*/|//[^\n]*", " ", proto_text, flags=re.DOTALL)
    return " ".join(without_comments.split())


# ---------------------------------------------------------------- values


def to_python(message):
    """A SiLA value as plain Python: basic types as their value, structures as dicts, lists as
    lists; a response message as a dict of its fields."""
    descriptor = message.DESCRIPTOR
    if _is_basic(descriptor):
        return getattr(message, descriptor.fields[0].name)
    if descriptor.name.startswith("DataType_") and len(descriptor.fields) == 1:
        return _field_to_python(message, descriptor.fields[0])
    return {field.name: _field_to_python(message, field) for field in descriptor.fields}


def _field_to_python(message, field):
    value = getattr(message, field.name)
    if field.type != field.TYPE_MESSAGE:
        return value
    if field.label == field.LABEL_REPEATED:
        return [to_python(item) for item in value]
    return to_python(value) if message.HasField(field.name) else None


def fill(message, values):
    """Sets the fields of message from a dict keyed by identifier; a key left out stays unset
    (the server sees a missing parameter)."""
    fields = message.DESCRIPTOR.fields_by_name
    for name, value in values.items():
        if name not in fields:
            raise KeyError(f"{message.DESCRIPTOR.name} has no field {name}")
        field = fields[name]
        if field.label == field.LABEL_REPEATED:
            for item in value:
                _set_value(getattr(message, name).add(), item)
        else:
            _set_value(getattr(message, name), value)
    return message


def _set_value(target, value):
    descriptor = target.DESCRIPTOR
    if _is_basic(descriptor):
        setattr(target, descriptor.fields[0].name, value)
    elif descriptor.name.startswith("DataType_") and len(descriptor.fields) == 1 and not isinstance(value, dict):
        fill(target, {descriptor.fields[0].name: value})
    else:
        fill(target, value)


def _is_basic(descriptor):
    return descriptor.full_name in {f"{FRAMEWORK_PACKAGE}.{name}" for name in ("String", "Integer", "Real", "Boolean")}


# ---------------------------------------------------------------- client


class ObservableExecution:
    """A running observable command: its execution UUID, its info stream and its result."""

    def __init__(self, feature, command, uuid):
        self.feature = feature
        self.command = command
        self.uuid = uuid

    def _execution_id(self):
        return self.feature.client.framework.CommandExecutionUUID(value=self.uuid)

    def info(self):
        """Yields (status name, progress 0..1) until the command ends."""
        method = getattr(self.feature.stub, self.command + "_Info")
        statuses = self.feature.client.framework.ExecutionInfo.CommandStatus
        call = method(self._execution_id())
        finished = (statuses.finishedSuccessfully, statuses.finishedWithError)
        try:
            for info in call:
                progress = info.progressInfo.value if info.HasField("progressInfo") else None
                yield statuses.Name(info.commandStatus), progress
                if info.commandStatus in finished:
                    break  # the result is ready; a stream kept open after it must not hold us
        except grpc.RpcError as failure:
            raise self.feature.client.decode(failure) from None
        finally:
            call.cancel()

    def wait(self):
        """Follows the info stream to its end and gives the final status."""
        status = None
        for status, _ in self.info():
            pass
        return status

    def result(self):
        """The command's responses as a dict; raises its SiLA error if it failed."""
        method = getattr(self.feature.stub, self.command + "_Result")
        return to_python(self.feature.client.guarded(method, self._execution_id()))


class Feature:
    """One feature of a connected server, called by member identifiers."""

    def __init__(self, client, definition, messages, services):
        self.client = client
        self.definition = definition
        self.messages = messages
        self.stub = getattr(services, definition.identifier + "Stub")(client.channel)

    def _parameters(self, command, values):
        if command not in self.definition.commands:
            raise KeyError(f"{self.definition.identifier} has no command {command}")
        return fill(getattr(self.messages, command + "_Parameters")(), values)

    def call(self, command, **parameters):
        """An unobservable command; its responses as a dict."""
        message = self._parameters(command, parameters)
        return to_python(self.client.guarded(getattr(self.stub, command), message))

    def start(self, command, **parameters):
        """An observable command: the server's confirmation, as an ObservableExecution."""
        message = self._parameters(command, parameters)
        confirmation = self.client.guarded(getattr(self.stub, command), message)
        return ObservableExecution(self, command, confirmation.commandExecutionUUID.value)

    def run(self, command, on_info=None, **parameters):
        """An observable command followed to its end: its result (or its SiLA error)."""
        execution = self.start(command, **parameters)
        for status, progress in execution.info():
            if on_info:
                on_info(status, progress)
        return execution.result()

    def get(self, prop):
        """An unobservable property's value."""
        self._property(prop)
        method = getattr(self.stub, "Get_" + prop)
        response = self.client.guarded(method, getattr(self.messages, f"Get_{prop}_Parameters")())
        return to_python(response)[prop]

    def subscribe(self, prop):
        """An observable property: an iterator of its values (cancel() ends it)."""
        self._property(prop)
        method = getattr(self.stub, "Subscribe_" + prop)
        call = method(getattr(self.messages, f"Subscribe_{prop}_Parameters")())
        return Subscription(self.client, call, prop)

    def _property(self, prop):
        if prop not in self.definition.properties:
            raise KeyError(f"{self.definition.identifier} has no property {prop}")


class Subscription:
    def __init__(self, client, call, prop):
        self._client = client
        self._call = call
        self._prop = prop

    def __iter__(self):
        try:
            for response in self._call:
                yield to_python(response)[self._prop]
        except grpc.RpcError as failure:
            if failure.code() == grpc.StatusCode.CANCELLED:
                return
            raise self._client.decode(failure) from None

    def cancel(self):
        self._call.cancel()


class SilaClient:
    """A connection to one SiLA 2 server. Without root_pem the channel is plain text."""

    def __init__(self, host, port, root_pem=None, standard_dir=None, tls_name=None, timeout=30):
        self.address = f"{host}:{port}"
        self.timeout = timeout
        self.compiler = FeatureCompiler(standard_dir)
        self.framework = self.compiler.framework()
        if root_pem is None:
            self.channel = grpc.insecure_channel(self.address)
        else:
            with open(root_pem, "rb") as pem:
                credentials = grpc.ssl_channel_credentials(root_certificates=pem.read())
            options = [("grpc.ssl_target_name_override", tls_name)] if tls_name else []
            self.channel = grpc.secure_channel(self.address, credentials, options)
        self.features = {}
        self._bootstrap_service(standard_dir)

    def close(self):
        self.channel.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def decode(self, rpc_error):
        return decode_rpc_error(rpc_error, self.framework)

    def guarded(self, method, message):
        try:
            return method(message, timeout=self.timeout)
        except grpc.RpcError as failure:
            raise self.decode(failure) from None

    def _bootstrap_service(self, standard_dir):
        # SiLAService is the one feature known before the first call: the standard's own FDL.
        path = os.path.join(self.compiler.standard_dir, "SiLAService.sila.xml")
        with open(path, encoding="utf-8") as source:
            self.service = self._add_feature(FeatureDefinition(source.read()))

    def _add_feature(self, definition):
        messages, services = self.compiler.compile(definition)
        feature = Feature(self, definition, messages, services)
        self.features[definition.identifier] = feature
        return feature

    # SiLAService

    def server_name(self):
        return self.service.get("ServerName")

    def server_type(self):
        return self.service.get("ServerType")

    def server_uuid(self):
        return self.service.get("ServerUUID")

    def implemented_features(self):
        return self.service.get("ImplementedFeatures")

    def feature_definition(self, qualified_identifier):
        response = self.service.call("GetFeatureDefinition", FeatureIdentifier=qualified_identifier)
        return response["FeatureDefinition"]

    def discover(self):
        """Fetches, compiles and loads every implemented feature; returns their identifiers."""
        for qualified in self.implemented_features():
            definition = FeatureDefinition(self.feature_definition(qualified))
            if definition.fully_qualified_identifier != qualified:
                raise ValueError(f"{qualified} returned the definition of {definition.fully_qualified_identifier}")
            if qualified == SILA_SERVICE:
                continue
            self._add_feature(definition)
        return sorted(self.features)

    def feature(self, identifier):
        try:
            return self.features[identifier]
        except KeyError:
            raise KeyError(f"{self.address} implements no feature {identifier}") from None
