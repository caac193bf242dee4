#!/usr/bin/env python3
"""The example alerting rules against series the server produces.

    alert_rules_test.py SOURCE_DIR BUILD_DIR

Checks docs/alerts.yml with `promtool check rules`; starts krb-sim and KRBServer (with its
dashboard) on a copy of the demo lab and brings each alarm's state about: climate set and read,
a door opened, a motion error, a silent unit; scrapes /metrics; requires every input series of
tests/server/web/alerts_test.yml, by name and labels, in that scrape, so that the rule tests
run on what the server really writes; then runs `promtool test rules` on that file.
Exits 77 (skipped) when promtool is missing; scripts/setup.sh installs it.
"""

from __future__ import annotations

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from pathlib import Path

STARTUP_LIMIT = 60.0
STATE_LIMIT = 60.0

SAMPLE = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})?\s+(\S+)$')
LABEL = re.compile(r'\s*([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)"\s*,?')
RULE_TEST_SERIES = re.compile(r"^\s*-\s*series:\s*'(.+)'\s*$")


def unescape(value: str) -> str:
    return re.sub(r'\\(.)', lambda m: {"n": "\n"}.get(m.group(1), m.group(1)), value)


def series_key(name: str, labels: str | None) -> tuple[str, frozenset[tuple[str, str]]]:
    pairs = []
    text = labels or ""
    position = 0
    while position < len(text):
        match = LABEL.match(text, position)
        if not match:
            raise ValueError(f"labels not readable: {name}{{{text}}}")
        pairs.append((match.group(1), unescape(match.group(2))))
        position = match.end()
    return name, frozenset(pairs)


def parse_scrape(text: str) -> dict[tuple[str, frozenset[tuple[str, str]]], float]:
    samples = {}
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        match = SAMPLE.match(line)
        if not match:
            raise ValueError(f"not a sample line: {line!r}")
        samples[series_key(match.group(1), match.group(2))] = float(match.group(3))
    return samples


def rule_test_series(path: Path) -> list[str]:
    return [m.group(1) for line in path.read_text().splitlines()
            if (m := RULE_TEST_SERIES.match(line))]


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Lab:
    """krb-sim and KRBServer on a copy of the demo lab, the dashboard on a port of its own."""

    def __init__(self, source: Path, build: Path) -> None:
        self.work = Path(tempfile.mkdtemp(prefix="krb-alerts-"))
        self.lab = self.work / "lab"
        self.ports = self.work / "ports"
        self.processes: list[subprocess.Popen[str]] = []
        shutil.copytree(source / "examples/demo-lab", self.lab)
        self.ports.mkdir()
        self.web_port = free_port()
        config = self.lab / "DriverConfig.lni"
        text = re.sub(r"(?im)^port=\d+", "port=0", config.read_text())
        config.write_text(text + f"\r\n[Web]\r\nPort={self.web_port}\r\n")
        env = dict(os.environ, KRB_PORT_DIR=str(self.ports),
                   KRB_TIME_SCALE=os.environ.get("KRB_TIME_SCALE", "0.1"))
        sim = self.spawn([str(build / "sim/krb-sim"), "--port-dir", str(self.ports), str(config)],
                         env)
        self.await_line(sim, re.compile(r"^ready"))
        server = self.spawn([str(build / "server/KRBServer"), "--headless", str(config), "start"],
                            env)
        self.port = int(self.await_line(server, re.compile(r"listening on port (\d+)")).group(1))
        for process in self.processes:
            threading.Thread(target=self.drain, args=(process,), daemon=True).start()

    def spawn(self, argv: list[str], env: dict[str, str]) -> subprocess.Popen[str]:
        process = subprocess.Popen(argv, cwd=self.lab, env=env, text=True,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    @staticmethod
    def await_line(process: subprocess.Popen[str], pattern: re.Pattern[str]) -> re.Match[str]:
        assert process.stdout is not None
        seen = []
        deadline = time.monotonic() + STARTUP_LIMIT
        for line in process.stdout:
            seen.append(line)
            if match := pattern.search(line):
                return match
            if time.monotonic() > deadline:
                break
        raise RuntimeError(f"{process.args[0]} did not start: {''.join(seen)}")

    @staticmethod
    def drain(process: subprocess.Popen[str]) -> None:
        assert process.stdout is not None
        for _ in process.stdout:
            pass

    def ask(self, command: str) -> str:
        with socket.create_connection(("127.0.0.1", self.port), timeout=120) as connection:
            connection.sendall(command.encode() + b"\r")
            reply = b""
            while not reply.endswith(b"\r\n"):
                chunk = connection.recv(4096)
                if not chunk:
                    break
                reply += chunk
        return reply.decode(errors="replace").strip()

    def control(self, line: str) -> None:
        with socket.socket(socket.AF_UNIX) as connection:
            connection.connect(str(self.ports / "krb-sim.control"))
            connection.sendall(line.encode() + b"\n")
            reply = b""
            while not re.search(rb"^(OK|ERR).*\n", reply, re.M):
                chunk = connection.recv(4096)
                if not chunk:
                    break
                reply += chunk
        if not re.search(rb"^OK", reply, re.M):
            raise RuntimeError(f"simulator refused {line}: {reply!r}")

    def scrape(self) -> str:
        url = f"http://127.0.0.1:{self.web_port}/metrics"
        deadline = time.monotonic() + STARTUP_LIMIT
        while True:
            try:
                with urllib.request.urlopen(url, timeout=10) as response:
                    return response.read().decode()
            except OSError:  # the dashboard may start listening after the command port
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)

    def stop(self) -> None:
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGINT)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.work, ignore_errors=True)


