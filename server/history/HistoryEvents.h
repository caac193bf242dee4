#pragma once
// What the audit trail keeps: the commands that changed something or ran an operation, and
// every change of a contents record, each tied to the command that caused it (when one did).
// Producers hand events to the installed sink, which must never block them.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace krb::server::history {

using Clock = std::chrono::system_clock;

// Which door a command came in through.
enum class Interface { Text, Sila, Web, Window, Server };
const char* InterfaceName(Interface interface);  // "text", "sila", "web", "window", "server"

// Who asked, through which door, for what. Id is unique within this server process run.
struct CommandOrigin {
    std::uint64_t Id = 0;
    Clock::time_point Start;
    Interface Door = Interface::Text;
    std::string Client;   // "address:port"; "" when there is none (a timer, the operator)
    std::string UnitId;   // "" when the command names no unit
    std::string Command;  // the command's name, e.g. "KRB2ServiceMovePlate"
    std::string Arguments;
};

struct CommandEvent {
    CommandOrigin Origin;
    std::string Reply;
    std::chrono::microseconds Duration{0};
};

// One contents record as far as the trail cares: is a plate there, which, under what name.
struct RecordState {
    bool Present = false;
    std::string Barcode;
    std::string Name;
    bool operator==(const RecordState&) const = default;
};

enum class ChangeCause { Move, FailedMove, Inventory, Update, ClearHistory };
const char* ChangeCauseName(ChangeCause cause);  // "move", "failed-move", "inventory", ...

struct RecordChange {
    Clock::time_point Time;
    std::string UnitId;
    std::int32_t SlotNo = 0;  // the record's location number in its contents file
    std::int32_t Cassette = 0;
    std::int32_t Level = 0;
    RecordState Before;
    RecordState After;
    ChangeCause Cause = ChangeCause::Update;
    std::optional<CommandOrigin> Origin;  // the command running on this thread, if any
};

class HistorySink {
  public:
    virtual ~HistorySink() = default;
    // Both return at once: an event that cannot be kept is counted as lost, never waited for.
    virtual void Record(CommandEvent event) = 0;
    virtual void Record(RecordChange change) = 0;
};

// The process's sink; one that drops everything until a trail is installed. Install before
// producers start and uninstall (nullptr) after they stop.
HistorySink& Sink();
void InstallSink(HistorySink* sink);
// Uninstalls `sink` only while it is the one installed: servers in one process each own theirs.
void UninstallSink(HistorySink* sink);

// Marks the command a thread is running, so that record changes made on that thread name it;
// on leaving, records the command with its reply. Nests: an inner scope is ignored.
class CommandScope {
  public:
    explicit CommandScope(CommandOrigin origin);
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;
    void SetReply(std::string reply) { reply_ = std::move(reply); }
    // The command running on this thread, if any.
    static std::optional<CommandOrigin> Current();

  private:
    bool outermost_;
    std::string reply_;
};

// A fresh origin: next id, start now.
CommandOrigin NewOrigin(Interface door, std::string client, std::string unitId, std::string command,
                        std::string arguments);

}  // namespace krb::server::history
