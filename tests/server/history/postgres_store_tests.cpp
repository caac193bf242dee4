// The trail in a real PostgreSQL server that several lab servers share.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "history/AuditTrail.h"
#include "history/PostgresStore.h"
#include "postgres_cluster.h"
#include "site_scenario.h"
#include "support/eventually.h"
#include "support/time_scale.h"

namespace krb::server::history {
namespace {

using namespace testing;
using test_support::eventually;

class PostgresStoreTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!PostgresCluster::BinariesFolder().empty()) cluster_ = new PostgresCluster();
    }
    static void TearDownTestSuite() {
        delete cluster_;
        cluster_ = nullptr;
    }
    void SetUp() override {
        if (!cluster_) GTEST_SKIP() << "PostgreSQL is not installed";
        // Each test on an empty database.
        PostgresStore reset(cluster_->Uri(), kServerA);
        reset.Write({});
        reset.RemoveOlderThan(Clock::time_point::max());
    }

    static PostgresCluster* cluster_;
};

PostgresCluster* PostgresStoreTest::cluster_ = nullptr;

TEST_F(PostgresStoreTest, TwoServersStartingTogetherShareOneDatabaseAndOneQueryFindsBoth) {
    PostgresStore a(cluster_->Uri(), kServerA);
    PostgresStore b(cluster_->Uri(), kServerB);
    std::thread first([&] { a.Write({}); });
    b.Write({});
    first.join();
    WriteSiteScenario(a, b);
    PostgresStore reader(cluster_->Uri());
    ExpectSiteAnswers(reader);
    ExpectWholeEntry(reader);
}

TEST_F(PostgresStoreTest, ABatchOfHundredsArrivesWholeAndInOrder) {
    PostgresStore store(cluster_->Uri(), kServerA);
    const auto move = Origin(9, "2026-12-09T09:00:00Z", "10.0.0.7:5000", "Base1", "KRB2Scan");
    std::vector<HistoryEvent> batch{Command(move, "1")};
    for (int i = 0; i < 250; ++i) {
        const auto time = "2026-12-09T10:00:" + std::string(i < 100 ? "0" : "") +
                          std::to_string(i / 10) + "." + std::to_string(i % 10) + "Z";
        batch.push_back(Change(time, "Base1", i % 99 + 1, "", "Q" + std::to_string(i), move,
                               ChangeCause::Inventory));
    }
    store.Write(batch);
    HistoryFilter everything;
    const auto entries = store.Entries(everything);
    ASSERT_EQ(entries.size(), 251u);
    EXPECT_FALSE(entries[0].Change);
    for (int i = 0; i < 250; ++i) {
        const auto& entry = entries[static_cast<std::size_t>(i) + 1];
        ASSERT_TRUE(entry.Change);
        EXPECT_EQ(entry.Change->After.Barcode, "Q" + std::to_string(i));
        EXPECT_EQ(entry.Change->SlotNo, i % 99 + 1);
        EXPECT_EQ(entry.Change->Cause, "inventory");
        EXPECT_EQ(entry.Command, "KRB2Scan");
        EXPECT_EQ(entry.Reply, "1");
    }
}

// Needs no server of its own.
TEST(PostgresStore, AnAddressThatCannotBeUsedIsRefusedAtOnce) {
    EXPECT_THROW(PostgresStore("postgresql://krb@127.0.0.1:5432/db?nosuchoption=1", kServerA),
                 StoreError);
    PostgresStore unreachable("postgresql://krb@127.0.0.1:1/postgres?connect_timeout=1");
    EXPECT_THROW(unreachable.Entries({}), StoreError);
}

TEST_F(PostgresStoreTest, EventsQueuedWhileTheDatabaseIsDownArriveAfterItIsBack) {
    test_support::ScopedTimeScale fast(0.01);  // back-off from 5 ms
    auto noLog = [](const std::string&) {};
    AuditTrail a(std::make_unique<PostgresStore>(cluster_->Uri(), kServerA), {}, noLog);
    AuditTrail b(std::make_unique<PostgresStore>(cluster_->Uri(), kServerB), {}, noLog);
    const auto arrive = [](AuditTrail& trail, const std::string& prefix, int from, int to) {
        for (int i = from; i < to; ++i) {
            trail.Record(Change("2026-12-09T10:00:00Z", "Base1", i % 99 + 1, "",
                                prefix + std::to_string(i), std::nullopt));
        }
    };
    arrive(a, "A", 0, 50);
    arrive(b, "B", 0, 50);
    ASSERT_TRUE(eventually([&] { return a.Written() == 50 && b.Written() == 50; }));

    cluster_->Stop();
    arrive(a, "A", 50, 100);
    arrive(b, "B", 50, 100);
    EXPECT_EQ(a.Pending() + b.Pending(), 100u);
    cluster_->Start();

    ASSERT_TRUE(eventually([&] { return a.Written() == 100 && b.Written() == 100; }));
    EXPECT_EQ(a.Lost() + b.Lost(), 0u);
    PostgresStore reader(cluster_->Uri());
    for (const char* plate : {"A0", "A99", "B0", "B99"}) {
        const auto filter = FilterFromQueryString(std::string("plate=") + plate, nullptr);
        EXPECT_EQ(reader.Entries(*filter).size(), 1u) << plate;
    }
    HistoryFilter everything;
    EXPECT_EQ(reader.Entries(everything).size(), 200u);
}

}  // namespace
}  // namespace krb::server::history
