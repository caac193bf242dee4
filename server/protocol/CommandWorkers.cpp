#include "protocol/CommandWorkers.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace krb::server {

// An idle worker waits on its own slot; the most recently idle one takes the next task, so
// few workers stay warm and the others reach their idle end.
struct IdleSlot {
    std::condition_variable wake;
    std::function<void()> task;
    bool handed = false;
    bool retire = false;
};

struct CommandWorkers::State {
    explicit State(TCommandWorkersOptions o) : options(o) {}
    const TCommandWorkersOptions options;
    mutable std::mutex mutex;
    std::condition_variable ended;
    std::vector<std::shared_ptr<IdleSlot>> idle;  // most recently idle last
    std::size_t workers = 0;
    bool stopping = false;
    ThreadStarter starter;
    std::function<void()> idleObserver;

    void RetireIdle() {
        for (const auto& slot : idle) {
            slot->retire = true;
            slot->wake.notify_one();
        }
        idle.clear();
    }
};

CommandWorkers::CommandWorkers(TCommandWorkersOptions options)
    : state_(std::make_shared<State>(options)) {}

CommandWorkers::~CommandWorkers() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->RetireIdle();
    state_->ended.wait(lock, [&] { return state_->workers == 0; });
}

CommandWorkers::Start CommandWorkers::Begin(std::function<void()> task) {
    {
        std::unique_lock lock(state_->mutex);
        if (state_->stopping) return Start::Refused;
        if (!state_->idle.empty()) {
            const auto slot = std::move(state_->idle.back());
            state_->idle.pop_back();
            slot->task = std::move(task);
            slot->handed = true;
            lock.unlock();  // the woken worker does not wait for this thread's lock
            slot->wake.notify_one();
            return Start::Started;
        }
        if (state_->workers >= state_->options.MaxWorkers) return Start::AtBound;
        ++state_->workers;
    }
    return StartWorker(std::move(task));
}

CommandWorkers::Start CommandWorkers::StartWorker(std::function<void()> task) {
    ThreadStarter starter;
    {
        std::lock_guard lock(state_->mutex);
        starter = state_->starter;
    }
    auto body = [state = state_, task = std::move(task)]() mutable {
        Work(state, std::move(task));
    };
    try {
        if (starter) {
            starter(std::move(body));
        } else {
            std::thread(std::move(body)).detach();
        }
        return Start::Started;
    } catch (...) {  // no thread, or no memory for one: the place is free again
        {
            std::lock_guard lock(state_->mutex);
            --state_->workers;
            state_->ended.notify_all();
        }
        try {
            throw;
        } catch (const std::system_error&) {
            return Start::Refused;
        }
    }
}

void CommandWorkers::Work(const std::shared_ptr<State>& state, std::function<void()> task) {
    const auto slot = std::make_shared<IdleSlot>();  // shared with a Run that hands it a task
    for (;;) {
        try {
            task();
        } catch (...) {
            // A task answers its own failures; one that escapes must not end the process.
        }
        task = nullptr;  // what it holds (a connection) is released before the worker idles
        std::unique_lock lock(state->mutex);
        if (!state->stopping) {
            state->idle.push_back(slot);
            if (state->idleObserver) {
                const auto observer = state->idleObserver;
                lock.unlock();
                observer();
                lock.lock();
            }
            slot->wake.wait_for(lock, state->options.IdleEnd,
                                [&] { return slot->handed || slot->retire; });
        }
        if (slot->handed) {
            slot->handed = false;
            task = std::move(slot->task);
            continue;
        }
        std::erase(state->idle, slot);  // idle for too long; a retired slot is gone already
        --state->workers;
        state->ended.notify_all();
        return;
    }
}

std::size_t CommandWorkers::Workers() const {
    std::lock_guard lock(state_->mutex);
    return state_->workers;
}

std::size_t CommandWorkers::IdleWorkers() const {
    std::lock_guard lock(state_->mutex);
    return state_->idle.size();
}

void CommandWorkers::SetThreadStarter(ThreadStarter starter) {
    std::lock_guard lock(state_->mutex);
    state_->starter = std::move(starter);
    state_->RetireIdle();
}

void CommandWorkers::SetIdleObserver(std::function<void()> observer) {
    std::lock_guard lock(state_->mutex);
    state_->idleObserver = std::move(observer);
}

std::chrono::milliseconds ScaledIdleEnd() {
    constexpr std::int64_t kIdleEndMs = 30000;
    return std::chrono::duration_cast<std::chrono::milliseconds>(platform::scaled(kIdleEndMs));
}

CommandWorkers& UnitCommandWorkers() {
    // Never destroyed: workers may still end at exit.
    static auto* workers = new CommandWorkers({.IdleEnd = ScaledIdleEnd()});
    return *workers;
}

}  // namespace krb::server
