// Plate transport on the unit object, asserted on the controller's transcript.
#include <functional>
#include <thread>

#include "operation_support.h"
#include "platform/clock.h"

namespace krb::test {
namespace {

using Transport = UnitOnEmulator;

TEST_F(Transport, PlainMotionWritesTheTargetStartsAndIsWatched) {
    model->setPollsPerMotion(2);
    unit->SetUseCassetteConfTable(true);
    unit->setCassette(3, 0, 44);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->PickPlate("3", "7"), "1"); });
    EXPECT_TRUE(unit->busy());
    EXPECT_EQ(untilStart(lines),
              (Lines{"RD 1811", "WR DM0 3", "WR DM23 44", "WR DM5 7", "ST 1908"}));
    EXPECT_EQ(unit->lastMotionSlot(), 3);
    EXPECT_EQ(unit->lastMotionLevel(), 7);
    EXPECT_TRUE(busyClearsWithin(std::chrono::seconds(10)));
}

TEST_F(Transport, PlainMotionRefusalsSendNothingBeyondTheDoorCheck) {
    unit->setCassette(4, 10, 0);
    EXPECT_TRUE(linesAfter([&] {
                    EXPECT_EQ(unit->PickPlate("4", "0"), "2");
                    EXPECT_EQ(unit->PlacePlate("4", "11"), "2");
                    EXPECT_EQ(unit->LoadPlate("x", "1"), "2");
                    EXPECT_EQ(unit->LoadPlate("-3", "1"), "2") << "negative slots need the table";
                }).empty());
    controller.registers().setRelay(1811, false);
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->PlacePlate("4", "10"), "3"); }), Lines{"RD 1811"});
    unit->markInitialized(false);
    EXPECT_TRUE(linesAfter([&] { EXPECT_EQ(unit->PickPlate("4", "1"), "0"); }).empty());
    EXPECT_FALSE(unit->busy());
}

TEST_F(Transport, CascaderMovesWithoutLevelAndDoorCheck) {
    unit->SetCascader(true);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->PickPlate("4", "0"), "1"); });
    EXPECT_EQ(untilStart(lines), (Lines{"WR DM0 4", "ST 1908"}));
    ASSERT_TRUE(busyClearsWithin(std::chrono::seconds(10)));
    lines = linesAfter([&] { EXPECT_EQ(unit->SetPlate(), "1"); });
    EXPECT_EQ(untilStart(lines), Lines{"ST 1906"}) << "slot and level 0: nothing written";
}

TEST_F(Transport, NegativeSlotsWrapAndTakeThePitchOfTheirAbsoluteSlot) {
    unit->SetUseCassetteConfTable(true);
    unit->setCassette(3, 0, 21);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->LoadPlate("-3", "2"), "1"); });
    EXPECT_EQ(untilStart(lines),
              (Lines{"RD 1811", "WR DM0 65533", "WR DM23 21", "WR DM5 2", "ST 1904"}));
    EXPECT_EQ(unit->lastMotionSlot(), 65533);
}

TEST_F(Transport, SetAndGetPlateUseTheLastTargetOrSlotOneLevelOne) {
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->SetPlate(), "1"); });
    EXPECT_EQ(untilStart(lines), (Lines{"RD 1811", "WR DM0 1", "WR DM5 1", "ST 1906"}));
    ASSERT_TRUE(busyClearsWithin(std::chrono::seconds(10)));
    unit->UnloadPlate("9", "4");
    ASSERT_TRUE(busyClearsWithin(std::chrono::seconds(10)));
    lines = linesAfter([&] { EXPECT_EQ(unit->GetPlate(), "1"); });
    EXPECT_EQ(untilStart(lines), (Lines{"RD 1811", "WR DM0 9", "WR DM5 4", "ST 1907"}));
}

