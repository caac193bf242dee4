#!/usr/bin/env python3
"""A guided tour of a lab day on the demo: each step prints the command sent, the reply and
what happened. Run through scripts/tour.sh, which finds or starts the demo."""
import os
import socket
import sys
import threading
import time

HOST = "127.0.0.1"


class Demo:
    def __init__(self, state_file):
        values = {}
        with open(state_file) as state:
            for line in state:
                key, _, value = line.rstrip("\n").partition("=")
                values[key] = value
        self.work = values["WORK"]
        self.port = int(values["PORT"])
        self.control_path = values["CONTROL"]
        self.time_scale = values["TIME_SCALE"]

    def contents_file(self, system, unit):
        return os.path.join(self.work, "lab", "Lab", f"System{system}", f"Unit{unit}Contents.csv")


def receive_until(sock, done, timeout):
    sock.settimeout(timeout)
    data = b""
    while not done(data):
        chunk = sock.recv(65536)
        if not chunk:
            break
        data += chunk
    return data.decode("latin-1")


def ask(demo, command, timeout=600, line_ends=1):
    """One command on its own connection; waits for its reply line(s)."""
    with socket.create_connection((HOST, demo.port), timeout=10) as sock:
        sock.sendall(command.encode("latin-1") + b"\r")
        reply = receive_until(sock, lambda d: d.count(b"\r\n") >= line_ends, timeout)
    return reply.replace("\r\n", " ").strip()


def view(demo, path):
    with socket.create_connection((HOST, demo.port), timeout=10) as sock:
        sock.sendall(f"GET /PlateExp/{path} HTTP/1.1\r\n\r\n".encode())
        text = receive_until(sock, lambda d: False, 30)
    return text[text.find("<?xml"):] if "<?xml" in text else text


def control(demo, line):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as sock:
        sock.settimeout(30)
        sock.connect(demo.control_path)
        sock.sendall(line.encode() + b"\n")
        reply = receive_until(sock, lambda d: b"\nOK" in b"\n" + d or b"ERR" in d, 30)
    return [line for line in reply.splitlines() if line]


class Listener:
    """A registered service listener collecting its lines on a thread of its own."""

    def __init__(self, demo):
        self.sock = socket.create_connection((HOST, demo.port), timeout=10)
        self.sock.settimeout(None)
        self.lines = []
        self.lock = threading.Lock()
        self.sock.sendall(b"KRBServiceSocket\r")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        pending = b""
        while True:
            try:
                chunk = self.sock.recv(4096)
            except OSError:
                return
            if not chunk:
                return
            pending += chunk
            while b"\r\n" in pending:
                line, pending = pending.split(b"\r\n", 1)
                with self.lock:
                    self.lines.append(line.decode("latin-1"))

    def take(self):
        with self.lock:
            taken, self.lines = self.lines, []
        return taken

    def wait_for(self, wanted, seconds):
        deadline = time.monotonic() + seconds
        seen = []
        while time.monotonic() < deadline:
            seen += self.take()
            if any(line.startswith(wanted) for line in seen):
                break
            time.sleep(0.05)
        return seen

    def close(self):
        self.sock.close()


class Tour:
    def __init__(self, demo):
        self.demo = demo
        self.step_number = 0

    def step(self, title):
        self.step_number += 1
        print(f"\n== {self.step_number}. {title}")

    def command(self, text, meaning, **options):
        started = time.monotonic()
        reply = ask(self.demo, text, **options)
        print(f"  > {text}")
        print(f"  < {reply or '(empty line)'}   [{time.monotonic() - started:.1f} s]")
        print(f"    {meaning(reply) if callable(meaning) else meaning}")
        return reply

    def simulator(self, line, meaning):
        reply = control(self.demo, line)
        print(f"  sim> {line}")
        for answer in reply:
            print(f"  sim< {answer}")
        print(f"    {meaning}")
        return reply

    def show(self, label, lines):
        print(f"  {label}:")
        for line in lines:
            print(f"    | {line}")


def activation_meaning(unit):
    def meaning(reply):
        if reply == "1;1":
            return f"{unit} is connected, initialised, and its barcode reader is set."
        if reply == "1":
            return f"{unit} is connected and initialised (no barcode reader port of its own)."
        return f"{unit} did not activate (code {reply}, see docs/commands.md)."
    return meaning


def activate(tour):
    tour.step("Activate the units: connect, open the serial link, initialise, configure")
    for unit in ("Base1", "Cascader1", "Ext1", "Store4"):
        tour.command(f"KRB2Activate({unit})", activation_meaning(unit))


