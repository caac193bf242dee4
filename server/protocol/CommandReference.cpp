#include "protocol/CommandReference.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "protocol/UnitCommandThread.h"

namespace krb::server {
namespace {

struct CommandDescription {
    std::string_view Name;
    std::string_view Arguments;  // after the unit ID: one name per field, joined by ", "
    std::string_view ArgumentNotes;
    std::string_view Lock;
    std::string_view Reply;
    std::string_view Example;  // command and its reply
};

// clang-format off
constexpr std::array<CommandDescription, 40> kUnitCommands{{
    {"KRB2ActivateShaker", "speed", "", "device", "empty", "`KRB2ActivateShaker(Base1,300)` → ``"},
    {"KRB2DeactivateShaker", "", "", "device", "empty", "`KRB2DeactivateShaker(Base1)` → ``"},
    {"KRB2Activate", "", "", "operation", "activation code: `1` (no reader), `1;1` (reader set), `1;-1`, `1;-`code (reader path failed); `-1` connect failed, `-3`/`-4` opening answered 0/2, `-5`/`-6`/`-7` initialisation answered 2/3/other", "`KRB2Activate(Base1)` → `1;1`"},
    {"KRB2Deactivate", "", "", "device", "empty", "`KRB2Deactivate(Base1)` → ``"},
    {"KRB2Reset", "", "", "device", "empty", "`KRB2Reset(Base1)` → ``"},
    {"KRB2ReadActualClimate", "", "", "device", "climate text of the unit", "`KRB2ReadActualClimate(Store4)` → `022.00;040.00;000.04;078.00`"},
    {"KRB2WriteSetClimate", "temperature, humidity, CO2, N2", "set points as decimal texts", "device", "empty", "`KRB2WriteSetClimate(Store4,37,90,5,0)` → ``"},
    {"KRB2ReadSetClimate", "", "", "device", "set climate text of the unit", "`KRB2ReadSetClimate(Store4)` → `037.00;090.00;005.00;0`"},
    {"KRB2ServiceReadBarcode", "slot, level", "", "operation", "the barcode read, or the reader's failure text", "`KRB2ServiceReadBarcode(Store4,1,1)` → `R0001`"},
    {"KRB2InventoryPlateExp", "file, detect, barcodes", "file is ignored (the scan is merged into the unit's contents file); detect `1`: ask each location's plate detector; barcodes `1`: read each plate's barcode", "operation", "`1` merged into the contents file; the start result when not 1; `E_Inventory File doesn't exist`; `E_#`code on a unit error; `E_Communication Error` (also when positions could not be read: what was read is merged, their records stay as they were); ends with two CR LF", "`KRB2InventoryPlateExp(Store4,x,0,0)` → `1`"},
    {"KRB2Inventory", "file, detect, barcodes", "file inside `ClientFileFolder`; detect, barcodes as for `KRB2InventoryPlateExp`", "none", "decimal start result (`-1` for a file outside the folder)", "`KRB2Inventory(Store4,scan.csv,0,0)` → `1`"},
    {"KRB2PartitionInventoryExp", "file, partition, detect, barcodes", "file is ignored; partition: a name of the unit's `[Partitions]`; detect, barcodes as for `KRB2InventoryPlateExp`", "operation", "as `KRB2InventoryPlateExp`", "`KRB2PartitionInventoryExp(Store4,x,Racks,0,0)` → `1`"},
    {"KRB2PartitionInventory", "file, partition, detect, barcodes", "file inside `ClientFileFolder`; partition, detect, barcodes as for `KRB2PartitionInventoryExp`", "none", "decimal start result", "`KRB2PartitionInventory(Store4,part.csv,Racks,0,0)` → `1`"},
    {"KRB2GetSysStatus", "", "", "device", "status number (`-1` when a status relay cannot be read)", "`KRB2GetSysStatus(Base1)` → `33`"},
    {"KRB2ReadSetShakerSpeed", "", "", "device", "decimal", "`KRB2ReadSetShakerSpeed(Store4)` → `0`"},
    {"KRB2SwapIn", "", "", "operation", "decimal", "`KRB2SwapIn(Store4)` → `1`"},
    {"KRB2SwapOut", "", "", "operation", "decimal", "`KRB2SwapOut(Store4)` → `1`"},
    {"KRB2ServiceMovePlate", "source type, source slot, source level, source cascade slot, source cascade code, target unit, target type, target slot, target level, target cascade slot, target cascade code", "the source is the addressed unit; target unit is the target's unit ID; see [Moving plates](#moving-plates)", "operation", "move code: `1` done; `-1` failed or a move of this unit still running; `-`n library code n; `-`unit`;`n step n failed on the unit with that unit ID, the addressed unit or another unit of the cascade. With `[TCP] RecordsFollowMoves=1` (the default) a move that answers `1` also moves the plate's record in the contents files; a failed one changes only what its reply proves", "`KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2,0)` → `1`"},
    {"KRB2Lock", "", "", "device", "empty", "`KRB2Lock(Base1)` → ``"},
    {"KRB2UnLock", "", "", "device", "empty", "`KRB2UnLock(Base1)` → ``"},
    {"KRB2DefineSector", "first cassette, last cassette, sector name", "the name is the rest of the list", "device", "empty", "`KRB2DefineSector(Store4,3,10,Plates)` → ``"},
    {"KRB2AbandonAccess", "", "", "device", "empty", "`KRB2AbandonAccess(Base1)` → ``"},
    {"KRB2ContinueAccess", "", "", "device", "empty", "`KRB2ContinueAccess(Base1)` → ``"},
    {"KRB2ReadBackStr", "controller command", "the rest of the list, sent to the controller as it is", "device", "the controller's reply (empty when the call failed)", "`KRB2ReadBackStr(Base1,RD DM202)` → `00001`"},
    {"KRB2ServiceIsPlateAtLocation", "slot, level", "", "operation", "decimal: `1` a plate is there, `0` none, `-1` the detector could not be read (nothing is known of the location), `-2` not initialised, `-3` busy", "`KRB2ServiceIsPlateAtLocation(Base1,1,1)` → `1`"},
    {"KRB2AlternateXferStation", "station", "`1` or `2`", "device", "text", "`KRB2AlternateXferStation(Base1,1)` → `1`"},
    {"KRB2TransferStPosition", "position", "`0`, `1` or `2`, the rest of the list", "device", "empty; `E1` for another position", "`KRB2TransferStPosition(Base1,1)` → ``"},
    {"KRB2ReadReadyFlag", "", "", "device", "decimal", "`KRB2ReadReadyFlag(Base1)` → `1`"},
    {"KRB2ReadErrorFlag", "", "", "none", "decimal: `1` error, `0` none", "`KRB2ReadErrorFlag(Base1)` → `0`"},
    {"KRB2ReadErrorCode", "", "", "none", "decimal error code", "`KRB2ReadErrorCode(Base1)` → `0`"},
    {"KRB2ReadUserDoorFlag", "", "", "none", "decimal: `1` closed, `0` open", "`KRB2ReadUserDoorFlag(Store4)` → `1`"},
    {"KRB2IsOperationRunning", "", "", "none", "decimal: `1` running, `0` idle", "`KRB2IsOperationRunning(Base1)` → `0`"},
    {"KRB2ClearHistory", "", "", "none", "`1` contents file rebuilt empty, `-1` failed", "`KRB2ClearHistory(Store4)` → `1`"},
    {"KRB2ReadShovelDetector", "", "", "none", "decimal", "`KRB2ReadShovelDetector(Base1)` → `0`"},
    {"KRB2ReadXferStationDetector1", "", "", "none", "decimal", "`KRB2ReadXferStationDetector1(Base1)` → `0`"},
    {"KRB2ReadXferStationDetector2", "", "", "none", "decimal", "`KRB2ReadXferStationDetector2(Base1)` → `0`"},
    {"KRB2SoftReset", "", "", "device", "decimal", "`KRB2SoftReset(Base1)` → `1`"},
    {"KRB2ManualAccess", "slot", "", "operation", "decimal: `1` the slot faces the access door; `0` not initialised, `-2` no such slot, `-3` door not closed, `-4` busy, `-1` failed", "`KRB2ManualAccess(Base1,1)` → `1`"},
    {"KRB2BeeperOn", "", "", "device", "empty", "`KRB2BeeperOn(Base1)` → ``"},
    {"KRB2BeeperOff", "", "", "device", "empty", "`KRB2BeeperOff(Base1)` → ``"},
}};
// clang-format on

constexpr std::string_view kIntroduction = R"(# KRBServer commands

Written by `KRBServer --commands` from the tables the server dispatches with; a test keeps this
file equal to that output.

A client connects over TCP and sends one command ended by a carriage return (CR). One send
carries one command: the server takes what one read delivers as one command, so two commands
written at once are answered as one. Replies end with CR LF. A unit command's reply comes when
the unit operation has ended; a client that closes its connection (or its sending side) before
that loses the reply, while the operation still runs to its end.

Routing by the first characters, case-sensitively: `GET` (an XML view), `KRB2` (a unit command),
`UpdatePlate`, `KRBService`, `UpdateSlot`; any other text is not answered.

| Reply | Meaning |
|---|---|
| `E1` | no CR in the text, an unknown unit command, or an argument out of its range |
| `E2` | no unit has the given unit ID |
| `E3` | the command failed while it ran (for example a missing or non-numeric integer), or could not start: no worker was free, or its unit already holds 32 commands that wait for its device or operation lock |

## Unit commands

`KRB2<name>(<unit ID>,<arguments>)` + CR. The unit ID is the unit's `UnitId`, compared exactly
(the library below addresses a unit by its port number; the server translates both ways).
Arguments are split at ","; the last one is the rest of the list. A flag is on only for `1`.
Lock: `device` commands of one unit run one at a time, `operation` commands (long motions and
scans) of one unit run one at a time, and a device command may run during an operation;
`none` runs at any time.

| Command | Arguments after the unit ID | Read as | Lock | Reply | Example |
|---|---|---|---|---|---|
)";

constexpr std::string_view kOtherCommands = R"(
## Moving plates

`KRB2ServiceMovePlate(<source unit ID>,<source type>,<source slot>,<source level>,<source
cascade slot>,<source cascade code>,<target unit ID>,<target type>,<target slot>,<target
level>,<target cascade slot>,<target cascade code>)` moves one plate within a unit or through
a cascade (base, cascader, extension). Types: `1` transfer station, `2` slot and level, `3`
handler, `4` cascade transfer position (cascade slot and code), `5` tube store; slot and level
count from 1, and positions that do not use them take `0`. A cascade move gives cascade slot 1
on the base's side and 2 on the extension's. The reply:

| Reply | Meaning |
|---|---|
| `1` | the plate is at the target |
| `-1` | a unit stayed busy, or a move of the addressed unit was still running |
| `-3` .. `-9` | refused before anything moved: `-3` a unit ID names no unit, `-4` the units form no cascade for this move, `-5` a cascade slot is 0, `-6`/`-7` the source/target cascade slot has the wrong parity, `-8`/`-9` the source/target position lacks slot or level |
| `-<unit ID>;<step>` | a step failed on that unit, which may be the addressed unit itself or another unit of the cascade (`null` when no unit is configured at the port the library named); every step before it was done. Steps: `1` load (transfer station to slot), `2` unload (slot to transfer station), `3` pick (to the handler), `4` place (from the handler), `5` set (handler to transfer station), `6` get (transfer station to handler), `7` turning the carousel or positioning the cascade carrier |

For example `-Ext1;3`: the extension Ext1 could not pick the plate; the unit's error code (its
`I_E#<code>` line, in decimal) says why. With `[TCP] RecordsFollowMoves=1` (the default) a move
that answers `1` also moves the plate's record from the source location to the target location
in the contents files, so the files and the views show it at once; a failed move changes only
what its reply proves. With `RecordsFollowMoves=0` the files change only by an inventory or an
update command.

