#pragma once
// Rewrites the contents records of the units a finished service move involved, so that they
// show where the plate went (or, after a failure, what the failure proves).
#include <array>
#include <cstdint>

#include "lab/RecordMoves.h"

namespace krb::server {

class TKRBId;
class UnitDirectory;

// The move as the source unit ran it: its arguments after the source port (the target port
// is the sixth) and the library's result. Roles and ports come from the source's directory.
TPlannedMove PlanOfMove(const TKRBId& source, const TKRBId& target,
                        const std::array<std::int32_t, 11>& arguments,
                        const UnitDirectory& directory);
TMoveResult ResultOfMove(std::int32_t result, const TKRBId& source, const TKRBId& target,
                         const UnitDirectory& directory);

void RecordsFollowMove(TKRBId& source, const std::array<std::int32_t, 11>& arguments,
                       std::int32_t result);

}  // namespace krb::server
