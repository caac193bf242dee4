// Initialisation, identity, errors and the completion watcher on the unit object itself.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "KRB_Class.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

class UnitState : public ::testing::Test {
  protected:
    void SetUp() override {
        unit->SetPortName("COM7");
        ASSERT_EQ(unit->OpenPort(), "1");
        ASSERT_EQ(unit->OpenPort(), "2");
    }
    void TearDown() override { unit->Disconnect(); }

    bool busyClearsWithin(std::chrono::milliseconds limit) {
        return eventually([&] { return !unit->busy(); }, limit);
    }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 7};
    std::shared_ptr<TKRB_Class> unit = std::make_shared<TKRB_Class>();
};

TEST_F(UnitState, TubeStoreChecksOnlyTheFirstAxisReference) {
    unit->SetKVL(true);
    controller.registers().setRelay(6500, true);
    controller.registers().setRelay(1915, true);
    EXPECT_EQ(unit->Initialize(), "1");
    auto lines = controller.lines();
    EXPECT_TRUE(contains(lines, "RD 6500"));
    EXPECT_FALSE(contains(lines, "RD 6501"));
    EXPECT_FALSE(contains(lines, "ST 1801"));
    EXPECT_FALSE(contains(lines, "RD DM108")) << "a tube store never loads a cassette table";
}

TEST_F(UnitState, WithoutDoorsTheLockIsRequestedBeforeReadiness) {
    unit->SetDoors(0);
    controller.registers().setRelay(1811, true);
    EXPECT_EQ(unit->Initialize(), "3");
    EXPECT_TRUE(contains(controller.lines(), "ST 1701"));
    EXPECT_EQ(unit->maxSlot(), 0);
}

TEST_F(UnitState, SuccessfulInitialisationReadsTheGeometry) {
    makeReadyAndReferenced(controller);
    controller.registers().setDm(29, 10);
    controller.registers().setDm(25, 22);
    EXPECT_EQ(unit->Initialize(), "1");
    EXPECT_TRUE(unit->initialized());
    EXPECT_FALSE(unit->busy());
    EXPECT_EQ(unit->maxSlot(), 10);
    EXPECT_EQ(unit->maxLevel(), 22);
}

struct FirmwareCase {
    const char* reply;
    bool loadsTable;
};

class FirmwareDecides : public UnitState, public ::testing::WithParamInterface<FirmwareCase> {};

TEST_P(FirmwareDecides, WhetherTheCassetteTableIsLoaded) {
    makeReadyAndReferenced(controller);
    controller.setFixedReply("RD DM108", GetParam().reply);
    auto& registers = controller.registers();
    registers.setDm(29, 2);
    registers.setDm(251, 0x0A14);  // type 10, 20 levels
    registers.setDm(252, 0x1505);  // type 21: keeps the pitch of slot 1
    registers.setDm(240, 37);
    ASSERT_EQ(unit->Initialize(), "1");
    EXPECT_EQ(contains(controller.lines(), "RD DM251"), GetParam().loadsTable);
    if (GetParam().loadsTable) {
        EXPECT_EQ(unit->cassetteLevels(1), 20);
        EXPECT_EQ(unit->cassettePitch(1), 37);
        EXPECT_EQ(unit->cassetteLevels(2), 5);
        EXPECT_EQ(unit->cassettePitch(2), 37);
    }
    EXPECT_EQ(unit->exchangeDelay(), 200) << "the delay is restored after the load";
}

INSTANTIATE_TEST_SUITE_P(Versions, FirmwareDecides,
                         ::testing::Values(FirmwareCase{"07000", false},
                                           FirmwareCase{"07100", true}, FirmwareCase{"08000", true},
                                           FirmwareCase{"07X00", false},
                                           FirmwareCase{"06900", false}),
                         [](const auto& info) { return std::string("Reply") + info.param.reply; });

TEST_F(UnitState, CascaderNeverLoadsTheTable) {
    unit->SetCascader(true);
    makeReadyAndReferenced(controller);
    controller.registers().setDm(108, 8000);
    ASSERT_EQ(unit->Initialize(), "1");
    EXPECT_FALSE(contains(controller.lines(), "RD DM108"));
}

