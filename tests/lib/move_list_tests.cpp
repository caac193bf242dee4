// Move-list files and the tube coordinate words.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TubeMoveList.h"
#include "support/temp_dir.h"

namespace krb::test {
namespace {

TEST(MoveList, LinesWithTheSameRacksFormOneCommand) {
    auto list = ParseMoveList(
        "Source,,,,,Target\r\n"
        "3,2,A1,1,1,4,1,B1,2,3,7\r\n"
        "3,2,A2,1,2,4,1,B2,2,4,8,first tube\r\n"
        "3,2,A3,5,6,4,2,B3,1,1,9\r\n");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    const auto& first = (*list)[0];
    EXPECT_EQ(first.Source.Slot, 3);
    EXPECT_EQ(first.Source.Level, 2);
    EXPECT_EQ(first.Target.Slot, 4);
    EXPECT_EQ(first.Target.Level, 1);
    ASSERT_EQ(first.Source.Tubes.size(), 2u);
    ASSERT_EQ(first.Target.Tubes.size(), 2u);
    EXPECT_EQ(first.Source.Tubes[1].First, 1);
    EXPECT_EQ(first.Source.Tubes[1].Second, 2);
    EXPECT_EQ(first.Target.Tubes[1].First, 2);
    EXPECT_EQ(first.Target.Tubes[1].Second, 4);
    EXPECT_EQ(first.Target.Tubes[1].Number, 8);
    EXPECT_EQ(first.Source.Tubes[1].Text, "first tube");
    EXPECT_EQ(first.Source.Tubes[0].Text, "") << "eleven fields: no tube text";
    EXPECT_EQ((*list)[1].Target.Level, 2) << "a changed target rack starts a new command";
}

TEST(MoveList, TheTwelfthFieldTakesTheRestOfTheLine) {
    auto list = ParseMoveList("1,1,x,1,1,1,2,y,1,1,5,text, with, commas\n");
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[0].Source.Tubes[0].Text, "text, with, commas");
    EXPECT_EQ((*list)[0].Target.Tubes[0].Text, "text, with, commas");
}

TEST(MoveList, ReturningToEarlierRacksStartsAnotherCommand) {
    auto list = ParseMoveList(
        "1,1,,1,1,2,1,,1,1,1\n"
        "2,1,,1,1,1,1,,1,2,2\n"
        "1,1,,1,2,2,1,,1,2,3\n");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), 3u);
}

TEST(MoveList, LinesNotStartingWithADigitFromOneToNineAreSkipped) {
    auto list = ParseMoveList("# comment\n\nHeader,1,2\n0,1,,1,1,1,1,,1,1,1\n ,1\nx\n");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

TEST(MoveList, AnyMalformedMoveLineFailsTheWholeFile) {
    const std::string good = "1,1,,1,1,1,2,,1,1,1\n";
    for (const char* bad : {
             "1,1,,A,1,1,2,,1,1,1",    // letter in field 4
             "1,1,,1,1,1,2,,1,1",      // no field 11
             "1,1,,1,1,1,2,,1,1,",     // empty field 11
             "1,1,,1,1,1,2,,1,1,x",    // field 11 not an integer
             "1,1,,1,1,1",             // too few fields
             "1,1,,0,1,1,2,,1,1,1",    // coordinate 0
             "1,1,,1,100,1,2,,1,1,1",  // beyond what a coordinate word carries
             "1,-1,,1,1,1,2,,1,1,1",   // a rack outside the unit
             "1,1,,1,1,1,2,,1,99999999999,1",
         }) {
        EXPECT_FALSE(ParseMoveList(good + bad + "\n" + good)) << bad;
    }
}

TEST(MoveList, BlanksAroundNumbersAreAccepted) {
    auto list = ParseMoveList("1, 2 ,,3 ,4, 5,6,,7,8, 9\r\n");
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[0].Target.Tubes[0].Number, 9);
    EXPECT_EQ((*list)[0].Source.Level, 2);
}

class MoveListFile : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const std::string& content) {
        return scratch.write(name, content);
    }
    test_support::TempDir scratch{"movelist"};
    std::filesystem::path folder = scratch.path();
};

TEST_F(MoveListFile, MissingUnreadableAndMalformedFilesLeaveTheListAlone) {
    TMoveList list(1);
    EXPECT_EQ(ReadMoveListFile((folder / "none.csv").string(), list), "-5");
    EXPECT_EQ(ReadMoveListFile("", list), "-5");
    EXPECT_EQ(ReadMoveListFile(folder.string(), list), "-6") << "a folder cannot be read";
    EXPECT_EQ(ReadMoveListFile(write("bad.csv", "1,1,,1,1,1,2,,1,1,1\n1,1\n"), list), "-6");
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(ReadMoveListFile(write("good.csv", "1,1,,1,1,1,2,,1,1,1"), list), "");
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Target.Level, 2);
    EXPECT_EQ(ReadMoveListFile(write("empty.csv", ""), list), "");
    EXPECT_TRUE(list.empty());
}

TEST(TubeCoordinateWords, DigitsAreReadAsHexadecimalDigits) {
    EXPECT_EQ(CoordinateWord(12), 18);
    EXPECT_EQ(CoordinateWord(9), 9);
    EXPECT_EQ(CoordinateWord(10), 16);
    EXPECT_EQ(PackedWord(12, 3), 0x1203);
    EXPECT_EQ(PackedWord(4, 12), 1042);
    EXPECT_EQ(PackedWord(5, 3), 1283);
    EXPECT_EQ(PackedWord(3), 768);
    EXPECT_EQ(PackedWord(9), 2304);
    EXPECT_EQ(PackedWord(10), 4096);
    EXPECT_FALSE(PackedWord(100, 1)) << "five digits do not fit a word";
    EXPECT_FALSE(PackedWord(-1));
    EXPECT_FALSE(CoordinateWord(-3));
    EXPECT_FALSE(HexDigitsWord("1A"));
}

}  // namespace
}  // namespace krb::test
