#pragma once
#include <atomic>
#include <cstdint>

namespace krb::server {

class TKRBId;

// One column of storage levels of a unit.
class TKRBCassette {
  public:
    TKRBCassette(std::int32_t number, std::int32_t levels, std::int32_t zPitch, std::int32_t type,
                 TKRBId* unit);

    std::int32_t Number;
    std::int32_t Type;
    // Slot updates change these on the event loop while command threads read them.
    std::atomic<std::int32_t> Levels;
    std::atomic<std::int32_t> ZPitch;
    TKRBId* Unit;
};

}  // namespace krb::server
