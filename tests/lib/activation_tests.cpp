// KRB2Activate: every result code, and what initialisation sends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "KRB_lib.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

class Activation : public ::testing::Test {
  protected:
    void TearDown() override { KRBDisconnect("6"); }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 6};
};

TEST_F(Activation, ReferencedReadyUnitActivatesWithoutStartingInitialisation) {
    makeReadyAndReferenced(controller);
    EXPECT_STREQ(KRB2Activate("6"), "1");
    EXPECT_STREQ(KRBIsInitialized("6"), "1");
    EXPECT_FALSE(contains(controller.lines(), "ST 1801"));
    EXPECT_TRUE(contains(controller.lines(), "RD DM109")) << "serial number cached on open";
}

TEST_F(Activation, UnreferencedUnitStartsInitialisationAndWaitsForReady) {
    controller.registers().setRelay(1915, true);
    controller.registers().setRelay(1811, true);
    EXPECT_STREQ(KRB2Activate("6"), "1");
    auto lines = controller.lines();
    EXPECT_TRUE(contains(lines, "ST 1801"));
    for (const char* relay : {"RD 6500", "RD 6501", "RD 6502", "RD 6503", "RD 6505"})
        EXPECT_TRUE(contains(lines, relay)) << relay;
    EXPECT_FALSE(contains(lines, "RD 6504"));
}

TEST_F(Activation, AnswersInItsOwnSlot) {
    makeReadyAndReferenced(controller);
    ASSERT_STREQ(KRBConnect("6"), "1");
    controller.registers().setDm(200, 7);
    const char* status = KRBReadStatus("6");
    EXPECT_STREQ(KRB2Activate("6"), "1");
    EXPECT_STREQ(status, "00007") << "activation of a registered unit leaves the shared slot alone";
}

TEST_F(Activation, CodesOfTheConnectStep) {
    EXPECT_STREQ(KRB2Activate("six"), "3");
    EXPECT_STREQ(KRB2Activate("48"), "0");
}

TEST_F(Activation, CodesOfTheOpenStep) {
    controller.setFixedReply("CR", "XX");
    EXPECT_STREQ(KRB2Activate("6"), "3") << "open answered 0";
    controller.clearFixedReplies();
    controller.answerOpenWithE1(3);
    EXPECT_STREQ(KRB2Activate("6"), "4") << "open answered 2";
}

TEST_F(Activation, CodesOfTheInitialiseStep) {
    controller.registers().setRelay(1915, true);
    controller.setFixedReply("RD 1814", "1");
    EXPECT_STREQ(KRB2Activate("6"), "5") << "error again during the recovery run";
    EXPECT_STREQ(KRBIsInitialized("6"), "0");

    controller.clearFixedReplies();
    controller.registers().setRelay(1915, false);
    controller.registers().setRelay(1814, false);
    EXPECT_STREQ(KRB2Activate("6"), "6") << "door not locked and unit not ready";

    controller.registers().setRelay(3101, true);
    controller.setFixedReply("RD 1701", "0");
    EXPECT_STREQ(KRB2Activate("6"), "7") << "the door lock did not engage";
}

// The ready flag goes silent once initialisation has started: the wait is bounded, and a
// controller that answers again later (here after 40 silent reads, each sent twice) comes too late.
TEST_F(Activation, InitialisationGivesUpOnAControllerThatStaysSilent) {
    ScopedTimeScale faster(0.05);
    controller.registers().setRelay(1811, true);
    controller.silenceCommand("RD 1915");
    std::atomic<bool> activated{false};
    std::thread lateAnswer([&] {
        eventually(
            [&] {
                return activated || linesStartingWith(controller.lines(), "RD 1915").size() >= 80;
            },
            std::chrono::seconds(60));
        controller.clearFixedReplies();
        controller.registers().setRelay(1915, true);
    });
    EXPECT_STREQ(KRB2Activate("6"), "5");
    activated = true;
    lateAnswer.join();
    EXPECT_TRUE(contains(controller.lines(), "ST 1801"));
    EXPECT_STREQ(KRBIsInitialized("6"), "0");
}

}  // namespace
}  // namespace krb::test
