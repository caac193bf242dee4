#!/usr/bin/env python3
"""Fair service on the demo lab (krb-sim and KRBServer, time scale 0.2 unless KRB_TIME_SCALE
says otherwise):

  - a flood: 5,000 clients send KRB2ReadReadyFlag(Store4) at once while a probe client sends
    KRB2IsOperationRunning(Base1) every 20 ms; prints the flood's outcomes, the probe's
    latencies (target: every one within 50 ms) and the log lines the refusals made;
  - 2,000 listeners register (KRBServiceSocket) at once; prints how many received the whole
    snapshot that a single listener receives (target: all of them).

    bench/server/fair_service.py [BUILD_DIR] [--flood N] [--listeners N]
"""
import argparse
import asyncio
import multiprocessing
import os
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from memory_flood import HOST, ask, free_port, send_and_read_reply, wait_for_line  # noqa: E402

PROBE_TARGET_MS = 50.0


async def read_line(reader):
    line = await reader.readuntil(b"\r\n")
    return line.decode("latin-1").strip()


async def one_command(command, gate):
    try:
        reader, writer = await asyncio.open_connection(HOST, PORT)
    except OSError as error:
        await gate.wait()
        return f"connect failed ({error.__class__.__name__})"
    await gate.wait()
    try:
        writer.write(command.encode() + b"\r")
        await writer.drain()
        return await read_line(reader)
    except (OSError, asyncio.IncompleteReadError):
        return "closed"
    finally:
        writer.close()


def probe(port, ready, stop, results):
    """A scheduler in a process of its own (the flood's clients do not delay it), on a
    connection opened before the flood: one command, its reply, the next."""
    latencies = []
    with socket.create_connection((HOST, port), timeout=60) as sock:
        ready.set()
        while not stop.is_set():
            begun = time.perf_counter()
            reply = send_and_read_reply(sock, "KRB2IsOperationRunning(Base1)")
            latencies.append(((time.perf_counter() - begun) * 1000.0, reply))
            time.sleep(0.02)
    results.put(latencies)


async def flood(clients):
    gate = asyncio.Event()
    tasks = [asyncio.create_task(one_command("KRB2ReadReadyFlag(Store4)", gate))
             for _ in range(clients)]
    await asyncio.sleep(3.0)  # every client connects and is accepted first
    ready, stop, results = multiprocessing.Event(), multiprocessing.Event(), multiprocessing.Queue()
    prober = multiprocessing.Process(target=probe, args=(PORT, ready, stop, results))
    prober.start()
    ready.wait(60)
    time.sleep(0.1)
    begun = time.perf_counter()
    gate.set()
    outcomes = await asyncio.gather(*tasks)
    elapsed = time.perf_counter() - begun
    stop.set()
    latencies = results.get(60)
    prober.join()
    return outcomes, latencies, elapsed


async def register(gate, lines_wanted, guard_s):
    reader, writer = await asyncio.open_connection(HOST, PORT)
    await gate.wait()
    writer.write(b"KRBServiceSocket\r\n")
    await writer.drain()
    lines = []
    try:
        while len(lines) < lines_wanted:
            lines.append(await asyncio.wait_for(read_line(reader), guard_s))
    except (asyncio.TimeoutError, asyncio.IncompleteReadError, OSError):
        pass
    return lines, writer


async def registrations(listeners):
    gate = asyncio.Event()
    gate.set()
    reference, writer = await register(gate, 1000, 2.0)  # a lone listener: the whole snapshot
    writer.close()
    gate = asyncio.Event()
    tasks = [asyncio.create_task(register(gate, len(reference), 60.0)) for _ in range(listeners)]
    await asyncio.sleep(1.0)
    gate.set()
    results = await asyncio.gather(*tasks)
    whole = sum(1 for lines, _ in results if sorted(lines) == sorted(reference))
    for _, writer in results:
        writer.close()
    return reference, whole


def count_log(log, text):
    with open(log, encoding="latin-1") as file:
        return sum(1 for line in file if text in line)


def main():
    global PORT
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("--flood", type=int, default=5000)
    parser.add_argument("--listeners", type=int, default=2000)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    work = tempfile.mkdtemp(prefix="krb-fair-")
    lab = os.path.join(work, "lab")
    ports = os.path.join(work, "ports")
    shutil.copytree(os.path.join(ROOT, "examples", "demo-lab"), lab)
    os.mkdir(ports)
    PORT = free_port()
    config = os.path.join(lab, "DriverConfig.lni")
    with open(config, encoding="latin-1") as file:
        text = file.read()
    bound = max(args.flood, args.listeners) + 100  # this run measures the unit's bound
    with open(config, "w", encoding="latin-1", newline="") as file:
        file.write(text.replace("port=3100", f"port={PORT}\r\nMaxConnections={bound}"))
    log = os.path.join(lab, "KRBServer.log")
    env = dict(os.environ, KRB_PORT_DIR=ports,
               KRB_TIME_SCALE=os.environ.get("KRB_TIME_SCALE", "0.2"))
    sim = subprocess.Popen([os.path.join(build, "sim", "krb-sim"), "--port-dir", ports, config],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    server = None
    try:
        wait_for_line(sim, "ready")
        server = subprocess.Popen([os.path.join(build, "server", "KRBServer"), "--headless",
                                   config, "start"], cwd=lab, env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while time.time() < deadline:
            try:
                ask(PORT, "KRB2IsOperationRunning(Base1)", 1)
                break
            except OSError:
                time.sleep(0.2)
        print(f"demo lab, time scale {env['KRB_TIME_SCALE']}")
        print("KRB2Activate(Store4):", ask(PORT, "KRB2Activate(Store4)", 300))

        outcomes, latencies, elapsed = asyncio.run(flood(args.flood))
        print(f"\n{args.flood} x KRB2ReadReadyFlag(Store4) at once, {elapsed:.1f} s:")
        for outcome in sorted(set(outcomes)):
            print(f"  {outcome!r}: {outcomes.count(outcome)}")
        times = sorted(ms for ms, _ in latencies)
        replies = sorted(set(reply for _, reply in latencies))
        within = sum(1 for ms in times if ms <= PROBE_TARGET_MS)
        print(f"KRB2IsOperationRunning(Base1) meanwhile: {len(times)} probes, replies {replies}, "
              f"median {times[len(times) // 2]:.1f} ms, max {times[-1]:.1f} ms, "
              f"{within}/{len(times)} within {PROBE_TARGET_MS:.0f} ms; slowest "
              f"{', '.join(f'{ms:.1f}' for ms in times[-3:])} ms")
        time.sleep(2.5 * float(env["KRB_TIME_SCALE"]) + 0.5)  # the last summary line
        print(f"log: {count_log(log, ';Commands refused;')} 'Commands refused' lines, "
              f"{count_log(log, ';Resource failure;')} 'Resource failure' lines")

        reference, whole = asyncio.run(registrations(args.listeners))
        print(f"\n{args.listeners} listeners registered at once: {whole} received the whole "
              f"snapshot of {len(reference)} lines")
        print(f"log: {count_log(log, 'ServiceSnapshotRefused')} listeners refused")
        ok = within == len(times) and whole == args.listeners
        print("\nresult:", "both targets met" if ok else "a target was missed")
        return 0 if ok else 1
    finally:
        for process in (server, sim):
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
