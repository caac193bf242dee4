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


# The plate the tour moves, its home and where it goes: (system, unit number, unit ID, slot, level).
PLATE = "P0003"
HOME = (1, 1, "Base1", 3, 1)
AWAY = (1, 3, "Ext1", 6, 1)
MOVE_AWAY = "KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2,0)"
MOVE_HOME = "KRB2ServiceMovePlate(Ext1,2,6,1,2,0,Base1,2,3,1,1,0)"


def record_at(demo, place):
    """The contents file's line for a slot and level: location,slot,level,present,barcode,name,..."""
    system, unit_number, _, slot, level = place
    for line in read_lines(demo.contents_file(system, unit_number)):
        if line.split(",")[1:3] == [str(slot), str(level)]:
            return line
    return None


def holds(record, barcode):
    fields = (record or "").split(",")
    return len(fields) > 4 and fields[3] == "1" and fields[4] == barcode


def show_records(tour, label):
    tour.show(label, [f"{place[2]} slot {place[3]} level {place[4]}: {record_at(tour.demo, place)}"
                      for place in (HOME, AWAY)])


def move_plate(tour):
    tour.step(f"Move plate {PLATE} from Base1 slot 3 level 1 through the cascader to Ext1 slot 6 level 1")
    tour.simulator(f"WHERE {PLATE}", f"Before the move the simulator has {PLATE} in COM1 (Base1), slot 3, level 1.")
    show_records(tour, "Contents files before (location, slot, level, present, barcode, name, ...)")
    tour.command(MOVE_AWAY, lambda r: "The move ended with 1: done." if r == "1" else f"The move failed: {r}.")
    tour.simulator(f"WHERE {PLATE}", f"The simulator's {PLATE} after the move (COM3 is Ext1).")
    show_records(tour, "Contents files after the move, read from disk")
    if holds(record_at(tour.demo, AWAY), PLATE) and not holds(record_at(tour.demo, HOME), PLATE):
        print(f"    The record moved with the plate: with [TCP] RecordsFollowMoves=1 (the default) a move\n"
              f"    that answers 1 also moves the plate's record, so files and views agree at once.")
    else:
        print("    The records still show the plate at home: this server does not move records with\n"
              "    plates ([TCP] RecordsFollowMoves=0); an inventory (KRB2PartitionInventoryExp) brings\n"
              "    the contents file in step with the unit.")
    document = view(tour.demo, "DrawCassette?unitid=Ext1&id=6")
    tour.show("GET /PlateExp/DrawCassette?unitid=Ext1&id=6, the location at level 1",
              first_plate_element(document))


def listener_and_move(tour):
    tour.step("Register a service listener, then move the plate back and watch the busy/idle lines")
    listener = Listener(tour.demo)
    snapshot = listener.wait_for("I_DeviceActivated(Ext1)", 5)
    tour.show("Snapshot on registration", snapshot)
    tour.command(MOVE_HOME, lambda r: f"{PLATE} is back in Base1 slot 3." if r == "1" else f"The move failed: {r}.")
    lines = listener.wait_for("I_DeviceNotBisy(Ext1)", 3) + listener.wait_for("~", 1.2)
    tour.show("Listener lines during the move (each step of each unit)", lines)
    return listener


# The digit after the unit in a failed move's reply: the step that failed on that unit.
STEPS = {"1": "load (transfer station to slot)", "2": "unload (slot to transfer station)",
         "3": "pick (slot or cascade position to the handler)", "4": "place (handler to slot)",
         "5": "set (handler to transfer station)", "6": "get (transfer station to handler)",
         "7": "positioning the carousel or the cascade carrier"}


def failure_meaning(reply):
    unit, _, digit = reply.lstrip("-").partition(";")
    if not reply.startswith("-") or not digit:
        return f"The move answered {reply}; see KRB2ServiceMovePlate in docs/commands.md."
    return (f"'-{unit};{digit}': the move failed on unit {unit} (the unit ID of the unit the step failed on,\n"
            f"    which may be the addressed unit itself or another unit of the cascade) at step {digit},\n"
            f"    {STEPS.get(digit, 'a step of the move')}. Every step before it was done.")


def fault(tour, listener):
    tour.step("Inject a fault: the next handler motion of Ext1 fails with error 7303")
    tour.simulator("FAULT COM3 error 7303", "The simulator will fail Ext1's next pick with error code 7303 (hex).")
    tour.command(MOVE_AWAY, failure_meaning)
    lines = listener.wait_for("I_E#", 5)
    tour.show("Listener lines (the error poll runs every 2 s)", [l for l in lines if "I_E#" in l] or lines)
    code = next((l[4:l.index("(")] for l in lines if l.startswith("I_E#") and "(Ext1)" in l), None)
    if code and code.isdigit() and code != "0":
        print(f"    I_E#{code}: the controller's error code in decimal: {code} = {int(code):X} hex, the 7303 injected.")
    tour.simulator(f"WHERE {PLATE}", f"{PLATE} was not lost: it is where the failed step left it.")
    tour.step("Clear the fault")
    tour.simulator("CLEAR COM3", "The simulator ends the injected fault.")
    tour.command("KRB2SoftReset(Ext1)", "A soft reset clears the unit's error; references are kept.")
    lines = listener.wait_for("I_E#0(Ext1)", 5)
    tour.show("Listener lines", [l for l in lines if "I_E#" in l] or lines)
    listener.close()


