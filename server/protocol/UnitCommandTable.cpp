// The unit command table: name, whether the audit trail keeps it, the fields read after the
// unit ID, and the unit operation whose result is the reply.
#include <array>

#include "ControllerRegisters.h"
#include "lab/ClientFiles.h"
#include "lab/Unit.h"
#include "protocol/UnitCommandThread.h"

namespace krb::server {
namespace {

using F = FieldKind;
using Fields = const TCommandFields&;

constexpr TAudit kRecorded = TAudit::Recorded;
constexpr TAudit kRead = TAudit::Read;

const std::vector<F> kNone;
const std::vector<F> kInteger{F::Integer};
const std::vector<F> kTwoIntegers{F::Integer, F::Integer};
const std::vector<F> kText{F::Text};
const std::vector<F> kClimate{F::Text, F::Text, F::Text, F::Text};
const std::vector<F> kScan{F::Text, F::Flag, F::Flag};
const std::vector<F> kPartitionScan{F::Text, F::Text, F::Flag, F::Flag};
const std::vector<F> kSector{F::Integer, F::Integer, F::Text};
const std::vector<F> kMove(11, F::Integer);

std::string TransferStationPosition(TKRBId& unit, Fields f) {
    // The word's value for positions 0, 1 and 2.
    static constexpr std::array<std::int64_t, 3> kPositionValues{72, 79, 75};
    const std::string& position = f.Text(0);
    for (std::size_t i = 0; i < kPositionValues.size(); ++i) {
        if (position == std::to_string(i)) {
            unit.ReadBackStr(controller::writeWord(controller::word::kTransferStationPosition,
                                                   kPositionValues[i]));
            return "";
        }
    }
    return "E1";
}

// A scan into a file named by the client, kept inside the unit's client-file folder; a name
// that leads out or stands for a file of the server is refused as a failed start and nothing
// is written.
template <class Start>
std::string WithClientFile(TKRBId& unit, const std::string& name, Start start) {
    if (!EnsureClientFolder(unit.ClientFileFolder)) return "-1";
    const auto file = ConfinedClientFile(name, unit.ClientFileFolder, unit.OwnedFiles);
    auto handle = file ? TClientFileHandle::Open(*file) : std::nullopt;
    if (!handle) return "-1";
    std::string reply = start(handle->WritePath());
    if (reply == "1") KeepUntilNextScan(unit.ComPort, std::move(*handle));
    return reply;
}

std::string ServiceMovePlate(TKRBId& unit, Fields f) {
    std::array<std::int32_t, 11> arguments{};
    for (std::size_t i = 0; i < arguments.size(); ++i) arguments[i] = f.Integer(i);
    return unit.ServiceMovePlate2(arguments);
}

}  // namespace

const std::vector<TUnitCommandRow>& UnitCommandTable() {
    // clang-format off
    static const std::vector<TUnitCommandRow> table{
        {"KRB2ActivateShaker", kRecorded, kInteger, [](TKRBId& u, Fields f) { return u.ActivateShaker2(f.Integer(0)); }},
        {"KRB2DeactivateShaker", kRecorded, kNone, [](TKRBId& u, Fields) { return u.DeactivateShaker2(); }},
        {"KRB2Activate", kRecorded, kNone, [](TKRBId& u, Fields) { return u.ActivateUnit(); }},
        {"KRB2Deactivate", kRecorded, kNone, [](TKRBId& u, Fields) { u.Deactivate2(); return std::string(); }},
        {"KRB2Reset", kRecorded, kNone, [](TKRBId& u, Fields) { u.Reset2(); return std::string(); }},
        {"KRB2ReadActualClimate", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadActualClimate2(); }},
        {"KRB2WriteSetClimate", kRecorded, kClimate, [](TKRBId& u, Fields f) { return u.WriteSetClimate2(f.Text(0), f.Text(1), f.Text(2), f.Text(3)); }},
        {"KRB2ReadSetClimate", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadSetClimate2(); }},
        {"KRB2ServiceReadBarcode", kRecorded, kTwoIntegers, [](TKRBId& u, Fields f) { return u.ServiceReadBarcode2(f.Integer(0), f.Integer(1)); }},
        {"KRB2InventoryPlateExp", kRecorded, kScan, [](TKRBId& u, Fields f) { return u.InventoryPlateExport(f.Flag(1), f.Flag(2)); }},
        {"KRB2Inventory", kRecorded, kScan, [](TKRBId& u, Fields f) { return WithClientFile(u, f.Text(0), [&](const std::string& file) { return u.Inventory2(file, f.Flag(1), f.Flag(2)); }); }},
        {"KRB2PartitionInventoryExp", kRecorded, kPartitionScan, [](TKRBId& u, Fields f) { return u.PartitionInventoryPlateExport(f.Text(1), f.Flag(2), f.Flag(3)); }},
        {"KRB2PartitionInventory", kRecorded, kPartitionScan, [](TKRBId& u, Fields f) { return WithClientFile(u, f.Text(0), [&](const std::string& file) { return u.PartitionInventory2(file, f.Text(1), f.Flag(2), f.Flag(3)); }); }},
        {"KRB2GetSysStatus", kRead, kNone, [](TKRBId& u, Fields) { return u.GetSysStatus2(); }},
        {"KRB2ReadSetShakerSpeed", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadSetShakerSpeed2(); }},
        {"KRB2SwapIn", kRecorded, kNone, [](TKRBId& u, Fields) { return u.Swap(); }},
        {"KRB2SwapOut", kRecorded, kNone, [](TKRBId& u, Fields) { return u.SwapBack(); }},
        {"KRB2ServiceMovePlate", kRecorded, kMove, ServiceMovePlate},
        {"KRB2Lock", kRecorded, kNone, [](TKRBId& u, Fields) { return u.Lock(); }},
        {"KRB2UnLock", kRecorded, kNone, [](TKRBId& u, Fields) { return u.Unlock(); }},
        {"KRB2DefineSector", kRecorded, kSector, [](TKRBId& u, Fields f) { return u.DefineSector2(f.Integer(0), f.Integer(1), f.Text(2)); }},
        {"KRB2AbandonAccess", kRecorded, kNone, [](TKRBId& u, Fields) { u.AbandonAccess(); return std::string(); }},
        {"KRB2ContinueAccess", kRecorded, kNone, [](TKRBId& u, Fields) { u.ContinueAccess(); return std::string(); }},
        {"KRB2ReadBackStr", kRecorded, kText, [](TKRBId& u, Fields f) { return u.ReadBackStr(f.Text(0)); }},
        {"KRB2ServiceIsPlateAtLocation", kRead, kTwoIntegers, [](TKRBId& u, Fields f) { return u.ServiceIsPlateAtLocation2(f.Integer(0), f.Integer(1)); }},
        {"KRB2AlternateXferStation", kRecorded, kInteger, [](TKRBId& u, Fields f) { return u.AlternateXferStation(f.Integer(0)); }},
        {"KRB2TransferStPosition", kRecorded, kText, TransferStationPosition},
        {"KRB2ReadReadyFlag", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadReadyFlag(); }},
        {"KRB2ReadErrorFlag", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadErrorFlag(); }},
        {"KRB2ReadErrorCode", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadErrorCode(); }},
        {"KRB2ReadUserDoorFlag", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadUserDoorFlag(); }},
        {"KRB2IsOperationRunning", kRead, kNone, [](TKRBId& u, Fields) { return u.IsOperationRunning(); }},
        {"KRB2ClearHistory", kRecorded, kNone, [](TKRBId& u, Fields) { return std::to_string(u.ClearHistory()); }},
        {"KRB2ReadShovelDetector", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadShovelDetector(); }},
        {"KRB2ReadXferStationDetector1", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadTransferStationDetector(); }},
        {"KRB2ReadXferStationDetector2", kRead, kNone, [](TKRBId& u, Fields) { return u.ReadTransferStation2Detector(); }},
        {"KRB2SoftReset", kRecorded, kNone, [](TKRBId& u, Fields) { return u.SoftReset(); }},
        {"KRB2ManualAccess", kRecorded, kInteger, [](TKRBId& u, Fields f) { return u.ManualAccess(f.Integer(0)); }},
        {"KRB2BeeperOn", kRecorded, kNone, [](TKRBId& u, Fields) { return u.BeeperOn(); }},
        {"KRB2BeeperOff", kRecorded, kNone, [](TKRBId& u, Fields) { return u.BeeperOff(); }},
    };
    // clang-format on
    return table;
}

}  // namespace krb::server