## Plate and slot updates

`<name>(<unit ID>,<location or cassette>,<value>)` + CR; the value is the rest of the list.
The server answers a decimal result + CR LF and closes the connection.

| Command | Changes | Result |
|---|---|---|
| `UpdatePlateName` | the location's plate name | `1` done (also when no location matched), `-2` the unit has no contents file, `-1` any other failure |
| `UpdatePlatePP` | plate present: `1` for the value `1`, else `0` | as above |
| `UpdatePlateBCR` | the location's barcode | as above |
| `UpdatePlateCheckDate` | check date: `0` now, empty unchanged, else a date-time | as above |
| `UpdatePlateLoadDate` | load date, same rule | as above |
| `UpdatePlateUnloadDate` | unload date, same rule | as above |
| `UpdateSlotZPitch` | the cassette's level pitch | `1` done, `-1` not found or not a number, `-2` unit call failed, `-4` unit file not rewritten |
| `UpdateSlotLevels` | the cassette's number of levels, and the contents file | as above, and `-5` no contents file, `-6` contents file not rewritten, `-7` a removed level holds a plate |

Example: `UpdatePlateName(Store4,12,Assay 3)` → `1`.

## XML views

`GET /PlateExp/<view> HTTP/1.1`: one XML document, then the server closes the connection.

