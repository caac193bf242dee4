#include "sim/controller_emulator.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/clock.h"
#include "serial_client.h"

namespace krb::sim {
namespace {

using namespace std::chrono_literals;
using testing::SerialClient;

class EmulatorTest : public ::testing::Test {
  protected:
    EmulatorTest() { platform::setTimeScale(0.1); }

    void expectReplies(const std::vector<std::pair<std::string, std::string>>& exchanges) {
        for (const auto& [command, reply] : exchanges) {
            EXPECT_EQ(client.exchange(command), reply) << command;
        }
    }

    PortDirectory ports;
    ControllerEmulator emulator{ports, 3};
    SerialClient client{ports.entryPath(3)};
};

TEST_F(EmulatorTest, AnswersEveryCommandForm) {
    expectReplies({{"CR", "CC"},
                   {"ST 1910", "OK"},
                   {"RD 1910", "1"},
                   {"RS 1910", "OK"},
                   {"RD 1910", "0"},
                   {"RD DM200", "00000"},
                   {"WR DM200 42", "OK"},
                   {"RD DM200", "00042"},
                   {"WR T3 100", "OK"},
                   {"WS T3 7", "OK"},
                   {"RD T3", "00100"},
                   {"WR DM300 25", "OK"},
                   {"WR D12 3", "OK"},
                   {"WS P1 2", "OK"}});
    EXPECT_TRUE(emulator.registers().linkOpen());
    EXPECT_EQ(emulator.registers().timerPreset(3), 7);
    EXPECT_EQ(emulator.registers().dm(300), 25);
    EXPECT_EQ(client.exchange("CQ"), "CF");
    EXPECT_FALSE(emulator.registers().linkOpen());
}

TEST_F(EmulatorTest, StoresWordsModulo65536) {
    expectReplies({{"WR DM0 -1", "OK"},
                   {"RD DM0", "65535"},
                   {"WR DM0 70000", "OK"},
                   {"RD DM0", "04464"},
                   {"WR DM0 +5", "OK"},
                   {"RD DM0", "00005"}});
}

TEST_F(EmulatorTest, MalformedCommandsGetE1AndChangeNothing) {
    emulator.registers().setDm(5, 7);
    emulator.registers().setRelay(10, true);
    for (const char* line : {"", "XX", "cr", "RD 1915 ", "RD DMx", "ST abc", "RS", "WR DM5",
                             "WR DM5 abc", "WR DM5 1.5", "WR DM5  3", "WR T3 x", "RD 123456"}) {
        EXPECT_EQ(client.exchange(line), "E1") << '"' << line << '"';
    }
    EXPECT_EQ(emulator.registers().dm(5), 7);
    EXPECT_TRUE(emulator.registers().relay(10));
    EXPECT_EQ(emulator.registers().timer(3), 0);
}

TEST_F(EmulatorTest, TranscriptKeepsEveryLineWithItsTime) {
    const auto before = std::chrono::steady_clock::now();
    client.send("CR\r\nRD 1915\r");  // two lines in one write; LF is not part of a line
    EXPECT_EQ(client.readLine(), "CC\r\n");
    EXPECT_EQ(client.readLine(), "0\r\n");
    const auto after = std::chrono::steady_clock::now();

    EXPECT_EQ(emulator.lines(), (std::vector<std::string>{"CR", "RD 1915"}));
    const auto entries = emulator.transcript();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_LE(before, entries[0].time);
    EXPECT_LE(entries[0].time, entries[1].time);
    EXPECT_LE(entries[1].time, after);

    emulator.clearTranscript();
    EXPECT_TRUE(emulator.lines().empty());
    EXPECT_EQ(client.exchange("CQ"), "CF");
    EXPECT_EQ(emulator.waitForLines(1, 1s), 1u);
}

TEST_F(EmulatorTest, KeepsServingAfterTheClientClosesAndReopens) {
    EXPECT_EQ(client.exchange("ST 7"), "OK");
    {
        SerialClient second(ports.entryPath(3));
        EXPECT_EQ(second.exchange("RD 7"), "1");
    }
    EXPECT_EQ(client.exchange("RD 7"), "1");
}

// An unanswered command is followed by a normal one: the first bytes to arrive
// must be the normal reply, so nothing was sent for the silent ones.
TEST_F(EmulatorTest, StaysSilentForTheNextCommands) {
    emulator.staySilent(2);
    client.send("ST 1\rST 2\r");
    EXPECT_EQ(client.exchange("CQ"), "CF");
    EXPECT_EQ(emulator.lines(), (std::vector<std::string>{"ST 1", "ST 2", "CQ"}));
    EXPECT_FALSE(emulator.registers().relay(1));  // never heard, never done
    EXPECT_FALSE(emulator.registers().relay(2));
    EXPECT_EQ(client.exchange("ST 1"), "OK");
}

TEST_F(EmulatorTest, SilentUnitAnswersNothingUntilWokenUp) {
    emulator.setSilent(true);
    client.send("ST 1\rCR\r");
    ASSERT_EQ(emulator.waitForLines(2, 3s), 2u);
    emulator.setSilent(false);
    EXPECT_EQ(client.exchange("CQ"), "CF");
    EXPECT_FALSE(emulator.registers().relay(1));
}

TEST_F(EmulatorTest, FixedRepliesReplaceTheAnswerUntilCleared) {
    emulator.setFixedReply("RD 1915", "1");
    emulator.setFixedReply("WR DM0 5", "E1");
    expectReplies({{"RD 1915", "1"}, {"RD 1915", "1"}, {"RD 1914", "0"}, {"WR DM0 5", "E1"}});
    EXPECT_EQ(emulator.registers().dm(0), 0);
    emulator.clearFixedReplies();
    expectReplies({{"RD 1915", "0"}, {"WR DM0 5", "OK"}});
}

TEST_F(EmulatorTest, SilencedCommandIsNeverAnsweredUntilCleared) {
    emulator.silenceCommand("RD 1808");
    client.send("RD 1808\rRD 1808\r");
    EXPECT_EQ(client.exchange("RD 1809"), "0") << "other lines are answered";
    emulator.clearFixedReplies();
    EXPECT_EQ(client.exchange("RD 1808"), "0");
}

TEST_F(EmulatorTest, AnswersOpenWithE1AsOftenAsAsked) {
    emulator.answerOpenWithE1(2);
    expectReplies({{"CR", "E1"}, {"CQ", "CF"}, {"CR", "E1"}});
    EXPECT_FALSE(emulator.registers().linkOpen());
    EXPECT_EQ(client.exchange("CR"), "CC");
    EXPECT_TRUE(emulator.registers().linkOpen());
}

TEST_F(EmulatorTest, InjectsNonNumericWords) {
    emulator.registers().setDm(200, 3);
    emulator.setNonNumericWord(200, "ABCDE", 1);
    emulator.setNonNumericWord(201, "?");
    expectReplies({{"RD DM200", "ABCDE"},
                   {"RD DM200", "00003"},
                   {"RD DM201", "?"},
                   {"RD DM201", "?"},
                   {"RD DM202", "00000"}});
    emulator.setNonNumericWord(201, "", 0);
    EXPECT_EQ(client.exchange("RD DM201"), "00000");
}

// Lower bounds only: a reply is never delivered before it is due.
TEST_F(EmulatorTest, DeliversLateRepliesLate) {
    emulator.setReplyDelay(500);
    EXPECT_EQ(client.exchange("CQ"), "CF");
    const auto received = emulator.transcript().back().time;
    EXPECT_GE(client.lastArrival() - received, platform::scaled(500));

    emulator.setReplyDelay(0);
    EXPECT_EQ(client.exchange("CR"), "CC");
}

TEST_F(EmulatorTest, DeliversChunkedRepliesWithGaps) {
    emulator.setFixedReply("RD DM1", "ABCDEFGH");
    emulator.setReplyChunks(3, 200);  // "ABC" "DEF" "GH\r" "\n": three gaps
    EXPECT_EQ(client.exchange("RD DM1"), "ABCDEFGH");
    const auto received = emulator.transcript().back().time;
    EXPECT_GE(client.lastArrival() - received, 3 * platform::scaled(200));

    emulator.setReplyChunks(0, 0);
    EXPECT_EQ(client.exchange("RD DM1"), "ABCDEFGH");
}

// A minimal motion: "ST 1904" moves the handler to the slot in DM0 at once.
class InstantHandler : public UnitModel {
  public:
    std::optional<std::string> handle(const Command& command, RegisterStore& registers) override {
        if (command.kind == Command::Kind::SetRelay && command.address == 1904) {
            registers.setDm(1, registers.dm(0));
            return "OK";
        }
        if (command.raw == "LON") return "NOREAD";
        return std::nullopt;
    }
};

TEST_F(EmulatorTest, UnitModelAnswersFirstAndFallsThrough) {
    emulator.setModel(std::make_shared<InstantHandler>());
    expectReplies({{"WR DM0 12", "OK"}, {"ST 1904", "OK"}, {"RD DM1", "00012"}, {"LON", "NOREAD"}});
    EXPECT_FALSE(emulator.registers().relay(1904));  // the model took it

    emulator.setFixedReply("LON", "E1");  // scripted faults override the physics
    EXPECT_EQ(client.exchange("LON"), "E1");

    emulator.setModel(nullptr);
    emulator.clearFixedReplies();
    EXPECT_EQ(client.exchange("LON"), "E1");
    EXPECT_EQ(client.exchange("ST 1904"), "OK");
    EXPECT_TRUE(emulator.registers().relay(1904));
}

}  // namespace
}  // namespace krb::sim
