#include "UnitTCPKRBBrowser.h"

#include "UnitId.h"

namespace krb::server {

void TKRBTCPBrowser::AddUnit(TKRBId* unit) { units_.push_back(unit); }

TKRBId* TKRBTCPBrowser::FindUnitById(const std::string& unitId) const {
    for (auto* unit : units_) {
        if (unit->UnitId == unitId) return unit;
    }
    return nullptr;
}

TKRBId* TKRBTCPBrowser::FindUnitByPort(std::int32_t comPort) const {
    for (auto* unit : units_) {
        if (unit->ComPort == comPort) return unit;
    }
    return nullptr;
}

}  // namespace krb::server
