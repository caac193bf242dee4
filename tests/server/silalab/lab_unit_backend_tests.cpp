#include <gtest/gtest.h>

#include <chrono>

#include "fake_library.h"
#include "lab/Unit.h"
#include "lab/UnitDirectory.h"
#include "platform/link_metrics.h"
#include "recording_sink.h"
#include "silalab/LabUnitBackend.h"

namespace krb::server::testing {
namespace {

using Kind = sila::Outcome::Kind;
using Strings = std::vector<std::string>;

TEST(SilaMoveOutcome, EachLibraryResultBecomesItsOutcome) {
    TKRBDLL dll{FakeExports()};
    TKRBId ext{"Ext1", 3, "Sys", "", dll};
    UnitDirectory directory;
    directory.AddUnit(&ext);
    const struct {
        std::int32_t result;
        Kind kind;
        std::string message;
    } cases[] = {
        {1, Kind::Done, ""},
        {0, Kind::UnitBusy, "a unit stayed busy"},
        {4, Kind::Failed, "no complete cascade for the move"},
        {31, Kind::MotionFailed, "Ext1 step 1"},
        {994, Kind::MotionFailed, "unit on port 99 step 4"},
    };
    for (const auto& c : cases) {
        const sila::Outcome outcome = MoveOutcomeOf(c.result, directory);
        EXPECT_EQ(outcome.kind, c.kind) << c.result;
        EXPECT_EQ(outcome.message, c.message) << c.result;
    }
}

TEST(SilaClimate, OnlyTheUnitsValuesThatReadAsNumbersAreKnown) {
    TKRBDLL dll{FakeExports()};
    TKRBId unit{"Store4", 4, "Sys", "", dll};
    unit.Temperature = unit.Humidity = unit.CO2Gassing = true;  // no N2
    const auto full = ClimateReadingsOf(unit, "022.00;040.00;000.04;078.00");
    EXPECT_EQ(full.temperature, 22.0);
    EXPECT_EQ(full.humidity, 40.0);
    EXPECT_EQ(full.co2, 0.04);
    EXPECT_FALSE(full.n2);
    const auto broken = ClimateReadingsOf(unit, "x;;5");
    EXPECT_FALSE(broken.temperature);
    EXPECT_FALSE(broken.humidity);
    EXPECT_EQ(broken.co2, 5.0);
    EXPECT_FALSE(ClimateReadingsOf(unit, "").temperature);
}

class LabUnitBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        for (TKRBId* unit : {&base, &ext}) {
            directory.AddUnit(unit);
            unit->TcpBrowser = &directory;
            unit->Activated = true;
        }
        base.Base = true;
        ext.Ext = true;
    }
    sila::PlateMove CascadeMove() const { return {3, 1, "Ext1", 6, 1}; }

    TKRBDLL dll{FakeExports()};
    UnitDirectory directory;
    TKRBId base{"Base1", 61, "Sys", "", dll};
    TKRBId ext{"Ext1", 63, "Sys", "", dll};
    LabUnitBackend backend{base, directory};
};

// Nothing is known of a unit that does not answer but what the server itself knows.
TEST_F(LabUnitBackendTest, StatusIsUnknownWhileTheUnitDoesNotAnswer) {
    base.Activated = false;
    auto status = backend.status();
    EXPECT_EQ(status.activated, false);
    EXPECT_EQ(status.linkUp, false);
    EXPECT_FALSE(status.busy);
    EXPECT_FALSE(status.doorOpen);
    EXPECT_FALSE(status.errorCode);

    base.Activated = true;
    base.DoorOpened = true;
    base.Error = true;  // the poll sets the flag before it has read the code
    platform::recordLinkExchange("COM61", std::chrono::milliseconds(1), false, false);
    status = backend.status();
    EXPECT_EQ(status.linkUp, true);
    EXPECT_EQ(status.busy, false);
    EXPECT_EQ(status.doorOpen, true);
    EXPECT_FALSE(status.errorCode);
    base.ErrorCode = 7303;
    EXPECT_EQ(backend.status().errorCode, 7303);
    EXPECT_FALSE(backend.status().errorMessage->empty());

    platform::recordLinkExchange("COM61", std::chrono::milliseconds(1), false, true);
    status = backend.status();
    EXPECT_EQ(status.linkUp, false);
    EXPECT_FALSE(status.doorOpen);
    EXPECT_FALSE(status.errorCode);
}

