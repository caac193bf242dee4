#include "sim/protocol.h"

#include <gtest/gtest.h>

#include "sim/register_store.h"

namespace krb::sim {
namespace {

using Kind = Command::Kind;

struct ParseCase {
    const char* line;
    Kind kind;
    int address;
    const char* value;
};

TEST(ParseCommand, RecognisesEveryForm) {
    const ParseCase cases[] = {
        {"CR", Kind::Open, 0, ""},
        {"CQ", Kind::Close, 0, ""},
        {"ST 1910", Kind::SetRelay, 1910, ""},
        {"RS 1910", Kind::ResetRelay, 1910, ""},
        {"RD 1915", Kind::ReadRelay, 1915, ""},
        {"RD DM200", Kind::ReadDm, 200, ""},
        {"RD DM007", Kind::ReadDm, 7, ""},
        {"WR DM0 -3", Kind::WriteDm, 0, "-3"},
        {"WR DM0 0A", Kind::WriteDm, 0, "0A"},  // value judged later, by whoever answers
        {"WR T12 100", Kind::WriteTimer, 12, "100"},
        {"WS T3 7", Kind::SetTimerPreset, 3, "7"},
        {"RD T3", Kind::ReadTimer, 3, ""},
        {"WR D300 25", Kind::ParameterWrite, 0, "D300 25"},
        {"WS TEMP 1", Kind::ParameterWrite, 0, "TEMP 1"},
    };
    for (const auto& c : cases) {
        const Command command = parseCommand(c.line);
        EXPECT_EQ(command.kind, c.kind) << c.line;
        EXPECT_EQ(command.address, c.address) << c.line;
        EXPECT_EQ(command.value, c.value) << c.line;
        EXPECT_EQ(command.raw, c.line);
    }
}

TEST(ParseCommand, MalformedLinesAreUnknown) {
    for (const char* line :
         {"",        "C",       "cr",       "CR ",   " CR",    "CRX",      "ST",
          "ST ",     "ST abc",  "ST -1",    "RD",    "RD ",    "RD 1915 ", "RD 123456",
          "RD DM",   "RD DMx",  "RD DM-1",  "RD T",  "WR ",    "WS ",      "WR DM5",
          "WR DM5 ", "WR DM 5", "WR DMx 5", "WR T3", "WS T3 ", "LON"}) {
        EXPECT_EQ(parseCommand(line).kind, Kind::Unknown) << '"' << line << '"';
    }
}

TEST(WordValues, WrapModulo65536) {
    EXPECT_EQ(parseWordValue("0"), 0);
    EXPECT_EQ(parseWordValue("65535"), 65535);
    EXPECT_EQ(parseWordValue("65536"), 0);
    EXPECT_EQ(parseWordValue("70000"), 4464);
    EXPECT_EQ(parseWordValue("-1"), 65535);
    EXPECT_EQ(parseWordValue("-0"), 0);
    EXPECT_EQ(parseWordValue("-65536"), 0);
    EXPECT_EQ(parseWordValue("+12"), 12);
    EXPECT_EQ(parseWordValue("000000000000000042"), 42);
}

TEST(WordValues, RejectAnythingButDecimal) {
    for (const char* text :
         {"", "-", "+", " 1", "1 ", "1.5", "0x10", "1e3", "12a", "--1", "1234567890123456789"}) {
        EXPECT_FALSE(parseWordValue(text).has_value()) << '"' << text << '"';
    }
}

TEST(WordValues, FormatAsFiveDigits) {
    EXPECT_EQ(formatWord(0), "00000");
    EXPECT_EQ(formatWord(42), "00042");
    EXPECT_EQ(formatWord(65535), "65535");
}

TEST(DefaultReply, BadWriteValueChangesNothing) {
    RegisterStore registers;
    registers.setDm(5, 7);
    registers.setTimerPreset(3, 9);
    EXPECT_EQ(defaultReply(parseCommand("WR DM5 0A"), registers), "E1");
    EXPECT_EQ(defaultReply(parseCommand("WS T3 x"), registers), "E1");
    EXPECT_EQ(registers.dm(5), 7);
    EXPECT_EQ(registers.timerPreset(3), 9);
}

}  // namespace
}  // namespace krb::sim
