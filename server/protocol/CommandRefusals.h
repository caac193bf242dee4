#pragma once
// Unit commands answered "E3" at a bound, gathered so that a flood gives the log one summary
// line per period instead of one line per refused command.
#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "protocol/UnitCommandThread.h"

namespace krb::server {

class CommandRefusals {
  public:
    // True for the first refusal since the last summary: the caller arranges for one.
    bool Count(const std::string& unitId, TCommandStart reason);
    // The details of the summary line of what was counted since the last one, or nothing.
    std::optional<std::string> TakeSummary();

  private:
    struct UnitTally {
        std::size_t AtUnitBound = 0;
        std::size_t NoWorker = 0;
    };
    std::map<std::string, UnitTally> units_;
    std::size_t total_ = 0;
};

}  // namespace krb::server
