// Barcode readers, the tube store and the cascade, at the register level.
#include <gtest/gtest.h>

#include "lab_test_support.h"
#include "sim/tube_store_model.h"

namespace krb::sim {
namespace {

using testing::SerialClient;
using testing::UnitLink;
using testing::where;

constexpr int kBase = 1, kCascader = 2, kExtension = 3, kStore = 4, kTubes = 5;

class LabTest : public ::testing::Test {
  protected:
    std::unique_ptr<VirtualLab> lab = testing::makeDemoLab();
};

TEST_F(LabTest, OwnPortReaderSendsTheCodeInFrontAfterLon) {
    UnitLink base(*lab, kBase);
    base.initialise();
    SerialClient reader(lab->portDirectory() + "/COM11");
    base.send({"ST 1910", "WR DM0 4", "WR DM5 1"});  // an empty slot: nothing to read
    base.waitIdle();
    reader.send("LON\r");
    ASSERT_EQ(lab->reader(kBase)->waitForLines(1, std::chrono::seconds(3)), 1u);
    reader.send("LOFF\r");
    base.send({"WR DM0 1"});
    base.waitIdle();
    reader.send("LON\r");
    EXPECT_EQ(reader.readTo("\r"), "P0001\r");  // the empty slot sent nothing before it
    reader.send("LOFF\r");
    lab->reader(kBase)->waitForLines(4, std::chrono::seconds(3));
    EXPECT_EQ(lab->reader(kBase)->lines(),
              (std::vector<std::string>{"LON", "LOFF", "LON", "LOFF"}));
}

TEST_F(LabTest, ControllerTriggerMakesTheOwnReaderRead) {
    UnitLink base(*lab, kBase);
    base.initialise();
    SerialClient reader(lab->portDirectory() + "/COM11");
    ASSERT_TRUE(base.motion(1, 2, 1908));  // P0002 on the shovel, in front of the reader
    EXPECT_EQ(base("ST 1710"), "OK");
    EXPECT_EQ(reader.readTo("\r"), "P0002\r");
}

TEST_F(LabTest, UnlabelledPlateGivesNoCode) {
    UnitLink base(*lab, kBase);
    base.initialise();
    SerialClient reader(lab->portDirectory() + "/COM11");
    EXPECT_EQ(lab->control("FAULT COM1 nolabel P0001").back(), "OK");
    base.send({"ST 1910", "WR DM0 1", "WR DM5 1"});
    base.waitIdle();
    EXPECT_EQ(base("ST 1710"), "OK");  // nothing comes of it
    base.send({"WR DM5 2"});
    base.waitIdle();
    EXPECT_EQ(base("ST 1710"), "OK");
    EXPECT_EQ(reader.readTo("\r"), "P0002\r");
}

TEST_F(LabTest, RelayedReaderFramesTheCodeOnTheControllerLine) {
    UnitLink extension(*lab, kExtension);
    extension.initialise();
    extension.send({"ST 1910", "WR DM0 2", "WR DM5 1"});
    extension.waitIdle();
    EXPECT_EQ(extension("ST 1712"), "OK");
    EXPECT_EQ(extension.client().readLine(),
              "\x02"
              "E0001\x03\r\n");
    EXPECT_EQ(extension("ST 1713"), "OK");
    EXPECT_EQ(extension("ST 1710"), "OK");
    EXPECT_EQ(extension.client().readLine(),
              "\x02"
              "E0001\x03\r\n");
    extension.send({"WR DM5 2"});  // empty position: the trigger relays nothing
    extension.waitIdle();
    EXPECT_EQ(extension("ST 1712"), "OK");
    EXPECT_EQ(extension("ST 1713"), "OK");  // the very next line is this reply
}

TEST(TubeCoordinates, BothEncodingsDecode) {
    EXPECT_EQ(decodeTubeCoordinate(0x12), 12);    // hexadecimal form of 12
    EXPECT_EQ(decodeTubeCoordinate(0x1200), 12);  // packed single
    EXPECT_EQ(decodeTubeCoordinate(768), 3);      // "300" read as hexadecimal
    EXPECT_EQ(decodeTubeCoordinate(0x0C), 12);    // a plain decimal that is no BCD
    EXPECT_EQ(decodeTubeCoordinate(0x0412), std::nullopt);
    EXPECT_EQ(decodeTubePair(0x0412), (std::pair{4, 12}));  // target 4, source 12
    EXPECT_EQ(decodeTubePair(0x0503), (std::pair{5, 3}));
    EXPECT_EQ(decodeTubePair(0x0300), (std::pair{3, 3}));
    EXPECT_EQ(decodeTubePair(0x1A0B), std::nullopt);
}

class TubeStoreTest : public LabTest {
  protected:
    void SetUp() override {
        store.initialise();
        tubes.initialise();
        // The racks go to the tube store's two plate positions.
        ASSERT_TRUE(store.send({"ST 1104"}));
        ASSERT_TRUE(tubes.send({"ST 1104"}));
        ASSERT_TRUE(store.motion(1, 1, 1905));
        ASSERT_TRUE(tubes.send({"ST 1105"}));
        ASSERT_TRUE(store.motion(2, 1, 1905));
        ASSERT_TRUE(tubes.send({"ST 1104"}));
    }