TEST_F(Transport, AMotionThatNeverEndsRefusesTheNextAfterTheBusyWait) {
    unit->SetDoors(0);
    ASSERT_TRUE(unit->tryClaimBusy());
    Lines lines;
    {
        ScopedTimeScale faster(0.001);  // the wait is 180 s nominal
        lines = linesAfter([&] { EXPECT_EQ(unit->PickPlate("1", "1"), "4"); });
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(unit->busy()) << "the owner's token is left alone";
    unit->releaseBusy();
}

TEST_F(Transport, TwoCallersNeverInterleaveTheirMotions) {
    model->setPollsPerMotion(3);
    unit->SetDoors(0);
    std::string first, second;
    std::thread other([&] { first = unit->PickPlate("1", "1"); });
    second = unit->PlacePlate("2", "2");
    other.join();
    EXPECT_EQ(first, "1");
    EXPECT_EQ(second, "1");
    ASSERT_TRUE(busyClearsWithin(std::chrono::seconds(20)));
    Lines writes;
    for (const auto& line : controller.lines())
        if (line.rfind("WR", 0) == 0 || line.rfind("ST", 0) == 0) writes.push_back(line);
    ASSERT_EQ(writes.size(), 6u);
    EXPECT_TRUE(writes[2] == "ST 1908" || writes[2] == "ST 1909")
        << "the second target is written only after the first motion started";
}

TEST_F(Transport, WaitForOperationEndsOnReadyErrorSilenceOrAClosedPort) {
    model->setPollsPerMotion(3);
    unit->ReadBackStr("ST 1909").outcomeNotNeeded();
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->WaitForOperation(), "1"); }), Lines(3, "RD 1915"));
    EXPECT_EQ(unit->waitResult(), "1");

    model->failMotion(1908);
    unit->ReadBackStr("ST 1908").outcomeNotNeeded();
    Lines expected(7, "RD 1915");
    expected.insert(expected.end(), {"RD 1814", "RD DM200"});
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->WaitForOperation(), "0"); }), expected)
        << "the error flag is asked on the seventh poll";
    EXPECT_EQ(unit->waitResult(), "0");

    unit->Disconnect();
    EXPECT_TRUE(linesAfter([&] { EXPECT_EQ(unit->WaitForOperation(), "0"); }).empty());
}

TEST_F(Transport, WaitForOperationGivesUpAfterThirtySilences) {
    controller.registers().setRelay(1915, false);
    controller.setSilent(true);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->WaitForOperation(), "0"); });
    EXPECT_EQ(linesStartingWith(lines, "RD 1915").size(), 60u) << "each poll is sent twice";
    EXPECT_EQ(linesStartingWith(lines, "RD 1814").size(), 8u) << "polls 7, 13, 19 and 25";
}

TEST_F(Transport, ImportPutsThePlateBackWhenTheSlotIsTaken) {
    unit->SetPlateDetector("1");
    unit->setCassette(5, 0, 30);
    model->queueDetector({"1"});
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ImportPlate("5", "2"), "5"); });
    EXPECT_EQ(lines, (Lines{"WR DM0 5", "WR DM23 30", "WR DM5 2", "ST 1907", "RD 1915", "ST 1910",
                            "RD 1808", "RS 1910", "ST 1906", "RD 1915"}));
    EXPECT_FALSE(unit->busy());

    model->queueDetector({"1"});
    model->failMotion(1906);
    EXPECT_EQ(unit->ImportPlate("5", "2"), "7");
    EXPECT_FALSE(unit->busy());
}

TEST_F(Transport, ImportRefusesAnEmptyStationAndReportsFailedMotions) {
    unit->SetPlateTStatDetector("1");
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->ImportPlate("5", "2"), "2"); }), Lines{"RD 1813"});
    EXPECT_FALSE(unit->busy());
    controller.registers().setRelay(1813, true);
    EXPECT_EQ(unit->ImportPlate("5", "2"), "1");
    model->failMotion(1909);
    EXPECT_EQ(unit->ImportPlate("5", "2"), "4");
    EXPECT_FALSE(unit->busy());
    EXPECT_EQ(unit->ImportPlate("5", "x"), "2");
}

TEST_F(Transport, ExportRefusesAnOccupiedStationWithoutMoving) {
    unit->SetPlateTStatDetector("1");
    controller.registers().setRelay(1813, true);
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->ExportPlate("5", "2"), "5"); }), Lines{"RD 1813"});
    controller.registers().setRelay(1813, false);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ExportPlate("5", "2"), "1"); });
    EXPECT_EQ(lines, (Lines{"RD 1813", "WR DM0 5", "WR DM5 2", "ST 1908", "RD 1915", "ST 1906",
                            "RD 1915"}));
    model->failMotion(1908);
    EXPECT_EQ(unit->ExportPlate("5", "2"), "3");
    EXPECT_FALSE(unit->busy());
}

