#include <gtest/gtest.h>

#include "lab/ConfigurationLoader.h"

namespace krb::server {
namespace {

using Numbers = std::vector<std::int32_t>;

TEST(CassetteEntry, KeyIsANumberOrARange) {
    auto entry = ParseCassetteEntry("1-3=10,25,2");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Numbers, (Numbers{1, 2, 3}));
    EXPECT_EQ(entry->Levels, 10);
    EXPECT_EQ(entry->ZPitch, 25);
    EXPECT_EQ(entry->Type, 2);
    EXPECT_EQ(ParseCassetteEntry("5=8")->Numbers, Numbers{5});
    EXPECT_TRUE(ParseCassetteEntry("5-3=8")->Numbers.empty());
    EXPECT_EQ(ParseCassetteEntry(" 1 - 2 =1")->Numbers, (Numbers{1, 2}));
    EXPECT_EQ(ParseCassetteEntry("2147483646-2147483647=1")->Numbers,
              (Numbers{2147483646, 2147483647}))
        << "a range ending at the largest number ends there";
}

TEST(CassetteEntry, MalformedKeysAreRejected) {
    for (const char* line : {"A=1,2,3", "=1,2", "1-=1", "-3=1", "1-x=1", "5", "1..3=1",
                             "1-2000000=1", "99999999999=1"}) {
        EXPECT_FALSE(ParseCassetteEntry(line)) << line;
    }
}

TEST(CassetteEntry, ValuesFollowTheirCommas) {
    auto values = [](const char* line) {
        auto e = ParseCassetteEntry(line);
        return std::vector<std::int32_t>{e->Levels, e->ZPitch, e->Type};
    };
    EXPECT_EQ(values("5=8 , 30"), (Numbers{8, 30, 0}));
    EXPECT_EQ(values("5=8"), (Numbers{0, 8, 0}));
    EXPECT_EQ(values("5="), (Numbers{0, 0, 0}));
    EXPECT_EQ(values("5=x,y,z"), (Numbers{0, 0, 0}));
    EXPECT_EQ(values("5=10,,3"), (Numbers{10, 0, 3}));
    EXPECT_EQ(values("5=10,25,2,7"), (Numbers{10, 25, 7}));
    EXPECT_EQ(values("5=10,25,2,7,9"), (Numbers{10, 25, 0}));
    EXPECT_EQ(values("5=1 0,2 5"), (Numbers{10, 25, 0}));
}

TEST(PartitionEntry, ListsNumbersAndRanges) {
    auto entry = ParsePartitionEntry("Top=1..2,5, 7-9 ,,");
    EXPECT_EQ(entry.Name, "Top");
    ASSERT_EQ(entry.Ranges.size(), 3u);
    EXPECT_EQ(entry.Ranges[0].First, 1);
    EXPECT_EQ(entry.Ranges[0].Last, 2);
    EXPECT_EQ(entry.Ranges[1].First, 5);
    EXPECT_EQ(entry.Ranges[1].Last, 5);
    EXPECT_EQ(entry.Ranges[2].First, 7);
    EXPECT_EQ(entry.Ranges[2].Last, 9);
    EXPECT_TRUE(entry.BadTokens.empty());
}

TEST(PartitionEntry, DotsWinOverDashAndBadTokensAreKept) {
    auto entry = ParsePartitionEntry("My Sector=-1..3,x,4-,..,2-3-4,6");
    EXPECT_EQ(entry.Name, "My Sector");
    ASSERT_EQ(entry.Ranges.size(), 2u);
    EXPECT_EQ(entry.Ranges[0].First, -1);
    EXPECT_EQ(entry.Ranges[0].Last, 3);
    EXPECT_EQ(entry.Ranges[1].First, 6);
    EXPECT_EQ(entry.BadTokens, (std::vector<std::string>{"x", "4-", "..", "2-3-4"}));
    EXPECT_TRUE(ParsePartitionEntry("Empty=").Ranges.empty());
    EXPECT_EQ(ParsePartitionEntry("NoEquals").Name, "NoEquals");
}

TEST(ParameterLine, NamesStartingWithDOrTBecomeCommands) {
    EXPECT_EQ(ParseParameterLine("DM10=5")->Command, "WR DM10 5");
    EXPECT_EQ(ParseParameterLine("T001 100")->Command, "WS T001 100");
    EXPECT_EQ(ParseParameterLine("DM10 = 5")->Command, "WR DM10 5");
    EXPECT_TRUE(ParseParameterLine("DM25=12")->GivesDM25);
    EXPECT_TRUE(ParseParameterLine("Dm250=1")->GivesDM25);
    EXPECT_FALSE(ParseParameterLine("DM2=1")->GivesDM25);
    EXPECT_EQ(ParseParameterLine("D1=a b")->Command, "WR D1 a b");
}

TEST(ParameterLine, OtherLinesAddNothing) {
    for (const char* line :
         {"dm11=3", "XYZ=1", "DM10", "DM10=", "=5", " 5", "", "t1 2", "; DM10=5"}) {
        EXPECT_FALSE(ParseParameterLine(line)) << line;
    }
}

}  // namespace
}  // namespace krb::server
