#include "lab/Lab.h"

namespace krb::server {

TKRBSystem& TKRBLab::AddSystem(std::unique_ptr<TKRBSystem> system) {
    Systems.push_back(std::move(system));
    return *Systems.back();
}

TKRBId* TKRBLab::FindUnit(const std::string& unitId) const {
    for (const auto& system : Systems) {
        for (const auto& unit : system->Units) {
            if (unit->UnitId == unitId) return unit.get();
        }
    }
    return nullptr;
}

}  // namespace krb::server