TEST_F(Transport, MoveWithAnEmptySourceLeavesBusyClear) {
    unit->SetPlateDetector("1");
    model->queueDetector({"0"});
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->MovePlate("1", "1", "2", "2"), "2"); });
    EXPECT_EQ(lines, (Lines{"WR DM0 1", "WR DM5 1", "ST 1910", "RD 1808", "RS 1910"}));
    EXPECT_FALSE(unit->busy());
}

TEST_F(Transport, MoveReturnsThePlateToItsSourceWhenTheTargetIsTaken) {
    unit->SetPlateDetector("1");
    unit->setCassette(1, 0, 11);
    model->queueDetector({"1", "1"});
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->MovePlate("1", "3", "2", "4"), "5"); });
    EXPECT_EQ(lines,
              (Lines{"WR DM0 1", "WR DM23 11", "WR DM5 3", "ST 1910", "RD 1808", "RS 1910",
                     "ST 1908", "RD 1915", "WR DM0 2", "WR DM5 4", "ST 1910", "RD 1808", "RS 1910",
                     "WR DM0 1", "WR DM23 11", "WR DM5 3", "ST 1909", "RD 1915"}));
    EXPECT_FALSE(unit->busy());

    model->queueDetector({"1", "1"});
    model->failMotion(1909);
    EXPECT_EQ(unit->MovePlate("1", "3", "2", "4"), "6");
    EXPECT_FALSE(unit->busy());
}

// Only "0" lets a plate onto a slot: a silent or garbled detector counts as taken.
TEST_F(Transport, UnreadableTargetDetectorRefusesThePlacement) {
    unit->SetPlateDetector("1");
    const Lines backToSource{"WR DM0 1", "WR DM5 3", "ST 1909", "RD 1915"};
    struct Fault {
        const char* name;
        std::function<void()> inject;
    };
    for (const Fault& fault :
         {Fault{"silence", [&] { controller.silenceCommand("RD 1808"); }},
          Fault{"noise", [&] { controller.setFixedReply("RD 1808", "?\xb1"); }},
          Fault{"error word", [&] { controller.setFixedReply("RD 1808", "E1"); }}}) {
        SCOPED_TRACE(fault.name);
        fault.inject();
        Lines lines = linesAfter([&] { EXPECT_EQ(unit->ImportPlate("5", "2"), "5"); });
        EXPECT_FALSE(contains(lines, "ST 1909"));
        EXPECT_EQ(lines.end()[-2], "ST 1906") << "back onto the station";
        lines = linesAfter([&] { EXPECT_EQ(unit->MovePlate("1", "3", "2", "4"), "5"); });
        ASSERT_GE(lines.size(), backToSource.size());
        EXPECT_EQ(Lines(lines.end() - 4, lines.end()), backToSource);
        EXPECT_FALSE(unit->busy());
        controller.clearFixedReplies();
    }
    model->queueDetector({"1", "0"});
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->MovePlate("1", "3", "2", "4"), "1"); });
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{"RD 1808", "RS 1910", "ST 1909", "RD 1915"}))
        << "a free target takes the plate";
}

TEST_F(Transport, MoveWithoutDetectorPicksAndPlaces) {
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->MovePlate("1", "3", "2", "4"), "1"); });
    EXPECT_EQ(lines, (Lines{"WR DM0 1", "WR DM5 3", "ST 1908", "RD 1915", "WR DM0 2", "WR DM5 4",
                            "ST 1909", "RD 1915"}));
    EXPECT_EQ(unit->MovePlate("1", "3", "2", "?"), "2");
    unit->markInitialized(false);
    EXPECT_EQ(unit->MovePlate("1", "3", "2", "4"), "0");
}

TEST_F(Transport, PlateAtLocation) {
    EXPECT_TRUE(linesAfter([&] { EXPECT_EQ(unit->IsPlateAtLocation("3", "4"), "0"); }).empty());
    unit->SetPlateDetector("1");
    unit->setCassette(3, 0, 12);
    controller.registers().setRelay(1808, true);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->IsPlateAtLocation("3", "4"), "1"); });
    EXPECT_EQ(lines, (Lines{"ST 1910", "WR DM5 4", "WR DM23 12", "WR DM0 3", "RD 1915", "RD 1808",
                            "RS 1910"}));
    EXPECT_FALSE(unit->busy());
    unit->markInitialized(false);
    EXPECT_EQ(unit->IsPlateAtLocation("3", "4"), "2");
}

