#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "fake_library.h"
#include "lab/ContentsFile.h"
#include "lab/Unit.h"
#include "recording_sink.h"
#include "text/DateTimeText.h"

namespace krb::server::testing {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class ContentsUpkeepTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        unit.ContentsFile = (folder.path() / "contents.txt").string();
        unit.AddCassette(1, 3, 10, 0);
        unit.AddCassette(2, 2, 10, 0);
        unit.AddCassette(3, 2, 10, 0);
        auto& top = unit.AddSector(std::make_unique<TKRBSector>("Top", &unit));
        top.AddCassette(unit.FindCassette(1));
        top.AddCassette(unit.FindCassette(2));
    }
    Strings Contents() { return LoadTextLines(unit.ContentsFile).value_or(Strings{}); }
    std::string Inventory(const std::string& content) { return folder.File("inv", content); }

    TempFolder folder;
    TKRBDLL dll{FakeExports()};
    TKRBId unit{"U1", 4, "Sys", "", dll};
};

TEST_F(ContentsUpkeepTest, ClearHistoryRebuildsEveryLocation) {
    folder.File("contents.txt", "old\r\n");
    EXPECT_EQ(unit.ClearHistory(), 1);
    EXPECT_EQ(folder.Read("contents.txt"),
              "1,1,1,,,Location 1,Top,,,\r\n"
              "2,1,2,,,Location 2,Top,,,\r\n"
              "3,1,3,,,Location 3,Top,,,\r\n"
              "4,2,1,,,Location 4,Top,,,\r\n"
              "5,2,2,,,Location 5,Top,,,\r\n"
              "6,3,1,,,Location 6,,,,\r\n"
              "7,3,2,,,Location 7,,,,\r\n");
    EXPECT_FALSE(IsHeld(unit, TKRBId::ContentsLock));
}

TEST_F(ContentsUpkeepTest, ClearHistoryFailsWithoutAWritableFile) {
    unit.ContentsFile.clear();
    EXPECT_EQ(unit.ClearHistory(), -1);
    unit.ContentsFile = (folder.path() / "no/such/folder/c.txt").string();
    EXPECT_EQ(unit.ClearHistory(), -1);
}

TEST_F(ContentsUpkeepTest, RefreshFillsNamesAndSectorsOnly) {
    const std::string content =
        "1,1,1,1,,,Old,,,\r\n"
        "2,3,1,0,,,Old,,,\r\n"
        "3,x,1,0,,,,,,\r\n"
        "4,2,1,1,,Assay 4,Top,,,\r\n";
    folder.File("contents.txt", content);
    unit.RefreshContents();
    EXPECT_EQ(folder.Read("contents.txt"),
              "1,1,1,1,,Plate 1,Top,,,\r\n"
              "2,3,1,0,,Location 2,Old,,,\r\n"
              "3,x,1,0,,,,,,\r\n"
              "4,2,1,1,,Assay 4,Top,,,\r\n");
}

TEST_F(ContentsUpkeepTest, RefreshLeavesAnUnchangedFileAlone) {
    const std::string content = "1,1,1,1,,Plate 1,Top,,,\n";  // LF: not rewritten as CR LF
    folder.File("contents.txt", content);
    unit.RefreshContents();
    EXPECT_EQ(folder.Read("contents.txt"), content);
}

TEST_F(ContentsUpkeepTest, MergesLongInventoryLines) {
    unit.ClearHistory();
    Fake().Reset();
    auto file = Inventory(
        "<null>,,Top,1,1,Sys,U1,1,2,0\r\n"
        "BC-7,,Top,1,2,Sys,U1,2,1,0\r\n"
        "<null>,,,0,3,Sys,U1,3,2,0\r\n"
        "A,B,,1,4,Sys,U1,1,3,0,extra\r\n");
    const double before = CurrentDateTime();
    EXPECT_EQ(unit.MergeInventory(file, true), "1");
    EXPECT_FALSE(fs::exists(file));
    auto lines = Contents();
    ASSERT_EQ(lines.size(), 7u);
    auto slot2 = SplitContentsLine(lines[1]);
    EXPECT_EQ(slot2[kPresentField], "1");
    EXPECT_EQ(slot2[kBarcodeField], "");
    EXPECT_EQ(slot2[kUserIdField], "Plate 2");
    EXPECT_EQ(slot2[kSectorField], "Top");
    EXPECT_GE(ParseDateTime(slot2[kDateCheckField]), before - 1.0 / 86400);
    EXPECT_EQ(SplitContentsLine(lines[3])[kBarcodeField], "BC-7");
    EXPECT_EQ(SplitContentsLine(lines[6])[kPresentField], "0");
    EXPECT_EQ(lines[2], "3,1,3,,,Location 3,Top,,,");  // the 11-field line is not readable
    EXPECT_EQ(lines[0], "1,1,1,,,Location 1,Top,,,");
}

