#include "CommandWorkers.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace krb::server {

// Waiting workers = idle + handed.size() + retire: each waiting worker either is free, has a
// task handed to it, or is told to end.
struct CommandWorkers::State {
    explicit State(TCommandWorkersOptions o) : options(o) {}
    const TCommandWorkersOptions options;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    std::deque<std::function<void()>> handed;
    std::size_t workers = 0;
    std::size_t idle = 0;
    std::size_t retire = 0;
    bool stopping = false;
    ThreadStarter starter;

    void RetireIdle() {
        retire += idle;
        idle = 0;
    }
};

CommandWorkers::CommandWorkers(TCommandWorkersOptions options)
    : state_(std::make_shared<State>(options)) {}

CommandWorkers::~CommandWorkers() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->RetireIdle();
    state_->wake.notify_all();
    state_->ended.wait(lock, [&] { return state_->workers == 0; });
}

bool CommandWorkers::Run(std::function<void()> task) {
    {
        std::unique_lock lock(state_->mutex);
        if (state_->stopping) return false;
        if (state_->idle > 0) {
            --state_->idle;
            state_->handed.push_back(std::move(task));
            lock.unlock();
            state_->wake.notify_one();
            return true;
        }
        if (state_->workers >= state_->options.MaxWorkers) return false;
        ++state_->workers;
    }
    return StartWorker(std::move(task));
}

bool CommandWorkers::StartWorker(std::function<void()> task) {
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
        return true;
    } catch (const std::system_error&) {
        std::lock_guard lock(state_->mutex);
        --state_->workers;
        state_->ended.notify_all();
        return false;
    }
}

void CommandWorkers::Work(const std::shared_ptr<State>& state, std::function<void()> task) {
    for (;;) {
        try {
            task();
        } catch (...) {
            // A task answers its own failures; one that escapes must not end the process.
        }
        task = nullptr;  // what it holds (a connection) is released before the worker idles
        std::unique_lock lock(state->mutex);
        ++state->idle;
        state->wake.wait_for(lock, state->options.IdleEnd, [&] {
            return !state->handed.empty() || state->retire > 0 || state->stopping;
        });
        if (!state->handed.empty()) {
            task = std::move(state->handed.front());
            state->handed.pop_front();
            continue;
        }
        if (state->retire > 0) {
            --state->retire;
        } else {
            --state->idle;  // idle for too long, or stopping
        }
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
    return state_->idle;
}

void CommandWorkers::SetThreadStarter(ThreadStarter starter) {
    std::lock_guard lock(state_->mutex);
    state_->starter = std::move(starter);
    state_->RetireIdle();
    state_->wake.notify_all();
}

CommandWorkers& UnitCommandWorkers() {
    static auto* workers = new CommandWorkers;  // never destroyed: workers may still end at exit
    return *workers;
}

}  // namespace krb::server