// A detector that could not be read, or read at a position the handler never reached, is
// "-1": never "0", which would send the next plate onto an occupied slot.
TEST_F(Transport, PlateChecksAnswerUnreadableWhenTheDetectorOrThePositionIsLost) {
    unit->SetPlateDetector("1");
    controller.registers().setRelay(1808, true);
    struct Fault {
        const char* name;
        std::function<void()> inject;
    };
    const std::vector<Fault> faults{
        {"detector silent", [&] { controller.silenceCommand("RD 1808"); }},
        {"detector noise", [&] { controller.setFixedReply("RD 1808", "?\xb1"); }},
        {"slot write lost", [&] { controller.silenceCommand("WR DM0 3"); }},
        {"level write lost", [&] { controller.silenceCommand("WR DM5 4"); }},
    };
    using Check = std::string (TKRB_Class::*)(const std::string&, const std::string&);
    for (Check check : {&TKRB_Class::IsPlateAtLocation, &TKRB_Class::ServiceIsPlateAtLocation2}) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(fault.name);
            fault.inject();
            EXPECT_EQ(((*unit).*check)("3", "4"), "-1");
            EXPECT_FALSE(unit->busy());
            controller.clearFixedReplies();
            EXPECT_FALSE(controller.registers().relay(1910)) << "scan mode is left";
        }
        EXPECT_EQ(((*unit).*check)("3", "4"), "1") << "the same check with a clean line";
    }
}

TEST_F(Transport, ServicePlateCheckCorrectsTheHeightAndWaitsForBusy) {
    controller.registers().setDm(27, 100);
    controller.registers().setDm(6, 300);
    controller.registers().setRelay(1808, true);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ServiceIsPlateAtLocation2("3", "4"), "1"); });
    EXPECT_EQ(lines, (Lines{"RD DM27", "ST 1910", "WR DM0 3", "WR DM5 4", "RD 1915", "RD DM6",
                            "WR DM6 700", "RD 1915", "RD 1808", "RS 1910"}));
    EXPECT_FALSE(unit->busy());

    ASSERT_TRUE(unit->tryClaimBusy());
    EXPECT_EQ(unit->ServiceIsPlateAtLocation2("3", "4"), "3");
    EXPECT_TRUE(unit->busy());
    unit->releaseBusy();
}

TEST_F(Transport, GateStationsAndSwap) {
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->CompleteTransferCommand("1"), "1"); }),
              (Lines{"ST 1902", "RD 1915"}));
    model->failMotion(1903);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->CompleteTransferCommand("0"), "-1"); });
    EXPECT_EQ(lines.front(), "ST 1903");
    EXPECT_FALSE(unit->busy());

    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->AlternateXferStation("1"), "1"); }),
              Lines{"RS 1607"});
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->AlternateXferStation("2"), "1"); }),
              Lines{"ST 1607"});
    EXPECT_TRUE(linesAfter([&] { EXPECT_EQ(unit->AlternateXferStation("0"), "0"); }).empty());

    EXPECT_TRUE(linesAfter([&] {
                    EXPECT_EQ(unit->ReadShovelDetector(), "0");
                    EXPECT_EQ(unit->ReadTransferStation2Detector(), "0");
                }).empty());
    unit->SetPlateShovelDetector("1");
    controller.registers().setRelay(1812, true);
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->ReadShovelDetector(), "1"); }),
              (Lines{"ST 1911", "RD 1812"}));
    EXPECT_EQ(unit->Swap(), "1");
    EXPECT_EQ(unit->SwapBack(), "1");
    EXPECT_EQ(unit->OpenTransferGate(), "OK");
}

TEST_F(Transport, WaitUntilIdleAndWaitForCompletionEndWhenBusyClears) {
    ASSERT_TRUE(unit->tryClaimBusy());
    std::thread clearer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        unit->releaseBusy();
    });
    unit->WaitForCompletion("100000");
    EXPECT_FALSE(unit->busy());
    clearer.join();
    unit->WaitUntilIdle();
    ASSERT_TRUE(unit->tryClaimBusy());
    unit->WaitForCompletion("abc");
    unit->WaitForCompletion("0");
    EXPECT_TRUE(unit->busy());
    unit->releaseBusy();
}

}  // namespace
}  // namespace krb::test
