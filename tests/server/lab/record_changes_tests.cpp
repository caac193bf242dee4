#include <gtest/gtest.h>

#include "history/HistoryEvents.h"
#include "lab/RecordChanges.h"
#include "recording_sink.h"

namespace krb::server::testing {
namespace {

using Strings = std::vector<std::string>;

class RecordChangesTest : public ::testing::Test {
  protected:
    RecordingSink sink;
};

struct ChangeCase {
    const char* name;
    Strings before;
    Strings after;
    // location: before -> after, as "present|barcode|name"
    std::vector<std::pair<int, std::pair<std::string, std::string>>> expected;
};

std::string Text(const history::RecordState& state) {
    return std::string(state.Present ? "1" : "0") + "|" + state.Barcode + "|" + state.Name;
}

TEST_F(RecordChangesTest, ReportsPresenceBarcodeAndNameChangesByLocation) {
    const std::vector<ChangeCase> cases = {
        {"unchanged file", {"1,1,1,1,A,Plate 1,S,d1,d2,d3"}, {"1,1,1,1,A,Plate 1,S,d1,d2,d3"}, {}},
        {"dates and sector are not news",
         {"1,1,1,1,A,Plate 1,S,d1,d2,d3"},
         {"1,1,1,1,A,Plate 1,T,e1,e2,e3"},
         {}},
        {"plate leaves",
         {"1,1,1,1,A,Plate 1,,,,", "2,1,2,0,,Location 2,,,,"},
         {"1,1,1,0,,Location 1,,,,", "2,1,2,0,,Location 2,,,,"},
         {{1, {"1|A|Plate 1", "0||Location 1"}}}},
        {"barcode only", {"3,2,1,1,A,P,,,,"}, {"3,2,1,1,B,P,,,,"}, {{3, {"1|A|P", "1|B|P"}}}},
        {"name only", {"3,2,1,1,A,P,,,,"}, {"3,2,1,1,A,Q,,,,"}, {{3, {"1|A|P", "1|A|Q"}}}},
        {"matched by number, not by line order",
         {"1,1,1,0,,Location 1,,,,", "2,1,2,1,X,Plate 2,,,,"},
         {"2,1,2,1,X,Plate 2,,,,", "1,1,1,0,,Location 1,,,,"},
         {}},
        {"location only after, holding a plate",
         {},
         {"4,2,2,1,Z,Plate 4,,,,"},
         {{4, {"0||Plate 4", "1|Z|Plate 4"}}}},
        {"empty location only after", {}, {"4,2,2,0,,Location 4,,,,"}, {}},
        {"location only before, holding a plate",
         {"5,3,1,1,Y,Mine,,,,"},
         {},
         {{5, {"1|Y|Mine", "0||Mine"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RecordingSink caseSink;
        ReportRecordChanges("U7", c.before, c.after, history::ChangeCause::Inventory);
        const auto changes = caseSink.Changes();
        ASSERT_EQ(changes.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const auto& change = changes[i];
            EXPECT_EQ(change.UnitId, "U7");
            EXPECT_EQ(change.SlotNo, c.expected[i].first);
            EXPECT_EQ(Text(change.Before), c.expected[i].second.first);
            EXPECT_EQ(Text(change.After), c.expected[i].second.second);
            EXPECT_EQ(change.Cause, history::ChangeCause::Inventory);
            EXPECT_FALSE(change.Origin.has_value());
        }
    }
}

TEST_F(RecordChangesTest, NamesThePositionAndTheCommandRunningOnTheThread) {
    history::CommandScope scope(history::NewOrigin(history::Interface::Text, "127.0.0.1:5000", "U1",
                                                   "KRB2ServiceMovePlate", "U1,2,3,4"));
    ReportRecordChanges("U1", {"12,3,4,0,,Location 12,,,,"}, {"12,3,4,1,,Plate 12,,,,"},
                        history::ChangeCause::Move);
    const auto changes = sink.Changes();
    ASSERT_EQ(changes.size(), 1u);
    const auto& change = changes[0];
    EXPECT_EQ(change.Cassette, 3);
    EXPECT_EQ(change.Level, 4);
    EXPECT_EQ(change.Cause, history::ChangeCause::Move);
    ASSERT_TRUE(change.Origin.has_value());
    EXPECT_EQ(change.Origin->Command, "KRB2ServiceMovePlate");
    EXPECT_EQ(change.Origin->Client, "127.0.0.1:5000");
}

}  // namespace
}  // namespace krb::server::testing
