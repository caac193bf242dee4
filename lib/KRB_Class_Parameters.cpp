// Unit geometry, fitted sensors, roles, sectors, identifiers, the small controller
// functions (door lock, beeper, plate trace, manual access) and parameter files.
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "KRB_Class_Busy.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

namespace {

constexpr int kBeeperTries = 3;

// Carousel position that brings slot 1..20 to the door on a 20-position carousel.
constexpr std::int32_t kTwentyPositionDoor[20] = {9,  14, 11, 16, 13, 18, 15, 20, 17, 2,
                                                  19, 4,  1,  6,  3,  8,  5,  10, 7,  12};

// The whole file, or nothing when it cannot be read; CR before LF is dropped.
std::optional<std::vector<std::string>> parameterLines(const std::string& fileName) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error)) return std::nullopt;
    std::ifstream file(fileName, std::ios::binary);
    if (!file) return std::nullopt;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    if (file.bad()) return std::nullopt;
    return lines;
}

}  // namespace

// --- geometry words

std::string TKRB_Class::ReadBCRZOffset() { return ReadDMWord(readWord(word::kBarcodeZOffset)); }
std::string TKRB_Class::ReadHandlerZPitch() { return ReadDMWord(readWord(word::kHandlerZPitch)); }

void TKRB_Class::SetBCRZOffset(const std::string& value) {
    // These setters answer their caller nothing.
    if (auto number = parseInt32(value))
        ReadBackStr(writeWord(word::kBarcodeZOffset, *number)).outcomeNotNeeded();
}

void TKRB_Class::SetHandlerZPitch(const std::string& value) {
    if (auto number = parseInt32(value))
        ReadBackStr(writeWord(word::kHandlerZPitch, *number)).outcomeNotNeeded();
}

// --- fitted detectors and the cassette table

void TKRB_Class::SetPlateDetector(const std::string& flag) { CheckSlotPlate = flag == "1"; }
void TKRB_Class::SetPlateTStatDetector(const std::string& flag) {
    CheckTransferStation = flag == "1";
}
void TKRB_Class::SetPlateTStatDetector2(const std::string& flag) {
    CheckTransferStation2 = flag == "1";
}
void TKRB_Class::SetPlateShovelDetector(const std::string& flag) { CheckShovel = flag == "1"; }

void TKRB_Class::SetCassetteConfig(const std::string& slot, const std::string& levels,
                                   const std::string& pitch) {
    auto slotNumber = parseInt32(slot);
    auto levelCount = parseInt32(levels);
    auto pitchValue = parseInt32(pitch);
    if (!slotNumber || !levelCount || !pitchValue) return;
    setCassette(*slotNumber, *levelCount, *pitchValue);
}

void TKRB_Class::setCassette(std::int32_t slot, std::int32_t levels, std::int32_t pitch) {
    if (slot < 1 || slot >= kSlotTableSize) return;
    CassetteLevels[slot] = levels;
    CassettePitch[slot] = pitch;
}

void TKRB_Class::setGeometry(std::int32_t maxSlot, std::int32_t maxLevel) {
    MaxSlot = maxSlot;
    MaxLevel = maxLevel;
}

std::string TKRB_Class::ReadCassetteConfig(const std::string& slot) {
    auto slotNumber = parseInt32(slot);
    if (!slotNumber) return setUnitText("");
    return setUnitText(std::to_string(cassetteLevels(*slotNumber)) + "," +
                       std::to_string(cassettePitch(*slotNumber)));
}

void TKRB_Class::SetUseCassetteConfTable(bool use) { UseCassetteConfTable = use; }

// --- sectors

void TKRB_Class::SetSector(std::int32_t firstSlot, std::int32_t lastSlot, const std::string& name) {
    Sectors.Add(firstSlot, lastSlot, name);
}

void TKRB_Class::DeleteSectors() { Sectors.Clear(); }

std::string TKRB_Class::ReadSectorName(std::int32_t slot) const { return Sectors.NameOfSlot(slot); }

std::string TKRB_Class::ReadSectorSlot(const std::string& name) const {
    auto slots = Sectors.SlotsOfName(name);
    if (!slots) return "0,0";
    return std::to_string(slots->first) + "," + std::to_string(slots->second);
}

// --- roles

void TKRB_Class::SetCascader(bool on) {
    IsCascader = on;
    if (on) DoorCount = 0;
}

void TKRB_Class::SetBase(bool on) { IsBase = on; }
void TKRB_Class::SetExt(bool on) { IsExt = on; }
std::string TKRB_Class::IsCascaderText() const { return IsCascader ? "1" : "0"; }
std::string TKRB_Class::IsBaseText() const { return IsBase ? "1" : "0"; }
std::string TKRB_Class::IsExtText() const { return IsExt ? "1" : "0"; }