def expect(lab: Lab, command: str, reply: re.Pattern[str]) -> None:
    answer = lab.ask(command)
    if not reply.match(answer):
        raise RuntimeError(f"{command} answered {answer!r}")


def bring_about_every_alarm(lab: Lab) -> None:
    for unit in ("Base1", "Ext1", "Store4"):
        expect(lab, f"KRB2Activate({unit})", re.compile(r"^1"))
    expect(lab, "KRB2WriteSetClimate(Base1,37,90,5,0)", re.compile(r"^$"))
    lab.control("FAULT COM4 error 1203")  # fails the next motion
    expect(lab, "KRB2ServiceMovePlate(Store4,2,1,1,0,0,Store4,2,5,1,0,0)", re.compile(r"^-"))
    lab.control("FAULT COM4 door open")
    lab.control("FAULT COM3 silent")
    expect(lab, "KRB2ReadErrorFlag(Ext1)", re.compile(r"^-1$"))


# What bring_about_every_alarm leads to, as the server must show it: (series, wanted value;
# None: no sample, as for a value that is not known).
EXPECTED_STATES = [
    ('krb_unit_error{unit="Store4",system="TubeLab"}', 1),
    ('krb_unit_door_open_seconds{unit="Base1",system="Incubators"}', 0),
    ('krb_link_up{port="COM3",unit="Ext1"}', 0),
    ('krb_unit_door_open_seconds{unit="Ext1",system="Incubators"}', None),
    ('krb_unit_temperature_celsius{unit="Ext1",system="Incubators"}', None),
    ('krb_unit_temperature_setpoint_celsius{unit="Base1",system="Incubators"}', 37),
    ('krb_unit_humidity_setpoint_percent{unit="Base1",system="Incubators"}', 90),
    ('krb_unit_co2_setpoint_percent{unit="Base1",system="Incubators"}', 5),
    ('krb_unit_temperature_setpoint_celsius{unit="Store4",system="TubeLab"}', 0),
    ('krb_unit_commands_running{unit="Store4",system="TubeLab"}', 0),
    ('krb_history_records_lost_total', 0),
]


def key_of(series: str) -> tuple[str, frozenset[tuple[str, str]]]:
    match = SAMPLE.match(series + " 0")
    if not match:
        raise ValueError(f"not a series: {series}")
    return series_key(match.group(1), match.group(2))


def unmet(samples: dict, wanted: list[str]) -> list[str]:
    problems = [f"{series}: not in the scrape" for series in wanted
                if key_of(series) not in samples]
    for series, value in EXPECTED_STATES:
        seen = samples.get(key_of(series))
        if value is None and seen is not None:
            problems.append(f"{series}: {seen}, wanted no sample")
        elif value is not None and seen != value:
            problems.append(f"{series}: {seen}, wanted {value}")
    door = samples.get(key_of('krb_unit_door_open_seconds{unit="Store4",system="TubeLab"}'))
    if door is None or door <= 0:
        problems.append(f"the open door of Store4: {door} seconds, wanted more than 0")
    return problems


def scrape_with(lab: Lab, wanted: list[str]) -> tuple[str, list[str]]:
    """The first scrape that holds every wanted series and state, or the last one and what it
    lacks (climate is read every few seconds, the door poll and the link state follow)."""
    deadline = time.monotonic() + STATE_LIMIT
    while True:
        text = lab.scrape()
        problems = unmet(parse_scrape(text), wanted)
        if not problems or time.monotonic() > deadline:
            return text, problems
        time.sleep(0.5)


def main() -> int:
    source, build = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    promtool = shutil.which("promtool")
    if not promtool:
        print("SKIPPED: promtool is not installed (scripts/setup.sh installs prometheus)")
        return 77
    rules = source / "docs/alerts.yml"
    rule_tests = source / "tests/server/web/alerts_test.yml"
    subprocess.run([promtool, "check", "rules", str(rules)], check=True)

    wanted = rule_test_series(rule_tests)
    if not wanted:
        print(f"FAIL: no input series in {rule_tests}")
        return 1
    lab = Lab(source, build)
    try:
        bring_about_every_alarm(lab)
        text, problems = scrape_with(lab, wanted)
    finally:
        lab.stop()
    if problems:
        print("FAIL: the server's /metrics does not show what the rule tests assume:")
        print("\n".join("  " + problem for problem in problems))
        print("the scrape:\n" + text)
        return 1
    print(f"ok   all {len(wanted)} input series of the rule tests are in a real scrape, "
          f"with the states the lab was brought to")
    return subprocess.run([promtool, "test", "rules", str(rule_tests)]).returncode


if __name__ == "__main__":
    sys.exit(main())