| View | Shows |
|---|---|
| `DrawLab` | every system's name and ID |
| `DrawTree` | the whole lab: systems, units, sectors, cassettes, every location |
| `DrawSys?id=<system>` | the systems with that ID and their units |
| `DrawUnit?id=<unit ID>` | one unit and its sectors |
| `DrawSector?unitid=<unit ID>&id=<sector>` | one sector of a unit with its cassettes |
| `DrawCassette?unitid=<unit ID>&id=<cassette>` | one cassette of a unit with its locations |
| `UnitContent?id=<unit ID>` | one unit with every location |
| `DrawPlate?unitid=<unit ID>&id=<location>` | one location, by its number in the unit |

## Service listener

`KRBServiceSocket` + CR registers the connection as a listener; it stays open. The server sends
a snapshot of every unit, then one line per change (`ID` is the unit ID; polled every 500 ms,
doors and errors every 2 s):

| Line | Sent when |
|---|---|
| `I_DeviceBisy(ID)` / `I_DeviceNotBisy(ID)` | an operation started / ended |
| `I_DeviceActivated(ID)` / `I_DeviceDeActivated(ID)` | the unit was activated / stopped being activated |
| `I_DeviceDeactivated(ID)` | the unit is not activated (snapshot only) |
| `I_DoorOpened(ID)` / `I_DoorClosed(ID)` | the door opened / closed |
| `I_E#<code>(ID)` / `I_E#0(ID)` | the unit entered an error with that code / left it |
)";

