#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "metrics/CommandResults.h"
#include "metrics/PrometheusText.h"
#include "metrics/ServerMetrics.h"
#include "platform/link_metrics.h"
#include "prometheus_parser.h"
#include "protocol/UnitCommandThread.h"
#include "web/MetricsPage.h"

namespace krb::server::web {
namespace {

using testing::ParsePrometheusText;
using Type = PrometheusText::Type;

TEST(PrometheusText, LabelValuesSurviveEscapingAndReadBackAsWritten) {
    const std::string values[] = {"plain", "with \"quotes\"", "back\\slash", "two\nlines", "<b>&x",
                                  "",      "trailing\\"};
    PrometheusText text;
    text.Family("krb_test_total", "Help with a \\ and a\nline break.", Type::Counter);
    for (std::size_t i = 0; i < std::size(values); ++i) {
        text.Sample("krb_test_total", {{"value", values[i]}, {"index", std::to_string(i)}},
                    static_cast<double>(i));
    }
    const auto parsed = ParsePrometheusText(text.Text());
    EXPECT_TRUE(parsed.Problems.empty()) << ::testing::PrintToString(parsed.Problems);
    ASSERT_EQ(parsed.Samples.size(), std::size(values));
    for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(parsed.Samples[i].Labels.at("value"), values[i]);
        EXPECT_EQ(parsed.Samples[i].Value, static_cast<double>(i));
    }
}

TEST(PrometheusText, SampleValuesUseTheFormatsSpellings) {
    const struct {
        double Value;
        const char* Text;
    } cases[] = {{0, "0"},       {3, "3"},           {0.05, "0.05"},      {1e20, "1e+20"},
                 {-2.5, "-2.5"}, {INFINITY, "+Inf"}, {-INFINITY, "-Inf"}, {NAN, "NaN"}};
    for (const auto& c : cases) EXPECT_EQ(FormatSampleValue(c.Value), c.Text) << c.Value;
}

TEST(PrometheusText, HistogramBucketsAreCumulativeAndEndWithTheCount) {
    PrometheusText text;
    text.Family("krb_latency_seconds", "Latency.", Type::Histogram);
    text.Histogram("krb_latency_seconds", {{"unit", "A"}}, {{0.1, 1}, {2, 0, 5}, 7.5});
    text.Histogram("krb_latency_seconds", {{"unit", "B"}}, {{0.1, 1}, {}, 0});
    const auto parsed = ParsePrometheusText(text.Text());
    EXPECT_TRUE(parsed.Problems.empty()) << ::testing::PrintToString(parsed.Problems);
    EXPECT_EQ(parsed.Value("krb_latency_seconds_bucket", {{"unit", "A"}, {"le", "0.1"}}), 2);
    EXPECT_EQ(parsed.Value("krb_latency_seconds_bucket", {{"unit", "A"}, {"le", "1"}}), 2);
    EXPECT_EQ(parsed.Value("krb_latency_seconds_bucket", {{"unit", "A"}, {"le", "+Inf"}}), 7);
    EXPECT_EQ(parsed.Value("krb_latency_seconds_count", {{"unit", "A"}}), 7);
    EXPECT_EQ(parsed.Value("krb_latency_seconds_sum", {{"unit", "A"}}), 7.5);
    EXPECT_EQ(parsed.Value("krb_latency_seconds_count", {{"unit", "B"}}), 0);
}

// The reader used below must itself refuse what the format does not allow.
TEST(PrometheusTextReader, RefusesMalformedText) {
    const char* malformed[] = {
        "krb_x 1\n",                                            // no TYPE
        "# TYPE krb_x counter\nkrb_x{a=\"1} 1\n",               // open quote
        "# TYPE krb_x counter\nkrb_x{a=\"1\",a=\"2\"} 1\n",     // label twice
        "# TYPE krb_x counter\nkrb_x one\n",                    // no number
        "# TYPE krb_x counter\nkrb_x 1",                        // no final line break
        "# TYPE krb_x counter\n# TYPE krb_y gauge\nkrb_x 1\n",  // outside its block
        "# TYPE krb_h histogram\nkrb_h_bucket{le=\"1\"} 2\nkrb_h_bucket{le=\"+Inf\"} 1\n"
        "krb_h_count 1\n",                                                    // not cumulative
        "# TYPE krb_h histogram\nkrb_h_bucket{le=\"1\"} 2\nkrb_h_count 2\n",  // no +Inf
    };
    for (const char* text : malformed) {
        EXPECT_FALSE(ParsePrometheusText(text).Problems.empty()) << text;
    }
}

TEST(CommandResult, WithoutCodesOfItsOwnKeepsErrorCodesAndFoldsEverythingElse) {
    const struct {
        const char* Reply;
        const char* Result;
    } cases[] = {{"1\r\n", "ok"},
                 {"0", "ok"},
                 {"E1\r\n", "E1"},
                 {"E2", "E2"},
                 {"E3", "E3"},
                 {"-1", "failed"},
                 {"-12\r\n", "failed"},
                 {"-", "ok"},
                 {"P0001", "ok"},
                 {"E_Inventory File doesn't exist", "ok"},
                 {"", "ok"}};
    for (const auto& c : cases) EXPECT_EQ(CommandResultOf("unknown", c.Reply), c.Result) << c.Reply;
}

// One command of each family of result codes, with its successes and its failures.
TEST(CommandResult, IsReadByTheCommandsOwnCodes) {
    const struct {
        const char* Command;
        const char* Reply;
        const char* Result;
    } cases[] = {
        {"KRB2ServiceMovePlate", "1", "ok"},
        {"KRB2ServiceMovePlate", "-1", "failed"},
        {"KRB2ServiceMovePlate", "-7", "failed"},
        {"KRB2ServiceMovePlate", "-Base1;3", "failed"},
        {"KRB2ServiceMovePlate", "E3", "E3"},
        {"KRB2ManualAccess", "0", "failed"},
        {"KRB2ClearHistory", "-1", "failed"},
        {"KRB2InventoryPlateExp", "1\r\n\r\n", "ok"},
        {"KRB2InventoryPlateExp", "E_Inventory File doesn't exist", "failed"},
        {"KRB2InventoryPlateExp", "E_#12", "failed"},
        {"KRB2Inventory", "-1", "failed"},
        {"KRB2Activate", "1", "ok"},
        {"KRB2Activate", "1;1", "ok"},
        {"KRB2Activate", "1;-1", "failed"},
        {"KRB2Activate", "-5", "failed"},
        {"KRB2ReadUserDoorFlag", "0", "ok"},
        {"KRB2ReadUserDoorFlag", "1", "ok"},
        {"KRB2ReadUserDoorFlag", "-1", "failed"},
        {"KRB2ServiceIsPlateAtLocation", "3", "failed"},
        {"KRB2GetSysStatus", "33", "ok"},
        {"KRB2GetSysStatus", "-1", "failed"},
        {"KRB2ReadErrorCode", "0", "ok"},
        {"KRB2ReadErrorCode", "x", "failed"},
        {"KRB2ReadBackStr", "00001", "ok"},
        {"KRB2ReadBackStr", "", "failed"},
        {"KRB2ServiceReadBarcode", "-1", "ok"},  // a barcode may read so
        {"KRB2Lock", "", "ok"},
        {"KRB2TransferStPosition", "E1", "E1"},
        {"KRB2BeeperOn", "-1", "failed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommandResultOf(c.Command, c.Reply), c.Result) << c.Command << " " << c.Reply;
    }
}

// A reply that cannot tell failure is a failure when the controller did not answer.
TEST(CommandResult, IsFailedForAnUnansweredCommandWhoseReplyCannotTell) {
    const struct {
        const char* Command;
        const char* Reply;
        bool AllAnswered;
        const char* Result;
    } cases[] = {
        {"KRB2Lock", "", true, "ok"},
        {"KRB2Lock", "", false, "failed"},
        {"KRB2ReadActualClimate", "000.00;000.00;000.00;000.00", true, "ok"},
        {"KRB2ReadActualClimate", "000.00;000.00;000.00;000.00", false, "failed"},
        {"KRB2ServiceMovePlate", "1", false, "ok"},  // its own code says the move was done
        {"KRB2ReadErrorFlag", "-1", false, "failed"},
        {"KRB2TransferStPosition", "E1", false, "E1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommandResultOf(c.Command, c.Reply, c.AllAnswered), c.Result)
            << c.Command << " " << c.Reply << " " << c.AllAnswered;
    }
}

TEST(CommandResult, EveryUnitCommandHasCodesOfItsOwn) {
    for (const auto& row : UnitCommandTable()) EXPECT_TRUE(HasResultCodes(row.Name)) << row.Name;
    EXPECT_FALSE(HasResultCodes("unknown"));
}

TEST(ComPort, IsReadFromTheLibrarysPortNames) {
    EXPECT_EQ(ComPortOf("COM3"), 3);
    EXPECT_EQ(ComPortOf("\\\\.\\COM12"), 12);
    EXPECT_EQ(ComPortOf("COMx"), 0);
    EXPECT_EQ(ComPortOf("ttyS0"), 0);
    EXPECT_EQ(ComPortOf("COM99999999999"), 0);
}

LabSnapshot OneUnitLab() {
    LabSnapshot lab;
    lab.Listening = true;
    lab.Connections = 2;
    UnitView unit;
    unit.Id = "Unit \"7\"";
    unit.ComPort = 7;
    unit.Activated = true;
    unit.DoorOpen = true;
    lab.Systems.push_back({"S1", "1", {unit}});
    return lab;
}

TEST(MetricsPage, ParsesAndItsCountersMoveWithTheServersWork) {
    const LabSnapshot lab = OneUnitLab();
    const auto before = ParsePrometheusText(MetricsPage(lab, true));
    ASSERT_TRUE(before.Problems.empty()) << ::testing::PrintToString(before.Problems);
    const auto count = [](const testing::ParsedMetrics& metrics, const std::string& name,
                          const std::map<std::string, std::string>& labels) {
        return metrics.Value(name, labels).value_or(0);
    };

    platform::recordLinkExchange("\\\\.\\COM7", std::chrono::milliseconds(120), true, false);
    platform::recordLinkExchange("\\\\.\\COM7", std::chrono::milliseconds(900), true, true);
    Metrics().RecordCommand("KRB2Activate", "1", std::chrono::milliseconds(3));
    Metrics().RecordCommand("KRB2Activate", "E3", std::chrono::seconds(40));
    Metrics().RecordContentsWrite(true);
    Metrics().RecordContentsWrite(false);

    const auto after = ParsePrometheusText(MetricsPage(lab, true));
    ASSERT_TRUE(after.Problems.empty()) << ::testing::PrintToString(after.Problems);
    // How much a series grew between the two pages.
    const auto growth = [&](const std::string& name,
                            const std::map<std::string, std::string>& labels) {
        return count(after, name, labels) - count(before, name, labels);
    };
    const std::map<std::string, std::string> link{{"unit", "Unit \"7\""}};
    EXPECT_EQ(growth("krb_link_exchanges_total", link), 2);
    EXPECT_EQ(growth("krb_link_retries_total", link), 2);
    EXPECT_EQ(growth("krb_link_timeouts_total", link), 1);
    EXPECT_EQ(growth("krb_link_exchange_duration_seconds_count", link), 2);
    for (const char* result : {"ok", "E3"}) {
        const std::map<std::string, std::string> command{{"command", "KRB2Activate"},
                                                         {"result", result}};
        EXPECT_EQ(growth("krb_commands_total", command), 1) << result;
    }
    EXPECT_EQ(
        growth("krb_command_duration_seconds_bucket", {{"command", "KRB2Activate"}, {"le", "30"}}),
        1);
    EXPECT_EQ(growth("krb_contents_file_writes_total", {}), 2);
    EXPECT_EQ(growth("krb_contents_file_write_failures_total", {}), 1);
    EXPECT_EQ(after.Value("krb_unit_door_open", {{"unit", "Unit \"7\""}}), 1);
    EXPECT_EQ(after.Value("krb_unit_busy", {{"unit", "Unit \"7\""}}), 0);
    EXPECT_EQ(after.Value("krb_client_connections"), 2);
    EXPECT_EQ(after.Value("krb_listener_up", {{"listener", "web"}}), 1);
}

TEST(MetricsPage, ShowsTheLinkDownWhileItIsGoneAndCountsTheLoss) {
    const LabSnapshot lab = OneUnitLab();
    const std::map<std::string, std::string> link{{"unit", "Unit \"7\""}};
    platform::recordLinkExchange("\\\\.\\COM7", std::chrono::milliseconds(50), false, false);
    const auto before = ParsePrometheusText(MetricsPage(lab, true));
    EXPECT_EQ(before.Value("krb_link_up", link), 1);

    platform::recordLinkLost("\\\\.\\COM7", "read failed");
    const auto lost = ParsePrometheusText(MetricsPage(lab, true));
    ASSERT_TRUE(lost.Problems.empty()) << ::testing::PrintToString(lost.Problems);
    EXPECT_EQ(lost.Value("krb_link_up", link), 0);
    EXPECT_EQ(lost.Value("krb_link_losses_total", link).value_or(0) -
                  before.Value("krb_link_losses_total", link).value_or(0),
              1);

    platform::recordLinkBack("\\\\.\\COM7", 3);
    EXPECT_EQ(ParsePrometheusText(MetricsPage(lab, true)).Value("krb_link_up", link), 1);
}

}  // namespace
}  // namespace krb::server::web

namespace krb::server::web {
namespace {

TEST(MetricsPage, ShowsAUnitWhoseExchangesTimeOutAsNotAnswering) {
    const LabSnapshot lab = OneUnitLab();
    const std::map<std::string, std::string> link{{"unit", "Unit \"7\""}};
    const auto upOf = [&] {
        return ParsePrometheusText(MetricsPage(lab, true)).Value("krb_link_up", link);
    };
    platform::recordLinkExchange("\\\\.\\COM7", std::chrono::milliseconds(50), false, false);
    EXPECT_EQ(upOf(), 1);
    platform::recordLinkExchange("\\\\.\\COM7", std::chrono::milliseconds(900), true, true);
    EXPECT_EQ(upOf(), 0);
    platform::recordLinkExchange("\\\\.\\COM7", std::chrono::milliseconds(900), true, true);
    EXPECT_EQ(upOf(), 0);
    platform::recordLinkExchange("\\\\.\\COM7", std::chrono::milliseconds(80), true, false);
    EXPECT_EQ(upOf(), 1);
}

TEST(LinkTimeOuts, AreCountedForTheThreadThatExchanged) {
    const auto before = platform::linkTimeOutsOfThisThread();
    std::thread other(
        [] { platform::recordLinkExchange("COM9", std::chrono::milliseconds(900), true, true); });
    other.join();
    EXPECT_EQ(platform::linkTimeOutsOfThisThread(), before);
    platform::recordLinkExchange("COM9", std::chrono::milliseconds(50), false, false);
    EXPECT_EQ(platform::linkTimeOutsOfThisThread(), before);
    platform::recordLinkExchange("COM9", std::chrono::milliseconds(900), true, true);
    EXPECT_EQ(platform::linkTimeOutsOfThisThread(), before + 1);
}

// Flags and values that are not known have no sample: a unit without a door, a unit that does
// not answer, a climate value that could not be read.
TEST(MetricsPage, LeavesOutWhatIsNotKnown) {
    LabSnapshot lab;
    UnitView cascader;
    cascader.Id = "Casc1";
    cascader.Activated = true;
    cascader.HasDoor = false;
    UnitView silent;
    silent.Id = "Ext1";
    silent.Activated = true;
    silent.Link = "not answering";
    silent.Climate = {{"temperature", ""}, {"humidity", ""}};
    UnitView store;
    store.Id = "Store4";
    store.Activated = true;
    store.Link = "up";
    store.Climate = {{"temperature", "037.50"}, {"humidity", "90,5"}, {"CO2", ""}, {"N2", "-"}};
    lab.Systems.push_back({"S1", "1", {cascader, silent, store}});

    const auto page = ParsePrometheusText(MetricsPage(lab, true));
    ASSERT_TRUE(page.Problems.empty()) << ::testing::PrintToString(page.Problems);
    const struct {
        const char* Name;
        std::map<std::string, std::string> Labels;
        std::optional<double> Value;
    } cases[] = {
        {"krb_unit_door_open", {{"unit", "Casc1"}}, std::nullopt},
        {"krb_unit_error", {{"unit", "Casc1"}}, 0},
        {"krb_unit_door_open", {{"unit", "Ext1"}}, std::nullopt},
        {"krb_unit_error", {{"unit", "Ext1"}}, std::nullopt},
        {"krb_unit_activated", {{"unit", "Ext1"}}, 1},
        {"krb_unit_climate", {{"unit", "Ext1"}, {"value", "temperature"}}, std::nullopt},
        {"krb_unit_door_open", {{"unit", "Store4"}}, 0},
        {"krb_unit_climate", {{"unit", "Store4"}, {"value", "temperature"}}, 37.5},
        {"krb_unit_climate", {{"unit", "Store4"}, {"value", "humidity"}}, 90.5},
        {"krb_unit_climate", {{"unit", "Store4"}, {"value", "CO2"}}, std::nullopt},
        {"krb_unit_climate", {{"unit", "Store4"}, {"value", "N2"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(page.Value(c.Name, c.Labels), c.Value)
            << c.Name << " " << ::testing::PrintToString(c.Labels);
    }
}

}  // namespace
}  // namespace krb::server::web
