// Activation: connect, open, send the parameter commands and sensor options, initialise,
// then send the unit's configuration. Everything runs under OperationLock and calls the
// binding directly, so no further unit lock is taken.
#include <string>

#include "lab/Unit.h"
#include "text/TextNumbers.h"

namespace krb::server {

std::string TKRBId::ActivateUnit() {
    const auto held = Hold(OperationLock);
    std::string result = OpenAndInitialize();
    if (result != "1") {
        Activated = false;
        Error = true;
        BCRInit = false;
        return result == "0" ? "-1" : "-" + result;
    }
    SendConfiguration();
    ReadFirmwareState();
    if (BCRPort >= 1) result = OpenReaderPath();
    Activated = true;
    Error = false;
    return result;
}

// "1" when the unit is initialised, else the code that the activation reply negates.
std::string TKRBId::OpenAndInitialize() {
    int connected = Dll.Connect(ComPort);
    if (connected != 1 && connected != 2) return "0";
    switch (Dll.OpenCommunication(ComPort)) {
        case 1:
            break;
        case 0:
            return "3";
        case 2:
            return "4";
        default:
            return "0";
    }
    for (const auto& command : InitCommands) Dll.ReadBackStr(ComPort, command);
    Dll.SetPlateDetector(ComPort, PlatePresenceSensor ? 1 : 0);
    Dll.SetPlateShovelDetector(ComPort, PlateShovelSensor ? 1 : 0);
    Dll.SetPlateTStatDetector(ComPort, PlateXferStSensor1 ? 1 : 0);
    Dll.SetPlateTStatDetector2(ComPort, PlateXferStSensor2 ? 1 : 0);
    if (ManualAccessOffset > 0) Dll.SetCarsOffSet(ComPort, ManualAccessOffset);
    Dll.SetIsCompSv(ComPort, Compatibility);
    Dll.SetIsBCR(ComPort, BCR);

    int initialized = Dll.Initialize(ComPort);
    std::string result = initialized == 1   ? "1"
                         : initialized == 2 ? "5"
                         : initialized == 3 ? "6"
                                            : "7";
    Activated = result == "1";
    if (Activated) Error = false;
    std::string serial = Dll.SerialNumber(ComPort);
    auto version = Dll.TryReadFirmWareVersion(ComPort);
    std::lock_guard texts(identityTexts_);
    serialNumber_ = std::move(serial);
    firmwareVersion_ = version ? std::to_string(*version) : std::string();
    return result;
}

void TKRBId::SendConfiguration() {
    Dll.UseCassetteConfTable(ComPort, UseCassConfTable);
    if (UseCassConfTable) {
        for (const auto& cassette : Cassettes) {
            Dll.SetCassetteConfig(ComPort, cassette->Number, cassette->Levels, cassette->ZPitch);
        }
    }
    Dll.SetBase(ComPort, Base);
    Dll.SetExt(ComPort, Ext);
    Dll.SetCascader(ComPort, Cascader);
    Dll.SetId(ComPort, UnitId);
    Dll.SetIdSys(ComPort, SystemName);
    Dll.DeleteSectors(ComPort);
    for (const auto& sector : Sectors) {
        // A sector without cassettes has no range the unit could use.
        if (sector->Cassettes.empty()) continue;
        Dll.DefineSector2(ComPort, sector->MinCassette(), sector->MaxCassette(), sector->Name);
    }
}

// Firmware 71 and later (first two digits) answers the status in one call.
void TKRBId::ReadFirmwareState() {
    auto version = Dll.TryReadFirmWareVersion(ComPort);
    auto leading = version ? ParseInt32(std::to_string(*version).substr(0, 2)) : std::nullopt;
    NewFirmware = leading && *leading >= 71;
}

std::string TKRBId::OpenReaderPath() {
    int answer = Dll.BCRPath(ComPort, BCRPort);
    BCRInit = answer == 1 || answer == 3;
    if (BCRInit) return "1;1";
    return answer == 0 ? "1;-1" : "1;-" + std::to_string(answer);
}

}  // namespace krb::server
