#include <gtest/gtest.h>

#include <mutex>

#include "fake_library.h"
#include "history/HistoryEvents.h"
#include "lab/ContentsFile.h"
#include "lab/Unit.h"
#include "lab/UnitDirectory.h"

namespace krb::server::testing {
namespace {

using Strings = std::vector<std::string>;
using Move = std::array<std::int32_t, 11>;

class ChangeLog final : public history::HistorySink {
  public:
    void Record(history::CommandEvent) override {}
    void Record(history::RecordChange change) override {
        std::lock_guard lock(mutex);
        changes.push_back(std::move(change));
    }
    std::mutex mutex;
    std::vector<history::RecordChange> changes;
};

// Base on port 1, cascader on 2, extension on 3, each with its own contents file.
class RecordsFollowMoveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        history::InstallSink(&log);
        base.Base = true;
        cascader.Cascader = true;
        ext.Ext = true;
        for (TKRBId* unit : {&base, &cascader, &ext}) {
            directory.AddUnit(unit);
            unit->TcpBrowser = &directory;
        }
        base.ContentsFile = folder.File("base.txt", kBase);
        ext.ContentsFile = folder.File("ext.txt", kExt);
    }
    void TearDown() override { history::InstallSink(nullptr); }

    std::string Run(TKRBId& unit, const std::string& result, const Move& move) {
        Fake().Reply("KRB2ServiceMovePlate", {result});
        return unit.ServiceMovePlate2(move);
    }
    static ContentsFields Line(const std::string& text, std::size_t index) {
        return SplitContentsLine(LoadTextLines(text).value_or(Strings{}).at(index));
    }

    static constexpr const char* kBase =
        "1,5,3,1,BC-7,Assay 7,S1,2026-01-01 08:00:00,2026-01-02 08:00:00,\r\n"
        "2,7,3,0,,Location 2,S1,,,\r\n"
        "3,9,1,1,BC-9,Plate 3,S1,2026-01-03 08:00:00,,\r\n";
    static constexpr const char* kExt =
        "1,12,4,0,,Location 1,,,,\r\n"
        "2,14,2,1,OLD,Mine,,,,\r\n";

    TempFolder folder;
    TKRBDLL dll{FakeExports()};
    UnitDirectory directory;
    TKRBId base{"Base1", 1, "Sys", "", dll};
    TKRBId cascader{"Casc1", 2, "Sys", "", dll};
    TKRBId ext{"Ext1", 3, "Sys", "", dll};
    ChangeLog log;
};

// Base slot 5 level 3 (cascade slot 7, code 0) to extension slot 12 level 4 (cascade 14, code 1).
constexpr Move kCross{2, 5, 3, 7, 0, 3, 2, 12, 4, 14, 1};

TEST_F(RecordsFollowMoveTest, DeliveredPlateTakesItsRecordToTheOtherUnit) {
    ASSERT_EQ(Run(base, "1", kCross), "1");
    const ContentsFields source = Line(base.ContentsFile, 0);
    const ContentsFields target = Line(ext.ContentsFile, 0);
    EXPECT_EQ(source[kPresentField], "0");
    EXPECT_EQ(source[kBarcodeField], "");
    EXPECT_EQ(source[kUserIdField], "Location 1");
    EXPECT_EQ(source[kDateLoadField], "2026-01-02 08:00:00");
    EXPECT_FALSE(source[kDateUnloadField].empty());
    EXPECT_EQ(source[kSectorField], "S1");
    EXPECT_EQ(target[kPresentField], "1");
    EXPECT_EQ(target[kBarcodeField], "BC-7");
    EXPECT_EQ(target[kUserIdField], "Assay 7");
    EXPECT_EQ(target[kDateCheckField], "2026-01-01 08:00:00");
    EXPECT_EQ(target[kDateLoadField], source[kDateUnloadField]);
    EXPECT_EQ(folder.Read("ext.txt").substr(folder.Read("ext.txt").find("\r\n")),
              "\r\n2,14,2,1,OLD,Mine,,,,\r\n");

    ASSERT_EQ(log.changes.size(), 2u);
    EXPECT_EQ(log.changes[0].UnitId, "Ext1");  // the target is written first
    EXPECT_EQ(log.changes[0].After, (history::RecordState{true, "BC-7", "Assay 7"}));
    EXPECT_EQ(log.changes[1].UnitId, "Base1");
    EXPECT_EQ(log.changes[1].Before, (history::RecordState{true, "BC-7", "Assay 7"}));
    EXPECT_EQ(log.changes[1].After, (history::RecordState{false, "", "Location 1"}));
    for (const auto& change : log.changes) EXPECT_EQ(change.Cause, history::ChangeCause::Move);
}

