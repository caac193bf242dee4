// The link supervisor on its own: reopening with growing pauses until the device is back,
// one reopening at a time, and a stop that ends it at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
        [&](std::unique_ptr<platform::SerialPort> port) { restored += port != nullptr; });

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
        [](std::unique_ptr<platform::SerialPort>) {});
    supervisor.linkLost("COM9", "read failed");
    const auto started = std::chrono::steady_clock::now();
    supervisor.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
    EXPECT_EQ(attempts.load(), 0) << "stopped within the first pause";
    EXPECT_FALSE(supervisor.isDown());
    platform::setTimeScale(0.1);
}

}  // namespace
}  // namespace krb
