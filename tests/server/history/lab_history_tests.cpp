// The trail in a running server: installed before it listens, written through on stop, and
// a store that cannot be opened leaves the lab running.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/LabServer.h"
#include "fake_library.h"
#include "history/SqliteStore.h"
#include "history_events.h"
#include "platform/profile_file.h"
#include "support/eventually.h"
#include "support/lab_files.h"
#include "support/running_server.h"
#include "support/temp_dir.h"

namespace krb::server::history {
namespace {

using test_support::eventually;

class LabHistoryTest : public ::testing::Test {
  protected:
    // One emulated unit; `history` holds the [History] lines.
    std::string Start(const std::vector<std::pair<std::string, std::string>>& history) {
        test_support::LabFiles files(folder_.path(), "S");
        files.AddUnit(1, "U1", "[CassettesConfiguration]\r\n1-2=3,25,1\r\n");
        const auto config = files.WriteConfiguration(0, "LogFile=server.log\r\n");
        platform::ProfileFile file(config);
        for (const auto& [key, value] : history) file.writeString("History", key, value);
        server_.Start(config);
        return config;
    }
    LabServer& Lab() { return static_cast<LabServer&>(server_.Core()); }
    std::size_t LogLinesWith(const std::string& text) {
        const auto lines = test_support::readLines(folder_.file("server.log"));
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(),
            [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }
    static void Arrive(int plates) {
        for (int i = 0; i < plates; ++i) {
            Sink().Record(testing::Change("2026-12-09T10:00:00Z", "U1", i % 6 + 1, "",
                                          "P" + std::to_string(i), std::nullopt));
        }
    }

    test_support::TempDir folder_{"krb-history"};
    test_support::RunningServer server_{server::testing::FakeExports()};
};

TEST_F(LabHistoryTest, TheTrailTakesEventsOnceListeningAndWritesThemAllOnStop) {
    Start({});
    ASSERT_GT(server_.Port(), 0);
    Arrive(1);
    ASSERT_NE(Lab().History(), nullptr);
    EXPECT_TRUE(eventually([&] { return Lab().History()->Entries({}).size() == 1; }));
    Arrive(999);
    server_.Stop();
    Lab().StopHistory();
    HistoryFilter everything;
    everything.Limit = 5000;
    EXPECT_EQ(SqliteStore(folder_.file("History.sqlite")).Entries(everything).size(), 1000u);
    EXPECT_EQ(Lab().HistoryRecordsLost(), 0u);
    Arrive(2);  // nobody keeps them now
    EXPECT_EQ(Lab().HistoryRecordsLost(), 0u);
}

TEST_F(LabHistoryTest, AStoreThatCannotBeOpenedLeavesTheLabRunningAndCountsWhatIsLost) {
    folder_.write("not-a-folder", "");
    Start({{"Database", "not-a-folder/History.sqlite"}});
    EXPECT_GT(server_.Port(), 0);
    EXPECT_EQ(Lab().History(), nullptr);
    Arrive(3);
    EXPECT_EQ(Lab().HistoryRecordsLost(), 3u);
    EXPECT_EQ(LogLinesWith(";History;the trail is off: "), 1u);
}

TEST_F(LabHistoryTest, ATrailSwitchedOffKeepsNothingAndCountsNothing) {
    Start({{"Enabled", "0"}, {"QueueSize", "many"}});
    EXPECT_GT(server_.Port(), 0);
    Arrive(3);
    EXPECT_EQ(Lab().History(), nullptr);
    EXPECT_EQ(Lab().HistoryRecordsLost(), 0u);
    EXPECT_FALSE(std::filesystem::exists(folder_.file("History.sqlite")));
    EXPECT_EQ(LogLinesWith("[History] QueueSize=\"many\" is no number"), 1u);
}

}  // namespace
}  // namespace krb::server::history
