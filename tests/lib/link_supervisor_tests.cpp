// The link supervisor on its own: reopening with growing pauses until the device is back,
// one reopening at a time, and a stop that ends it at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "LinkSupervisor.h"
#include "platform/clock.h"
#include "support/eventually.h"
#include "support/null_serial_port.h"

namespace krb {
namespace {

constexpr std::chrono::seconds kLimit{10};

TEST(LinkSupervisor, ReopensUntilTheDeviceIsBackAndOnlyOnceAtATime) {
    platform::setTimeScale(0.01);
    std::atomic<int> attempts{0}, restored{0};
    LinkSupervisor supervisor(
        [&]() -> std::unique_ptr<platform::SerialPort> {
            return ++attempts < 4 ? nullptr
                                  : std::make_unique<test_support::NullSerialPort>("COM9");
        },
        [&](std::unique_ptr<platform::SerialPort> port) {
            restored += port != nullptr;
            return true;
        });

    EXPECT_FALSE(supervisor.isDown());
    supervisor.linkLost("COM9", "read failed");
    supervisor.linkLost("COM9", "write failed");  // already reopening: nothing more starts
    EXPECT_TRUE(supervisor.isDown());
    ASSERT_TRUE(test_support::eventually([&] { return restored.load() == 1; }, kLimit));
    EXPECT_FALSE(supervisor.isDown());
    EXPECT_EQ(attempts.load(), 4);

    supervisor.linkLost("COM9", "read failed");  // lost again later: reopened again
    ASSERT_TRUE(test_support::eventually([&] { return restored.load() == 2; }, kLimit));
    EXPECT_FALSE(supervisor.isDown());
}

TEST(LinkSupervisor, StopEndsTheReopeningAtOnce) {
    platform::setTimeScale(1.0);
    std::atomic<int> attempts{0};
    LinkSupervisor supervisor(
        [&]() -> std::unique_ptr<platform::SerialPort> {
            ++attempts;
            return nullptr;
        },
        [](std::unique_ptr<platform::SerialPort>) { return true; });
    supervisor.linkLost("COM9", "read failed");
    const auto started = std::chrono::steady_clock::now();
    supervisor.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
    EXPECT_EQ(attempts.load(), 0) << "stopped within the first pause";
    EXPECT_FALSE(supervisor.isDown());
    platform::setTimeScale(0.1);
}

TEST(LinkSupervisor, APortWhoseDeviceDoesNotAnswerIsNotTheLineBack) {
    std::atomic<int> offered{0}, backs{0};
    LinkSupervisor supervisor([] { return std::make_unique<test_support::NullSerialPort>("COM9"); },
                              [&](std::unique_ptr<platform::SerialPort>) { return ++offered >= 3; },
                              [&] { ++backs; });
    supervisor.linkLost("COM9", "read failed");
    ASSERT_TRUE(test_support::eventually([&] { return backs.load() == 1; }, kLimit));
    EXPECT_EQ(offered.load(), 3) << "reopened until the device answered";
    EXPECT_FALSE(supervisor.isDown());
}

// The link calls the supervisor with its locks held, and the restorer takes those locks: no
// call of the supervisor may wait for its worker.
TEST(LinkSupervisor, NoCallWaitsForTheWorkerWhileItWaitsForTheCallersLock) {
    platform::setTimeScale(0.01);
    std::mutex linkLock;
    std::atomic<int> opened{0};
    LinkSupervisor supervisor(
        [&] {
            ++opened;
            return std::make_unique<test_support::NullSerialPort>("COM9");
        },
        [&](std::unique_ptr<platform::SerialPort>) {
            std::lock_guard wait(linkLock);
            return true;
        });
    std::atomic<bool> callsReturned{false};
    std::thread caller([&] {
        std::lock_guard held(linkLock);
        supervisor.linkLost("COM9", "read failed");
        test_support::eventually([&] { return opened.load() > 0; }, kLimit);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the worker is at the lock
        supervisor.linkLost("COM9", "write failed");
        supervisor.stop();
        supervisor.linkLost("COM9", "read failed");
        callsReturned = true;
    });
    const bool returned = test_support::eventually([&] { return callsReturned.load(); }, kLimit);
    EXPECT_TRUE(returned) << "deadlock: a call waits for the worker";
    if (!returned) {
        caller.detach();
        std::abort();  // the stuck threads would hang the process at exit
    }
    caller.join();
    platform::setTimeScale(0.1);
}

}  // namespace
}  // namespace krb
