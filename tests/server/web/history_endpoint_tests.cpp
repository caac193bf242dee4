// GET /history on the dashboard's port, against a stand-in for the trail's store.
#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>

#include "web/DashboardFeed.h"
#include "web/DashboardServer.h"

namespace krb::server::web {
namespace {

class FakeReader : public history::HistoryReader {
  public:
    std::vector<history::HistoryEntry> Entries(const history::HistoryFilter& filter) override {
        std::unique_lock lock(mutex_);
        asked_.push_back(filter);
        released_.wait(lock, [this] { return !held_; });
        if (broken_) throw std::runtime_error("database is locked");
        history::HistoryEntry entry;
        entry.UnitId = "Base1";
        entry.Command = "KRB2ServiceMovePlate";
        entry.Change = history::EntryChange{3, 3, 1, {true, "P0003", ""}, {}, "move"};
        return {entry};
    }
    void Break() { broken_ = true; }
    void Hold() { held_ = true; }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        released_.notify_all();
    }
    std::vector<history::HistoryFilter> Asked() {
        std::lock_guard lock(mutex_);
        return asked_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    bool broken_ = false;
    std::vector<history::HistoryFilter> asked_;
};

class HistoryEndpointTest : public ::testing::Test {
  protected:
    void Start(std::shared_ptr<history::HistoryReader> reader) {
        server_.ServeHistory([reader] { return reader; });
        std::string problem;
        ASSERT_TRUE(server_.Start("127.0.0.1", 0, problem)) << problem;
    }
    httplib::Result Get(const std::string& target) {
        httplib::Client client("127.0.0.1", server_.Port());
        client.set_read_timeout(30, 0);
        return client.Get(target);
    }

    SnapshotHub hub_;
    std::shared_ptr<FakeReader> shared_ = std::make_shared<FakeReader>();
    FakeReader& reader_ = *shared_;
    DashboardServer server_{hub_};
};

TEST_F(HistoryEndpointTest, AnswersAQueryAsJsonAndABadParameterWithItsReason) {
    Start(shared_);
    const struct {
        std::string target;
        int status;
        std::string bodyHas;
    } cases[] = {
        {"/history?plate=P0003&unit=Base1&limit=5", 200, "\"barcode\":\"P0003\""},
        {"/history", 200, "\"entries\":["},
        {"/history?colour=red", 400, "colour"},
        {"/history?since=yesterday", 400, "since"},
        {"/history?limit=0", 400, "limit"},
    };
    for (const auto& c : cases) {
        const auto reply = Get(c.target);
        ASSERT_TRUE(reply) << c.target;
        EXPECT_EQ(reply->status, c.status) << c.target;
        EXPECT_NE(reply->body.find(c.bodyHas), std::string::npos) << c.target << reply->body;
        if (c.status == 200) {
            EXPECT_EQ(reply->get_header_value("Content-Type"), "application/json");
        } else {
            EXPECT_EQ(reply->body.find('\n'), reply->body.size() - 1) << reply->body;
        }
    }
    const auto asked = reader_.Asked();
    ASSERT_EQ(asked.size(), 2u);  // bad queries never reach the store
    EXPECT_EQ(asked[0].Plate, "P0003");
    EXPECT_EQ(asked[0].UnitId, "Base1");
    EXPECT_EQ(asked[0].Limit, 5u);
}

TEST_F(HistoryEndpointTest, ATrailThatIsOffOrUnreadableAnswers503) {
    for (const bool served : {true, false}) {
        DashboardServer server(hub_);
        if (served) server.ServeHistory([] { return nullptr; });
        std::string problem;
        ASSERT_TRUE(server.Start("127.0.0.1", 0, problem)) << problem;
        httplib::Client client("127.0.0.1", server.Port());
        const auto off = client.Get("/history?plate=P0003");
        ASSERT_TRUE(off);
        EXPECT_EQ(off->status, 503);
        EXPECT_EQ(off->body, "the audit trail is off\n");
    }

    reader_.Break();
    const HistoryAnswer broken = AnswerHistoryQuery(&reader_, "plate=P0003");
    EXPECT_EQ(broken.Status, 503);
    EXPECT_EQ(broken.Body, "the audit trail cannot be read: database is locked\n");
}

// A store that takes its time holds up only the query, never the page or /metrics.
TEST_F(HistoryEndpointTest, TheDashboardAnswersWhileAQueryWaitsForTheStore) {
    Start(shared_);
    reader_.Hold();
    auto waiting = std::async(std::launch::async, [this] { return Get("/history?plate=P1"); });
    while (reader_.Asked().empty()) std::this_thread::yield();
    const auto metrics = Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->status, 200);
    reader_.Release();
    const auto history = waiting.get();
    ASSERT_TRUE(history);
    EXPECT_EQ(history->status, 200);
}

}  // namespace
}  // namespace krb::server::web