def put_plate_back(tour, records_wanted, title, found):
    tour.step(title)
    where = tour.simulator(f"WHERE {PLATE}", found)
    _, home_unit, home_unit_id, home_slot, home_level = HOME
    home = f"COM{home_unit} {home_slot} {home_level}"
    places = [place for place in map(simulator_place, where) if place]
    for place in places:
        if place != home:
            tour.simulator(f"TAKE {place}", "The operator takes the plate out ...")
    if home not in places:
        tour.simulator(f"PUT {home} {PLATE}",
                       f"... and puts it into {home_unit_id} slot {home_slot} level {home_level}.")
    for place, wanted in zip((HOME, AWAY), records_wanted):
        restore_record(tour, place, wanted)
    show_records(tour, "Contents files now")


def at_the_tour_start(demo):
    """P0003 alone at home, in the simulator and in the records."""
    _, home_unit, _, home_slot, home_level = HOME
    where = [simulator_place(line) for line in control(demo, f"WHERE {PLATE}")]
    return ([place for place in where if place] == [f"COM{home_unit} {home_slot} {home_level}"]
            and holds(record_at(demo, HOME), PLATE) and not holds(record_at(demo, AWAY), PLATE))


def prepare(tour):
    """An earlier tour or command may have left P0003 elsewhere: the tour begins with it at home."""
    if at_the_tour_start(tour.demo):
        return
    wanted = []
    for place, present, barcode in ((HOME, "1", PLATE), (AWAY, "0", "")):
        fields = (record_at(tour.demo, place) or ",,,,,").split(",")
        fields[3:5] = [present, barcode]
        wanted.append(",".join(fields))
    put_plate_back(tour, wanted, f"{PLATE} or its records are not as the tour begins: put them in Base1 slot 3 level 1",
                   f"Where an earlier command left {PLATE}.")


def simulator_place(line):
    """'PLATE COM3 SLOT 2 3 P0003' -> 'COM3 2 3'; other places ('STATION 1', 'SHOVEL') as given."""
    fields = line.split()
    if len(fields) < 4 or fields[0] != "PLATE" or fields[-1] != PLATE:
        return None
    place = fields[2:-1]
    if place[0] == "SLOT":
        place = place[1:]
    return " ".join([fields[1]] + place)


def placed(record):
    """A contents line without its dates, which moves and updates may set."""
    return (record or "").split(",")[:7]


# Columns of a contents line that the update commands set (dates are left as they are).
UPDATES = ((3, "UpdatePlatePP"), (4, "UpdatePlateBCR"), (5, "UpdatePlateName"))


def restore_record(tour, place, wanted):
    current = (record_at(tour.demo, place) or "").split(",")
    wanted = (wanted or "").split(",")
    if not wanted[0]:
        return
    for column, command in UPDATES:
        if current[column:column + 1] != wanted[column:column + 1]:
            tour.command(f"{command}({place[2]},{wanted[0]},{wanted[column]})",
                         lambda r: "The record is set." if r == "1" else f"Refused: {r}.")


def same_lab(demo, plates_at_start, records_at_start):
    """Every plate in the simulator and the tour's records as they were when it began."""
    plates = control(demo, "PLATES")
    records = [record_at(demo, place) for place in (HOME, AWAY)]
    if plates == plates_at_start and list(map(placed, records)) == list(map(placed, records_at_start)):
        print("\nThe simulated units and the contents files are as they were at the start: "
              "the tour can run again.")
        return True
    print("\nThe lab differs from the start:", file=sys.stderr)
    for label, before, now in (("plates", plates_at_start, plates), ("records", records_at_start, records)):
        if before != now:
            print(f"  {label} at the start: {before}\n  {label} now: {now}", file=sys.stderr)
    return False


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
    prepare(tour)
    records_at_start = [record_at(demo, place) for place in (HOME, AWAY)]
    plates_at_start = control(demo, "PLATES")
    activate(tour)
    status_and_climate(tour)
    move_plate(tour)
    listener = listener_and_move(tour)
    fault(tour, listener)
    put_plate_back(tour, records_at_start,
                   f"Put {PLATE} back by hand and tell the server, so that the next tour starts from the same lab",
                   f"Where the failed move left {PLATE}.")
    same = same_lab(demo, plates_at_start, records_at_start)
    print(f"\nTour finished in {time.monotonic() - started:.0f} s. All commands: docs/commands.md.")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
