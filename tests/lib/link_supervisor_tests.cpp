// The link supervisor on its own: reopening with growing pauses until the device is back,
// one reopening at a time, and a stop that ends it at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "LinkSupervisor.h"
#include "platform/clock.h"

namespace krb {
namespace {

class NullPort : public platform::SerialPort {
  public:
    bool configure(const platform::LineSettings&) override { return true; }
    void setQueueSizes(std::size_t, std::size_t) override {}
    void purgeInput() override {}
    void purgeAll() override {}
    long read(char*, std::size_t, long) override { return 0; }
    bool write(const char*, std::size_t) override { return true; }
    const std::string& name() const override { return name_; }

  private:
    std::string name_ = "COM9";
};

bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(LinkSupervisor, ReopensUntilTheDeviceIsBackAndOnlyOnceAtATime) {
    platform::setTimeScale(0.01);
    std::atomic<int> attempts{0}, restored{0};
    LinkSupervisor supervisor(
        [&]() -> std::unique_ptr<platform::SerialPort> {
            return ++attempts < 4 ? nullptr : std::make_unique<NullPort>();
        },
        [&](std::unique_ptr<platform::SerialPort> port) { restored += port != nullptr; });

    EXPECT_FALSE(supervisor.isDown());
    supervisor.linkLost("COM9", "read failed");
    supervisor.linkLost("COM9", "write failed");  // already reopening: nothing more starts
    EXPECT_TRUE(supervisor.isDown());
    ASSERT_TRUE(Eventually([&] { return restored.load() == 1; }));
    EXPECT_FALSE(supervisor.isDown());
    EXPECT_EQ(attempts.load(), 4);

    supervisor.linkLost("COM9", "read failed");  // lost again later: reopened again
    ASSERT_TRUE(Eventually([&] { return restored.load() == 2; }));
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