std::string FieldKinds(const std::vector<FieldKind>& shape) {
    if (shape.empty()) return "-";
    std::string kinds;
    for (FieldKind kind : shape) {
        if (!kinds.empty()) kinds += ", ";
        kinds += kind == FieldKind::Integer ? "integer" : kind == FieldKind::Flag ? "flag" : "text";
    }
    return kinds;
}

const CommandDescription* DescriptionOf(std::string_view name) {
    auto found = std::find_if(kUnitCommands.begin(), kUnitCommands.end(),
                              [&](const CommandDescription& d) { return d.Name == name; });
    return found == kUnitCommands.end() ? nullptr : &*found;
}

std::size_t ArgumentCount(std::string_view names) {
    return names.empty() ? 0 : 1 + std::count(names.begin(), names.end(), ',');
}

std::string ArgumentsCell(const CommandDescription& d) {
    std::string cell(d.Arguments.empty() ? "none" : d.Arguments);
    if (!d.ArgumentNotes.empty()) cell.append("; ").append(d.ArgumentNotes);
    return cell;
}

std::vector<std::string> MismatchesWithTheTable() {
    std::vector<std::string> problems;
    for (const auto& row : UnitCommandTable()) {
        const CommandDescription* description = DescriptionOf(row.Name);
        if (!description) {
            problems.push_back("no description for " + std::string(row.Name));
        } else if (ArgumentCount(description->Arguments) != row.Shape.size()) {
            problems.push_back("the description of " + std::string(row.Name) + " names " +
                               std::to_string(ArgumentCount(description->Arguments)) +
                               " arguments, the command reads " + std::to_string(row.Shape.size()));
        }
    }
    for (const auto& description : kUnitCommands) {
        const TUnitCommandRow* row = FindUnitCommandRow(description.Name);
        if (!row || row->Name != description.Name)
            problems.push_back("description of a command not in the table: " +
                               std::string(description.Name));
    }
    return problems;
}

}  // namespace

std::vector<std::string> WriteCommandReference(std::ostream& out) {
    auto problems = MismatchesWithTheTable();
    if (!problems.empty()) return problems;
    out << kIntroduction;
    for (const auto& row : UnitCommandTable()) {
        const CommandDescription& d = *DescriptionOf(row.Name);
        out << "| `" << d.Name << "` | " << ArgumentsCell(d) << " | " << FieldKinds(row.Shape)
            << " | " << d.Lock << " | " << d.Reply << " | " << d.Example << " |\n";
    }
    out << kOtherCommands;
    return {};
}

std::string_view UnitCommandLock(std::string_view rowName) {
    for (const auto& command : kUnitCommands) {
        if (command.Name == rowName) return command.Lock;
    }
    return {};
}

}  // namespace krb::server
