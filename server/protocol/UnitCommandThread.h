#pragma once
// TTHRUnitCommand: one thread per unit command, a reused worker (CommandWorkers). It matches the
// command name against the unit command table, reads the row's arguments, runs the unit operation
// and posts one reply line to the client connection (dropped when the connection has gone).
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/CommandSyntax.h"

namespace krb::server {

class ClientLink;
class TKRBId;

// Whether the audit trail keeps a command: everything that changes something or runs an
// operation does; a read of a state, a flag or a detector does not.
enum class TAudit { Recorded, Read };

// One row of the unit command table.
struct TUnitCommandRow {
    std::string_view Name;  // compared over its own length, case-sensitively
    TAudit Audit;
    std::vector<FieldKind> Shape;
    std::string (*Run)(TKRBId& unit, const TCommandFields& fields);
};

// The 40 rows in matching order: a name that begins with another name comes first.
const std::vector<TUnitCommandRow>& UnitCommandTable();
const TUnitCommandRow* FindUnitCommandRow(std::string_view command);

// What became of a command handed to Create.
enum class TCommandStart {
    Started,
    UnitAtBound,  // the unit already holds its bound of commands that wait for its locks
    NoWorker,     // the bound on workers, or a thread or memory the system refused
};

class TTHRUnitCommand {
  public:
    // Commands of one unit that take its device or operation lock, queued and running: a
    // flood to one unit then leaves workers for every other unit and for lock-free commands.
    static constexpr std::size_t kMaxLockingCommandsPerUnit = 32;

    // Hands one command to an idle worker or a new one; nothing is started unless the result
    // is Started. The thread keeps the connection alive until its reply is posted. `sent` is
    // the text as the client sent it, for the audit trail ("" when it is `command`).
    static TCommandStart Create(TKRBId& unit, std::string command,
                                std::shared_ptr<ClientLink> connection, std::string sent = {});
    // True for a command that waits for its unit's device or operation lock.
    static bool TakesUnitLock(std::string_view command);

    // The reply for one command, without its CR LF: the row's result, "E1" when no row
    // matches, "E3" when the arguments or the operation fail.
    static std::string Reply(TKRBId& unit, const std::string& command);

    // Blocks until every command thread started so far has posted its reply (teardown).
    static void WaitForRunningCommands();
    static std::size_t RunningCommands();

    // Tests stand in a starter that fails the way thread creation fails.
    using ThreadStarter = std::function<void(std::function<void()> body)>;
    // Empty: std::thread, detached. Idle workers end, so the next command starts a thread.
    static void SetThreadStarter(ThreadStarter starter);

  private:
    TTHRUnitCommand(TKRBId& unit, std::string command, std::shared_ptr<ClientLink> connection,
                    std::string sent);
    void Execute();
    std::string RecordedReply();
    void Ended();

    TKRBId& unit_;
    bool countedForUnit_ = false;
    std::string command_;
    std::string sent_;
    std::shared_ptr<ClientLink> connection_;
};

}  // namespace krb::server
