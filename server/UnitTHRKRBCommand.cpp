#include "UnitTHRKRBCommand.h"

#include <atomic>

#include "ClientLink.h"
#include "CommandWorkers.h"
#include "TextNumbers.h"
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

// --- fields ---------------------------------------------------------------------------------

std::string_view TCommandFields::ArgumentList(std::string_view command) {
    const auto open = command.find('(');
    const std::size_t start = open == std::string_view::npos ? 0 : open + 1;
    const auto close = command.find(')');
    if (close == std::string_view::npos || close < start) return {};
    return command.substr(start, close - start);
}

TCommandFields::TCommandFields(std::string_view command, std::span<const FieldKind> shape)
    : fields_(shape.size()), integers_(shape.size()) {
    const std::string_view list = ArgumentList(command);
    const auto afterId = list.find(',');
    bool moreFields = afterId != std::string_view::npos;
    std::string_view rest = moreFields ? list.substr(afterId + 1) : std::string_view();
    for (std::size_t i = 0; i < shape.size() && moreFields; ++i) {
        const auto comma = rest.find(',');
        if (i + 1 == shape.size() || comma == std::string_view::npos) {
            fields_[i] = std::string(rest);
            moreFields = false;
        } else {
            fields_[i] = std::string(rest.substr(0, comma));
            rest = rest.substr(comma + 1);
        }
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] != FieldKind::Integer) continue;
        if (fields_[i]) integers_[i] = ParseInt32(*fields_[i]);
        if (!integers_[i]) {
            throw TCommandArgumentError("field " + std::to_string(i + 1) + " is not an integer");
        }
    }
}

std::int32_t TCommandFields::Integer(std::size_t index) const {
    if (index >= integers_.size() || !integers_[index]) {
        throw TCommandArgumentError("no integer field " + std::to_string(index + 1));
    }
    return *integers_[index];
}

const std::string& TCommandFields::Text(std::size_t index) const {
    static const std::string kMissing;
    return index < fields_.size() && fields_[index] ? *fields_[index] : kMissing;
}

bool TCommandFields::Flag(std::size_t index) const { return Text(index) == "1"; }

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
