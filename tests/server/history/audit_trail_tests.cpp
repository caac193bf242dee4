// The trail between the lab's threads and the store: never waits, counts what it cannot keep,
// writes what it accepted, rides out a store that fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "history/AuditTrail.h"
#include "history/SqliteStore.h"
#include "history_events.h"
#include "support/eventually.h"
#include "support/temp_dir.h"
#include "support/time_scale.h"

namespace krb::server::history {
namespace {

using namespace testing;
using test_support::eventually;

// A store under the test's control: it can hold every write of events until released, and
// fail a number of writes first.
class ControlledStore final : public HistoryStore {
  public:
    void Hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        released_.notify_all();
    }
    void FailNext(int writes) {
        std::lock_guard lock(mutex_);
        failures_ = writes;
    }
    std::size_t Rows() const {
        std::lock_guard lock(mutex_);
        return rows_;
    }
    int Attempts() const {
        std::lock_guard lock(mutex_);
        return attempts_;
    }
    bool Holding() const {
        std::lock_guard lock(mutex_);
        return holding_;
    }

    void Write(const std::vector<HistoryEvent>& batch) override {
        std::unique_lock lock(mutex_);
        holding_ = held_ && !batch.empty();
        released_.wait(lock, [&] { return !held_ || batch.empty(); });
        holding_ = false;
        ++attempts_;
        if (failures_ != 0) {
            if (failures_ > 0) --failures_;
            throw StoreError("database gone");
        }
        rows_ += batch.size();
    }
    std::size_t RemoveOlderThan(Clock::time_point) override { return 0; }
    std::vector<HistoryEntry> Entries(const HistoryFilter&) override { return {}; }

  private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    bool holding_ = false;  // a batch waits for the release
    int failures_ = 0;      // -1: every write fails
    int attempts_ = 0;
    std::size_t rows_ = 0;
};

class LogLines {
  public:
    AuditTrail::LogLine Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::size_t Count(const std::string& part) const {
        const auto lines = Lines();
        return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](auto& line) {
            return line.find(part) != std::string::npos;
        }));
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

RecordChange AnyChange(int slot) {
    return Change("2026-12-09T10:00:00Z", "Base1", slot, "", "P" + std::to_string(slot),
                  std::nullopt);
}

TEST(AuditTrail, AFullQueueCountsWhatItCannotKeepAndNeverWaitsForTheStore) {
    auto store = std::make_unique<ControlledStore>();
    auto& controlled = *store;
    controlled.Hold();
    LogLines log;
    AuditTrail trail(std::move(store), {.QueueSize = 100, .RetentionDays = 0}, log.Sink());
    // The batch the writer holds counts against the bound as well.
    trail.Record(AnyChange(0));
    ASSERT_TRUE(eventually([&] { return controlled.Holding(); }));
    // Every call returns while the store holds the writer.
    for (int i = 1; i < 130; ++i) trail.Record(AnyChange(i));
    trail.Record(Command(Origin(1, "2026-12-09T10:00:00Z", "", "", "KRB2Activate"), "1"));
    EXPECT_EQ(trail.Lost(), 31u);
    EXPECT_EQ(trail.Pending(), 100u);
    controlled.Release();
    EXPECT_TRUE(eventually([&] { return trail.Written() == 100; }));
    EXPECT_EQ(controlled.Rows(), 100u);
    // Room again once written.
    trail.Record(AnyChange(1));
    trail.Stop();
    EXPECT_EQ(controlled.Rows(), 101u);
    EXPECT_EQ(trail.Lost(), 31u);
    EXPECT_EQ(log.Count("History: 31 records lost (31 since start)"), 1u) << log.Lines().size();
}

TEST(AuditTrail, StopWritesEverythingQueuedAndLaterEventsCountAsLost) {
    test_support::TempDir dir("krb-history");
    const auto path = dir.file("History.sqlite");
    LogLines log;
    AuditTrail trail(std::make_unique<SqliteStore>(path, WriterIdentity{"ws1:/lab", 1}), {},
                     log.Sink());
    for (int i = 0; i < 2000; ++i) trail.Record(AnyChange(i));
    trail.Stop();
    EXPECT_EQ(trail.Written(), 2000u);
    EXPECT_EQ(trail.Lost(), 0u);
    HistoryFilter everything;
    everything.Limit = 5000;
    EXPECT_EQ(SqliteStore(path).Entries(everything).size(), 2000u);
    trail.Record(AnyChange(1));
    EXPECT_EQ(trail.Lost(), 1u);
}

TEST(AuditTrail, KeepsQueuingWhileTheStoreFailsAndWritesItAllWhenItIsBack) {
    test_support::ScopedTimeScale fast(0.01);
    auto store = std::make_unique<ControlledStore>();
    auto& controlled = *store;
    controlled.FailNext(-1);
    LogLines log;
    AuditTrail trail(std::move(store), {.QueueSize = 1000, .RetentionDays = 0}, log.Sink());
    for (int i = 0; i < 50; ++i) trail.Record(AnyChange(i));
    EXPECT_TRUE(eventually([&] { return controlled.Attempts() >= 4; }));
    for (int i = 0; i < 50; ++i) trail.Record(AnyChange(i));
    controlled.FailNext(0);
    EXPECT_TRUE(eventually([&] { return trail.Written() == 100; }));
    trail.Stop();
    EXPECT_EQ(trail.Lost(), 0u);
    EXPECT_EQ(controlled.Rows(), 100u);
    EXPECT_EQ(log.Count("History: cannot write (database gone); retrying"), 1u);
    EXPECT_EQ(log.Count("History: writing again"), 1u);
}

TEST(AuditTrail, StoppingWhileTheStoreFailsEndsAndCountsWhatItHeld) {
    auto store = std::make_unique<ControlledStore>();
    store->FailNext(-1);
    LogLines log;
    AuditTrail trail(std::move(store), {.QueueSize = 1000, .RetentionDays = 0}, log.Sink());
    for (int i = 0; i < 10; ++i) trail.Record(AnyChange(i));
    trail.Stop();
    EXPECT_EQ(trail.Lost(), 10u);
    EXPECT_EQ(trail.Written(), 0u);
    EXPECT_EQ(log.Count("History: 10 records lost"), 1u);
}

TEST(AuditTrail, WithoutAStoreEveryEventCountsAsLost) {
    AuditTrail trail(nullptr, {}, [](const std::string&) {});
    trail.Record(AnyChange(1));
    trail.Record(Command(Origin(1, "2026-12-09T10:00:00Z", "", "", "KRB2Activate"), "1"));
    EXPECT_EQ(trail.Lost(), 2u);
}

}  // namespace
}  // namespace krb::server::history
