#pragma once
// Service listeners: registration with its snapshot, and the 500 ms poll that tells every
// listener when a unit becomes busy or idle, is activated or deactivated, has its door opened
// or closed, or enters or leaves an error state.
//
// The loop never waits for a controller: each unit's poll and each snapshot run on worker
// threads, and their lines are sent from the loop, a unit's lines in their order. Every poll
// takes an idle worker or a new one, so a unit whose controller is slow or silent delays only
// its own lines. A unit has at most one poll of each kind in flight; a tick that finds one
// still running skips it. Ticks keep their schedule: a late tick does not delay the next. Lines
// for a listener whose snapshot is still being taken wait behind the snapshot. A listener
// whose connection does not drain (more than MaxPendingLines waiting) is disconnected.
// Registrations that come while a unit's snapshot is being taken share the unit's next one, so
// a crowd of listeners costs each controller two queries, not one per listener. A snapshot
// query that finds no worker waits for the next one to become idle; a registration beyond
// MaxSnapshotsInProgress closes its listener with a log line.
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/ClientLink.h"
#include "protocol/CommandWorkers.h"

namespace krb::server {

class ServerCore;
class TKRBId;

struct TServiceNotifierOptions {
    std::int64_t IntervalMs = 500;  // nominal; the clock's time scale applies
    std::size_t MaxPendingLines = 1000;
    std::size_t MaxWorkers = 256;  // a poll that finds none is due again at the next tick
    std::size_t MaxSnapshotsInProgress = 50000;
};

class ServiceNotifier : public std::enable_shared_from_this<ServiceNotifier> {
  public:
    ServiceNotifier(ServerCore& core, TServiceNotifierOptions options);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // All on the loop.
    void RegisterServiceSocket(const std::shared_ptr<ClientLink>& connection,
                               const std::string& text);
    void FollowListener(bool listening);  // the timer runs while the listener does
    void ServerTimerTimer();              // one tick
    std::size_t PollsInFlight() const;
    std::size_t SnapshotsInProgress() const { return snapshotsInProgress_; }

  private:
    // A unit's two polls: busy and activation (a flag of the library, quick) and door and
    // error (controller exchanges), so that the exchanges never hold up the busy lines.
    struct UnitPoll {
        bool BusyInFlight = false;
        bool DoorAndErrorInFlight = false;
        bool DoorAndErrorDue = false;
    };
    struct PollResult {
        std::vector<std::string> Lines;
        bool Done = false;                 // false: it raised, or it was not run
        std::optional<std::string> Error;  // the log event of a poll that raised
    };
    // Lines for one listener, in order: a snapshot still being taken holds back what follows.
    struct HeldChunk {
        bool Ready = false;
        std::vector<std::string> Lines;
    };
    using HeldQueue = std::deque<std::shared_ptr<HeldChunk>>;
    struct Snapshot {
        explicit Snapshot(std::size_t units) : Parts(units), Errors(units), PartsLeft(units) {}
        std::vector<std::vector<std::string>> Parts;     // one per unit, in the order of the units
        std::vector<std::optional<std::string>> Errors;  // the log event of a part that raised
        std::atomic<std::size_t> PartsLeft;
    };

    void ArmTimer();
    void ScheduleNextTick();
    void StartPoll(TKRBId& unit, bool doorAndError);
    template <class Poll>
    static PollResult Run(Poll poll);
    void PostResult(TKRBId& unit, bool doorAndErrorPoll, PollResult result);
    void FinishPoll(const TKRBId& unit, bool doorAndErrorPoll, const PollResult& result);
    void SnapshotPartDone(const std::shared_ptr<ClientLink>& connection,
                          const std::shared_ptr<HeldChunk>& chunk,
                          const std::shared_ptr<Snapshot>& snapshot);
    void FinishSnapshot(const std::shared_ptr<ClientLink>& connection,
                        const std::shared_ptr<HeldChunk>& chunk, std::vector<std::string> lines);
    void SendToEveryEntry(const std::vector<std::string>& lines);
    void SendToEntry(const std::shared_ptr<ClientLink>& connection, const std::string& line);
    void Deliver(const std::shared_ptr<ClientLink>& connection, const std::string& line);
    void FlushHeld(const std::shared_ptr<ClientLink>& connection);
    void DropSlowListener(const std::shared_ptr<ClientLink>& connection, std::size_t pending);
    void PruneClosedEntries();
    template <class Work>
    bool OffTheLoop(Work work);
    // One listener's place in a unit's snapshot query.
    struct SnapshotWaiter {
        std::shared_ptr<ClientLink> Connection;
        std::shared_ptr<HeldChunk> Chunk;
        std::shared_ptr<Snapshot> Whole;
        std::size_t Part = 0;
    };
    struct UnitSnapshotQuery {
        bool InFlight = false;
        std::vector<SnapshotWaiter> Answering;  // registered before the query began
        std::vector<SnapshotWaiter> Next;       // registered since
    };
    void TakeSnapshot(const std::shared_ptr<ClientLink>& connection,
                      const std::shared_ptr<HeldChunk>& chunk);
    void StartSnapshotQuery(TKRBId& unit);
    void FinishSnapshotQuery(TKRBId& unit, const PollResult& part);
    void RunOrWait(std::function<void()> part);
    void StartWaitingParts();  // on the loop, whenever a worker has become idle
    void WatchIdleWorkers();

    ServerCore& core_;
    TServiceNotifierOptions options_;
    asio::steady_timer timer_;
    std::chrono::steady_clock::time_point nextTick_;
    bool timerRunning_ = false;
    std::uint64_t timerGeneration_ = 0;
    int TimerTicks = 0;
    std::map<const TKRBId*, UnitPoll> polls_;
    std::map<std::shared_ptr<ClientLink>, HeldQueue> held_;
    std::map<const TKRBId*, UnitSnapshotQuery> snapshotQueries_;
    std::size_t snapshotsInProgress_ = 0;
    std::deque<std::function<void()>> waitingParts_;  // oldest first
    // Read by idle workers, so that they wake the loop only when parts wait.
    std::shared_ptr<std::atomic<bool>> partsWaiting_ = std::make_shared<std::atomic<bool>>(false);
    bool watchingIdleWorkers_ = false;
    CommandWorkers workers_;  // last: polls still running end before the rest goes
};

// Creates the notifier and hooks it into the server (registration, timer); the server keeps
// it alive. Installing again replaces the earlier one.
std::shared_ptr<ServiceNotifier> InstallServiceNotifier(ServerCore& core,
                                                        TServiceNotifierOptions options = {});

}  // namespace krb::server
