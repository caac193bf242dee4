#include "protocol/UnitCommandThread.h"

#include <atomic>
#include <map>
#include <mutex>
#include <system_error>

#include "lab/Unit.h"
#include "protocol/ClientLink.h"
#include "protocol/CommandHistory.h"
#include "protocol/CommandMetrics.h"
#include "protocol/CommandReference.h"
#include "protocol/CommandWorkers.h"
#include "protocol/FailureLog.h"

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

// A reused worker, or a new one.
CommandWorkers::Start StartThread(std::function<void()> body) {
    return UnitCommandWorkers().Begin(std::move(body));
}

// Commands per unit that take one of its locks, queued and running.
class LockingCommandCounts {
  public:
    bool TryAdd(const TKRBId& unit) {
        std::lock_guard lock(mutex_);
        std::size_t& count = counts_[&unit];
        if (count >= TTHRUnitCommand::kMaxLockingCommandsPerUnit) return false;
        ++count;
        return true;
    }
    void Remove(const TKRBId& unit) {
        std::lock_guard lock(mutex_);
        const auto entry = counts_.find(&unit);
        if (entry != counts_.end() && --entry->second == 0) counts_.erase(entry);
    }

  private:
    std::mutex mutex_;
    std::map<const TKRBId*, std::size_t> counts_;
};

LockingCommandCounts& LockingCommands() {
    static auto* counts = new LockingCommandCounts;  // outlives threads ending at exit
    return *counts;
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
                                 std::shared_ptr<ClientLink> connection, std::string sent)
    : unit_(unit),
      command_(std::move(command)),
      sent_(std::move(sent)),
      connection_(std::move(connection)) {}

bool TTHRUnitCommand::TakesUnitLock(std::string_view command) {
    const TUnitCommandRow* row = FindUnitCommandRow(command);
    return row && UnitCommandLock(row->Name) != "none";
}

// Refusals at a bound (the unit's, or the workers') are counted by the caller, which logs
// them together; the system's own failures are logged here.
TCommandStart TTHRUnitCommand::Create(TKRBId& unit, std::string command,
                                      std::shared_ptr<ClientLink> connection, std::string sent) {
    const bool locking = TakesUnitLock(command);
    if (locking && !LockingCommands().TryAdd(unit)) return TCommandStart::UnitAtBound;
    std::shared_ptr<TTHRUnitCommand> thread;
    try {
        thread = std::shared_ptr<TTHRUnitCommand>(
            new TTHRUnitCommand(unit, std::move(command), std::move(connection), std::move(sent)));
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("command thread", failure);
        if (locking) LockingCommands().Remove(unit);
        return TCommandStart::NoWorker;
    }
    thread->countedForUnit_ = locking;
    ++Running();
    try {
        switch (StartThread([thread] { thread->Execute(); })) {
            case CommandWorkers::Start::Started:
                return TCommandStart::Started;
            case CommandWorkers::Start::AtBound:
                break;
            case CommandWorkers::Start::Refused:
                LogResourceFailure("command thread",
                                   std::system_error(std::make_error_code(
                                       std::errc::resource_unavailable_try_again)));
                break;
        }
    } catch (const std::exception& failure) {  // no memory
        LogResourceFailure("command thread", failure);
    }
    thread->Ended();
    return TCommandStart::NoWorker;
}

void TTHRUnitCommand::Ended() {
    if (countedForUnit_) LockingCommands().Remove(unit_);
    countedForUnit_ = false;
    CommandEnded();
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

// A command that changes something or runs an operation is recorded, ended before its reply
// is posted, so a client that has its reply finds the command in the trail.
std::string TTHRUnitCommand::RecordedReply() {
    const TUnitCommandRow* row = FindUnitCommandRow(command_);
    if (!row || row->Audit != TAudit::Recorded) return web::MeasuredUnitReply(unit_, command_);
    history::CommandScope scope(TextCommandOrigin(connection_.get(), std::string(row->Name),
                                                  unit_.UnitId, sent_.empty() ? command_ : sent_));
    std::string reply = web::MeasuredUnitReply(unit_, command_);
    scope.SetReply(WithoutLineEnds(reply));
    return reply;
}

// Nothing may escape a thread body: out of memory the command answers "E3", and when even
// that cannot be posted the client gets nothing, but the server goes on.
void TTHRUnitCommand::Execute() {
    try {
        std::string reply = RecordedReply() + "\r\n";
        if (connection_) connection_->PostReply(std::move(reply));
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("command thread", failure);
        try {
            if (connection_) connection_->PostReply("E3\r\n");
        } catch (const std::bad_alloc&) {  // already logged; the client gets nothing
        }
    }
    connection_.reset();
    Ended();
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