void TKRB_Class::SetKVL(bool on) {
    IsKVL = on;
    if (!on) return;
    DoorCount = 0;
    Link.setExchangeDelay(50);
}

void TKRB_Class::SetDoors(std::int32_t doors) { DoorCount = doors; }

void TKRB_Class::SetCarsOffSet(const std::string& offset) {
    if (auto value = parseInt32(offset)) CarouselOffset = *value;
}

// --- identifiers

void TKRB_Class::SetId(const std::string& id) { Id.set(id); }
std::string TKRB_Class::GetId() const { return Id.get(); }
void TKRB_Class::SetIdSys(const std::string& id) { IdSys.set(id); }
std::string TKRB_Class::GetIdSys() const { return IdSys.get(); }

// --- door lock, beeper, plate trace

std::string TKRB_Class::Lock() {
    if (!writeAccepted(setRelay(relay::kDoorLock))) return "-1";
    TExchange locked = ReadBackStr(readRelay(relay::kDoorClosed)).asBit();
    return locked.isRead() ? locked.text() : "-1";
}

std::string TKRB_Class::Unlock() { return writeAccepted(resetRelay(relay::kDoorLock)) ? "1" : "0"; }
std::string TKRB_Class::Islocked() { return ReadBackStr(readRelay(relay::kDoorLock)).text(); }

std::string TKRB_Class::repeatUntilAccepted(const std::string& command) {
    for (int attempt = 0; attempt < kBeeperTries; ++attempt)
        if (writeAccepted(command)) return "1";
    return "0";
}

void TKRB_Class::BeeperOn() { repeatUntilAccepted(setRelay(relay::kBeeper)); }
void TKRB_Class::BeeperOff() { repeatUntilAccepted(resetRelay(relay::kBeeper)); }
std::string TKRB_Class::SetPlateTraceOn() {
    return writeAccepted(setRelay(relay::kPlateTrace)) ? "1" : "0";
}
std::string TKRB_Class::SetPlateTraceOff() {
    return writeAccepted(resetRelay(relay::kPlateTrace)) ? "1" : "0";
}
std::string TKRB_Class::ReadPlateTrace() {
    return ReadBackStr(readRelay(relay::kPlateTrace)).text();
}

// --- manual access

std::int32_t TKRB_Class::carouselPosition(std::int32_t slot, std::int32_t positions,
                                          std::int32_t slots) const {
    const std::int32_t offset = CarouselOffset;
    if (positions == 10 && slots == 20) {
        if (offset == 0) return slot;
        std::int32_t position = offset + (slot > 10 ? slot - 10 : slot);
        return positions < position ? position - positions : position;
    }
    if (positions == 20 && (slots == 20 || slots == 40))
        return kTwentyPositionDoor[(slot > 20 ? slot - 20 : slot) - 1];
    if (offset == 0) return slot;
    std::int32_t position = slot + offset;
    return positions < position ? position - positions : position;
}

// Slots below 1 have no carousel position and are refused like slots beyond the unit;
// a unit that does not report its carousel words is not turned.
std::string TKRB_Class::ManualAccess(const std::string& slotText) {
    if (!Initialized) return "0";
    auto slot = parseInt32(slotText);
    if (!slot) return "-2";
    if (DoorCount > 0 && !replyIs(readRelay(relay::kDoorClosed), "1")) return "-3";
    TBusyToken busy(*this);
    if (!busy.claimStepped()) return "-4";
    auto positions = readWordAt(word::kCarouselPositions).number32();
    auto slots = readWordAt(word::kSlotCount).number32();
    if (!positions || !slots) return "-1";
    if (*slot > *slots || *slot < 1) return "-2";
    if (*slots == 2) return "1";
    std::int32_t position = carouselPosition(*slot, *positions, *slots);
    if (!writeAccepted(writeWord(word::kTargetSlot, position))) return "-1";
    return motionCompleted() ? "1" : "-1";
}

// --- parameter files

// False when the controller gave no reply: the line may not have reached it.
bool TKRB_Class::sendParameterLine(const std::string& line) {
    if (line.empty()) return true;
    if (line.front() == 'D') return !ReadBackStr(writeNamedWord(line)).failed();
    if (line.front() == 'T') return !ReadBackStr(setNamedTimerPreset(line)).failed();
    return true;
}

// Every line is sent; one that got no reply makes the load a failure ("0", as a closed port).
std::string TKRB_Class::ReadConfFile(const std::string& fileName) {
    if (!portOpen()) return "0";
    auto lines = parameterLines(fileName);
    if (!lines) return "2";
    bool allSent = true;
    for (const auto& line : *lines) allSent = sendParameterLine(line) && allSent;
    return allSent ? "1" : "0";
}

}  // namespace krb
