#pragma once
// Times as the trail shows and accepts them: UTC, ISO 8601.
#include <optional>
#include <string>
#include <string_view>

#include "history/HistoryEvents.h"

namespace krb::server::history {

// "2026-12-09", "2026-12-09T10:00", "2026-12-09T10:00:00.5Z", "2026-12-09 10:00:00+01:00";
// a time without a zone is UTC. nullopt for anything else, or a date or time that does not exist.
std::optional<Clock::time_point> ParseUtcTime(std::string_view text);
// "2026-12-09T10:00:00.123Z"
std::string FormatUtcTime(Clock::time_point time);

}  // namespace krb::server::history
