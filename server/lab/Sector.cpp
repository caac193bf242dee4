#include "lab/Sector.h"

#include <algorithm>
#include <limits>

#include "lab/Cassettes.h"

namespace krb::server {

TKRBSector::TKRBSector(std::string name, TKRBId* unit) : Name(std::move(name)), Unit(unit) {}

void TKRBSector::AddCassette(TKRBCassette* cassette) {
    Cassettes.push_back(cassette);
    std::stable_sort(
        Cassettes.begin(), Cassettes.end(),
        [](const TKRBCassette* a, const TKRBCassette* b) { return a->Number < b->Number; });
}

std::int32_t TKRBSector::MinCassette() const {
    std::int32_t smallest = std::numeric_limits<std::int32_t>::max();
    for (const auto* cassette : Cassettes) smallest = std::min(smallest, cassette->Number);
    return smallest;
}

std::int32_t TKRBSector::MaxCassette() const {
    std::int32_t largest = std::numeric_limits<std::int32_t>::min();
    for (const auto* cassette : Cassettes) largest = std::max(largest, cassette->Number);
    return largest;
}

bool TKRBSector::RangeHolds(std::int32_t number) const {
    return MinCassette() <= number && number <= MaxCassette();
}

}  // namespace krb::server
