// A plate inventory of the demo lab's tube-lab plate store (COM4, reader on COM14) against
// the simulator's own record of the unit's plates.

#include <sstream>

#include "demo_lab_fixture.h"
#include "support/temp_dir.h"

namespace krb::integration {
namespace {

constexpr int kStore = 4;

class InventoryOnSim : public DemoLab {
  protected:
    void SetUp() override {
        DemoLab::SetUp();
        activate(kStore);
        KRBDeleteSectors("4");
        KRB2DefineSector("4", "1", "2", "Racks");
        KRB2DefineSector("4", "3", "10", "Plates");
    }

    int levelsOf(int slot) {
        for (const auto& cassette : lab_->unit(kStore).cassettes)
            if (cassette.slot == slot && cassette.levels != 0) return cassette.levels;
        return std::stoi(KRBReadMaxLevel("4"));
    }

    // Every position of the unit in scan order, as the world holds it.
    std::string expectedInventory() {
        const sim::UnitConfig& unit = lab_->unit(kStore);
        std::string content;
        int line = 0;
        const int slots = std::stoi(KRBReadMaxSlot("4"));
        for (int slot = 1; slot <= slots; ++slot) {
            for (int level = 1; level <= levelsOf(slot); ++level) {
                auto plate = world().plateAt(Place::slot(kStore, slot, level));
                const bool labelled = plate && plate->labelled && !plate->barcode.empty();
                content += (labelled ? plate->barcode : "<null>") + ",," +
                           (slot <= 2 ? "Racks" : "Plates") + "," + (plate ? "1" : "0") + "," +
                           std::to_string(++line) + "," + unit.systemName + "," + unit.unitId +
                           "," + std::to_string(slot) + "," + std::to_string(level) + ",0\r\n";
            }
        }
        return content;
    }

    std::size_t platesInSlots() {
        std::size_t count = 0;
        for (const auto& placed : world().platesOf(kStore))
            if (placed.place.kind == sim::PlaceKind::Slot) ++count;
        return count;
    }

    static std::size_t presentLines(const std::string& content) {
        std::size_t count = 0;
        std::istringstream lines(content);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string field;
            for (int i = 0; i < 4; ++i) std::getline(fields, field, ',');
            if (field == "1") ++count;
        }
        return count;
    }

    std::string fileContent() { return test_support::readWholeFile(file_); }

    test_support::TempDir folder_{"inventory-on-sim"};
    std::string file_ = folder_.file("inventory.inv");
};

TEST_F(InventoryOnSim, FileMatchesThePlatesTheUnitHolds) {
    ASSERT_STREQ(KRBBCRPath("4", "14"), "1");
    control("PUT COM4 9 6 -");        // top level of a short cassette, no label
    control("PUT COM4 10 1 P4010");   // last slot
    control("PUT COM4 8 12 P4008");   // top level of a tall cassette
    control("PUT COM4 STATION 1 X");  // not in a slot: no line shows it
    ASSERT_STREQ(KRB2Inventory("4", file_.c_str(), "1", "1"), "1");
    ASSERT_TRUE(idle(kStore));

    const std::string expected = expectedInventory();
    EXPECT_EQ(fileContent(), expected);
    EXPECT_EQ(presentLines(expected), platesInSlots()) << "every plate lies in a scanned position";
    EXPECT_EQ(platesInSlots(), 6u);
    EXPECT_FALSE(lab_->model(kStore).status().scanMode);
}

// The controller never hears slot 4's position write: the handler stays at slot 3, whose
// plates must not be recorded as slot 4's. Slot 4 is unreadable; every other line is the truth.
TEST_F(InventoryOnSim, PositionsTheHandlerDidNotReachAreUnreadableNotAnotherSlotsPlates) {
    for (int level = 1; level <= levelsOf(3); ++level)
        if (empty(Place::slot(kStore, 3, level)))
            control("PUT COM4 3 " + std::to_string(level) + " S3L" + std::to_string(level));
    lab_->controller(kStore).silenceCommand("WR DM0 4");
    ASSERT_STREQ(KRB2Inventory("4", file_.c_str(), "1", "0"), "1");
    ASSERT_TRUE(idle(kStore));
    lab_->controller(kStore).clearFixedReplies();

    std::string expected;
    std::istringstream truth(expectedInventory());
    for (std::string line; std::getline(truth, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line.substr(0, line.size() - 1));  // without the CR
        for (std::string field; std::getline(parts, field, ',');) fields.push_back(field);
        fields[0] = "<null>";  // barcodes off
        bool slotFour = fields[7] == "4";
        std::string joined = "#unreadable,4," + fields[8];
        if (!slotFour) {
            joined = fields[0];
            for (std::size_t i = 1; i < fields.size(); ++i) joined += "," + fields[i];
        }
        expected += joined + "\r\n";
    }
    EXPECT_EQ(fileContent(), expected);
    EXPECT_FALSE(lab_->model(kStore).status().scanMode);
}

// The reader is triggered once: a reader that answered is not triggered again by the
// controller, and a silent one is.
TEST_F(InventoryOnSim, SlotInventoryTriggersTheReaderOnce) {
    ASSERT_STREQ(KRBBCRPath("4", "14"), "1");
    struct Case {
        const char* fault;
        const char* plateLine;
        std::size_t controllerTriggers;
    };
    for (const Case& c : {Case{"CLEAR COM4", "3,3,0,1,P4001", 0},
                          Case{"FAULT COM4 READER SILENT", "3,3,0,1,<null>", 1}}) {
        SCOPED_TRACE(c.fault);
        control(c.fault);
        lab_->controller(kStore).clearTranscript();
        ASSERT_STREQ(KRBInventorySlot("4", "3", "2", "3", file_.c_str(), "1", "1"), "1");
        EXPECT_EQ(fileContent(), "3,2,0,0,<null>\r\n" + std::string(c.plateLine) + "\r\n");
        std::size_t triggers = 0;
        for (const auto& line : lab_->controller(kStore).lines()) triggers += line == "ST 1710";
        EXPECT_EQ(triggers, c.controllerTriggers);
    }
}

}  // namespace
}  // namespace krb::integration
