#include "UnitTHRKRBCommand.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "ClientLink.h"

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
    auto& running = Running();
    {
        std::lock_guard lock(running.mutex);
        ++running.count;
    }
    try {
        StartThread([thread] { thread->Execute(); });
        return true;
    } catch (const std::system_error&) {
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
    } catch (...) {
        return "E3";
    }
}

void TTHRUnitCommand::Execute() {
    std::string reply = Reply(unit_, command_) + "\r\n";
    if (connection_) connection_->PostReply(std::move(reply));
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
