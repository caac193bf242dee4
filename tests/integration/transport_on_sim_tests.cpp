// Plate transport and barcode reading of the demo lab's base unit (COM1, reader on COM11) and
// extension unit (COM3, reader relayed by its controller), checked in the plate world.
#include "demo_lab_fixture.h"

namespace krb::integration {
namespace {

constexpr int kBase = 1, kExtension = 3;

class TransportOnSim : public DemoLab {
  protected:
    void SetUp() override {
        DemoLab::SetUp();
        activate(kBase);
    }
    bool shovelEmpty(int com) { return empty(Place::shovel(com)); }
};

TEST_F(TransportOnSim, ImportTakesTheStationPlateIntoTheSlotOrBringsItBack) {
    KRBSetPlateTStatDetector("1", "1");
    KRBSetPlateDetector("1", "1");
    control("PUT COM1 STATION 1 X0001");
    EXPECT_STREQ(KRBImportPlate("1", "2", "5"), "1");
    EXPECT_EQ(placeOf("X0001"), Place::slot(kBase, 2, 5));
    EXPECT_TRUE(empty(Place::station(kBase, 1)));

    control("PUT COM1 STATION 1 X0002");
    EXPECT_STREQ(KRBImportPlate("1", "2", "5"), "5") << "the slot is taken";
    EXPECT_EQ(placeOf("X0002"), Place::station(kBase, 1));
    EXPECT_EQ(placeOf("X0001"), Place::slot(kBase, 2, 5));
    EXPECT_TRUE(shovelEmpty(kBase));

    control("TAKE COM1 STATION 1");
    EXPECT_STREQ(KRBImportPlate("1", "2", "6"), "2") << "nothing on the station";
    EXPECT_STREQ(KRBIsOperationRunning("1"), "0");
}

TEST_F(TransportOnSim, MoveOntoAnOccupiedSlotPutsThePlateBack) {
    KRBSetPlateDetector("1", "1");
    EXPECT_STREQ(KRBMovePlate("1", "3", "1", "1", "1"), "5");
    EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 3, 1));
    EXPECT_EQ(placeOf("P0001"), Place::slot(kBase, 1, 1));
    EXPECT_TRUE(shovelEmpty(kBase));
    EXPECT_STREQ(KRBIsOperationRunning("1"), "0");

    EXPECT_STREQ(KRBMovePlate("1", "3", "1", "4", "2"), "1");
    EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 4, 2));
}

// A slot detector that stays silent or answers noise never lets a plate onto a slot.
TEST_F(TransportOnSim, UnreadableDetectorNeverLetsAPlateOntoAnOccupiedSlot) {
    KRBSetPlateDetector("1", "1");
    control("PUT COM1 STATION 1 X0001");
    sim::ControllerEmulator& controller = lab_->controller(kBase);
    for (const bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silence" : "noise");
        if (silent)
            controller.silenceCommand("RD 1808");
        else
            controller.setFixedReply("RD 1808", "?\xb1");
        EXPECT_STREQ(KRBMovePlate("1", "3", "1", "1", "1"), "5");
        EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 3, 1));
        EXPECT_EQ(placeOf("P0001"), Place::slot(kBase, 1, 1));
        EXPECT_STREQ(KRBImportPlate("1", "1", "1"), "5");
        EXPECT_EQ(placeOf("X0001"), Place::station(kBase, 1));
        EXPECT_TRUE(shovelEmpty(kBase));
        EXPECT_STREQ(KRBReadErrorFlag("1"), "0") << "no collision";
        controller.clearFixedReplies();
    }
}

TEST_F(TransportOnSim, ExportToAnOccupiedStationMovesNothing) {
    KRBSetPlateTStatDetector("1", "1");
    control("PUT COM1 STATION 1 X0001");
    lab_->controller(kBase).clearTranscript();
    EXPECT_STREQ(KRBExportPlate("1", "3", "1"), "5");
    EXPECT_TRUE(handlerMotions(kBase).empty());
    EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 3, 1));
    EXPECT_EQ(placeOf("X0001"), Place::station(kBase, 1));

    control("TAKE COM1 STATION 1");
    EXPECT_STREQ(KRBExportPlate("1", "3", "1"), "1");
    EXPECT_EQ(placeOf("P0003"), Place::station(kBase, 1));
    EXPECT_STREQ(KRBIsOperationRunning("1"), "0");
}

// A long motion keeps Busy set for seconds; the watcher alone clears it.
TEST_F(TransportOnSim, PlainMotionStaysBusyUntilTheMotionEnds) {
    control("PUT COM1 STATION 1 X0001");
    control("FAULT COM1 slow 20000");
    EXPECT_STREQ(KRBLoadPlate("1", "2", "5"), "1");
    EXPECT_STREQ(KRBIsOperationRunning("1"), "1");
    EXPECT_EQ(placeOf("X0001"), Place::station(kBase, 1)) << "the motion is still running";
    ASSERT_TRUE(idle(kBase));
    EXPECT_EQ(placeOf("X0001"), Place::slot(kBase, 2, 5));
    EXPECT_STREQ(KRBReadErrorFlag("1"), "0");
}

TEST_F(TransportOnSim, PlainMotionThatFailsClearsBusyAndLeavesThePlate) {
    control("FAULT COM1 slow 20000");
    control("FAULT COM1 error 7303");
    EXPECT_STREQ(KRBPickPlate("1", "3", "1"), "1");
    EXPECT_STREQ(KRBIsOperationRunning("1"), "1");
    ASSERT_TRUE(idle(kBase));
    EXPECT_STREQ(KRBReadErrorFlag("1"), "1");
    EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 3, 1));
    EXPECT_TRUE(shovelEmpty(kBase));
}

TEST_F(TransportOnSim, OwnPortReaderReadsTheLabelInTheSlot) {
    ASSERT_STREQ(KRBBCRPath("1", "11"), "1");
    control("PUT COM1 6 1 -");
    EXPECT_STREQ(KRBReadBarcode("1", "5", "5"), "P0004");
    EXPECT_STREQ(KRBReadBarcode("1", "12", "3"), "P0005");
    EXPECT_STREQ(KRBReadBarcode("1", "6", "1"), "No Barcode") << "a plate without label";
    KRBSetPlateDetector("1", "1");
    EXPECT_STREQ(KRBReadBarcode("1", "2", "2"), "No Plate");
    EXPECT_EQ(lab_->model(kBase).status().scanMode, false);
    EXPECT_STREQ(KRBReadBarcode("1", "1", "2"), "P0002");
}

TEST_F(TransportOnSim, ControllerRelayedReaderReadsTheLabelInTheSlot) {
    activate(kExtension);
    KRBSetIsBCR("3", "1");
    KRBSetIsCompSv("3", "1");
    control("PUT COM3 6 1 -");
    EXPECT_STREQ(KRBReadBarcode("3", "2", "1"), "E0001");
    EXPECT_STREQ(KRBReadBarcode("3", "6", "1"), "No Barcode");
    KRBSetPlateDetector("3", "1");
    EXPECT_STREQ(KRBReadBarcode("3", "3", "3"), "No Plate");
    EXPECT_EQ(lab_->model(kExtension).status().scanMode, false);
    EXPECT_STREQ(KRBReadBarcode("3", "4", "4"), "E0002");
}

}  // namespace
}  // namespace krb::integration