TEST_F(RecordsFollowMoveTest, MoveWithinOneUnitRenamesADefaultName) {
    // Slot 9 level 1 to slot 7 level 3 of the base.
    ASSERT_EQ(Run(base, "1", {2, 9, 1, 0, 0, 1, 2, 7, 3, 0, 0}), "1");
    EXPECT_EQ(Line(base.ContentsFile, 2)[kPresentField], "0");
    EXPECT_EQ(Line(base.ContentsFile, 2)[kUserIdField], "Location 3");
    const ContentsFields target = Line(base.ContentsFile, 1);
    EXPECT_EQ(target[kPresentField], "1");
    EXPECT_EQ(target[kBarcodeField], "BC-9");
    EXPECT_EQ(target[kUserIdField], "Plate 2");
    EXPECT_EQ(target[kSectorField], "S1");
    EXPECT_EQ(log.changes.size(), 2u);
}

TEST_F(RecordsFollowMoveTest, FailedMoveChangesOnlyWhatItsStepProves) {
    struct Case {
        const char* result;
        bool sourceEmptied;
    };
    // 1 = base, 2 = cascader, 3 = extension; then the step's digit.
    for (const Case c : {Case{"13", false}, Case{"14", true}, Case{"24", true}, Case{"27", false},
                         Case{"34", true}, Case{"5", false}, Case{"94", false}}) {
        SCOPED_TRACE(c.result);
        base.ContentsFile = folder.File("base.txt", kBase);
        ext.ContentsFile = folder.File("ext.txt", kExt);
        log.changes.clear();
        Run(base, c.result, kCross);
        EXPECT_EQ(folder.Read("ext.txt"), kExt);
        EXPECT_EQ(Line(base.ContentsFile, 0)[kPresentField], c.sourceEmptied ? "0" : "1");
        EXPECT_EQ(Line(base.ContentsFile, 0)[kUserIdField], "Assay 7");
        EXPECT_EQ(folder.Read("base.txt") == kBase, !c.sourceEmptied);
        ASSERT_EQ(log.changes.size(), c.sourceEmptied ? 1u : 0u);
        if (c.sourceEmptied) {
            EXPECT_EQ(log.changes[0].Cause, history::ChangeCause::FailedMove);
        }
    }
}

TEST_F(RecordsFollowMoveTest, FilesStayAsTheyWereWhenRecordsDoNotFollow) {
    base.RecordsFollowMoves = false;
    Run(base, "1", kCross);
    Run(base, "24", kCross);
    EXPECT_EQ(folder.Read("base.txt"), kBase);
    EXPECT_EQ(folder.Read("ext.txt"), kExt);
    EXPECT_TRUE(log.changes.empty());
}

TEST_F(RecordsFollowMoveTest, UnreadableTargetKeepsThePlateAtItsSource) {
    ext.ContentsFile = (folder.path() / "missing" / "ext.txt").string();
    ASSERT_EQ(Run(base, "1", kCross), "1");
    EXPECT_EQ(folder.Read("base.txt"), kBase);
}

}  // namespace
}  // namespace krb::server::testing
