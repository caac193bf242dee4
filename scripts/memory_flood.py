#!/usr/bin/env python3
"""The thread flood under a memory limit: KRBServer runs the demo lab with its address space
capped (ulimit -v), and thousands of clients send a unit command at once, so that far more
commands wait than the server may have workers. The server must answer each with its result,
"E3" or a closed connection, and still answer afterwards.

    scripts/memory_flood.py [BUILD_DIR] [--clients N] [--limit-kb KB]
"""
import argparse
import collections
import os
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HOST = "127.0.0.1"


def free_port():
    with socket.socket() as sock:
        sock.bind((HOST, 0))
        return sock.getsockname()[1]


def wait_for_line(process, text, limit_s=60):
    deadline = time.time() + limit_s
    while time.time() < deadline:
        line = process.stdout.readline()
        if not line:
            break
        if text in line:
            return
    raise RuntimeError(f"{process.args[0]} did not print {text!r}")


def send_and_read_reply(sock, command):
    """The reply line without its CRLF; empty when the server closed the connection first."""
    sock.sendall(command.encode() + b"\r")
    data = b""
    while not data.endswith(b"\r\n"):
        chunk = sock.recv(4096)
        if not chunk:
            break
        data += chunk
    return data.decode("latin-1").strip()


def ask(port, command, timeout=120):
    with socket.create_connection((HOST, port), timeout=timeout) as sock:
        return send_and_read_reply(sock, command)


def flood(port, clients, command):
    """All clients connect first, then send at once; returns the count of each outcome."""
    outcomes = collections.Counter()
    lock = threading.Lock()
    start = threading.Barrier(clients + 1)

    def one():
        try:
            sock = socket.create_connection((HOST, port), timeout=300)
        except OSError as error:
            start.wait()
            with lock:
                outcomes[f"connect failed ({error.__class__.__name__})"] += 1
            return
        start.wait()
        try:
            outcome = send_and_read_reply(sock, command) or "closed"
        except OSError as error:
            outcome = f"closed ({error.__class__.__name__})"
        finally:
            sock.close()
        with lock:
            outcomes[outcome] += 1

    threads = [threading.Thread(target=one, daemon=True) for _ in range(clients)]
    for thread in threads:
        thread.start()
    start.wait()
    for thread in threads:
        thread.join()
    return outcomes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("--clients", type=int, default=3000)
    parser.add_argument("--limit-kb", type=int, default=1500000)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    work = tempfile.mkdtemp(prefix="krb-flood-")
    lab = os.path.join(work, "lab")
    ports = os.path.join(work, "ports")
    shutil.copytree(os.path.join(ROOT, "examples", "demo-lab"), lab)
    os.mkdir(ports)
    port = free_port()
    config = os.path.join(lab, "DriverConfig.lni")
    with open(config, encoding="latin-1") as file:
        text = file.read()
    with open(config, "w", encoding="latin-1", newline="") as file:
        file.write(text.replace("port=3100", f"port={port}"))
    env = dict(os.environ, KRB_PORT_DIR=ports, KRB_TIME_SCALE=os.environ.get("KRB_TIME_SCALE", "0.2"))

    def limited():
        resource.setrlimit(resource.RLIMIT_AS, (args.limit_kb * 1024, args.limit_kb * 1024))

    sim = subprocess.Popen([os.path.join(args.build, "sim", "krb-sim"), "--port-dir", ports, config],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    server = None
    try:
        wait_for_line(sim, "ready")
        server = subprocess.Popen([os.path.join(args.build, "server", "KRBServer"), "--headless",
                                   config, "start"], cwd=lab, env=env, preexec_fn=limited,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while time.time() < deadline:
            try:
                socket.create_connection((HOST, port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.2)
        print(f"KRBServer with ulimit -v {args.limit_kb} (KB), time scale {env['KRB_TIME_SCALE']}")
        print("KRB2Activate(Store4):", ask(port, "KRB2Activate(Store4)", 300))
        begun = time.time()
        outcomes = flood(port, args.clients, "KRB2ReadReadyFlag(Store4)")
        print(f"{args.clients} x KRB2ReadReadyFlag(Store4) at once, {time.time() - begun:.1f} s:")
        for outcome, count in outcomes.most_common():
            print(f"  {outcome!r}: {count}")
        alive = server.poll() is None
        print("server still running:", alive)
        if alive:
            print("afterwards KRB2ReadReadyFlag(Store4):", ask(port, "KRB2ReadReadyFlag(Store4)"))
            print("afterwards KRB2ReadReadyFlag(NoSuchUnit):", ask(port, "KRB2ReadReadyFlag(NoSuchUnit)"))
        return 0 if alive else 1
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
