#pragma once
// Events as the lab hands them to the trail, for the suites of the stores and the trail.
#include <string>

#include "history/HistoryEvents.h"
#include "history/HistoryTime.h"

namespace krb::server::history::testing {

inline Clock::time_point At(const std::string& text) { return *ParseUtcTime(text); }

inline CommandOrigin Origin(std::uint64_t id, const std::string& time, const std::string& client,
                            const std::string& unit, const std::string& command,
                            const std::string& arguments = "") {
    return CommandOrigin{id, At(time), Interface::Text, client, unit, command, arguments};
}

inline CommandEvent Command(const CommandOrigin& origin, const std::string& reply,
                            std::chrono::microseconds duration = std::chrono::microseconds{1500}) {
    return CommandEvent{origin, reply, duration};
}

// A plate leaves (barcode -> empty) or arrives (empty -> barcode).
inline RecordChange Change(const std::string& time, const std::string& unit, int slot,
                           const std::string& before, const std::string& after,
                           std::optional<CommandOrigin> origin,
                           ChangeCause cause = ChangeCause::Move) {
    const auto state = [](const std::string& barcode) {
        return barcode.empty() ? RecordState{} : RecordState{true, barcode, "assay " + barcode};
    };
    return RecordChange{At(time),         unit, slot, slot, 1, state(before), state(after), cause,
                        std::move(origin)};
}

}  // namespace krb::server::history::testing
