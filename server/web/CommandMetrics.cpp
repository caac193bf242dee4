#include "CommandMetrics.h"

#include <chrono>

#include "ServerMetrics.h"
#include "UnitTHRKRBCommand.h"

namespace krb::server::web {

std::string MeasuredUnitReply(TKRBId& unit, const std::string& command) {
    const auto started = std::chrono::steady_clock::now();
    std::string reply = TTHRUnitCommand::Reply(unit, command);
    const TUnitCommandRow* row = FindUnitCommandRow(command);
    Metrics().RecordCommand(row ? std::string(row->Name) : "unknown", reply,
                            std::chrono::steady_clock::now() - started);
    return reply;
}

}  // namespace krb::server::web
