// What the update commands tell the audit trail: each record they change, with the command
// that changed it.
#include <gtest/gtest.h>

#include "recording_sink.h"
#include "update_lab.h"
#include "updates/PlateUpdate.h"
#include "updates/SlotUpdate.h"

namespace krb::server::testing {
namespace {

using history::RecordState;

TEST(UpdateHistory, APlateUpdateReportsTheRecordItChangedWithItsCommand) {
    const struct {
        ContentsField field;
        std::string text;
        bool changes;
        RecordState before, after;
    } cases[] = {
        {kBarcodeField,
         "UpdatePlateBCR(U1,2,P0003)\r",
         true,
         {false, "", "Location 2"},
         {false, "P0003", "Location 2"}},
        {kPresentField,
         "UpdatePlatePP(U1,5,0)\r",
         true,
         {true, "BC5", "Assay 4"},
         {false, "BC5", "Assay 4"}},
        {kUserIdField,
         "UpdatePlateName(U1,1,Assay 9)\r",
         true,
         {true, "P1", "Plate 1"},
         {true, "P1", "Assay 9"}},
        {kDateCheckField, "UpdatePlateCheckDate(U1,2,0)\r", false, {}, {}},
        {kBarcodeField, "UpdatePlateBCR(U1,2,)\r", false, {}, {}},  // already empty
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UpdateLab lab;
        RecordingSink sink;
        std::uint64_t id = 0;
        {
            const auto origin =
                history::NewOrigin(history::Interface::Text, "10.0.0.7:5100", "U1", "x", "");
            id = origin.Id;
            history::CommandScope scope(origin);
            EXPECT_EQ(TKRBModifyPlate(lab.Manager()).Update(c.field, c.text), 1);
        }
        const auto changes = sink.Changes();
        if (!c.changes) {
            EXPECT_TRUE(changes.empty());
            continue;
        }
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].UnitId, "U1");
        EXPECT_EQ(changes[0].Before, c.before);
        EXPECT_EQ(changes[0].After, c.after);
        EXPECT_EQ(changes[0].Cause, history::ChangeCause::Update);
        ASSERT_TRUE(changes[0].Origin);
        EXPECT_EQ(changes[0].Origin->Id, id);
        EXPECT_EQ(changes[0].Origin->Client, "10.0.0.7:5100");
    }
}

// A resize renumbers the locations after the cassette; no plate moves, so no change of a
// plate may be reported, only the default names that follow the numbers.
TEST(UpdateHistory, AResizeReportsNoPlateLeavingItsPlace) {
    UpdateLab lab;
    RecordingSink sink;
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,4)\r"), 1);
    const auto changes = sink.Changes();
    EXPECT_FALSE(changes.empty());
    for (const auto& change : changes) {
        EXPECT_EQ(change.Before.Present, change.After.Present) << change.SlotNo;
        EXPECT_EQ(change.Before.Barcode, change.After.Barcode) << change.SlotNo;
        EXPECT_NE(change.Before.Name, change.After.Name) << change.SlotNo;
    }
}

}  // namespace
}  // namespace krb::server::testing
