#include <gtest/gtest.h>

#include <thread>

#include "lab_test_support.h"
#include "sim/cascader_model.h"

namespace krb::sim {
namespace {

using testing::UnitLink;
using testing::where;

constexpr int kBase = 1;

class PlateStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { base.initialise(); }

    std::string platesText() {
        std::string text;
        for (const auto& line : lab->control("PLATES")) text += line + "\n";
        return text;
    }

    std::unique_ptr<VirtualLab> lab = testing::makeDemoLab();
    UnitLink base{*lab, kBase};
};

TEST(PlateStoreStartup, InitialisationSetsTheReferencesAndLastsUntilReady) {
    auto lab = testing::makeDemoLab();
    UnitLink base(*lab, kBase);
    EXPECT_EQ(base("RD 6500"), "0");
    EXPECT_EQ(base("RD 1915"), "1");
    EXPECT_EQ(base("ST 1801"), "OK");
    EXPECT_EQ(base("RD 1915"), "0");
    EXPECT_TRUE(base.waitIdle());
    for (const char* relay : {"RD 6500", "RD 6501", "RD 6502", "RD 6503", "RD 6505", "RD 1915"})
        EXPECT_EQ(base(relay), "1") << relay;
    EXPECT_EQ(base("RD 1801"), "0");
}

TEST(PlateStoreStartup, ReportsIdentityAndGeometryInItsWords) {
    auto lab = testing::makeDemoLab();
    UnitLink base(*lab, kBase);
    EXPECT_EQ(base("RD DM108"), "07100");
    EXPECT_EQ(base("RD DM109"), "01101");
    EXPECT_EQ(base("RD DM29"), "00020");
    EXPECT_EQ(base("RD DM25"), "00010");
    EXPECT_EQ(base("RD DM46"), "00020");
    EXPECT_EQ(base("RD DM251"), formatWord(0x010A));  // type 1, 10 levels
    EXPECT_EQ(base("RD DM263"), formatWord(0x020A));
    EXPECT_EQ(base("RD DM231"), "00025");
    EXPECT_EQ(base("RD DM232"), "00032");
}

TEST_F(PlateStoreTest, PickAndPlaceMoveThePlate) {
    EXPECT_TRUE(base.motion(1, 1, 1908));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SHOVEL P0001");
    EXPECT_TRUE(base.motion(2, 4, 1909));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SLOT 2 4 P0001");
    EXPECT_EQ(base("RD DM1"), "00002");
}

TEST_F(PlateStoreTest, UnloadAndLoadUseTheSelectedStation) {
    EXPECT_TRUE(base.motion(1, 1, 1905));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 STATION 1 P0001");
    EXPECT_EQ(base("RD 1813"), "1");
    EXPECT_TRUE(base.send({"ST 1607"}));
    EXPECT_TRUE(base.motion(1, 2, 1905));
    EXPECT_EQ(where(*lab, "P0002"), "PLATE COM1 STATION 2 P0002");
    EXPECT_EQ(base("RD 1807"), "1");
    EXPECT_TRUE(base.send({"RS 1607"}));
    EXPECT_TRUE(base.motion(9, 9, 1904));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SLOT 9 9 P0001");
    EXPECT_EQ(base("RD 1813"), "0");
}

TEST_F(PlateStoreTest, SetAndGetGoThroughTheShovel) {
    EXPECT_TRUE(base.motion(1, 1, 1908));
    EXPECT_EQ(base("ST 1911"), "OK");
    EXPECT_EQ(base("RD 1812"), "1");
    EXPECT_TRUE(base.motion(1, 1, 1906));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 STATION 1 P0001");
    EXPECT_TRUE(base.motion(1, 1, 1907));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SHOVEL P0001");
}

TEST_F(PlateStoreTest, RefusedMotionsRaiseTheErrorAndChangeNothing) {
    ASSERT_TRUE(base.motion(3, 1, 1908));  // P0003 now on the shovel
    const std::string before = platesText();
    struct Case {
        int slot, level, relay;
        std::uint16_t code;
    };
    for (const Case& refused :
         {Case{1, 1, 1909, errorCode(Operation::Place, 3, ErrorKind::StackerSlot)},
          Case{1, 2, 1908, errorCode(Operation::Pick, 1, ErrorKind::PlateOnShovel)},
          Case{30, 1, 1909, errorCode(Operation::Place, 1, ErrorKind::LiftPositioning)},
          Case{2, 11, 1909, errorCode(Operation::Place, 1, ErrorKind::LiftPositioning)},
          Case{4, 1, 1907, errorCode(Operation::Get, 1, ErrorKind::PlateOnShovel)}}) {
        EXPECT_FALSE(base.motion(refused.slot, refused.level, refused.relay));
        EXPECT_EQ(base("RD DM200"), formatWord(refused.code)) << refused.relay;
        EXPECT_EQ(base("RD 1915"), "0");
        EXPECT_EQ(base("ST 1900"), "OK");
        EXPECT_EQ(base("RD 1814"), "0");
        EXPECT_EQ(base("RD 1915"), "1");
    }
    EXPECT_EQ(platesText(), before);
    ASSERT_TRUE(base.motion(3, 1, 1909));
    EXPECT_FALSE(base.motion(4, 1, 1908));  // nothing to pick
    EXPECT_EQ(base("RD DM200"), formatWord(0x7210));
    base.send({"ST 1900"});
    EXPECT_FALSE(base.motion(1, 1, 1904));  // nothing on the station
    EXPECT_EQ(base("RD DM200"),
              formatWord(errorCode(Operation::Import, 2, ErrorKind::PlateTransfer)));
    EXPECT_EQ(where(*lab, "P0003"), "PLATE COM1 SLOT 3 1 P0003");
}

TEST_F(PlateStoreTest, MotionsWaitForAPendingErrorToBeAcknowledged) {
    EXPECT_FALSE(base.motion(4, 1, 1908));
    EXPECT_EQ(base("WR DM0 1"), "OK");
    EXPECT_EQ(base("ST 1908"), "OK");  // ignored while the error stands
    EXPECT_EQ(base("RD DM200"), formatWord(0x7210));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SLOT 1 1 P0001");
}

TEST_F(PlateStoreTest, ScanModeDetectsThePlateAtTheAddressedPosition) {
    EXPECT_TRUE(base.send({"ST 1910", "WR DM0 1", "WR DM5 2"}));
    base.waitIdle();
    EXPECT_EQ(base("RD 1808"), "1");
    EXPECT_EQ(base("WR DM5 3"), "OK");
    EXPECT_EQ(base("RD 1808"), "0");
    EXPECT_EQ(base("RD 200"), "0");
    EXPECT_TRUE(base.send({"RS 1910"}));
    EXPECT_EQ(base("RD 1910"), "0");
}

TEST_F(PlateStoreTest, FailingScanPositionRaisesItsErrorOnlyThere) {
    auto& store = dynamic_cast<PlateStoreModel&>(lab->model(kBase));
    store.failScanAt(1, 2, 0x4109);
    EXPECT_TRUE(base.send({"ST 1910", "WR DM0 1", "WR DM5 1"}));
    base.waitIdle();
    EXPECT_EQ(base("RD 1814"), "0") << "level 1 positions";
    EXPECT_EQ(base("WR DM5 2"), "OK");
    base.waitIdle();
    EXPECT_EQ(base("RD 1814"), "1");
    EXPECT_EQ(base("RD DM200"), formatWord(0x4109));
}

TEST_F(PlateStoreTest, DoorLockAndStateFollowTheDoor) {
    EXPECT_EQ(base("RD 1811"), "1");
    EXPECT_EQ(lab->control("FAULT COM1 door open").back(), "OK");
    EXPECT_EQ(base("RD 1811"), "0");
    EXPECT_EQ(base("RD 1701"), "0");
    EXPECT_FALSE(base.motion(1, 1, 1908));  // the carousel does not even turn
    EXPECT_EQ(base("RD DM200"), formatWord(errorCode(Operation::None, 1, ErrorKind::UserAccess)));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SLOT 1 1 P0001");
    base.send({"ST 1900"});
    EXPECT_EQ(lab->control("FAULT COM1 door closed").back(), "OK");
    EXPECT_EQ(base("RD 1811"), "1");
    EXPECT_EQ(base("RS 1701"), "OK");
    EXPECT_EQ(base("RD 1811"), "0");
}

TEST_F(PlateStoreTest, ControllerResetLosesTheReferences) {
    EXPECT_EQ(lab->control("FAULT COM1 reset").back(), "OK");
    EXPECT_EQ(base("RD 6500"), "0");
    EXPECT_FALSE(base.motion(1, 1, 1908));
    EXPECT_EQ(base("RD DM200"),
              formatWord(errorCode(Operation::None, 1, ErrorKind::LiftInitialization)));
    base.send({"ST 1900"});
    base.initialise();
    EXPECT_TRUE(base.motion(1, 1, 1908));
}

TEST_F(PlateStoreTest, InjectedErrorFailsTheNextMotionOnly) {
    EXPECT_EQ(lab->control("FAULT COM1 error 1203").back(), "OK");
    EXPECT_FALSE(base.motion(1, 1, 1905));
    EXPECT_EQ(base("RD DM200"), formatWord(0x1203));
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SLOT 1 1 P0001");
    base.send({"ST 1900"});
    EXPECT_TRUE(base.motion(1, 1, 1905));
}

TEST_F(PlateStoreTest, SlowMotionsStillComplete) {
    EXPECT_EQ(lab->control("FAULT COM1 slow 3000").back(), "OK");
    EXPECT_EQ(base("WR DM0 1"), "OK");
    EXPECT_EQ(base("WR DM5 1"), "OK");
    EXPECT_EQ(base("ST 1908"), "OK");
    EXPECT_EQ(base("RD 1915"), "0");
    EXPECT_TRUE(base.waitIdle());
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SHOVEL P0001");
}

TEST_F(PlateStoreTest, SoftResetDropsQueuedMotionsButKeepsReferences) {
    EXPECT_EQ(lab->control("FAULT COM1 slow 100000").back(), "OK");
    base.send({"WR DM0 1", "WR DM5 1", "ST 1908", "ST 1800"});
    EXPECT_EQ(base("RD 1915"), "1");
    EXPECT_EQ(base("RD 6500"), "1");
    EXPECT_EQ(where(*lab, "P0001"), "PLATE COM1 SLOT 1 1 P0001");
}

TEST_F(PlateStoreTest, ClimateApproachesItsSetPoints) {
    const std::string ambient = base("RD DM982");
    EXPECT_EQ(ambient, "00220");
    EXPECT_EQ(base("WR DM890 240"), "OK");
    EXPECT_EQ(base("RD DM890"), "00240");
    std::string actual = ambient;
    for (int poll = 0; poll < 500 && actual != "00240"; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        actual = base("RD DM982");
        ASSERT_GE(actual, ambient);
    }
    EXPECT_EQ(actual, "00240");
}

TEST_F(PlateStoreTest, StatusWordShowsReadyDoorAndError) {
    EXPECT_EQ(base("RD DM202"), formatWord(32 + 1));
    EXPECT_FALSE(base.motion(4, 1, 1908));
    EXPECT_EQ(base("RD DM202"), formatWord(128 + 32));
}

TEST_F(PlateStoreTest, LockBeforeInitialisationNeedsTheLock) {
    auto lab2 = testing::makeDemoLab();
    UnitLink unit(*lab2, kBase);
    lab2->controller(kBase).registers().setRelay(3101, true);
    EXPECT_EQ(unit("RD 3101"), "1");
    unit.send({"RS 1701", "ST 1801"});
    unit.waitIdle();
    EXPECT_EQ(unit("RD 1814"), "1");
    EXPECT_EQ(unit("RD DM200"), formatWord(errorCode(Operation::None, 1, ErrorKind::UserAccess)));
    unit.send({"ST 1900", "ST 1701", "ST 1801"});
    unit.waitIdle();
    EXPECT_EQ(unit("RD 6500"), "1");
}

TEST(PlateStoreStartup, UnitsConfiguredLockedStartWithTheDoorLocked) {
    auto lab = testing::makeDemoLab();
    UnitLink base(*lab, kBase);  // Locked=1 in the demo lab
    EXPECT_EQ(base("RD 1811"), "1");
    EXPECT_EQ(base("RD 1701"), "1");
    EXPECT_EQ(base("RS 1701"), "OK");
    EXPECT_EQ(base("RD 1811"), "0");
    UnitLink cascader(*lab, 2);  // no Locked key
    EXPECT_EQ(cascader("RD 1811"), "0");
}

TEST(CascadeLevels, CodesReachTheirLevels) {
    EXPECT_EQ(cascadeLevel(0), 3);
    EXPECT_EQ(cascadeLevel(1), 2);
    EXPECT_EQ(cascadeLevel(3), 3);
    EXPECT_EQ(cascadeLevel(2), 0);
}

}  // namespace
}  // namespace krb::sim
