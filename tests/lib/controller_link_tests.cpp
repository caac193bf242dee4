// The controller link on its own, the register commands as the simulator hears them, and the
// guarded value that the unit's shared texts live in.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ControllerLink.h"
#include "ControllerRegisters.h"
#include "Guarded.h"
#include "lib_test_support.h"
#include "sim/network_bridge.h"

namespace krb::test {
namespace {

using namespace controller;

class LinkAlone : public ::testing::Test {
  protected:
    void SetUp() override { link.setPortName("COM7"); }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 7};
    ControllerLink link;
};

TEST_F(LinkAlone, OpenAnswersByStateAndAClosedLinkSendsNothing) {
    ControllerLink unnamed;
    unnamed.setPortName("COM");  // not a port name: ignored
    EXPECT_EQ(unnamed.open(), "0");
    EXPECT_FALSE(unnamed.isOpen());

    EXPECT_FALSE(link.linkIdle()) << "idle only after a first exchange";
    EXPECT_EQ(link.open(), "1");
    EXPECT_EQ(link.open(), "2");
    EXPECT_EQ(link.ReadBackStr(kOpenLink), kLinkOpened);
    EXPECT_TRUE(link.linkIdle());
    EXPECT_FALSE(link.replyPending());

    link.close();
    controller.clearTranscript();
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "");
    EXPECT_EQ(link.readFollowingReply(), "");
    EXPECT_TRUE(controller.lines().empty());
    EXPECT_EQ(link.open(), "1") << "a closed link opens again";
}

TEST_F(LinkAlone, HoldingTheLinkKeepsOtherThreadsCommandsOut) {
    ASSERT_EQ(link.open(), "1");
    controller.clearTranscript();
    std::thread other;
    {
        auto held = link.holdAll();
        other = std::thread([this] { link.ReadBackStr(readRelay(relay::kReady)); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(controller.lines().empty());
    }
    other.join();
    EXPECT_EQ(controller.lines(), std::vector<std::string>{"RD 1915"});
}

// Real time: the late reply must land between the next command's write and its read.
TEST_F(LinkAlone, AReplyThatComesAfterTheExchangeGaveUpIsNeverTheNextCommandsAnswer) {
    ScopedTimeScale realTime(1.0);
    ASSERT_EQ(link.open(), "1");
    controller.registers().setRelay(1915, false);
    controller.silenceCommand(readRelay(relay::kError));
    controller.setReplyDelay(560);  // the resend's "0" comes just after the next command goes out
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "");
    controller.setReplyDelay(0);
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kError)), "")
        << "the ready flag's late answer taken for the silent error flag";
    controller.registers().setRelay(1915, true);
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "1");
}

// Each command text against the simulator's own register store: a wrong number or form in the
// map shows up as a register the simulator did not touch.
TEST_F(LinkAlone, RegisterCommandsReachTheRegistersTheyName) {
    ASSERT_EQ(link.open(), "1");
    auto& registers = controller.registers();
    registers.setRelay(1915, true);
    registers.setDm(29, 40);
    registers.setDm(200, 0x1203);

    EXPECT_EQ(link.ReadBackStr(setRelay(relay::kScanMode)), kAccepted);
    EXPECT_TRUE(registers.relay(1910));
    EXPECT_EQ(link.ReadBackStr(resetRelay(relay::kScanMode)), kAccepted);
    EXPECT_FALSE(registers.relay(1910));
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "1");
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kError)), "0");
    EXPECT_EQ(link.ReadBackStr(readWord(word::kSlotCount)), "00040");
    EXPECT_EQ(link.ReadBackStr(readWord(word::kErrorCode)), "04611");
    EXPECT_EQ(link.ReadBackStr(writeWord(word::kTargetSlot, 65535)), kAccepted);
    EXPECT_EQ(registers.dm(0), 65535);
    EXPECT_EQ(link.ReadBackStr(writeWord(word::kTargetLevel, std::string("7"))), kAccepted);
    EXPECT_EQ(registers.dm(5), 7);
    EXPECT_EQ(link.ReadBackStr(writeNamedWord("DM23 12")), kAccepted);
    EXPECT_EQ(registers.dm(23), 12);

    std::vector<std::string> expected{"ST 1910",      "RS 1910",  "RD 1915",
                                      "RD 1814",      "RD DM29",  "RD DM200",
                                      "WR DM0 65535", "WR DM5 7", "WR DM23 12"};
    EXPECT_EQ(controller.lines(), expected);
}