    UnitLink store{*lab, kStore};
    UnitLink tubes{*lab, kTubes};
};

TEST_F(TubeStoreTest, PlatesReallyMoveToTheTubeStoreAndBack) {
    EXPECT_EQ(where(*lab, "R0001"), "PLATE COM5 POSITION 1 R0001");
    EXPECT_EQ(where(*lab, "R0002"), "PLATE COM5 POSITION 2 R0002");
    EXPECT_TRUE(store.motion(5, 1, 1904));  // position 1 is selected: R0001 comes back
    EXPECT_EQ(where(*lab, "R0001"), "PLATE COM4 SLOT 5 1 R0001");
    EXPECT_FALSE(store.motion(6, 1, 1904));  // position 1 is empty now
    EXPECT_EQ(store("RD DM200"),
              formatWord(errorCode(Operation::Import, 2, ErrorKind::PlateTransfer)));
}

TEST_F(TubeStoreTest, ScanModeReadsTubesInBothEncodings) {
    SerialClient reader(lab->portDirectory() + "/COM15");
    EXPECT_TRUE(tubes.send({"ST 1910", "WR DM0 256", "WR DM5 512"}));  // packed: 1, 2
    tubes.waitIdle();
    EXPECT_EQ(tubes("RD 1808"), "1");
    reader.send("LON\r");
    EXPECT_EQ(reader.readTo("\r"), "T0002\r");
    EXPECT_TRUE(tubes.send({"WR DM0 2", "WR DM5 1"}));  // hexadecimal form: 2, 1
    tubes.waitIdle();
    reader.send("LON\r");
    EXPECT_EQ(reader.readTo("\r"), "T0005\r");
    EXPECT_TRUE(tubes.send({"WR DM0 $1", "WR DM5 0x4"}));
    EXPECT_EQ(tubes("RD 1808"), "1");
    EXPECT_EQ(tubes("WR DM0 $XYZ"), "E1");
}

TEST_F(TubeStoreTest, TubeMotionsMoveTubesBetweenRacks) {
    // Rack 1 (1,3) to rack 2 (4,5): packed pairs, target coordinate in the high byte.
    ASSERT_TRUE(tubes.send({"WR DM0 1025", "WR DM5 1283", "ST 1904"}));  // 0x0401, 0x0503
    tubes.waitIdle();
    EXPECT_EQ(tubes("RD 1814"), "0");
    EXPECT_EQ(lab->control("TUBES R0002"), (std::vector<std::string>{"TUBE 4 5 T0003", "OK 1"}));
    // Get and set within rack 1, through the gripper.
    ASSERT_TRUE(tubes.motion(1, 1, 1907));
    EXPECT_TRUE(tubes.motion(8, 0x12, 1906));  // row 8, column 12
    EXPECT_EQ(lab->control("TUBES R0001").front(), "TUBE 1 2 T0002");
    EXPECT_EQ(lab->control("TUBES R0001")[3], "TUBE 8 12 T0001");
    EXPECT_FALSE(tubes.motion(3, 3, 1908));  // nothing there in rack 2
    EXPECT_EQ(tubes("RD DM200"),
              formatWord(errorCode(Operation::Pick, 2, ErrorKind::NoPlateOnShovel)));
    EXPECT_EQ(lab->world().tubeCount(), 5u);
}

class CascadeTest : public LabTest {
  protected:
    void SetUp() override {
        base.initialise();
        cascader.initialise();
        extension.initialise();
    }
    UnitLink base{*lab, kBase};
    UnitLink cascader{*lab, kCascader};
    UnitLink extension{*lab, kExtension};
};

// Base slot 3 level 1 to extension slot 6 level 2, through cascade slots 7 (base) and
// 14 (extension) with code 1, as the cascade manager does it.
TEST_F(CascadeTest, CrossMoveDeliversThePlate) {
    ASSERT_TRUE(cascader.send({"WR DM0 2"}));
    cascader.waitIdle();
    ASSERT_TRUE(base.motion(3, 1, 1908));
    ASSERT_TRUE(base.motion(7, 2, 1909));
    ASSERT_TRUE(base.send({"WR DM0 1"}));        // slot 7 turned to the cascader: 7 + 14 - 20
    ASSERT_TRUE(extension.send({"WR DM0 20"}));  // slot 14: 14 + 6
    base.waitIdle();
    extension.waitIdle();
    ASSERT_TRUE(cascader.motion(2, 1, 1904));
    EXPECT_EQ(where(*lab, "P0003"), "PLATE COM3 SLOT 14 2 P0003");
    ASSERT_TRUE(extension.motion(14, 2, 1908));
    ASSERT_TRUE(extension.motion(6, 2, 1909));
    EXPECT_EQ(where(*lab, "P0003"), "PLATE COM3 SLOT 6 2 P0003");
}

TEST_F(CascadeTest, CascaderPicksAndPlacesAtTheFacingSlots) {
    ASSERT_TRUE(base.motion(1, 1, 1908));
    ASSERT_TRUE(base.motion(9, 3, 1909));
    ASSERT_TRUE(base.send({"WR DM0 3"}));  // slot 9 faces the cascader
    base.waitIdle();
    ASSERT_TRUE(cascader.send({"WR DM0 2"}));
    ASSERT_TRUE(cascader.motion(2, 3, 1908));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM2 SHOVEL P0001");
    ASSERT_TRUE(extension.send({"WR DM0 14"}));  // slot 8
    extension.waitIdle();
    ASSERT_TRUE(cascader.motion(1, 0, 1909));  // code 0 reaches level 3
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM3 SLOT 8 3 P0001");
}

TEST_F(CascadeTest, UnturnedCarouselMakesTheStepFail) {
    ASSERT_TRUE(base.motion(3, 1, 1908));
    ASSERT_TRUE(base.motion(7, 2, 1909));  // the carousel still faces slot 7 - 14 + 20 = 13
    ASSERT_TRUE(cascader.send({"WR DM0 2"}));
    EXPECT_FALSE(cascader.motion(2, 1, 1908));
    EXPECT_EQ(cascader("RD DM200"),
              formatWord(errorCode(Operation::Pick, 2, ErrorKind::NoPlateOnShovel)));
    EXPECT_EQ(where(*lab, "P0003"), "PLATE COM1 SLOT 7 2 P0003");
}

}  // namespace
}  // namespace krb::sim
