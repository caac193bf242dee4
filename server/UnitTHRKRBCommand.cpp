#include "UnitTHRKRBCommand.h"

#include <atomic>

#include "ClientLink.h"
#include "CommandWorkers.h"
#include "web/CommandMetrics.h"

namespace krb::server {
namespace {

// Counted without a lock: the hot path only adds and subtracts, teardown waits.
std::atomic<std::size_t>& Running() {
    static auto* running = new std::atomic<std::size_t>(0);  // outlives threads ending at exit
    return *running;
}

void CommandEnded() {
    if (Running().fetch_sub(1) == 1) Running().notify_all();
}

// A reused worker, or a new one; false when neither is to be had.
bool StartThread(std::function<void()> body) { return UnitCommandWorkers().Run(std::move(body)); }

}  // namespace

// --- table lookup ---------------------------------------------------------------------------

const TUnitCommandRow* FindUnitCommandRow(std::string_view command) {
    for (const auto& row : UnitCommandTable()) {
        if (command.starts_with(row.Name)) return &row;
    }
    return nullptr;
}

// --- the thread -----------------------------------------------------------------------------

TTHRUnitCommand::TTHRUnitCommand(TKRBId& unit, std::string command,
                                 std::shared_ptr<ClientLink> connection)
    : unit_(unit), command_(std::move(command)), connection_(std::move(connection)) {}

bool TTHRUnitCommand::Create(TKRBId& unit, std::string command,
                             std::shared_ptr<ClientLink> connection) {
    auto thread = std::shared_ptr<TTHRUnitCommand>(
        new TTHRUnitCommand(unit, std::move(command), std::move(connection)));
    ++Running();
    if (StartThread([thread] { thread->Execute(); })) return true;
    CommandEnded();
    return false;
}

std::string TTHRUnitCommand::Reply(TKRBId& unit, const std::string& command) {
    const TUnitCommandRow* row = FindUnitCommandRow(command);
    if (!row) return "E1";
    try {
        const TCommandFields fields(command, row->Shape);
        return row->Run(unit, fields);
    } catch (...) {
        return "E3";
    }
}

void TTHRUnitCommand::Execute() {
    std::string reply = web::MeasuredUnitReply(unit_, command_) + "\r\n";
    if (connection_) connection_->PostReply(std::move(reply));
    connection_.reset();
    CommandEnded();
}

void TTHRUnitCommand::WaitForRunningCommands() {
    for (std::size_t running = Running().load(); running != 0; running = Running().load()) {
        Running().wait(running);
    }
}

std::size_t TTHRUnitCommand::RunningCommands() { return Running().load(); }

void TTHRUnitCommand::SetThreadStarter(ThreadStarter starter) {
    UnitCommandWorkers().SetThreadStarter(std::move(starter));
}

}  // namespace krb::server
