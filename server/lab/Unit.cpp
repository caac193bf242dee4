#include "lab/Unit.h"

#include <algorithm>

#include "text/TextNumbers.h"

namespace krb::server {

TKRBId::TKRBId(std::string unitId, std::int32_t comPort, std::string systemName,
               std::string configFile, TKRBDLL& dll)
    : UnitId(std::move(unitId)),
      ComPort(comPort),
      Dll(dll),
      SystemName(std::move(systemName)),
      ConfigFile(std::move(configFile)) {}

TKRBCassette& TKRBId::AddCassette(std::int32_t number, std::int32_t levels, std::int32_t zPitch,
                                  std::int32_t type) {
    Cassettes.push_back(std::make_unique<TKRBCassette>(number, levels, zPitch, type, this));
    TKRBCassette* added = Cassettes.back().get();
    std::stable_sort(Cassettes.begin(), Cassettes.end(),
                     [](const auto& a, const auto& b) { return a->Number < b->Number; });
    return *added;
}

TKRBCassette* TKRBId::FindCassette(std::int32_t number) const {
    for (const auto& cassette : Cassettes) {
        if (cassette->Number == number) return cassette.get();
    }
    return nullptr;
}

TKRBSector& TKRBId::AddSector(std::unique_ptr<TKRBSector> sector) {
    Sectors.push_back(std::move(sector));
    return *Sectors.back();
}

TKRBxFer& TKRBId::AddXferStation() {
    XferStations.push_back(std::make_unique<TKRBxFer>());
    return *XferStations.back();
}

TKRBSector* TKRBId::FindSectorOfCassette(std::int32_t number) const {
    for (const auto& sector : Sectors) {
        if (sector->RangeHolds(number)) return sector.get();
    }
    return nullptr;
}

std::int32_t TKRBId::LargestLevels() const {
    std::int32_t largest = 0;
    for (const auto& cassette : Cassettes) largest = std::max(largest, cassette->Levels.load());
    return largest;
}

std::string TKRBId::SerialNumber() const {
    std::lock_guard lock(identityTexts_);
    return serialNumber_;
}

std::string TKRBId::FirmwareVersion() const {
    std::lock_guard lock(identityTexts_);
    return firmwareVersion_;
}

std::uint64_t DecodeBitText(std::string_view text) {
    std::string digits = UpperCased(text);
    if (!digits.empty() && digits.back() == 'B') digits.pop_back();
    if (digits.size() > 64) return 0;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c != '0' && c != '1') return 0;
        value = (value << 1) | static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

}  // namespace krb::server
