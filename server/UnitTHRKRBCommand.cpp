#include "UnitTHRKRBCommand.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "ClientLink.h"
#include "FailureLog.h"
#include "TextNumbers.h"

namespace krb::server {
namespace {

struct RunningCommandCount {
    std::mutex mutex;
    std::condition_variable ended;
    std::size_t count = 0;
};

RunningCommandCount& Running() {
    static auto* running = new RunningCommandCount;  // outlives threads still ending at exit
    return *running;
}

std::mutex& StarterMutex() {
    static std::mutex mutex;
    return mutex;
}

TTHRUnitCommand::ThreadStarter& InstalledStarter() {
    static TTHRUnitCommand::ThreadStarter starter;
    return starter;
}

void StartThread(std::function<void()> body) {
    TTHRUnitCommand::ThreadStarter starter;
    {
        std::lock_guard lock(StarterMutex());
        starter = InstalledStarter();
    }
    if (starter) {
        starter(std::move(body));
    } else {
        std::thread(std::move(body)).detach();
    }
}

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
    std::shared_ptr<TTHRUnitCommand> thread;
    try {
        thread = std::shared_ptr<TTHRUnitCommand>(
            new TTHRUnitCommand(unit, std::move(command), std::move(connection)));
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("command thread", failure);
        return false;
    }
    auto& running = Running();
    {
        std::lock_guard lock(running.mutex);
        ++running.count;
    }
    try {
        StartThread([thread] { thread->Execute(); });
        return true;
    } catch (const std::exception& failure) {  // no thread (system_error) or no memory
        LogResourceFailure("command thread", failure);
        std::lock_guard lock(running.mutex);
        --running.count;
        running.ended.notify_all();
        return false;
    }
}

std::string TTHRUnitCommand::Reply(TKRBId& unit, const std::string& command) {
    const TUnitCommandRow* row = FindUnitCommandRow(command);
    if (!row) return "E1";
    try {
        const TCommandFields fields(command, row->Shape);
        return row->Run(unit, fields);
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("command", failure);
        return "E3";
    } catch (...) {
        return "E3";
    }
}

// Nothing may escape a thread body: out of memory the command answers "E3", and when even
// that cannot be posted the client gets nothing, but the server goes on.
void TTHRUnitCommand::Execute() {
    try {
        std::string reply = Reply(unit_, command_) + "\r\n";
        if (connection_) connection_->PostReply(std::move(reply));
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("command thread", failure);
        try {
            if (connection_) connection_->PostReply("E3\r\n");
        } catch (const std::bad_alloc&) {  // already logged; the client gets nothing
        }
    }
    connection_.reset();
    auto& running = Running();
    std::lock_guard lock(running.mutex);
    --running.count;
    running.ended.notify_all();
}

void TTHRUnitCommand::WaitForRunningCommands() {
    auto& running = Running();
    std::unique_lock lock(running.mutex);
    running.ended.wait(lock, [&] { return running.count == 0; });
}

std::size_t TTHRUnitCommand::RunningCommands() {
    auto& running = Running();
    std::lock_guard lock(running.mutex);
    return running.count;
}

void TTHRUnitCommand::SetThreadStarter(ThreadStarter starter) {
    std::lock_guard lock(StarterMutex());
    InstalledStarter() = std::move(starter);
}

}  // namespace krb::server
