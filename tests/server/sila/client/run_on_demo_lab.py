#!/usr/bin/python3
"""Runs lab_scenario.py on the demo lab twice: once over TLS (the server's self-signed
certificate, trusted from the PEM it writes) and once with Insecure=1. Each run starts krb-sim
and KRBServer on a fresh copy of examples/demo-lab with a [SiLA] section added.

    run_on_demo_lab.py [--server build/server/KRBServer] [--sim build/sim/krb-sim]

Exit status 0 only when both runs held every step."""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", "..", ".."))
UNIT_COUNT = 5
STARTUP_LIMIT = 60.0


def free_base_port(count):
    """A base port with count free ports after it (bound briefly to check)."""
    for base in range(50100, 60000, 100):
        sockets = []
        try:
            for port in range(base, base + count):
                probe = socket.socket()
                sockets.append(probe)
                probe.bind(("127.0.0.1", port))
            return base
        except OSError:
            continue
        finally:
            for probe in sockets:
                probe.close()
    raise RuntimeError("no free ports for the SiLA servers")


def sila_section(base_port, insecure):
    lines = ["[SiLA]", "Enabled=1", f"BasePort={base_port}"] + (["Insecure=1"] if insecure else [])
    return "".join(line + "\r\n" for line in lines)


def wait_for_port(port, process, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"KRBServer ended with status {process.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.2)
    raise RuntimeError(f"nothing listens on port {port} after {limit:.0f} s")


def wait_for_line(process, output, pattern, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        with open(output, errors="replace") as text:
            if re.search(pattern, text.read(), re.MULTILINE):
                return
        if process.poll() is not None:
            break
        time.sleep(0.1)
    raise RuntimeError(f"{process.args[0]} did not print {pattern}")


def spawn(argv, lab, env, output):
    # Output goes to a file: a pipe nobody reads would block the program once full.
    with open(output, "w") as out:
        return subprocess.Popen(argv, cwd=lab, env=env, stdout=out, stderr=subprocess.STDOUT)


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGINT)
        try:
            process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def run_once(options, insecure):
    work = tempfile.mkdtemp(prefix="krb-sila-")
    lab = os.path.join(work, "lab")
    shutil.copytree(os.path.join(ROOT, "examples", "demo-lab"), lab)
    config = os.path.join(lab, "DriverConfig.lni")
    base_port = free_base_port(UNIT_COUNT)
    with open(config, encoding="latin-1") as source:
        text = re.sub(r"(?im)^port=\d+", "port=0", source.read())
    with open(config, "w", encoding="latin-1", newline="") as out:
        out.write(text + sila_section(base_port, insecure))
    ports = os.path.join(work, "ports")
    os.mkdir(ports)
    env = dict(os.environ, KRB_PORT_DIR=ports, KRB_TIME_SCALE=options.time_scale)
    processes = []
    try:
        sim_output = os.path.join(work, "sim.out")
        sim = spawn([options.sim, "--port-dir", ports, config], lab, env, sim_output)
        processes.append(sim)
        wait_for_line(sim, sim_output, r"^ready", STARTUP_LIMIT)
        server = spawn([options.server, "--headless", config, "start"], lab, env, os.path.join(work, "server.out"))
        processes.append(server)
        for index in range(UNIT_COUNT):
            wait_for_port(base_port + index, server, STARTUP_LIMIT)
        transport = ["--insecure"] if insecure else ["--pem", os.path.join(lab, "sila-certificate.pem")]
        scenario = [sys.executable, os.path.join(HERE, "lab_scenario.py"), "--base-port", str(base_port),
                    "--units", str(UNIT_COUNT), "--sim-control", os.path.join(ports, "krb-sim.control"), *transport]
        print(f"== {'Insecure=1' if insecure else 'TLS'}: BasePort={base_port}", flush=True)
        return subprocess.run(scenario).returncode
    except RuntimeError as failure:
        print(f"FAIL starting the demo lab with [SiLA]: {failure}", flush=True)
        return 1
    finally:
        for process in reversed(processes):
            stop(process)
        server_log = os.path.join(work, "server.out")
        if os.path.exists(server_log) and options.show_server_output:
            with open(server_log, errors="replace") as log:
                sys.stdout.write(log.read())
        shutil.rmtree(work, ignore_errors=True)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--server", default=os.path.join(ROOT, "build", "server", "KRBServer"))
    parser.add_argument("--sim", default=os.path.join(ROOT, "build", "sim", "krb-sim"))
    parser.add_argument("--time-scale", default=os.environ.get("KRB_TIME_SCALE", "0.1"))
    parser.add_argument("--show-server-output", action="store_true")
    options = parser.parse_args(argv)
    statuses = [run_once(options, insecure=False), run_once(options, insecure=True)]
    return 0 if statuses == [0, 0] else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
