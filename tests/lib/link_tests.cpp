// The command exchange and the register commands, asserted on the controller's transcript.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "KRB_lib.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

class Link : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_STREQ(KRBConnect("5"), "1"); }
    void TearDown() override { KRBDisconnect("5"); }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 5};
};

TEST_F(Link, DataWordsArriveAsPlainDecimals) {
    controller.registers().setDm(12, 42);
    EXPECT_STREQ(KRBReadDM("5", "12"), "42");
    EXPECT_EQ(controller.lines().back(), "RD DM12");

    controller.setNonNumericWord(12, "ABCDE");
    EXPECT_STREQ(KRBReadDM("5", "12"), "");
    EXPECT_STREQ(KRBReadDM("5", "x"), "");
    EXPECT_EQ(linesStartingWith(controller.lines(), "RD DMx").size(), 0u);
}

TEST_F(Link, WritesWithNonNumericArgumentsSendNothing) {
    controller.clearTranscript();
    KRBWriteDM("5", "10", "abc");
    KRBWriteDM("5", "ten", "1");
    KRBWriteTimer("5", "3", "");
    KRBSetTimer("5", "3", "1.5");
    EXPECT_STREQ(KRBReadTimer("5", "x"), "");
    EXPECT_TRUE(controller.lines().empty());

    KRBWriteDM("5", "10", "-3");
    KRBWriteTimer("5", "3", "100");
    KRBSetTimer("5", "4", "200");
    KRBReadTimer("5", "4");
    std::vector<std::string> expected{"WR DM10 -3", "WR T3 100", "WS T4 200", "RD T4"};
    EXPECT_EQ(controller.lines(), expected);
}

TEST_F(Link, ASilentControllerGetsTheCommandTwiceAndAnEmptyReply) {
    controller.clearTranscript();
    controller.staySilent(2);  // the send and the resend
    EXPECT_STREQ(KRBReadBackStr("5", "RD 1915"), "");
    std::vector<std::string> expected{"RD 1915", "RD 1915"};
    EXPECT_EQ(controller.lines(), expected);
}

TEST_F(Link, AReplyCarriesNoLineEnd) {
    controller.registers().setRelay(1915, true);
    EXPECT_STREQ(KRBReadBackStr("5", "RD 1915"), "1");
}

TEST_F(Link, AReplyLaterThanTheFirstReadIsCutToWhatThatReadGot) {
    controller.setReplyChunks(2, 400);  // "00" at once, the rest long after the read window
    controller.registers().setDm(30, 12345);
    EXPECT_STREQ(KRBReadBackStr("5", "RD DM30"), "12");
    controller.setReplyChunks(0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the late rest arrive
    EXPECT_STREQ(KRBReadBackStr("5", "RD DM30"), "12345") << "the purge drops the late rest";
}

TEST_F(Link, TwoThreadsNeverInterleaveOnOneUnit) {
    controller.setFixedReply("RD DM1", "11111");
    controller.setFixedReply("RD DM2", "22222");
    controller.clearTranscript();
    auto hammer = [](const char* command, const char* expected, int* wrong) {
        for (int i = 0; i < 15; ++i)
            if (std::string(KRBReadBackStr("5", command)) != expected) ++*wrong;
    };
    int wrongFirst = 0, wrongSecond = 0;
    std::thread first(hammer, "RD DM1", "11111", &wrongFirst);
    std::thread second(hammer, "RD DM2", "22222", &wrongSecond);
    first.join();
    second.join();
    EXPECT_EQ(wrongFirst + wrongSecond, 0);
    EXPECT_EQ(controller.lines().size(), 30u) << "every command went out whole and once";
}

TEST_F(Link, WriteTimeoutFallsBackTo250ForBadText) {
    KRBSetWriteTimeout("5", "5");
    controller.registers().setDm(3, 3);
    EXPECT_STREQ(KRBReadDM("5", "3"), "3");
    KRBSetWriteTimeout("5", "abc");  // 250 ms, still answers
    EXPECT_STREQ(KRBReadDM("5", "3"), "3");
}

TEST_F(Link, OpenCommunicationReopensThePortAfterE1) {
    controller.clearTranscript();
    controller.answerOpenWithE1(2);
    EXPECT_STREQ(KRBOpenCommunication("5"), "1");
    auto lines = controller.lines();
    EXPECT_EQ(linesStartingWith(lines, "CR").size(), 3u);
    EXPECT_TRUE(contains(lines, "CQ")) << "the reopen closes the link as a disconnect does";

    controller.answerOpenWithE1(3);
    EXPECT_STREQ(KRBOpenCommunication("5"), "2");
    controller.setFixedReply("CR", "XX");
    EXPECT_STREQ(KRBOpenCommunication("5"), "0");
}

}  // namespace
}  // namespace krb::test
