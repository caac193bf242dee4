"""A scheduler's short session with the demo lab: activate a unit, move a plate while
listening to the unit's notifications, scan the partition, and read back the plate."""

import sys

from krbclient import Client, EventKind

port = int(sys.argv[1]) if len(sys.argv) > 1 else 3100
client = Client("localhost", port, timeout=300)

print("systems:", [(system.id, system.name) for system in client.lab().systems])
print("activate Store4:", client.activate("Store4"))
climate = client.read_actual_climate("Store4")
print("status:", client.get_sys_status("Store4"), "temperature:", climate.temperature)

with client.listen(timeout=60) as events:
    move = client.service_move_plate("Store4", 2, 1, 1, 0, 0, "Store4", 2, 2, 5, 0, 0)
    print("move cassette 1 level 1 -> cassette 2 level 5:", move)
    went_busy = False
    for event in events:
        if event.unit == "Store4" and event.kind in (EventKind.BUSY, EventKind.IDLE):
            print("  event:", event.kind.value, event.unit)
            went_busy = went_busy or event.kind is EventKind.BUSY
            if went_busy and event.kind is EventKind.IDLE:
                break

print("inventory of Racks:", client.partition_inventory_export("Store4", "Racks", True, True))
for unit, cassette, plate in client.unit_content("Store4").plates():
    if cassette.id <= 2:
        print(f"  location {plate.id}: cassette {cassette.id} level {plate.level}, "
              f"{plate.barcode}, checked {plate.date_check:%Y-%m-%d %H:%M}")

location = next(p.id for _, _, p in client.tree().plates() if p.barcode == "R0001")
print(f"name location {location}:", client.update_plate_name("Store4", location, "Moved rack"))
plate = next(p for _, _, p in client.plate("Store4", location).locations())
print("plate view:", plate.user_id, plate.barcode, "present" if plate.present else "empty")
