#include "protocol/CommandRefusals.h"

namespace krb::server {

bool CommandRefusals::Count(const std::string& unitId, TCommandStart reason) {
    UnitTally& tally = units_[unitId];
    ++(reason == TCommandStart::UnitAtBound ? tally.AtUnitBound : tally.NoWorker);
    return ++total_ == 1;
}

// "<n> commands answered E3: <unit> <n> at its bound, <n> no worker; <unit> ..."
std::optional<std::string> CommandRefusals::TakeSummary() {
    if (total_ == 0) return std::nullopt;
    std::string summary = std::to_string(total_) + " commands answered E3:";
    const char* separator = " ";
    for (const auto& [unitId, tally] : units_) {
        summary += separator + unitId;
        if (tally.AtUnitBound > 0) {
            summary += " " + std::to_string(tally.AtUnitBound) + " at its bound";
        }
        if (tally.NoWorker > 0) {
            summary += (tally.AtUnitBound > 0 ? ", " : " ") + std::to_string(tally.NoWorker) +
                       " no worker";
        }
        separator = "; ";
    }
    units_.clear();
    total_ = 0;
    return summary;
}

}  // namespace krb::server
