#include <gtest/gtest.h>

#include "fake_library.h"
#include "lab/ContentsFile.h"
#include "lab/Unit.h"
#include "text/DateTimeText.h"

namespace krb::server::testing {
namespace {

TEST(ContentsLine, SplitsIntoTenFieldsWithTheRestInTheLast) {
    auto fields = SplitContentsLine("1,2,3,1,BC,Plate 1,S1,a,b,c,d,e");
    EXPECT_EQ(fields[kSlotNoField], "1");
    EXPECT_EQ(fields[kSectorField], "S1");
    EXPECT_EQ(fields[kDateUnloadField], "c,d,e");
    EXPECT_EQ(JoinContentsLine(fields), "1,2,3,1,BC,Plate 1,S1,a,b,c,d,e");
}

TEST(ContentsLine, ShortAndEmptyLinesGiveEmptyFields) {
    auto fields = SplitContentsLine("4,2");
    EXPECT_EQ(fields[kCassetteField], "2");
    EXPECT_EQ(fields[kLevelField], "");
    EXPECT_EQ(fields[kDateUnloadField], "");
    EXPECT_EQ(JoinContentsLine(SplitContentsLine("")), ",,,,,,,,,");
}

TEST(ContentsLine, RecognisesDefaultNames) {
    EXPECT_TRUE(IsDefaultLocationName("Plate 7"));
    EXPECT_TRUE(IsDefaultLocationName("Location 12"));
    EXPECT_FALSE(IsDefaultLocationName("Plate"));
    EXPECT_FALSE(IsDefaultLocationName("location 1"));
    EXPECT_FALSE(IsDefaultLocationName("Assay 12"));
    EXPECT_EQ(DefaultLocationName("3", true), "Plate 3");
    EXPECT_EQ(DefaultLocationName("3", false), "Location 3");
}

TEST(ContentsFile, RoundTripKeepsEveryByte) {
    TempFolder folder;
    const std::string content =
        "1,1,1,1,BC1,Plate 1,Top,07.12.2026 15:04:05,,\r\n"
        "2,1,2,0,,Location 2,Top,,07.12.2026,12/7/2026 3:04:05 PM\r\n"
        "\r\n"
        "3,2,1,1,,My plate,,,,extra,fields\r\n";
    auto path = folder.File("contents.txt", content);
    auto lines = LoadTextLines(path);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(lines->size(), 4u);
    for (auto& line : *lines) {
        if (!line.empty()) line = JoinContentsLine(SplitContentsLine(line));
    }
    ASSERT_TRUE(SaveTextLines(path, *lines));
    EXPECT_EQ(folder.Read("contents.txt"), content);
}

TEST(ContentsFile, ReadsLfAndCrLineEndsAndWritesCrLf) {
    TempFolder folder;
    auto path = folder.File("c.txt", "a\nb\rc");
    auto lines = LoadTextLines(path);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, (std::vector<std::string>{"a", "b", "c"}));
    ASSERT_TRUE(SaveTextLines(path, *lines));
    EXPECT_EQ(folder.Read("c.txt"), "a\r\nb\r\nc\r\n");
    EXPECT_FALSE(LoadTextLines((folder.path() / "missing").string()).has_value());
}

class ReadPlatesTest : public ::testing::Test {
  protected:
    TempFolder folder;
    TKRBDLL dll{FakeExports()};
    TKRBId unit{"U1", 1, "Sys", "", dll};
};

TEST_F(ReadPlatesTest, MatchesTheCassetteFieldAsText) {
    unit.ContentsFile =
        folder.File("c.txt",
                    "7,2,3,1,,Plate 7,S1,,,\r\n"
                    "8,2,4,0,BC,Location 8,S1,07.12.2026 15:04:05,garbage,2026-12-07\r\n"
                    "9,3,1,1,,Plate 9,,,,\r\n");
    auto plates = ReadPlates(unit, "2");
    ASSERT_EQ(plates.size(), 2u);
    EXPECT_EQ(plates[0].SlotNo, 7);
    EXPECT_EQ(plates[0].Cassette, 2);
    EXPECT_EQ(plates[0].Level, 3);
    EXPECT_TRUE(plates[0].PP);
    EXPECT_EQ(plates[0].PlateBCR, "");
    EXPECT_EQ(plates[0].PlateUserId, "Plate 7");
    EXPECT_EQ(plates[0].SectorName, "S1");
    EXPECT_EQ(plates[0].DateCheck, 0.0);
    EXPECT_FALSE(plates[1].PP);
    EXPECT_EQ(plates[1].PlateBCR, "BC");
    EXPECT_DOUBLE_EQ(plates[1].DateCheck, ParseDateTime("07.12.2026 15:04:05"));
    EXPECT_EQ(plates[1].DateLoad, 0.0);
    EXPECT_DOUBLE_EQ(plates[1].DateUnload, ParseDateTime("07.12.2026"));
    EXPECT_TRUE(ReadPlates(unit, "02").empty());
}

TEST_F(ReadPlatesTest, NoContentsFileGivesNoPlates) {
    EXPECT_TRUE(ReadPlates(unit, "1").empty());
    unit.ContentsFile = (folder.path() / "missing.txt").string();
    EXPECT_TRUE(ReadPlates(unit, "1").empty());
}

TEST_F(ReadPlatesTest, NonNumericNumbersReadAsZero) {
    unit.ContentsFile = folder.File("c.txt", "x,2,y,1\r\n");
    auto plates = ReadPlates(unit, "2");
    ASSERT_EQ(plates.size(), 1u);
    EXPECT_EQ(plates[0].SlotNo, 0);
    EXPECT_EQ(plates[0].Level, 0);
}

}  // namespace
}  // namespace krb::server::testing
