#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "metrics/ServerMetrics.h"
#include "platform/link_metrics.h"
#include "prometheus_parser.h"
#include "web/DashboardFeed.h"
#include "web/MetricsPage.h"

namespace krb::server::web {
namespace {

using testing::ParsePrometheusText;
using Clock = std::chrono::steady_clock;
using Labels = std::map<std::string, std::string>;

testing::ParsedMetrics PageAt(const LabSnapshot& lab, Clock::time_point now) {
    auto page = ParsePrometheusText(MetricsPage(lab, true, now));
    EXPECT_TRUE(page.Problems.empty()) << ::testing::PrintToString(page.Problems);
    return page;
}

LabSnapshot LabOf(std::vector<UnitView> units) {
    LabSnapshot lab;
    lab.Systems.push_back({"S1", "1", std::move(units)});
    return lab;
}

UnitView ActiveUnit(const std::string& id, int comPort = 0) {
    UnitView unit;
    unit.Id = id;
    unit.ComPort = comPort;
    unit.Activated = true;
    unit.Link = "up";
    return unit;
}

// Each value in a family of its own with its unit in the name; a value that was not read, or
// was read while the unit did not answer (an empty text), has no sample, never 0.
TEST(UnitMetrics, ShowClimateActualAndSetValuesOnlyWhenRead) {
    UnitView incubator = ActiveUnit("Base1");
    incubator.Climate = {{"temperature", "037.20"}, {"humidity", "088.00"}, {"CO2", "0"}};
    incubator.ClimateSet = {{"temperature", "037.00"}, {"humidity", "090,00"}, {"CO2", ""}};
    UnitView silent = ActiveUnit("Ext1");
    silent.Climate = {{"temperature", ""}, {"N2", ""}};
    UnitView unread = ActiveUnit("Store4");
    unread.Climate = {{"temperature", "-004.50"}, {"N2", "002.00"}};
    const auto page = PageAt(LabOf({incubator, silent, unread}), Clock::now());
    const struct {
        const char* Name;
        const char* Unit;
        std::optional<double> Value;
    } cases[] = {
        {"krb_unit_temperature_celsius", "Base1", 37.2},
        {"krb_unit_temperature_setpoint_celsius", "Base1", 37.0},
        {"krb_unit_humidity_percent", "Base1", 88.0},
        {"krb_unit_humidity_setpoint_percent", "Base1", 90.0},
        {"krb_unit_co2_percent", "Base1", 0.0},
        {"krb_unit_co2_setpoint_percent", "Base1", std::nullopt},
        {"krb_unit_n2_percent", "Base1", std::nullopt},
        {"krb_unit_temperature_celsius", "Ext1", std::nullopt},
        {"krb_unit_n2_percent", "Ext1", std::nullopt},
        {"krb_unit_temperature_celsius", "Store4", -4.5},
        {"krb_unit_temperature_setpoint_celsius", "Store4", std::nullopt},
        {"krb_unit_n2_percent", "Store4", 2.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(page.Value(c.Name, {{"unit", c.Unit}}), c.Value) << c.Name << " " << c.Unit;
    }
    EXPECT_EQ(page.Types.at("krb_unit_temperature_setpoint_celsius"), "gauge");
}

TEST(UnitMetrics, TellHowLongTheDoorIsOpenOnlyWhileItsStateIsKnown) {
    const auto now = Clock::now();
    const auto unitWith = [&](const char* id, bool open, std::optional<int> openSeconds) {
        UnitView unit = ActiveUnit(id);
        unit.DoorOpen = open;
        if (openSeconds) unit.DoorOpenSince = now - std::chrono::seconds(*openSeconds);
        return unit;
    };
    UnitView closed = unitWith("Closed", false, std::nullopt);
    UnitView open = unitWith("Open", true, 95);
    UnitView silent = unitWith("Silent", true, 95);
    silent.Link = "not answering";
    UnitView cascader = unitWith("Cascader", false, std::nullopt);
    cascader.HasDoor = false;
    UnitView idle = unitWith("Idle", false, std::nullopt);
    idle.Activated = false;
    UnitView unstamped = unitWith("Unstamped", true, std::nullopt);
    const auto page = PageAt(LabOf({closed, open, silent, cascader, idle, unstamped}), now);
    const struct {
        const char* Unit;
        std::optional<double> Seconds;
    } cases[] = {{"Closed", 0},
                 {"Open", 95},
                 {"Silent", std::nullopt},
                 {"Cascader", std::nullopt},
                 {"Idle", std::nullopt},
                 {"Unstamped", std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(page.Value("krb_unit_door_open_seconds", {{"unit", c.Unit}}), c.Seconds)
            << c.Unit;
    }
}

// The dashboard stamps each snapshot it takes; the first sighting of an open door is kept
// through a silence of the unit and ends when the door is seen closed or polls stop.
TEST(DoorOpenings, KeepTheFirstSightingOfAnOpenDoorUntilItIsSeenClosed) {
    const auto start = Clock::now();
    const struct {
        bool Open;
        const char* Link;
        bool Activated;
        std::optional<int> SinceSecond;  // expected stamp, seconds after start
    } steps[] = {
        {false, "up", true, std::nullopt},
        {true, "up", true, 1},
        {true, "up", true, 1},
        {true, "not answering", true, std::nullopt},
        {true, "up", true, 1},
        {false, "up", true, std::nullopt},
        {true, "up", true, 6},
        {true, "up", false, std::nullopt},
        {true, "up", true, 8},
    };
    DoorOpenings openings;
    for (std::size_t step = 0; step < std::size(steps); ++step) {
        UnitView unit = ActiveUnit("Store4");
        unit.DoorOpen = steps[step].Open;
        unit.Link = steps[step].Link;
        unit.Activated = steps[step].Activated;
        LabSnapshot lab = LabOf({unit});
        openings.Stamp(lab, start + std::chrono::seconds(step));
        const auto& stamped = lab.Systems[0].Units[0].DoorOpenSince;
        const auto expected = steps[step].SinceSecond;
        EXPECT_EQ(stamped.has_value(), expected.has_value()) << "step " << step;
        if (stamped && expected) {
            EXPECT_EQ(*stamped, start + std::chrono::seconds(*expected)) << "step " << step;
        }
    }
}

// Read from the controller's line: a time-out does not count as an answer, a unit whose line
// never answered has no sample, and its barcode reader's line is not its controller.
TEST(UnitMetrics, TellSecondsSinceTheUnitLastAnswered) {
    const auto before = Clock::now();
    platform::recordLinkExchange("\\\\.\\COM41", std::chrono::milliseconds(40), false, false);
    const auto after = Clock::now();
    platform::recordLinkExchange("\\\\.\\COM41", std::chrono::milliseconds(900), true, true);
    platform::recordLinkExchange("COM42", std::chrono::milliseconds(900), true, true);
    platform::noteReaderLine("COM43", 42);
    platform::recordLinkExchange("COM43", std::chrono::milliseconds(40), false, false);

    const auto page = PageAt(
        LabOf({ActiveUnit("Answered", 41), ActiveUnit("Never", 42), ActiveUnit("Unused", 44)}),
        after + std::chrono::seconds(30));
    const auto age = page.Value("krb_unit_last_answer_age_seconds", {{"unit", "Answered"}});
    ASSERT_TRUE(age.has_value());
    EXPECT_GE(*age, 30.0);
    EXPECT_LE(*age, 30.0 + std::chrono::duration<double>(after - before).count());
    EXPECT_EQ(page.Value("krb_unit_last_answer_age_seconds", {{"unit", "Never"}}), std::nullopt);
    EXPECT_EQ(page.Value("krb_unit_last_answer_age_seconds", {{"unit", "Unused"}}), std::nullopt);
}

TEST(UnitMetrics, CountTheCommandsEachUnitRuns) {
    const LabSnapshot lab = LabOf({ActiveUnit("Busy1"), ActiveUnit("Idle1")});
    const auto runningOf = [&](const char* unit) {
        return PageAt(lab, Clock::now()).Value("krb_unit_commands_running", {{"unit", unit}});
    };
    {
        const auto first = Metrics().CommandRunning("Busy1");
        const auto second = Metrics().CommandRunning("Busy1");
        EXPECT_EQ(runningOf("Busy1"), 2);
        EXPECT_EQ(runningOf("Idle1"), 0);
    }
    EXPECT_EQ(runningOf("Busy1"), 0);
}

TEST(ServerMetrics, ReadTheHistoryLossesFromTheInstalledSourceAndZeroWithout) {
    const auto lost = [] {
        return PageAt(LabSnapshot{}, Clock::now()).Value("krb_history_records_lost_total");
    };
    EXPECT_EQ(lost(), 0);
    std::uint64_t dropped = 17;
    Metrics().SetHistoryLossSource([&dropped] { return dropped; });
    EXPECT_EQ(lost(), 17);
    dropped = 18;
    EXPECT_EQ(lost(), 18);
    Metrics().SetHistoryLossSource({});
    EXPECT_EQ(lost(), 0);
}

}  // namespace
}  // namespace krb::server::web
