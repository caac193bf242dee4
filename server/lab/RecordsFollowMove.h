#pragma once
// Rewrites the contents records of the units a finished service move involved, so that they
// show where the plate went (or, after a failure, what the failure proves).
#include <array>
#include <cstdint>

namespace krb::server {

class TKRBId;

// After a service move that `source` ran with these arguments (those after the source port;
// the sixth is the target port) and the library's result. Roles and ports come from the
// source's directory; nothing happens when its records do not follow moves.
void RecordsFollowMove(TKRBId& source, const std::array<std::int32_t, 11>& arguments,
                       std::int32_t result);

}  // namespace krb::server