// A unit behind a serial device server: its entry in the port folder is a file holding the address.
void publishAddress(const sim::PortDirectory& ports, int com, const std::string& address) {
    const std::string entry = ports.entryPath(com);
    std::ofstream(entry + ".new") << address << "\n";
    std::filesystem::rename(entry + ".new", entry);
}

TEST(LinkRecovery, ReopensWhereItWasOpenedAndIsBackOnlyOnceTheControllerAnswers) {
    ScopedTimeScale slower(0.5);  // the bridges' latency is real
    sim::PortDirectory ports;
    sim::ControllerEmulator unit{ports, 7}, otherUnit{ports, 8};
    const auto unitDevice = std::filesystem::read_symlink(ports.entryPath(7)).string();
    auto bridge = std::make_unique<sim::NetworkBridge>(unitDevice, 0, sim::BridgeMode::Raw);
    const int bridgePort = bridge->port();
    sim::NetworkBridge otherBridge(std::filesystem::read_symlink(ports.entryPath(8)).string(), 0,
                                   sim::BridgeMode::Raw);
    publishAddress(ports, 7, bridge->address());
    ControllerLink link;
    link.setPortName("COM7");
    ASSERT_EQ(link.open(), "1");
    ASSERT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "0");

    publishAddress(ports, 7, otherBridge.address());  // the folder now names another unit
    unit.setSilent(true);
    bridge.reset();
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "");
    EXPECT_TRUE(link.isDown());
    unit.clearTranscript();
    bridge = std::make_unique<sim::NetworkBridge>(unitDevice, bridgePort, sim::BridgeMode::Raw);
    ASSERT_TRUE(eventually([&] { return contains(unit.lines(), "RD 1915"); }));
    EXPECT_TRUE(link.isDown()) << "reopened, but a silent device is not the line back";

    unit.setSilent(false);
    ASSERT_TRUE(eventually([&] { return !link.isDown(); }));
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kError)), "0");
    EXPECT_TRUE(otherUnit.lines().empty()) << "a command reached the unit the folder names now";
}

TEST(LinkRecovery, OpeningALineThatIsDownFollowsThePortFolderAfresh) {
    ScopedTimeScale slower(0.5);
    sim::PortDirectory ports;
    sim::ControllerEmulator unit{ports, 7}, movedUnit{ports, 8};
    auto bridge = std::make_unique<sim::NetworkBridge>(
        std::filesystem::read_symlink(ports.entryPath(7)).string(), 0, sim::BridgeMode::Raw);
    sim::NetworkBridge movedBridge(std::filesystem::read_symlink(ports.entryPath(8)).string(), 0,
                                   sim::BridgeMode::Raw);
    publishAddress(ports, 7, bridge->address());
    ControllerLink link;
    link.setPortName("COM7");
    ASSERT_EQ(link.open(), "1");
    bridge.reset();
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "");
    ASSERT_TRUE(link.isDown());

    publishAddress(ports, 7, movedBridge.address());  // the unit is reached elsewhere now
    EXPECT_EQ(link.open(), "1");
    EXPECT_FALSE(link.isDown());
    movedUnit.registers().setRelay(1915, true);
    EXPECT_EQ(link.ReadBackStr(readRelay(relay::kReady)), "1");
    EXPECT_EQ(link.open(), "2");
}

TEST(GuardedValue, StepsOfSeveralThreadsNeverOverlap) {
    Guarded<long> counter;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) counter.with([](long& value) { ++value; });
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter.get(), 8000);
    counter.set(3);
    EXPECT_EQ(counter.with([](long& value) { return value * 2; }), 6);
}

}  // namespace
}  // namespace krb::test
