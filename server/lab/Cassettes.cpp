#include "lab/Cassettes.h"

namespace krb::server {

TKRBCassette::TKRBCassette(std::int32_t number, std::int32_t levels, std::int32_t zPitch,
                           std::int32_t type, TKRBId* unit)
    : Number(number), Type(type), Levels(levels), ZPitch(zPitch), Unit(unit) {}

}  // namespace krb::server
