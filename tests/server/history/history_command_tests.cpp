// KRBServer --history: the command line, the store it names, and what it prints.
#include <gtest/gtest.h>

#include <sstream>

#include "history/HistoryCommand.h"
#include "history/SqliteStore.h"
#include "site_scenario.h"
#include "support/temp_dir.h"

namespace krb::server::history {
namespace {

using namespace testing;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunHistory(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--history");
    std::ostringstream out, err;
    const int status = RunHistoryCommand(arguments, out, err);
    return {status, out.str(), err.str()};
}

class HistoryCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config_ = dir_.write("lab/DriverConfig.lni", "[History]\r\nDatabase=trail.sqlite\r\n");
        SqliteStore a(dir_.file("lab/trail.sqlite"), kServerA);
        SqliteStore b(dir_.file("lab/trail.sqlite"), kServerB);
        WriteSiteScenario(a, b);
    }
    test_support::TempDir dir_{"krb-history"};
    std::string config_;
};

TEST_F(HistoryCommandTest, PrintsAPlatesJourneyAsATableOrAsJson) {
    const auto table = RunHistory({config_, "--plate", "P0003"});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.substr(0, table.out.find('\n')).find("TIME (UTC)"), 0u);
    EXPECT_NE(table.out.find("2026-12-09T10:00:01.000Z"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("move slot 2 (2/1): empty -> P0003"), std::string::npos);
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 3);

    const auto json =
        RunHistory({config_, "--json", "--plate", "P0003", "--until", "2026-12-09T10:00:01Z"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\"entries\":[{\"time\":\"2026-12-09T10:00:01.000Z\"", 0), 0u)
        << json.out;
    EXPECT_EQ(json.out.find("\"time\"", 20), std::string::npos) << json.out;  // one entry only
    EXPECT_TRUE(json.err.empty());
}

TEST_F(HistoryCommandTest, FiltersByUnitClientAndTime) {
    const auto client = RunHistory({config_, "--client", "10.0.0.8", "--since", "2026-12-09"});
    EXPECT_EQ(client.status, 0);
    EXPECT_NE(client.out.find("KRB2Activate"), std::string::npos);
    EXPECT_EQ(client.out.find("KRB2ServiceMovePlate"), std::string::npos);
    const auto none = RunHistory({config_, "--unit", "Base1", "--until", "2026-12-08"});
    EXPECT_EQ(none.out, "No entries.\n");
}

TEST_F(HistoryCommandTest, AWrongCommandLineOrAStoreThatCannotBeReadSaysWhyOnOneLine) {
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } cases[] = {
        {{}, 2, "usage: KRBServer --history"},
        {{"--plate", "P1"}, 2, "usage: KRBServer --history"},
        {{"CONFIG", "--plate"}, 2, "\"--plate\": usage"},
        {{"CONFIG", "--barcode", "P1"}, 2, "\"--barcode\": usage"},
        {{"CONFIG", "--since", "last week"}, 2, "--since: \"last week\" is no time"},
        {{"CONFIG", "--limit", "0"}, 2, "--limit: \"0\" is no number"},
        {{"MISSING"}, 1, "KRBServer: history: "},
    };
    const auto missing = dir_.write("other/DriverConfig.lni", "[TCP]\r\nport=1\r\n");
    for (const auto& c : cases) {
        auto arguments = c.arguments;
        for (auto& argument : arguments) {
            if (argument == "CONFIG") argument = config_;
            if (argument == "MISSING") argument = missing;
        }
        const auto outcome = RunHistory(arguments);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_TRUE(outcome.out.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.file("other/History.sqlite")));
}

}  // namespace
}  // namespace krb::server::history
