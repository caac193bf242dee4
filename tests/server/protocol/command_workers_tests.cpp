// The command workers: reuse, no task waiting for another, idle workers ending, the bound.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "protocol/CommandWorkers.h"

namespace krb::server {
namespace {

using namespace std::chrono_literals;

// Tasks that hold their worker until opened, and a record of the threads they ran on.
class Gate {
  public:
    std::function<void()> Task() {
        return [this] {
            std::unique_lock lock(mutex_);
            ++entered_;
            threads_.insert(std::this_thread::get_id());
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_; });
            ++done_;
            changed_.notify_all();
        };
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // False when the guard ran out first.
    bool WaitUntilEntered(int count) {
        return WaitFor([&] { return entered_ >= count; });
    }
    bool WaitUntilDone(int count) {
        return WaitFor([&] { return done_ >= count; });
    }
    std::size_t Threads() {
        std::lock_guard lock(mutex_);
        return threads_.size();
    }

  private:
    template <class Condition>
    bool WaitFor(Condition condition) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, condition);
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int entered_ = 0;
    int done_ = 0;
    std::set<std::thread::id> threads_;
};

template <class Condition>
bool Eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(CommandWorkersTest, ATaskTakesAnIdleWorkerAndNeverWaitsForABusyOne) {
    CommandWorkers workers({.MaxWorkers = 8, .IdleEnd = 10s});
    Gate first;
    ASSERT_TRUE(workers.Run(first.Task()));
    ASSERT_TRUE(first.WaitUntilEntered(1));
    // The first task still runs: the next one gets a worker of its own at once.
    Gate second;
    ASSERT_TRUE(workers.Run(second.Task()));
    ASSERT_TRUE(second.WaitUntilEntered(1));
    EXPECT_EQ(workers.Workers(), 2u);

    first.Open();
    second.Open();
    ASSERT_TRUE(Eventually([&] { return workers.IdleWorkers() == 2; }));
    // One after the other, twenty tasks run on the two idle workers.
    Gate later;
    later.Open();
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(workers.Run(later.Task()));
        ASSERT_TRUE(later.WaitUntilDone(i));
        ASSERT_TRUE(Eventually([&] { return workers.IdleWorkers() == 2; }));
    }
    EXPECT_EQ(workers.Workers(), 2u);
    EXPECT_LE(later.Threads(), 2u);
}

TEST(CommandWorkersTest, IdleWorkersEndAfterTheirIdleTime) {
    CommandWorkers workers({.MaxWorkers = 8, .IdleEnd = 50ms});
    Gate gate;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(workers.Run(gate.Task()));
    ASSERT_TRUE(gate.WaitUntilEntered(3));
    EXPECT_EQ(workers.Workers(), 3u);
    gate.Open();
    EXPECT_TRUE(Eventually([&] { return workers.Workers() == 0; }));
    EXPECT_EQ(workers.IdleWorkers(), 0u);
    // And a new task starts a new worker.
    Gate again;
    again.Open();
    ASSERT_TRUE(workers.Run(again.Task()));
    EXPECT_TRUE(again.WaitUntilDone(1));
}

// Each case leaves no worker to take the task; the task is refused and never runs.
TEST(CommandWorkersTest, ATaskWithoutAWorkerToBeHadIsRefused) {
    struct Case {
        const char* name;
        std::size_t maxWorkers;
        int busyTasks;  // held before the refused one
        CommandWorkers::ThreadStarter starter;
    };
    const std::vector<Case> cases = {
        {"the bound is reached", 3, 3, {}},
        {"no bound, but no thread can be created", 8, 0,
         [](std::function<void()>) {
             throw std::system_error(
                 std::make_error_code(std::errc::resource_unavailable_try_again));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandWorkers workers({.MaxWorkers = c.maxWorkers, .IdleEnd = 10s});
        Gate busy;
        for (int i = 0; i < c.busyTasks; ++i) ASSERT_TRUE(workers.Run(busy.Task()));
        ASSERT_TRUE(busy.WaitUntilEntered(c.busyTasks));
        if (c.starter) workers.SetThreadStarter(c.starter);
        bool ran = false;
        EXPECT_FALSE(workers.Run([&] { ran = true; }));
        EXPECT_EQ(workers.Workers(), static_cast<std::size_t>(c.busyTasks));
        busy.Open();
        ASSERT_TRUE(busy.WaitUntilDone(c.busyTasks));
        ASSERT_TRUE(Eventually(
            [&] { return workers.IdleWorkers() == static_cast<std::size_t>(c.busyTasks); }));
        EXPECT_FALSE(ran);
    }
}

TEST(CommandWorkersTest, AWorkerFreedAtTheBoundTakesTheNextTask) {
    CommandWorkers workers({.MaxWorkers = 1, .IdleEnd = 10s});
    Gate gate;
    ASSERT_TRUE(workers.Run(gate.Task()));
    ASSERT_TRUE(gate.WaitUntilEntered(1));
    EXPECT_FALSE(workers.Run([] {}));
    gate.Open();
    ASSERT_TRUE(Eventually([&] { return workers.IdleWorkers() == 1; }));
    Gate next;
    next.Open();
    EXPECT_TRUE(workers.Run(next.Task()));
    EXPECT_TRUE(next.WaitUntilDone(1));
}

// A start that fails for want of memory gives its place back, as a refused thread does.
TEST(CommandWorkersTest, AFailedStartLeavesItsPlaceFree) {
    CommandWorkers workers({.MaxWorkers = 1, .IdleEnd = 10s});
    workers.SetThreadStarter([](std::function<void()>) { throw std::bad_alloc(); });
    EXPECT_THROW(workers.Run([] {}), std::bad_alloc);
    EXPECT_EQ(workers.Workers(), 0u);
    workers.SetThreadStarter({});
    Gate gate;
    gate.Open();
    EXPECT_TRUE(workers.Run(gate.Task()));
    EXPECT_TRUE(gate.WaitUntilDone(1));
}

// A new starter applies at once: idle workers end rather than take the next task.
TEST(CommandWorkersTest, ANewThreadStarterRetiresIdleWorkers) {
    CommandWorkers workers({.MaxWorkers = 8, .IdleEnd = 10s});
    Gate gate;
    gate.Open();
    ASSERT_TRUE(workers.Run(gate.Task()));
    ASSERT_TRUE(Eventually([&] { return workers.IdleWorkers() == 1; }));
    int started = 0;
    workers.SetThreadStarter([&](std::function<void()> body) {
        ++started;
        std::thread(std::move(body)).detach();
    });
    EXPECT_TRUE(Eventually([&] { return workers.Workers() == 0; }));
    ASSERT_TRUE(workers.Run(gate.Task()));
    EXPECT_TRUE(gate.WaitUntilDone(2));
    EXPECT_EQ(started, 1);
}

}  // namespace
}  // namespace krb::server