TEST_F(UnitState, ErrorCodesAndMessages) {
    controller.registers().setDm(200, 0x2A10);
    EXPECT_EQ(unit->ReadErrorMessage(), "No Error");
    EXPECT_FALSE(contains(controller.lines(), "RD DM200"));
    EXPECT_EQ(unit->ReadErrorCode(), "0");

    controller.registers().setRelay(1814, true);
    EXPECT_EQ(unit->ReadErrorMessage(),
              "No Plate on Shovel Detection Error during Export Plate Operation at step #10.");
    EXPECT_EQ(unit->ReadErrorCode(), "10768");
    controller.registers().setDm(200, 0);
    EXPECT_EQ(unit->ReadStatus(), "0");
    controller.setNonNumericWord(200, "ERR");
    EXPECT_EQ(unit->ReadErrorMessage(), "");
}

TEST_F(UnitState, IdentityDropsOneLeadingZero) {
    controller.setFixedReply("RD DM109", "00123");
    controller.setFixedReply("RD DM108", "07100");
    EXPECT_EQ(unit->SerialNumber(), "0123");
    EXPECT_EQ(unit->ReadFirmWareVersion(), "7100");
}

TEST_F(UnitState, ResetClearsInitialisedEvenWhenTheControllerIsSilent) {
    unit->markInitialized(true);
    controller.setSilent(true);
    EXPECT_EQ(unit->Reset(), "0");
    EXPECT_FALSE(unit->initialized());
    controller.setSilent(false);
    EXPECT_EQ(unit->Reset(), "1");
    EXPECT_EQ(unit->SoftReset(), "1");
}

TEST_F(UnitState, DataWordGivesUpAfterThreeNonNumericReplies) {
    controller.registers().setDm(1, 4);
    EXPECT_EQ(unit->ReadActualSlotPosition(), "4");
    controller.setNonNumericWord(1, "?????");
    controller.clearTranscript();
    EXPECT_EQ(unit->ReadActualSlotPosition(), "") << "never the stale 4";
    EXPECT_EQ(controller.lines().size(), 3u);
    controller.setNonNumericWord(1, "?????", 2);
    EXPECT_EQ(unit->ReadActualSlotPosition(), "4");
}

TEST_F(UnitState, ScaledWordsAreSignedAndPatterned) {
    controller.registers().setDm(982, 65535);
    EXPECT_EQ(unit->ReadScaledDM(982, 10), "-000.10");
    controller.registers().setDm(982, 372);
    EXPECT_EQ(unit->ReadScaledDM(982, 10), "037.20");
    controller.registers().setDm(982, 0);
    EXPECT_EQ(unit->ReadScaledDM(982, 10), "0");
}

TEST_F(UnitState, WatcherClearsBusyWhenReadyOrOnError) {
    unit->ReadBackStr("CR").outcomeNotNeeded();
    ASSERT_TRUE(unit->tryClaimBusy());
    unit->StartCompletionWatch();
    controller.registers().setRelay(1915, true);
    EXPECT_TRUE(busyClearsWithin(std::chrono::seconds(5)));

    controller.registers().setRelay(1915, false);
    controller.registers().setRelay(1814, true);
    controller.registers().setDm(200, 0x1203);
    ASSERT_TRUE(unit->tryClaimBusy());
    unit->StartCompletionWatch();
    EXPECT_TRUE(busyClearsWithin(std::chrono::seconds(10)));
    EXPECT_TRUE(contains(controller.lines(), "RD DM200"));
}

TEST_F(UnitState, WatcherGivesUpOnAControllerThatStaysSilent) {
    ScopedTimeScale faster(0.05);
    unit->ReadBackStr("CR").outcomeNotNeeded();
    controller.silenceCommand("RD 1915");
    ASSERT_TRUE(unit->tryClaimBusy());
    unit->StartCompletionWatch();
    EXPECT_TRUE(busyClearsWithin(std::chrono::seconds(30)));
}

TEST_F(UnitState, DisconnectWhileTheWatcherRunsEndsIt) {
    unit->ReadBackStr("CR").outcomeNotNeeded();
    ASSERT_TRUE(unit->tryClaimBusy());
    unit->StartCompletionWatch();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    unit->Disconnect();
    EXPECT_TRUE(busyClearsWithin(std::chrono::seconds(5)));
}

}  // namespace
}  // namespace krb::test
