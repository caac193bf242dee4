// The unit's one-call operations, each under the unit lock of its row, and the status and
// service move operations that shape their reply.
#include <string>

#include "ControllerRegisters.h"
#include "lab/RecordsFollowMove.h"
#include "lab/Unit.h"
#include "lab/UnitDirectory.h"

namespace krb::server {
namespace {

std::string Decimal(std::int32_t value) { return std::to_string(value); }

}  // namespace

// clang-format off
// DeviceLock
std::string TKRBId::ActivateShaker2(std::int32_t speed) { return UnderDeviceLock([&] { Dll.ActivateShaker2(ComPort, speed); return std::string(); }); }
std::string TKRBId::DeactivateShaker2() { return UnderDeviceLock([&] { Dll.DeactivateShaker2(ComPort); return std::string(); }); }
std::string TKRBId::ReadActualClimate2() { return UnderDeviceLock([&] { return Dll.ReadActualClimate2(ComPort); }); }
std::string TKRBId::WriteSetClimate2(const std::string& t, const std::string& h, const std::string& co2, const std::string& n2) { return UnderDeviceLock([&] { Dll.WriteSetClimate2(ComPort, t, h, co2, n2); return std::string(); }); }
std::string TKRBId::ReadSetClimate2() { return UnderDeviceLock([&] { return Dll.ReadSetClimate2(ComPort); }); }
std::string TKRBId::ReadSetShakerSpeed2() { return UnderDeviceLock([&] { return Decimal(Dll.ReadSetShakerSpeed2(ComPort)); }); }
std::string TKRBId::SoftReset() { return UnderDeviceLock([&] { return Decimal(Dll.SoftReset(ComPort)); }); }
std::string TKRBId::Lock() { return UnderDeviceLock([&] { Dll.Lock(ComPort); return std::string(); }); }
std::string TKRBId::Unlock() { return UnderDeviceLock([&] { Dll.Unlock(ComPort); return std::string(); }); }
std::string TKRBId::DefineSector2(std::int32_t first, std::int32_t last, const std::string& name) { return UnderDeviceLock([&] { Dll.DefineSector2(ComPort, first, last, name); return std::string(); }); }
void TKRBId::AbandonAccess() { UnderDeviceLock([&] { Dll.ReadBackStr(ComPort, controller::setRelay(controller::relay::kCompleteTransfer)); }); }
void TKRBId::ContinueAccess() { UnderDeviceLock([&] { Dll.ReadBackStr(ComPort, controller::setRelay(controller::relay::kCloseGate)); }); }
std::string TKRBId::ReadBackStr(const std::string& command) { return UnderDeviceLock([&] { return Dll.ReadBackStr(ComPort, command); }); }
std::string TKRBId::AlternateXferStation(std::int32_t station) { return UnderDeviceLock([&] { return Dll.AlternateXferStation(ComPort, station); }); }
std::string TKRBId::ReadReadyFlag() { return UnderDeviceLock([&] { return Decimal(Dll.ReadReadyFlag(ComPort)); }); }
std::string TKRBId::BeeperOn() { return UnderDeviceLock([&] { Dll.BeeperOn(ComPort); return std::string(); }); }
std::string TKRBId::BeeperOff() { return UnderDeviceLock([&] { Dll.BeeperOff(ComPort); return std::string(); }); }
// OperationLock
std::string TKRBId::ServiceReadBarcode2(std::int32_t slot, std::int32_t level) { return UnderOperationLock([&] { return Dll.ServiceReadBarcode2(ComPort, slot, level); }); }
std::string TKRBId::Swap() { return UnderOperationLock([&] { return Decimal(Dll.Swap(ComPort)); }); }
std::string TKRBId::SwapBack() { return UnderOperationLock([&] { return Decimal(Dll.SwapBack(ComPort)); }); }
std::string TKRBId::ServiceIsPlateAtLocation2(std::int32_t slot, std::int32_t level) { return UnderOperationLock([&] { return Decimal(Dll.ServiceIsPlateAtLocation2(ComPort, slot, level)); }); }
std::string TKRBId::ManualAccess(std::int32_t slot) { return UnderOperationLock([&] { return Decimal(Dll.ManualAccess(ComPort, slot)); }); }
// no unit lock
std::string TKRBId::Inventory2(const std::string& file, bool detect, bool barcodes) { return Decimal(Dll.Inventory2(ComPort, file, detect, barcodes)); }
std::string TKRBId::PartitionInventory2(const std::string& file, const std::string& partition, bool detect, bool barcodes) { return Decimal(Dll.PartitionInventory2(ComPort, file, partition, detect, barcodes)); }
std::string TKRBId::ReadErrorFlag() { return Decimal(Dll.ReadErrorFlag(ComPort)); }
std::string TKRBId::ReadErrorCode() { return Decimal(Dll.ReadErrorCode(ComPort)); }
std::string TKRBId::ReadUserDoorFlag() { return Decimal(Dll.ReadUserDoorFlag(ComPort)); }
std::string TKRBId::IsOperationRunning() { return Decimal(Dll.IsOperationRunning(ComPort)); }
std::string TKRBId::ReadShovelDetector() { return Decimal(Dll.ReadShovelDetector(ComPort)); }
std::string TKRBId::ReadTransferStationDetector() { return Decimal(Dll.ReadTransferStationDetector(ComPort)); }
std::string TKRBId::ReadTransferStation2Detector() { return Decimal(Dll.ReadTransferStation2Detector(ComPort)); }
// clang-format on

void TKRBId::Deactivate2() {
    UnderDeviceLock([&] { Dll.Deactivate2(ComPort); });
    Activated = false;
    Busy = false;
}

void TKRBId::Reset2() {
    UnderDeviceLock([&] { Dll.Reset2(ComPort); });
    Activated = false;
}

std::string TKRBId::GetSysStatus2() {
    return UnderDeviceLock([&] {
        return (NewFirmware && Compatibility) ? Dll.GetSysStatus2(ComPort) : RelayStatus();
    });
}

// Error, door closed, initialisation, 1815 and ready weigh 128, 32, 4, 2 and 1.
std::string TKRBId::RelayStatus() {
    std::string relays[5];
    namespace relay = controller::relay;
    const int read[5] = {relay::kError, relay::kDoorClosed, relay::kStartInitialization,
                         relay::kStatusBit1815, relay::kReady};
    for (int i = 0; i < 5; ++i) {
        relays[i] = Dll.ReadBackStr(ComPort, controller::readRelay(read[i]));
        if (relays[i] != "0" && relays[i] != "1") return "-1";
    }
    std::string bits = relays[0] + "0" + relays[1] + "00" + relays[2] + relays[3] + relays[4];
    return std::to_string(DecodeBitText(bits));
}

std::string TKRBId::ServiceMovePlate2(const std::array<std::int32_t, 11>& a) {
    const TFlagClaim moving(MoveBusy);
    if (!moving.Claimed()) return "-1";
    return ServiceMoveReply(ServiceMoveWhileClaimed(a), TcpBrowser);
}

std::int32_t TKRBId::ServiceMoveWhileClaimed(const std::array<std::int32_t, 11>& a) {
    const auto held = Hold(OperationLock);
    const std::int32_t result = Dll.ServiceMovePlate2(ComPort, a[0], a[1], a[2], a[3], a[4], a[5],
                                                      a[6], a[7], a[8], a[9], a[10]);
    RecordsFollowMove(*this, a, result);
    return result;
}

}  // namespace krb::server
