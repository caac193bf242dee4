#include "notifications/ServiceNotifier.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <typeinfo>

#include "lab/Unit.h"
#include "notifications/ServiceLines.h"
#include "platform/clock.h"
#include "protocol/ServerCore.h"

namespace krb::server {
namespace {

constexpr std::string_view kRegistration = "KRBServiceSocket";
constexpr int kTicksPerDoorAndErrorPoll = 4;

std::size_t HeldLinesOf(const auto& queue) {
    std::size_t lines = 0;
    for (const auto& chunk : queue) lines += chunk->Lines.size();
    return lines;
}

}  // namespace

ServiceNotifier::ServiceNotifier(ServerCore& core, TServiceNotifierOptions options)
    : core_(core),
      options_(options),
      timer_(core.Loop()),
      workers_({.MaxWorkers = std::max<std::size_t>(options.MaxWorkers, 1),
                .IdleEnd = ScaledIdleEnd()}) {}

// Polls use the units and this object; the workers (destroyed first) wait for them.
ServiceNotifier::~ServiceNotifier() = default;

template <class Work>
bool ServiceNotifier::OffTheLoop(Work work) {
    return workers_.Run(std::move(work));
}

// --- registration ------------------------------------------------------------------------------

void ServiceNotifier::RegisterServiceSocket(const std::shared_ptr<ClientLink>& connection,
                                            const std::string& text) {
    if (!text.starts_with(kRegistration)) return;
    if (snapshotsInProgress_ >= options_.MaxSnapshotsInProgress) {
        core_.WriteLog(ErrorEvent("ServiceSnapshotRefused",
                                  std::to_string(snapshotsInProgress_) + " snapshots in progress"),
                       connection->RemoteDetails());
        connection->Close(true);
        return;
    }
    core_.ServiceSockets().push_back(connection);
    auto chunk = std::make_shared<HeldChunk>();
    held_[connection].push_back(chunk);
    ++snapshotsInProgress_;
    TakeSnapshot(connection, chunk);
}

void ServiceNotifier::TakeSnapshot(const std::shared_ptr<ClientLink>& connection,
                                   const std::shared_ptr<HeldChunk>& chunk) {
    const std::vector<TKRBId*> units = core_.TcpBrowser().Units();
    auto snapshot = std::make_shared<Snapshot>(units.size());
    if (units.empty()) SnapshotPartDone(connection, chunk, snapshot);
    for (std::size_t i = 0; i < units.size(); ++i) {
        snapshotQueries_[units[i]].Next.push_back({connection, chunk, snapshot, i});
        StartSnapshotQuery(*units[i]);
    }
}

// A query answers every listener that registered before it began; later ones wait for the
// unit's next query, so that no listener gets a state older than its registration.
void ServiceNotifier::StartSnapshotQuery(TKRBId& unit) {
    UnitSnapshotQuery& query = snapshotQueries_[&unit];
    if (query.InFlight || query.Next.empty()) return;
    query.InFlight = true;
    query.Answering = std::move(query.Next);
    query.Next.clear();
    RunOrWait([this, &unit] {
        // Like any failed dispatch, a failed part is logged; the listener gets what was
        // gathered.
        auto part = Run([&](std::vector<std::string>& lines) { SnapshotOf(unit, lines); });
        asio::post(core_.Loop(), [weak = weak_from_this(), &unit, part = std::move(part)] {
            if (auto self = weak.lock()) self->FinishSnapshotQuery(unit, part);
        });
    });
}

void ServiceNotifier::FinishSnapshotQuery(TKRBId& unit, const PollResult& part) {
    UnitSnapshotQuery& query = snapshotQueries_[&unit];
    for (const auto& waiter : query.Answering) {
        waiter.Whole->Parts[waiter.Part] = part.Lines;
        waiter.Whole->Errors[waiter.Part] = part.Error;
        SnapshotPartDone(waiter.Connection, waiter.Chunk, waiter.Whole);
    }
    query.Answering.clear();
    query.InFlight = false;
    StartSnapshotQuery(unit);
}

// Parts start in the order they came: a part never overtakes one that is waiting.
void ServiceNotifier::RunOrWait(std::function<void()> part) {
    if (waitingParts_.empty() && workers_.Run(part)) return;
    WatchIdleWorkers();
    waitingParts_.push_back(std::move(part));
    partsWaiting_->store(true);
    StartWaitingParts();  // a worker may have become idle in the meantime
}

void ServiceNotifier::StartWaitingParts() {
    while (!waitingParts_.empty() && workers_.Run(waitingParts_.front())) {
        waitingParts_.pop_front();
    }
    partsWaiting_->store(!waitingParts_.empty());
}

// Idle workers wake the loop, which hands them the waiting parts. The workers hold neither
// this object nor a strong reference to it: they end before it goes.
void ServiceNotifier::WatchIdleWorkers() {
    if (watchingIdleWorkers_) return;
    watchingIdleWorkers_ = true;
    workers_.SetIdleObserver(
        [weak = weak_from_this(), waiting = partsWaiting_, &loop = core_.Loop()] {
            if (!waiting->load()) return;
            asio::post(loop, [weak] {
                if (auto self = weak.lock()) self->StartWaitingParts();
            });
        });
}

// Each unit's part is taken on its own worker; the lines go out in the order of the units.
void ServiceNotifier::SnapshotPartDone(const std::shared_ptr<ClientLink>& connection,
                                       const std::shared_ptr<HeldChunk>& chunk,
                                       const std::shared_ptr<Snapshot>& snapshot) {
    if (snapshot->PartsLeft.fetch_sub(1) > 1) return;
    std::vector<std::string> lines;
    for (auto& part : snapshot->Parts) {
        for (auto& line : part) lines.push_back(std::move(line));
    }
    asio::post(core_.Loop(), [weak = weak_from_this(), connection, chunk, snapshot,
                              lines = std::move(lines)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        for (const auto& error : snapshot->Errors)
            if (error) self->core_.WriteLog(*error, connection->RemoteDetails());
        self->FinishSnapshot(connection, chunk, std::move(lines));
    });
}

void ServiceNotifier::FinishSnapshot(const std::shared_ptr<ClientLink>& connection,
                                     const std::shared_ptr<HeldChunk>& chunk,
                                     std::vector<std::string> lines) {
    chunk->Lines = std::move(lines);  // later lines went to chunks of their own
    chunk->Ready = true;
    --snapshotsInProgress_;
    FlushHeld(connection);
}

void ServiceNotifier::FlushHeld(const std::shared_ptr<ClientLink>& connection) {
    const auto held = held_.find(connection);
    if (held == held_.end()) return;
    HeldQueue& queue = held->second;
    while (!queue.empty() && queue.front()->Ready) {
        const auto chunk = queue.front();
        queue.pop_front();
        for (const auto& line : chunk->Lines) Deliver(connection, line);
    }
    if (queue.empty()) held_.erase(connection);
}

// --- timer -------------------------------------------------------------------------------------

void ServiceNotifier::FollowListener(bool listening) {
    if (listening == timerRunning_) return;
    timerRunning_ = listening;
    ++timerGeneration_;  // a wait already completed but not yet handled must not tick
    if (listening) {
        nextTick_ = std::chrono::steady_clock::now() + platform::scaled(options_.IntervalMs);
        ArmTimer();
    } else {
        timer_.cancel();
    }
}

void ServiceNotifier::ArmTimer() {
    timer_.expires_at(nextTick_);
    timer_.async_wait(
        [weak = weak_from_this(), generation = timerGeneration_](const asio::error_code& error) {
            auto self = weak.lock();
            if (error || !self || generation != self->timerGeneration_) return;
            self->ServerTimerTimer();
            self->ScheduleNextTick();
            self->ArmTimer();
        });
}

// On the schedule of the first tick; a tick missed altogether is not made up.
void ServiceNotifier::ScheduleNextTick() {
    const auto interval = platform::scaled(options_.IntervalMs);
    nextTick_ += interval;
    const auto now = std::chrono::steady_clock::now();
    if (nextTick_ <= now) nextTick_ = now + interval;
}

void ServiceNotifier::ServerTimerTimer() {
    const bool doorAndErrorTick = ++TimerTicks >= kTicksPerDoorAndErrorPoll;
    if (doorAndErrorTick) TimerTicks = 0;
    for (TKRBId* unit : core_.TcpBrowser().Units()) {
        UnitPoll& poll = polls_[unit];
        // A unit skipped now keeps its door and error poll for its next tick.
        if (doorAndErrorTick) poll.DoorAndErrorDue = true;
        if (poll.BusyInFlight) continue;
        poll.BusyInFlight = true;
        const bool doorAndError = poll.DoorAndErrorDue && !poll.DoorAndErrorInFlight;
        if (doorAndError) poll.DoorAndErrorInFlight = true;
        StartPoll(*unit, doorAndError);
    }
}

std::size_t ServiceNotifier::PollsInFlight() const {
    std::size_t inFlight = 0;
    for (const auto& [unit, poll] : polls_) {
        inFlight += (poll.BusyInFlight ? 1 : 0) + (poll.DoorAndErrorInFlight ? 1 : 0);
    }
    return inFlight;
}

// The door and error poll follows the busy poll of the same tick, as its lines do.
void ServiceNotifier::StartPoll(TKRBId& unit, bool doorAndError) {
    const bool started = OffTheLoop([this, &unit, doorAndError] {
        auto busy =
            Run([&](std::vector<std::string>& lines) { PollBusyAndActivation(unit, lines); });
        const bool busyDone = busy.Done;
        PostResult(unit, false, std::move(busy));
        if (!doorAndError) return;
        PollResult door;  // not run after a raising busy poll: due again at the next tick
        if (busyDone) {
            door = Run([&](std::vector<std::string>& lines) {
                if (unit.Activated) PollDoorAndError(unit, lines);
            });
        }
        PostResult(unit, true, std::move(door));
    });
    if (started) return;
    UnitPoll& poll = polls_[&unit];  // no worker to be had: due again at the next tick
    poll.BusyInFlight = false;
    if (doorAndError) poll.DoorAndErrorInFlight = false;
}

template <class Poll>
ServiceNotifier::PollResult ServiceNotifier::Run(Poll poll) {
    PollResult result;
    try {
        poll(result.Lines);
        result.Done = true;
    } catch (const std::exception& error) {
        result.Error = ErrorEvent(error);
    } catch (...) {
        result.Error = ErrorEvent("unknown", "");
    }
    return result;
}

void ServiceNotifier::PostResult(TKRBId& unit, bool doorAndErrorPoll, PollResult result) {
    asio::post(core_.Loop(),
               [weak = weak_from_this(), &unit, doorAndErrorPoll, result = std::move(result)] {
                   if (auto self = weak.lock()) self->FinishPoll(unit, doorAndErrorPoll, result);
               });
}

void ServiceNotifier::FinishPoll(const TKRBId& unit, bool doorAndErrorPoll,
                                 const PollResult& result) {
    UnitPoll& poll = polls_[&unit];
    if (doorAndErrorPoll) {
        poll.DoorAndErrorInFlight = false;
        if (result.Done) poll.DoorAndErrorDue = false;
    } else {
        poll.BusyInFlight = false;
    }
    SendToEveryEntry(result.Lines);
    if (result.Error) core_.WriteLog(*result.Error, "Service Port Timer");
}

// --- sending -----------------------------------------------------------------------------------

void ServiceNotifier::SendToEveryEntry(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    PruneClosedEntries();
    for (const auto& line : lines) {
        const auto entries = core_.ServiceSockets();  // a dropped listener leaves the list
        for (const auto& connection : entries) SendToEntry(connection, line);
    }
}

// A connection registered twice leaves one entry when it closes; the other would never
// receive anything again.
void ServiceNotifier::PruneClosedEntries() {
    auto& entries = core_.ServiceSockets();
    std::erase_if(entries, [](const auto& connection) { return !connection->IsOpen(); });
}

void ServiceNotifier::SendToEntry(const std::shared_ptr<ClientLink>& connection,
                                  const std::string& line) {
    const auto held = held_.find(connection);
    if (held == held_.end()) {
        Deliver(connection, line);
        return;
    }
    HeldQueue& queue = held->second;
    const std::size_t waiting = HeldLinesOf(queue);
    if (waiting >= options_.MaxPendingLines) {
        held_.erase(held);
        DropSlowListener(connection, waiting);
        return;
    }
    if (queue.back()->Ready) {
        queue.back()->Lines.push_back(line);
    } else {
        auto chunk = std::make_shared<HeldChunk>();
        chunk->Ready = true;
        chunk->Lines.push_back(line);
        queue.push_back(chunk);
    }
}

void ServiceNotifier::Deliver(const std::shared_ptr<ClientLink>& connection,
                              const std::string& line) {
    if (!connection->IsOpen()) return;
    const std::size_t pending = connection->PendingSends();
    if (pending >= options_.MaxPendingLines) {
        DropSlowListener(connection, pending);
        return;
    }
    connection->Send(line);
}

void ServiceNotifier::DropSlowListener(const std::shared_ptr<ClientLink>& connection,
                                       std::size_t pending) {
    core_.WriteLog(
        ErrorEvent("SlowServiceListener", std::to_string(pending) + " notification lines pending"),
        connection->RemoteDetails());
    connection->Close(true);  // its disconnect handling removes its entry
}

// --- installation ------------------------------------------------------------------------------

std::shared_ptr<ServiceNotifier> InstallServiceNotifier(ServerCore& core,
                                                        TServiceNotifierOptions options) {
    auto notifier = std::make_shared<ServiceNotifier>(core, options);
    core.SetServiceRegistration(
        [notifier](const std::shared_ptr<ClientLink>& connection, const std::string& text) {
            notifier->RegisterServiceSocket(connection, text);
        });
    core.AddStateObserver([weak = std::weak_ptr(notifier)](const TServerState& state) {
        if (auto self = weak.lock()) self->FollowListener(state.Listening);
    });
    notifier->FollowListener(core.State().Listening);
    return notifier;
}

}  // namespace krb::server