TEST_F(ContentsUpkeepTest, MergesShortInventoryLines) {
    unit.ClearHistory();
    auto file = Inventory("2,2,0,1,BC9\r\n3,1,0,0,<null>\r\nbroken line\r\n");
    EXPECT_EQ(unit.MergeInventory(file, false), "1");
    auto slot5 = SplitContentsLine(Contents()[4]);
    EXPECT_EQ(slot5[kPresentField], "1");
    EXPECT_EQ(slot5[kBarcodeField], "");  // barcode flag off
    EXPECT_EQ(slot5[kUserIdField], "Plate 5");
    EXPECT_EQ(SplitContentsLine(Contents()[5])[kPresentField], "0");
}

// Only the records whose plate, barcode or name changed reach the trail, with their cause.
TEST_F(ContentsUpkeepTest, MergesAndClearsReportTheRecordsTheyChange) {
    unit.ClearHistory();
    RecordingSink sink;
    EXPECT_EQ(unit.MergeInventory(Inventory("2,2,0,1,BC9\r\n3,1,0,0,<null>\r\n"), true), "1");
    EXPECT_EQ(unit.ClearHistory(), 1);
    const auto changes = sink.Changes();
    ASSERT_EQ(changes.size(), 2u);
    const struct {
        std::int32_t slot, cassette, level;
        history::RecordState before, after;
        history::ChangeCause cause;
    } expected[] = {
        {5,
         2,
         2,
         {false, "", "Location 5"},
         {true, "BC9", "Plate 5"},
         history::ChangeCause::Inventory},
        {5,
         2,
         2,
         {true, "BC9", "Plate 5"},
         {false, "", "Location 5"},
         history::ChangeCause::ClearHistory},
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].UnitId, "U1");
        EXPECT_EQ(changes[i].SlotNo, expected[i].slot);
        EXPECT_EQ(changes[i].Cassette, expected[i].cassette);
        EXPECT_EQ(changes[i].Level, expected[i].level);
        EXPECT_EQ(changes[i].Before, expected[i].before);
        EXPECT_EQ(changes[i].After, expected[i].after);
        EXPECT_EQ(changes[i].Cause, expected[i].cause);
        EXPECT_FALSE(changes[i].Origin);  // no command runs on this thread
    }
}

TEST_F(ContentsUpkeepTest, AbsentPlateDropsAUserName) {
    folder.File("contents.txt",
                "1,3,2,1,X,Assay 12,,a,b,c\r\n"
                "2,3,1,1,Y,Assay 13,,,,\r\n");
    EXPECT_EQ(unit.MergeInventory(Inventory("<null>,,,0,1,S,U,3,2,0\r\n"), true), "1");
    auto fields = SplitContentsLine(Contents()[0]);
    EXPECT_EQ(fields[kUserIdField], "Location 1");
    EXPECT_EQ(fields[kBarcodeField], "");
    EXPECT_EQ(fields[kSectorField], "");  // cassette 3 lies in no named sector
    EXPECT_EQ(fields[kDateLoadField], "b");
    EXPECT_EQ(fields[kDateUnloadField], "c");
    EXPECT_EQ(Contents()[1], "2,3,1,1,Y,Assay 13,,,,");
}

