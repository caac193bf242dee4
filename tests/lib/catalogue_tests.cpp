// The operation exports as callers see them: result slots, not-registered results and
// the conversions the exports make themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "KRB_lib.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

using Lines = std::vector<std::string>;

TEST(CatalogueUnregistered, EachFamilyGivesItsOwnResult) {
    EXPECT_STREQ(KRBAlternateXferStation("42", "1"), "0");
    EXPECT_STREQ(KRBManualAccess("42", "1"), "-1");
    EXPECT_STREQ(KRBIsCascader("42"), "");
    EXPECT_STREQ(KRBIsBase("42"), "");
    EXPECT_STREQ(KRBIsExt("42"), "");
    EXPECT_STREQ(KRB2Swap("42", "1"), "");
    EXPECT_STREQ(KRB2ReadActualClimate("42"), "");
    EXPECT_STREQ(KRBCompleteTransferCommand("42", "1"), "");
    EXPECT_STREQ(KRBGetIsBCR("42"), "");
    EXPECT_STREQ(KRBMovePlate("42", "1", "1", "2", "2"), "");
    KRB2WriteSetClimate("42", "1", "2", "3", "4");
    KRBSetSector("42", "1", "2", "A");
}

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_STREQ(KRBConnect("6"), "1"); }
    void TearDown() override { KRBDisconnect("6"); }

    template <class Action>
    Lines linesAfter(Action action) {
        controller.clearTranscript();
        action();
        return controller.lines();
    }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 6};
};

TEST_F(Catalogue, CombinedClimateCallsKeepTheirOrder) {
    EXPECT_EQ(linesAfter([] { KRB2WriteSetClimate("6", "37", "90", "5", "1"); }),
              (Lines{"WR DM890 370", "WR DM893 900", "WR DM894 500", "WR DM895 100"}));
    std::string climate = KRB2ReadActualClimate("6");
    EXPECT_EQ(std::count(climate.begin(), climate.end(), ';'), 3);
    EXPECT_STREQ(KRB2ReadSetClimate("6"), "037.00;090.00;005.00;001.00");
    EXPECT_EQ(linesAfter([] { KRB2ActivateShaker("6", "250"); }), (Lines{"WR DM39 250", "ST 1913"}));
    EXPECT_STREQ(KRB2ReadSetShakerSpeed("6"), "250");
}

TEST_F(Catalogue, SelectorsFoldTwoOperations) {
    EXPECT_EQ(linesAfter([] { EXPECT_STREQ(KRB2Swap("6", "1"), "1"); }), Lines{"ST 1912"});
    EXPECT_EQ(linesAfter([] { KRB2Swap("6", "0"); }), Lines{"RS 1912"});
    EXPECT_EQ(linesAfter([] { KRB2Swap("6", ""); }), Lines{"RS 1912"});
    EXPECT_EQ(linesAfter([] { KRB2Lock("6", "1"); }), (Lines{"ST 1701", "RD 1811"}));
    EXPECT_EQ(linesAfter([] { KRB2Lock("6", "yes"); }), Lines{"RS 1701"});
}

TEST_F(Catalogue, RoleFlagsAreFalseOnlyForZero) {
    KRBSetCascader("6", "");
    EXPECT_STREQ(KRBIsCascader("6"), "1");
    KRBSetCascader("6", "0");
    EXPECT_STREQ(KRBIsCascader("6"), "0");
    KRBSetBase("6", "x");
    KRBSetExt("6", "0");
    EXPECT_STREQ(KRBIsBase("6"), "1");
    EXPECT_STREQ(KRBIsExt("6"), "0");
    KRBSetIsBCR("6", "1");
    EXPECT_STREQ(KRBGetIsBCR("6"), "1");
}

TEST_F(Catalogue, SectorAndDoorConversions) {
    KRBSetSector("6", "x", "5", "Bad");
    KRB2DefineSector("6", "1", "5", "Good");
    EXPECT_STREQ(KRBReadSectorSlot("6", "Bad"), "0,0");
    EXPECT_STREQ(KRBReadSectorSlot("6", "Good"), "1,5");
    EXPECT_STREQ(KRBReadSectorName("6", "3"), "Good");
    EXPECT_STREQ(KRBReadSectorName("6", "three"), "");
    KRBDeleteSectors("6");
    EXPECT_STREQ(KRBReadSectorName("6", "3"), "");
    KRBSetId("6", "Incubator 1");
    KRBSetIdSys("6", "Lab");
    EXPECT_STREQ(KRBGetId("6"), "Incubator 1");
    EXPECT_STREQ(KRBGetIdSys("6"), "Lab");

    makeReadyAndReferenced(controller);
    ASSERT_STREQ(KRBInitialize("6"), "1");
    KRBSetDoors("6", "0");
    EXPECT_EQ(linesAfter([] { EXPECT_STREQ(KRBPickPlate("6", "2", "1"), "1"); }).front(), "WR DM0 2");
    KRBWaitForCompletion("6", "60000");
    KRBSetDoors("6", "none");
    EXPECT_EQ(linesAfter([] { EXPECT_STREQ(KRBPickPlate("6", "2", "1"), "1"); }).front(), "RD 1811")
        << "a door count that is not a number means one door";
    KRBWaitForCompletion("6", "60000");
    EXPECT_STREQ(KRBIsOperationRunning("6"), "0");
}

}  // namespace
}  // namespace krb::test
