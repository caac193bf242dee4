#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace krb::server {

class TKRBCassette;
class TKRBId;

// A named group of cassettes of one unit; lookups use its numeric range.
class TKRBSector {
  public:
    TKRBSector(std::string name, TKRBId* unit);

    void AddCassette(TKRBCassette* cassette);  // keeps Cassettes sorted by Number
    // Smallest / largest Number among the cassettes. A sector without cassettes has
    // MinCassette > MaxCassette, so its range holds no number.
    std::int32_t MinCassette() const;
    std::int32_t MaxCassette() const;
    bool RangeHolds(std::int32_t number) const;

    std::string Name;
    TKRBId* Unit;
    std::vector<TKRBCassette*> Cassettes;
};

}  // namespace krb::server
