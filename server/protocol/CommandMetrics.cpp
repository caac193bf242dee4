#include "protocol/CommandMetrics.h"

#include <chrono>

#include "lab/Unit.h"
#include "metrics/ServerMetrics.h"
#include "platform/link_metrics.h"
#include "protocol/UnitCommandThread.h"

namespace krb::server::web {

std::string MeasuredUnitReply(TKRBId& unit, const std::string& command) {
    const auto running = Metrics().CommandRunning(unit.UnitId);
    const auto started = std::chrono::steady_clock::now();
    const auto timeOutsBefore = platform::linkTimeOutsOfThisThread();
    std::string reply = TTHRUnitCommand::Reply(unit, command);
    const bool allAnswered = platform::linkTimeOutsOfThisThread() == timeOutsBefore;
    const TUnitCommandRow* row = FindUnitCommandRow(command);
    Metrics().RecordCommand(row ? std::string(row->Name) : "unknown", reply,
                            std::chrono::steady_clock::now() - started, allAnswered);
    return reply;
}

}  // namespace krb::server::web
