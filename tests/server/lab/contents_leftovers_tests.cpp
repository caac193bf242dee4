#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "fake_library.h"
#include "lab/ContentsLeftovers.h"
#include "lab/Lab.h"
#include "lab/Unit.h"

namespace krb::server::testing {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

class ContentsLeftoversTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto& system = lab.AddSystem(std::make_unique<TKRBSystem>("Sys", "1"));
        system.Units.push_back(std::make_unique<TKRBId>("Base/1", 4, "Sys", "", dll));
        system.Units.back()->ContentsFile = folder.File("contents.csv", "1,1,1,,,,,,,\r\n");
    }
    Names FilesNow() const {
        Names names;
        for (const auto& entry : fs::directory_iterator(folder.path()))
            names.insert(entry.path().filename().string());
        return names;
    }
    void Tidy() {
        TidyContentsFolders(lab, [&](const std::string& event, const std::string& details) {
            reported.push_back(event + ": " + details);
        });
    }

    TempFolder folder;
    TKRBDLL dll{FakeExports()};
    TKRBLab lab;
    std::vector<std::string> reported;
};

TEST(StaleTemporaryName, OnlyTheRewriteNamesOfEndedProcesses) {
    const std::string running = std::to_string(::getpid());
    struct Case {
        std::string name;
        bool stale;
    };
    const Case cases[] = {
        {".Unit1Contents.csv.tmp999999999.0", true},  // no such process
        {".Unit1Contents.csv.tmp999999999.17", true},
        {".Unit1Contents.csv.tmp" + running + ".3", false},  // a rewrite of a live server
        {"Unit1Contents.csv.tmp999999999.0", false},
        {".Unit1Contents.csv.tmp999999999", false},
        {".Unit1Contents.csv.tmpx.1", false},
        {".tmp999999999.1", false},
        {"Unit1Contents.csv", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsStaleTemporaryName(c.name), c.stale) << c.name;
}

TEST_F(ContentsLeftoversTest, StaleTemporariesGoAndUnmergedInventoriesAreKeptUnderTheUnitsName) {
    folder.File(".contents.csv.tmp999999999.4", "");
    folder.File(".contents.csv.tmp999999999.5", "1,1,1,,,,");
    const std::string live = ".contents.csv.tmp" + std::to_string(::getpid()) + ".1";
    folder.File(live, "");
    folder.File("07123015123_4_1", "<null>,,,1,1,S,U,1,1,0\r\n");
    folder.File("07123015999_9_2", "");
    folder.File("notes.txt", "kept");
    Tidy();
    EXPECT_EQ(FilesNow(),
              (Names{"contents.csv", live, "notes.txt", "Base_1.07123015123.inventory-unmerged",
                     "COM9.07123015999.inventory-unmerged"}));
    EXPECT_EQ(folder.Read("Base_1.07123015123.inventory-unmerged"), "<null>,,,1,1,S,U,1,1,0\r\n");
    EXPECT_EQ(reported.size(), 4u) << "two removals and two kept inventories";
    EXPECT_EQ(reported[2].rfind("Inventory not merged: ", 0), 0u) << reported[2];
}

TEST_F(ContentsLeftoversTest, InventoriesOfTheSameStampAreAllKept) {
    folder.File("Base_1.07123015123.inventory-unmerged", "kept at an earlier start\r\n");
    folder.File("07123015123_4_1", "first\r\n");
    folder.File("07123015123_4_2", "second\r\n");
    Tidy();
    Names contents;
    for (const auto& name : FilesNow()) contents.insert(name + ": " + folder.Read(name));
    EXPECT_EQ(contents,
              (Names{"contents.csv: 1,1,1,,,,,,,\r\n",
                     "Base_1.07123015123.inventory-unmerged: kept at an earlier start\r\n",
                     "Base_1.07123015123-2.inventory-unmerged: first\r\n",
                     "Base_1.07123015123-3.inventory-unmerged: second\r\n"}));
    EXPECT_EQ(reported.size(), 2u);
}

TEST_F(ContentsLeftoversTest, OnlyTheNewestUnmergedInventoriesStay) {
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 8; ++i) {
        const std::string name =
            "U" + std::to_string(i) + ".000000000" + std::to_string(i) + "0.inventory-unmerged";
        fs::last_write_time(folder.File(name, ""), now - std::chrono::minutes(10 - i));
    }
    Tidy();
    Names expected{"contents.csv"};
    for (int i = 3; i < 8; ++i)
        expected.insert("U" + std::to_string(i) + ".000000000" + std::to_string(i) +
                        "0.inventory-unmerged");
    EXPECT_EQ(FilesNow(), expected);
    EXPECT_EQ(reported.size(), 3u);
    Tidy();
    EXPECT_EQ(FilesNow(), expected) << "a second start changes nothing";
}

}  // namespace
}  // namespace krb::server::testing