TEST_F(LabUnitBackendTest, RefusalsComeBeforeAnyMotion) {
    const struct {
        std::string name;
        std::function<void()> arrange;
        sila::PlateMove move;
        Kind kind;
    } cases[] = {
        {"target not activated", [&] { ext.Activated = false; }, CascadeMove(),
         Kind::UnitNotActivated},
        {"unknown target", [] {}, {3, 1, "Ext9", 6, 1}, Kind::UnknownUnit},
        {"move running", [&] { base.MoveBusy = true; }, CascadeMove(), Kind::UnitBusy},
        {"empty source", [] { Fake().Reply("KRB2ServiceIsPlateAtLocation", {"0"}); }, CascadeMove(),
         Kind::SourceEmpty},
        {"occupied target",
         [] {
             Fake().Reply("KRB2ServiceIsPlateAtLocation", {"1", "1"});
         },
         CascadeMove(), Kind::TargetOccupied},
    };
    for (const auto& c : cases) {
        Fake().Reset();
        ext.Activated = true;
        base.MoveBusy = false;
        c.arrange();
        EXPECT_EQ(backend.movePlate(c.move, {}).kind, c.kind) << c.name;
        EXPECT_EQ(Fake().Count("KRB2ServiceMovePlate"), 0) << c.name;
    }
    base.MoveBusy = false;
}

// Detectors that cannot be read decide nothing: the move runs, and its result tells.
TEST_F(LabUnitBackendTest, ACascadeMoveNamesBothUnitsAndTheirCascadeSides) {
    Fake().Reply("KRB2ServiceIsPlateAtLocation", {"-1"});
    Fake().Reply("KRB2ServiceMovePlate", {"631"});
    double last = -1;
    const auto outcome =
        backend.movePlate(CascadeMove(), [&](double fraction) { last = fraction; });
    EXPECT_EQ(outcome.kind, Kind::MotionFailed);
    EXPECT_EQ(outcome.message, "Ext1 step 1");
    EXPECT_EQ(Fake().ArgsOf("KRB2ServiceMovePlate"),
              (Strings{"61", "2", "3", "1", "1", "0", "63", "2", "6", "1", "2", "0"}));
    EXPECT_EQ(last, 0.0);  // started, never finished
    EXPECT_FALSE(base.MoveBusy);
}

// SiLA commands reach the trail through the backend, which does not know the client.
TEST_F(LabUnitBackendTest, CommandsAreRecordedWithTheirArgumentsAndOutcome) {
    Fake().Reply("KRB2ServiceIsPlateAtLocation", {"-1"});
    Fake().Reply("KRB2ServiceMovePlate", {"631"});
    RecordingSink sink;
    backend.movePlate(CascadeMove(), {});
    backend.setClimate({37, 90.5, 5, 0});
    ext.Activated = false;
    LabUnitBackend{ext, directory}.readBarcode(2, 4);
    const auto commands = sink.Commands();
    ASSERT_EQ(commands.size(), 3u);
    const struct {
        std::string unit, command, arguments, reply;
    } expected[] = {
        {"Base1", "MovePlate", "3,1,Ext1,6,1", "MotionFailed: Ext1 step 1"},
        {"Base1", "SetTargetClimate", "37,90.5,5,0", "Done"},
        {"Ext1", "ReadBarcode", "2,4", "UnitNotActivated: Ext1 is not activated"},
    };
    for (std::size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(commands[i].Origin.Door, history::Interface::Sila);
        EXPECT_EQ(commands[i].Origin.Client, "");
        EXPECT_EQ(commands[i].Origin.UnitId, expected[i].unit);
        EXPECT_EQ(commands[i].Origin.Command, expected[i].command);
        EXPECT_EQ(commands[i].Origin.Arguments, expected[i].arguments);
        EXPECT_EQ(commands[i].Reply, expected[i].reply);
    }
}

}  // namespace
}  // namespace krb::server::testing
