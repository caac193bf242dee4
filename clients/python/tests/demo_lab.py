"""Starts the demo lab for the tests: krb-sim and KRBServer on a copy of examples/demo-lab.

The programs come from the build tree (KRB_SIM, KRB_SERVER, KRB_DEMO_LAB_DIR, set by CTest;
defaults follow the repository layout). The server listens on a port the system picks.
"""

from __future__ import annotations

import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
STARTUP_LIMIT = 60.0


def _setting(name: str, default: Path) -> Path:
    return Path(os.environ.get(name, str(default)))


class DemoLab:
    def __init__(self, time_scale: str = "0.05") -> None:
        self.sim = _setting("KRB_SIM", ROOT / "build/sim/krb-sim")
        self.server = _setting("KRB_SERVER", ROOT / "build/server/KRBServer")
        self.source = _setting("KRB_DEMO_LAB_DIR", ROOT / "examples/demo-lab")
        self.time_scale = os.environ.get("KRB_TIME_SCALE", time_scale)
        self.work = Path(tempfile.mkdtemp(prefix="krb-py-"))
        self.lab = self.work / "lab"
        self.port = 0
        self._processes: list[subprocess.Popen[str]] = []
        self._server_output: list[str] = []

    def start(self) -> DemoLab:
        for program in (self.sim, self.server):
            if not os.access(program, os.X_OK):
                raise RuntimeError(f"missing {program} (build KRBServer and krb-sim first)")
        shutil.copytree(self.source, self.lab)
        config = self.lab / "DriverConfig.lni"
        config.write_text(re.sub(r"(?im)^port=\d+", "port=0", config.read_text()))
        ports = self.work / "ports"
        ports.mkdir()
        env = dict(os.environ, KRB_PORT_DIR=str(ports), KRB_TIME_SCALE=self.time_scale)
        try:
            sim = self._spawn([str(self.sim), "--port-dir", str(ports), str(config)], env)
            self._await(sim, re.compile(r"^ready"), [])
            server = self._spawn([str(self.server), "--headless", str(config), "start"], env)
            listening = self._await(server, re.compile(r"listening on port (\d+)"),
                                    self._server_output)
            self.port = int(listening.group(1))
            # Keeps reading so that the server never blocks on a full pipe.
            threading.Thread(target=self._drain, args=(server,), daemon=True).start()
        except BaseException:
            self.stop()
            raise
        return self

    def _spawn(self, argv: list[str], env: dict[str, str]) -> subprocess.Popen[str]:
        process = subprocess.Popen(argv, cwd=self.lab, env=env, text=True,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._processes.append(process)
        return process

    @staticmethod
    def _await(process: subprocess.Popen[str], pattern: re.Pattern[str],
               seen: list[str]) -> re.Match[str]:
        assert process.stdout is not None
        deadline = time.monotonic() + STARTUP_LIMIT
        for line in process.stdout:
            seen.append(line)
            match = pattern.search(line)
            if match:
                return match
            if time.monotonic() > deadline:
                break
        raise RuntimeError(f"{process.args[0]} did not start: {''.join(seen)}")

    def _drain(self, process: subprocess.Popen[str]) -> None:
        assert process.stdout is not None
        for line in process.stdout:
            self._server_output.append(line)

    def contents(self, unit_file: str) -> list[list[str]]:
        """The lines of a contents file under Lab/, split into their ten fields."""
        text = (self.lab / "Lab" / unit_file).read_text(errors="replace")
        return [line.split(",", 9) for line in text.splitlines() if line]

    def stop(self) -> None:
        for process in reversed(self._processes):
            if process.poll() is None:
                process.send_signal(signal.SIGINT)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
            if process.stdout is not None:
                process.stdout.close()
        self._processes.clear()
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self) -> DemoLab:
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.stop()
