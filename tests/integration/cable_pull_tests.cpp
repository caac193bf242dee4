// Pulling the cable of a unit that sits behind a serial device server (the simulator's network
// bridge): the operation in flight fails, later calls fail at once, other units keep working,
// the line comes back by itself, and a unit power-cycled meanwhile must be initialised again.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>

#include "demo_lab_fixture.h"
#include "platform/link_metrics.h"
#include "sim/network_bridge.h"

namespace krb::integration {
namespace {

constexpr int kBase = 1, kExtension = 3;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class CablePull : public DemoLab {
  protected:
    void SetUp() override {
        platform::setTimeScale(0.5);  // the bridge's latency is real
        DemoLab::SetUp();
        const std::string entry = lab_->portDirectory() + "/COM1";
        device_ = std::filesystem::read_symlink(entry).string();
        bridge_ = std::make_unique<sim::NetworkBridge>(device_, 0, sim::BridgeMode::Raw);
        std::ofstream(entry + ".address") << bridge_->address() << "\n";
        std::filesystem::rename(entry + ".address", entry);
    }
    void TearDown() override {
        DemoLab::TearDown();
        bridge_.reset();
        platform::setTimeScale(0.1);
    }
    bool LineAnswers() { return !std::string(KRBReadBackStr("1", "RD 1915")).empty(); }
    static bool LinkDown() { return platform::linkCounters().at("COM1").Down; }

    std::string device_;
    std::unique_ptr<sim::NetworkBridge> bridge_;
};

TEST_F(CablePull, TheMoveFailsTheLineHealsAndAPowerCycledUnitMustBeInitialisedAgain) {
    activate(kBase);
    KRBSetPlateDetector("1", "1");
    auto move = std::async(std::launch::async,
                           [] { return std::string(KRBMovePlate("1", "3", "1", "4", "2")); });
    ASSERT_TRUE(eventually([&] { return world().occupied(Place::shovel(kBase)); }));
    const int port = bridge_->port();
    const auto pulled = Clock::now();
    bridge_.reset();
    const std::string moved = move.get();
    const double failedAfterMs = MsSince(pulled);
    EXPECT_NE(moved, "1");
    EXPECT_TRUE(LinkDown()) << "the status surfaces see the line gone";

    const auto quick = Clock::now();
    EXPECT_STREQ(KRBReadReadyFlag("1"), KRBReadReadyFlag("1"));
    const double laterCallMs = MsSince(quick) / 2;
    ASSERT_STREQ(KRB2Activate(unitId(kExtension).c_str()), "1") << "other units keep working";

    control("FAULT COM1 reset");  // the unit was power-cycled while its cable was out
    const auto plugged = Clock::now();
    bridge_ = std::make_unique<sim::NetworkBridge>(device_, port, sim::BridgeMode::Raw);
    ASSERT_TRUE(eventually([&] { return LineAnswers(); }));
    const double backAfterMs = MsSince(plugged);
    EXPECT_FALSE(LinkDown());
    EXPECT_STREQ(KRBIsInitialized("1"), "0") << "references lost: nothing moves";
    EXPECT_NE(std::string(KRBMovePlate("1", "1", "1", "6", "1")), "1");
    EXPECT_EQ(placeOf("P0001"), Place::slot(kBase, 1, 1));

    control("TAKE COM1 SHOVEL");  // the operator takes the plate the cut move left behind
    activate(kBase);
    EXPECT_STREQ(KRBMovePlate("1", "1", "1", "6", "1"), "1");
    EXPECT_EQ(placeOf("P0001"), Place::slot(kBase, 6, 1));
    std::printf(
        "cable pulled mid-move: move failed after %.0f ms (reply %s), a later call took "
        "%.1f ms; line back %.0f ms after the unit returned (time scale 0.5)\n",
        failedAfterMs, moved.c_str(), laterCallMs, backAfterMs);
}

}  // namespace
}  // namespace krb::integration