// What a scan could not read leaves the record as it was; what it read is merged; and the
// merge answers the communication failure rather than plain success.
TEST_F(ContentsUpkeepTest, UnreadPositionsAndBarcodesKeepTheirRecords) {
    const std::string before =
        "1,1,1,1,OLD-1,Assay 1,Top,a,b,c\r\n"
        "2,1,2,1,OLD-2,Assay 2,Top,a,b,c\r\n"
        "3,1,3,0,,Location 3,Top,a,b,c\r\n";
    struct Case {
        const char* name;
        std::string inventory;
        std::string reply;
        Strings after;
    };
    const std::vector<Case> cases{
        {"short lines",
         "#unreadable,1,1\r\n1,2,0,1,<unread>\r\n1,3,0,1,NEW-3\r\n",
         "E_Communication Error",
         {"1,1,1,1,OLD-1,Assay 1,Top,a,b,c", "2,1,2,1,OLD-2,Assay 2,Top,",
          "3,1,3,1,NEW-3,Plate 3,Top,"}},
        {"long lines",
         "#unreadable,1,1\r\n<unread>,,Top,1,2,S,U,1,2,0\r\nNEW-3,,Top,1,3,S,U,1,3,0\r\n",
         "E_Communication Error",
         {"1,1,1,1,OLD-1,Assay 1,Top,a,b,c", "2,1,2,1,OLD-2,Assay 2,Top,",
          "3,1,3,1,NEW-3,Plate 3,Top,"}},
        {"all read",
         "1,1,0,0,<null>\r\n1,2,0,1,NEW-2\r\n1,3,0,0,<null>\r\n",
         "1",
         {"1,1,1,0,,Location 1,Top,", "2,1,2,1,NEW-2,Assay 2,Top,", "3,1,3,0,,Location 3,Top,"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.File("contents.txt", before);
        const std::string file = Inventory(c.inventory);
        EXPECT_EQ(unit.MergeInventory(file, true), c.reply);
        EXPECT_FALSE(fs::exists(file));
        Strings lines = Contents();
        ASSERT_EQ(lines.size(), c.after.size());
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(lines[i].starts_with(c.after[i])) << lines[i];
    }
}

TEST_F(ContentsUpkeepTest, MissingInventoryFileChangesNothing) {
    folder.File("contents.txt", "1,1,1,0,,,,,,\r\n");
    EXPECT_EQ(unit.MergeInventory((folder.path() / "none").string(), true),
              "E_Inventory File doesn't exist");
    EXPECT_EQ(folder.Read("contents.txt"), "1,1,1,0,,,,,,\r\n");
}

TEST_F(ContentsUpkeepTest, UnreadableContentsKeepsTheInventoryAndReleasesLocks) {
    auto file = Inventory("<null>,,,1,1,S,U,1,1,0\r\n");
    EXPECT_THROW(unit.MergeInventory(file, true), TContentsFileError);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(IsHeld(unit, TKRBId::ContentsLock));
}

class InventoryExportTest : public ContentsUpkeepTest {
  protected:
    void SetUp() override {
        ContentsUpkeepTest::SetUp();
        unit.ClearHistory();
        // The scan writes its file when it starts, as the library does when it ends.
        Fake().OnCall([this](const RecordedCall& call) {
            if (call.name == "KRB2Inventory" || call.name == "KRB2PartitionInventory") {
                scanFile = call.args[1];
                folder.File(fs::path(scanFile).filename().string(), "<null>,,,1,1,S,U,2,2,0\r\n");
            }
        });
    }
    std::string scanFile;
};

TEST(InventoryFileName, UnitsSharingAFolderGetTheirOwnFileAtTheSameMoment) {
    TKRBDLL dll{FakeExports()};
    TKRBId first{"U1", 1, "Sys", "", dll};
    TKRBId second{"U2", 2, "Sys", "", dll};
    first.ContentsFile = "/lab/contents/Unit1.csv";
    second.ContentsFile = "/lab/contents/Unit2.csv";
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        for (const TKRBId* unit : {&first, &second}) names.insert(unit->NewInventoryFileName());
    }
    EXPECT_EQ(names.size(), 100u);
    EXPECT_TRUE(names.begin()->starts_with("/lab/contents/")) << *names.begin();
}

TEST_F(InventoryExportTest, WaitsForTheScanThenMerges) {
    Fake().Reply("KRB2Inventory", {"1"});
    Fake().Reply("KRBIsOperationRunning", {"1", "", "0"});
    EXPECT_EQ(unit.InventoryPlateExport(true, false), "1\r\n");
    EXPECT_EQ(fs::path(scanFile).parent_path(), folder.path());
    const std::string name = fs::path(scanFile).filename().string();
    EXPECT_EQ(name.find_first_not_of("0123456789"), 11u) << name;  // ddhhnnsszzz, then unique
    EXPECT_TRUE(name.substr(11).starts_with("_4_")) << name;
    EXPECT_FALSE(fs::exists(scanFile));
    EXPECT_EQ(SplitContentsLine(Contents()[4])[kPresentField], "1");
    EXPECT_FALSE(IsHeld(unit, TKRBId::OperationLock));
}

TEST_F(InventoryExportTest, ReportsTheStartResultOrTheUnitError) {
    Fake().Reply("KRB2PartitionInventory", {"4"});
    EXPECT_EQ(unit.PartitionInventoryPlateExport("Top", true, true), "-4\r\n");
    EXPECT_EQ(Fake().ArgsOf("KRB2PartitionInventory")[2], "Top");
    Fake().Reply("KRB2PartitionInventory", {"1"});
    Fake().Reply("KRBIsOperationRunning", {"1"});
    Fake().Reply("KRBReadErrorFlag", {"0", "1"});
    Fake().Reply("KRBReadErrorCode", {"42"});
    EXPECT_EQ(unit.PartitionInventoryPlateExport("Top", true, true), "E_#42\r\n");
    EXPECT_EQ(Fake().Count("KRBIsOperationRunning"), 6);
}

TEST_F(InventoryExportTest, GivesUpAfterTenFailedCalls) {
    Fake().Reply("KRB2Inventory", {"1"});
    Fake().Reply("KRBIsOperationRunning", {"garbage"});
    EXPECT_EQ(unit.InventoryPlateExport(false, false), "E_Communication Error\r\n");
    EXPECT_EQ(Fake().Count("KRBIsOperationRunning"), 10);
}

TEST_F(InventoryExportTest, FailedMergeReleasesTheOperationLock) {
    Fake().Reply("KRB2Inventory", {"1"});
    Fake().Reply("KRBIsOperationRunning", {"0"});
    fs::remove(unit.ContentsFile);
    EXPECT_THROW(unit.InventoryPlateExport(true, true), TContentsFileError);
    EXPECT_FALSE(IsHeld(unit, TKRBId::OperationLock));
    EXPECT_TRUE(fs::exists(scanFile));
}

}  // namespace
}  // namespace krb::server::testing