def status_and_climate(tour):
    tour.step("Read status and climate")
    tour.command("KRB2GetSysStatus(Store4)",
                 lambda r: f"Status word {r}: 32 = door closed and locked, 1 = ready, 4 = initialising.")
    tour.command("KRB2ReadActualClimate(Store4)", "The plate store's actual climate values.")
    tour.command("KRB2IsOperationRunning(Base1)", lambda r: "Base1 is idle." if r == "0" else f"Busy: {r}")


def move_plate(tour):
    tour.step("Move plate P0003 from Base1 slot 3 level 1 through the cascader to Ext1 slot 6 level 1")
    tour.simulator("WHERE P0003", "Before the move the simulator has P0003 in COM1 (Base1), slot 3, level 1.")
    tour.command("KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2,0)",
                 lambda r: "The move ended with 1: done." if r == "1" else f"The move failed: {r}.")
    tour.simulator("WHERE P0003", "The simulator now has P0003 in COM3 (Ext1), slot 6, level 1.")


def inventory(tour):
    tour.step("Inventory with plate export of Ext1's partition Library (cassettes 1-10)")
    contents = tour.demo.contents_file(1, 3)
    before = [line for line in read_lines(contents) if line.split(",")[1:3] == ["6", "1"]]
    tour.show("Contents file before, cassette 6 level 1", before)
    tour.command("KRB2PartitionInventoryExp(Ext1,ignored,Library,1,1)",
                 lambda r: "The scan read every location of the partition and merged the plates "
                           "and barcodes into Ext1's contents file." if r == "1" else f"Failed: {r}",
                 line_ends=2)
    after = [line for line in read_lines(contents) if line.split(",")[1:3] == ["6", "1"]]
    tour.show("Contents file after (location, cassette, level, present, barcode, name, ...)", after)
    document = view(tour.demo, "DrawCassette?unitid=Ext1&id=6")
    tour.show("GET /PlateExp/DrawCassette?unitid=Ext1&id=6, the location at level 1",
              first_plate_element(document))


def listener_and_move(tour):
    tour.step("Register a service listener, then move the plate back and watch the busy/idle lines")
    listener = Listener(tour.demo)
    snapshot = listener.wait_for("I_DeviceActivated(Ext1)", 5)
    tour.show("Snapshot on registration", snapshot)
    tour.command("KRB2ServiceMovePlate(Ext1,2,6,1,2,0,Base1,2,3,1,1,0)",
                 lambda r: "P0003 is back in Base1 slot 3." if r == "1" else f"The move failed: {r}.")
    lines = listener.wait_for("I_DeviceNotBisy(Ext1)", 3) + listener.wait_for("~", 1.2)
    tour.show("Listener lines during the move (each step of each unit)", lines)
    return listener


def fault(tour, listener):
    tour.step("Inject a fault: the next handler motion of Ext1 fails with error 7303")
    tour.simulator("FAULT COM3 error 7303", "The simulator will fail Ext1's next pick.")
    tour.command("KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2,0)",
                 lambda r: f"The move failed on Ext1 at step 3 ({r}); the server reports which unit and step.")
    lines = listener.wait_for("I_E#", 5)
    tour.show("Listener lines (the error poll runs every 2 s)", [l for l in lines if "I_E#" in l] or lines)
    tour.simulator("WHERE P0003", "P0003 was not lost: it is where the failed step left it.")
    tour.step("Clear the fault")
    tour.simulator("CLEAR COM3", "The simulator ends the injected fault.")
    tour.command("KRB2SoftReset(Ext1)", "A soft reset clears the unit's error; references are kept.")
    lines = listener.wait_for("I_E#0(Ext1)", 5)
    tour.show("Listener lines", [l for l in lines if "I_E#" in l] or lines)
    listener.close()


def first_plate_element(document):
    start = document.find("<Plate>")
    element = document[start:document.find("</Plate>", start) + len("</Plate>")]
    fields = [line.strip() for line in element.splitlines() if line.strip()]
    return [" ".join(fields[i:i + 4]) for i in range(0, min(len(fields), 8), 4)]


def read_lines(path):
    with open(path, encoding="latin-1") as file:
        return [line.rstrip("\r\n") for line in file]


def main():
    demo = Demo(sys.argv[1])
    started = time.monotonic()
    print(f"Tour of the demo lab on port {demo.port}, time scale {demo.time_scale} "
          "(every pause and motion of the simulated units takes that share of real time).")
    tour = Tour(demo)
    activate(tour)
    status_and_climate(tour)
    move_plate(tour)
    inventory(tour)
    listener = listener_and_move(tour)
    fault(tour, listener)
    print(f"\nTour finished in {time.monotonic() - started:.0f} s. All commands: docs/commands.md.")


if __name__ == "__main__":
    main()
