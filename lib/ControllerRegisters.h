#pragma once
// The controller's registers under names, and the command texts that reach them.
// Every command the library and the server send to a controller is built here.
#include <cstdint>
#include <string>
#include <string_view>

namespace krb::controller {

// --- relays: single bits, set ("ST"), reset ("RS") and read ("RD")
namespace relay {
// Plate store: a transfer to or from the tube store is under way. Tube store: first plate position.
inline constexpr int kTubeTransfer = 1104;
inline constexpr int kTubeStoreSecondPosition = 1105;  // tube store: second plate position
inline constexpr int kTransferStationTwo = 1607;       // reset: station 1, set: station 2
inline constexpr int kPlateTrace = 1611;               // plate trace on/off
inline constexpr int kPlateVerify = 1613;              // plate verification mode
inline constexpr int kDoorLock = 1701;                 // set: lock, reset: unlock, read: locked
inline constexpr int kBeeper = 1702;                   // beeper on/off
inline constexpr int kReaderTrigger = 1710;            // trigger the barcode reader
inline constexpr int kControllerBarcodeBegin = 1712;   // begin a reading through the controller
inline constexpr int kControllerBarcodeEnd = 1713;     // end a reading through the controller
inline constexpr int kSoftReset = 1800;                // soft reset
inline constexpr int kStartInitialization = 1801;      // start initialisation
inline constexpr int kTransferStation2Plate = 1807;    // plate on the second transfer station
inline constexpr int kSlotPlate = 1808;                // plate at the handler's slot (scan mode)
inline constexpr int kDoorClosed = 1811;               // user door closed and locked
inline constexpr int kShovelPlate = 1812;              // plate on the shovel (after kSenseShovel)
inline constexpr int kTransferStationPlate = 1813;     // plate on the transfer station
inline constexpr int kError = 1814;             // the controller reports an error (word kErrorCode)
inline constexpr int kStatusBit1815 = 1815;     // read for the server's relay status only
inline constexpr int kClearError = 1900;        // acknowledge and clear the error
inline constexpr int kOpenGate = 1901;          // open the transfer gate
inline constexpr int kCloseGate = 1902;         // close the transfer gate
inline constexpr int kCompleteTransfer = 1903;  // complete a transfer without closing the gate
inline constexpr int kLoad = 1904;              // load motion to the addressed slot and level
inline constexpr int kUnload = 1905;            // unload motion from the addressed slot and level
inline constexpr int kSet = 1906;               // shovel to transfer station
inline constexpr int kGet = 1907;               // transfer station to shovel
inline constexpr int kPick = 1908;              // addressed slot and level to shovel
inline constexpr int kPlace = 1909;             // shovel to addressed slot and level
// Scan mode: writing the target slot and level positions the handler for kSlotPlate and the reader.
inline constexpr int kScanMode = 1910;
inline constexpr int kSenseShovel = 1911;           // sense the shovel detector
inline constexpr int kSwap = 1912;                  // swap / swap back
inline constexpr int kShaker = 1913;                // shaker on/off
inline constexpr int kReady = 1915;                 // ready: the last motion has ended
inline constexpr int kLocksDoorBeforeInit = 3101;   // the unit locks its door before initialising
inline constexpr int kWholeUnitScanDetector = 200;  // plate detector of the whole-unit scan
inline constexpr int kAxisReference = 6500;         // first axis still referenced
inline constexpr int kOtherAxisReferences[] = {6501, 6502, 6503, 6505};  // plate stores only
}  // namespace relay

// --- DM words: 16-bit data words ("RD DM", "WR DM")
namespace word {
inline constexpr int kTargetSlot =
    0;  // slot of the next motion; a tube coordinate on the tube store
inline constexpr int kActualSlot = 1;
inline constexpr int kTargetLevel = 5;  // level of the next motion; the second tube coordinate
inline constexpr int kBarcodeHeight = 6;
inline constexpr int kHandlerZPitch = 23;
inline constexpr int kLevelCount = 25;
inline constexpr int kBarcodeZOffset = 27;
inline constexpr int kSlotCount = 29;
inline constexpr int kShakerSpeed = 39;
inline constexpr int kCarouselPositions = 46;
inline constexpr int kFirmwareVersion = 108;
inline constexpr int kSerialNumber = 109;
inline constexpr int kErrorCode = 200;  // four hexadecimal digits
inline constexpr int kSystemStatus = 202;
inline constexpr int kCassetteTypePitch = 230;  // + cassette type 0..20
inline constexpr int kSlotDescriptor = 250;     // + slot: high byte type, low byte levels
inline constexpr int kSetTemperature = 890;     // set points, fixed point
inline constexpr int kSetHumidity = 893;
inline constexpr int kSetCO2 = 894;
inline constexpr int kSetN2 = 895;
inline constexpr int kSetO2 = 896;
inline constexpr int kActualTemperature = 982;  // actual values, fixed point
inline constexpr int kActualHumidity = 983;
inline constexpr int kActualCO2 = 984;
inline constexpr int kActualN2 = 985;
inline constexpr int kActualO2 = 986;
inline constexpr int kTransferStationPosition = 1778;  // 72, 79, 75 for positions 0, 1, 2
}  // namespace word

// --- the link and the replies the library judges
inline constexpr const char* kOpenLink = "CR";
inline constexpr const char* kLinkOpened = "CC";
inline constexpr const char* kLinkError = "E1";
inline constexpr const char* kCloseLink = "CQ";
inline constexpr const char* kLinkClosed = "CF";
inline constexpr const char* kAccepted = "OK";

// --- command texts
inline std::string setRelay(int relay) { return "ST " + std::to_string(relay); }
inline std::string resetRelay(int relay) { return "RS " + std::to_string(relay); }
inline std::string readRelay(int relay) { return "RD " + std::to_string(relay); }

inline std::string readWord(int address) { return "RD DM" + std::to_string(address); }
inline std::string readWord(std::string_view address) { return "RD DM" + std::string(address); }
inline std::string writeWord(int address, std::int64_t value) {
    return "WR DM" + std::to_string(address) + " " + std::to_string(value);
}
// The value as the caller wrote it (a decimal text sent unchanged).
inline std::string writeWord(int address, std::string_view value) {
    return "WR DM" + std::to_string(address) + " " + std::string(value);
}
inline std::string writeWord(std::string_view address, std::string_view value) {
    return "WR DM" + std::string(address) + " " + std::string(value);
}

inline std::string readTimer(std::string_view timer) { return "RD T" + std::string(timer); }
inline std::string writeTimer(std::string_view timer, std::string_view value) {
    return "WR T" + std::string(timer) + " " + std::string(value);
}
inline std::string setTimerPreset(std::string_view timer, std::string_view value) {
    return "WS T" + std::string(timer) + " " + std::string(value);
}

// Parameter-file lines name their register themselves ("DM10 5", "T3 100").
inline std::string writeNamedWord(std::string_view nameAndValue) {
    return "WR " + std::string(nameAndValue);
}
inline std::string setNamedTimerPreset(std::string_view nameAndValue) {
    return "WS " + std::string(nameAndValue);
}

}  // namespace krb::controller
