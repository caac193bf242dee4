// Late, early and doubled controller replies: a reply whose form cannot belong to the command
// is never taken as its answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "ControllerExchange.h"
#include "KRB_Class.h"
#include "ReplyForm.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

using Lines = std::vector<std::string>;

// A caller has to say what it wants of an exchange: nothing turns one into a value unseen.
static_assert(!std::is_convertible_v<TExchange, std::string>);
static_assert(!std::is_convertible_v<TExchange, std::int64_t>);
static_assert(!std::is_convertible_v<TExchange, bool>);

// No reply is a failure and a reply of the wrong form is unreadable: neither gives a value.
TEST(ControllerExchange, OnlyAReplyOfTheAskedFormIsRead) {
    using Outcome = TExchange::Outcome;
    struct Case {
        const char* reply;
        Outcome asText, asNumber, asBit;
        std::optional<std::int64_t> number;
    };
    const std::vector<Case> cases{
        {"", Outcome::Failed, Outcome::Failed, Outcome::Failed, std::nullopt},
        {"1", Outcome::Read, Outcome::Read, Outcome::Read, 1},
        {"0", Outcome::Read, Outcome::Read, Outcome::Read, 0},
        {"00040", Outcome::Read, Outcome::Read, Outcome::Unreadable, 40},
        {"OK", Outcome::Read, Outcome::Unreadable, Outcome::Unreadable, std::nullopt},
        {"E1", Outcome::Read, Outcome::Unreadable, Outcome::Unreadable, std::nullopt},
        {"?\xb1", Outcome::Read, Outcome::Unreadable, Outcome::Unreadable, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        const TExchange exchange = TExchange::fromReply(c.reply);
        EXPECT_EQ(exchange.outcome(), c.asText);
        EXPECT_EQ(exchange.asNumber().outcome(), c.asNumber);
        EXPECT_EQ(exchange.asBit().outcome(), c.asBit);
        EXPECT_EQ(exchange.asNumber().number(), c.number);
        EXPECT_EQ(exchange.accepted(), std::string(c.reply) == "OK");
        EXPECT_EQ(exchange.text(), c.reply) << "the reply is kept for the exports";
    }
}

TEST(ReplyForm, FitsOnlyTheFormsItsCommandCanGet) {
    struct Case {
        const char* command;
        const char* reply;
        bool fits;
    };
    const Case cases[] = {
        {"RD 1808", "1", true},
        {"RD 1808", "0", true},
        {"RD 1808", "OK", false},
        {"RD 1808", "00042", false},
        {"RD 1808", "11", false},
        {"RD 1808", "OK1", false},
        {"RD 1808", "CC", false},
        {"RD 1808", "E1", true},
        {"RD 1808", "?\xb1", true},
        {"RD 1808", "", true},
        {"RD DM200", "04611", true},
        {"RD DM109", "0123", true},
        {"RD DM200", "OK", false},
        {"RD DM200", "1", false},
        {"RD DM200", "1OK", false},
        {"RD DM200", "0004200042", false},
        {"RD DM1", "ABCDEFGH", true},
        {"RD T4", "00100", true},
        {"ST 1910", "OK", true},
        {"ST 1910", "1", false},
        {"RS 1910", "00042", false},
        {"WR DM0 5", "OK", true},
        {"WR DM0 5", "0", false},
        {"WR DM0 5", "E1", true},
        {"ST 1712", "OK\x02P1\x03", true},
        {"ST 1712", "OK00042", false},
        {"CR", "CC", true},
        {"CR", "E1", true},
        {"CR", "OK", false},
        {"CR", "CF", false},
        {"CQ", "CF", true},
        {"CQ", "1", false},
        {"WS T4 200", "1", true},
        {"KRB anything", "OK1", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(replyFitsCommand(c.command, c.reply), c.fits)
            << '"' << c.command << "\" answered \"" << c.reply << '"';
    }
}

// The first N answers to one command are replaced by a stray text, as when a late reply of
// an earlier command lands in its read window.
class StrayAnswers : public sim::UnitModel {
  public:
    StrayAnswers(std::string command, std::string stray, int times)
        : command_(std::move(command)), stray_(std::move(stray)), left_(times) {}
    std::optional<std::string> handle(const sim::Command& command, sim::RegisterStore&) override {
        if (command.raw != command_ || left_ == 0) return std::nullopt;
        --left_;
        return stray_;
    }

  private:
    std::string command_;
    std::string stray_;
    int left_;
};

class StrayReplies : public ::testing::Test {
  protected:
    void SetUp() override {
        unit->SetPortName("COM6");
        ASSERT_EQ(unit->OpenPort(), "1");
        controller.registers().setRelay(1808, true);
        controller.clearTranscript();
    }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 6};
    std::shared_ptr<TKRB_Class> unit = std::make_shared<TKRB_Class>();
};

TEST_F(StrayReplies, AStrayReplyIsDroppedAndTheCommandSentAgain) {
    struct Case {
        const char* command;
        const char* stray;
        const char* answer;
    };
    const Case cases[] = {
        {"RD 1808", "OK", "1"},       // a late write acknowledgement
        {"RD 1808", "00000", "1"},    // a late data word
        {"RD 1808", "1\r\n0", "1"},   // two replies in one read
        {"ST 1910", "1", "OK"},       // a late relay state
        {"RD DM200", "OK", "00000"},  // a late acknowledgement where a word is due
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " after \"" + c.stray + '"');
        controller.setModel(std::make_shared<StrayAnswers>(c.command, c.stray, 1));
        controller.clearTranscript();
        EXPECT_EQ(unit->ReadBackStr(c.command).text(), c.answer);
        EXPECT_EQ(controller.lines(), (Lines{c.command, c.command})) << "the resend step";
    }
}

TEST_F(StrayReplies, AStrayOnEverySendLeavesNoAnswer) {
    controller.setModel(std::make_shared<StrayAnswers>("RD 1814", "OK", 2));
    EXPECT_EQ(unit->ReadBackStr("RD 1814").text(), "") << "neither set nor clear";
    EXPECT_EQ(controller.lines(), (Lines{"RD 1814", "RD 1814"}));
    controller.clearTranscript();
    EXPECT_EQ(unit->ReadBackStr("RD 1814").text(), "0") << "the next exchange is clean";
    EXPECT_EQ(controller.lines(), (Lines{"RD 1814"}));
}

TEST_F(StrayReplies, AReplyBeforeTheCommandIsPurgedAndANormalExchangeSendsOnce) {
    controller.sendLater(0, [] { return std::optional<std::string>("OK\r\n"); });
    EXPECT_EQ(unit->ReadBackStr("RD 1808").text(), "1");
    EXPECT_EQ(controller.lines(), (Lines{"RD 1808"}));
}

// A reply so late that it lands in the read window of the next command (real time: the
// exchange's windows are 55 ms wide).
TEST_F(StrayReplies, ALateReplyIsNotTakenAsTheNextCommandsAnswer) {
    const double scale = platform::timeScale();
    platform::setTimeScale(1.0);
    controller.setReplyDelay(590);
    EXPECT_EQ(unit->ReadBackStr("RD 1808").text(), "");
    const std::string reply = unit->ReadBackStr("WR DM0 5").text();
    EXPECT_TRUE(reply == "OK" || reply.empty()) << "taken: \"" << reply << '"';
    controller.setReplyDelay(0);
    platform::sleepMs(1500);
    EXPECT_EQ(unit->ReadBackStr("RD 1808").text(), "1");
    platform::setTimeScale(scale);
}

}  // namespace
}  // namespace krb::test
