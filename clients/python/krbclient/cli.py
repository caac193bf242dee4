"""The command line: `python3 -m krbclient COMMAND ...` for operators and scripts.

Unit commands print their result (nothing for empty replies); views and typed results
print JSON; `listen` prints one event per line. Errors go to stderr with exit status 1.
"""

from __future__ import annotations

import argparse
import dataclasses
import enum
import json
import sys
from collections.abc import Callable, Sequence
from datetime import datetime
from typing import Any

from .client import Client
from .commands import TABLE, Kind
from .errors import KRBError
from .protocol import parse_decimal

_VIEWS: dict[str, tuple[str, ...]] = {
    "lab": (),
    "tree": (),
    "system": ("system_id",),
    "unit": ("unit_id",),
    "sector": ("unit_id", "name"),
    "cassette": ("unit_id", "cassette:int"),
    "unit_content": ("unit_id",),
    "plate": ("unit_id", "plate:int"),
}
_UPDATES: dict[str, tuple[str, str]] = {
    "update_plate_name": ("location", "name"),
    "update_plate_present": ("location", "present:flag"),
    "update_plate_barcode": ("location", "barcode"),
    "update_plate_check_date": ("location", "when:date"),
    "update_plate_load_date": ("location", "when:date"),
    "update_plate_unload_date": ("location", "when:date"),
    "update_slot_z_pitch": ("cassette", "z_pitch:int"),
    "update_slot_levels": ("cassette", "levels:int"),
}


def _integer(text: str) -> int:
    try:
        return parse_decimal(text, "value")
    except KRBError as error:
        raise argparse.ArgumentTypeError(f"{text!r} is not an integer") from error


def _flag(text: str) -> bool:
    if text not in ("0", "1"):
        raise argparse.ArgumentTypeError(f"{text!r} is not 0 or 1")
    return text == "1"


def _date(text: str) -> datetime | None:
    """"now" for the server's current time, else an ISO date-time."""
    if text == "now":
        return None
    try:
        return datetime.fromisoformat(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(f"{text!r} is not 'now' or an ISO date-time") from error


_TYPES: dict[str, Callable[[str], Any]] = {"int": _integer, "flag": _flag, "date": _date}
_KIND_TYPES: dict[Kind, Callable[[str], Any]] = {Kind.INT: _integer, Kind.FLAG: _flag}


def _cli_name(method: str) -> str:
    return method.replace("_", "-")


def _add(sub: Any, method: str, summary: str) -> argparse.ArgumentParser:
    parser = sub.add_parser(_cli_name(method), help=summary, description=summary)
    parser.set_defaults(method=method, params=[])
    return parser


def _add_param(parser: argparse.ArgumentParser, name: str, convert: Callable[[str], Any],
               help: str | None = None) -> None:
    parser.add_argument(name, type=convert, help=help)
    parser.get_default("params").append(name)


def _add_params(parser: argparse.ArgumentParser, specs: Sequence[str]) -> None:
    for spec in specs:
        name, _, kind = spec.partition(":")
        _add_param(parser, name, _TYPES.get(kind, str))


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python3 -m krbclient",
        description="Drive the storage units of a lab server: unit commands, views, "
        "plate and slot updates and service notifications.",
    )
    parser.add_argument("--host", default="localhost", help="server host (default localhost)")
    parser.add_argument("--port", type=int, default=3100, help="server TCP port (default 3100)")
    parser.add_argument("--timeout", type=float, default=60.0,
                        help="seconds to wait for a reply (default 60)")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in TABLE:
        unit_parser = _add(sub, command.method, command.summary)
        _add_param(unit_parser, "unit", str, "unit ID")
        for param in command.params:
            _add_param(unit_parser, param.name, _KIND_TYPES.get(param.kind, str), param.kind.value)
    for view, params in _VIEWS.items():
        _add_params(_add(sub, view, f"the {view.replace('_', ' ')} view as JSON"), params)
    for update, params in _UPDATES.items():
        update_parser = _add(sub, update, update.replace("_", " ") + " (prints the result code)")
        _add_params(update_parser, ("unit", params[0] + ":int", params[1]))
    listen = _add(sub, "listen", "register as service listener and print events")
    listen.add_argument("--count", type=int, help="stop after this many events")
    listen.add_argument("--wait", type=float, help="seconds to wait for each event")
    raw = _add(sub, "send", "send one raw command line (no CR) and print its reply")
    raw.add_argument("text")
    return parser


def _jsonable(value: Any) -> Any:
    if dataclasses.is_dataclass(value):
        return {f.name: _jsonable(getattr(value, f.name)) for f in dataclasses.fields(value)}
    if isinstance(value, list):
        return [_jsonable(item) for item in value]
    if isinstance(value, datetime):
        return value.isoformat()
    if isinstance(value, enum.Enum):
        return value.value
    return value


def _print_result(value: Any) -> None:
    if value is None:
        return
    if dataclasses.is_dataclass(value):
        print(json.dumps(_jsonable(value), indent=2))
    else:
        print(value)


def _run(client: Client, arguments: argparse.Namespace) -> Any:
    if arguments.method == "listen":
        for number, event in enumerate(client.listen(arguments.wait), 1):
            code = "" if event.code is None else f" {event.code}"
            print(f"{event.kind.value}{code} {event.unit or event.line}", flush=True)
            if arguments.count is not None and number >= arguments.count:
                break
        return None
    if arguments.method == "send":
        return client.command(arguments.text)
    return getattr(client, arguments.method)(*(getattr(arguments, n) for n in arguments.params))


def main(argv: Sequence[str] | None = None) -> int:
    arguments = build_parser().parse_args(argv)
    client = Client(arguments.host, arguments.port, arguments.timeout)
    try:
        _print_result(_run(client, arguments))
    except (KRBError, ValueError, TypeError) as error:
        print(f"krbclient: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


__all__ = ["build_parser", "main"]
