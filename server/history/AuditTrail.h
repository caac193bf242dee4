#pragma once
// The trail as the process's sink: producers hand events to a bounded queue and return at
// once; one writer thread writes what is queued in batches. What cannot be queued is counted
// as lost and summed up in the log at most once a second. A store that cannot be written is
// retried with back-off (0.5 s doubling to 30 s, on the time scale) while the queue fills.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "history/HistoryStore.h"

namespace krb::server::history {

class AuditTrail final : public HistorySink {
  public:
    struct Options {
        std::size_t QueueSize = 10000;  // events accepted and not yet committed, at most
        int RetentionDays = 365;        // 0 keeps everything
    };
    using LogLine = std::function<void(const std::string&)>;

    // Without a store the trail is off: every event counts as lost.
    AuditTrail(std::unique_ptr<HistoryStore> store, Options options, LogLine log);
    ~AuditTrail() override;  // stops
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    void Record(CommandEvent event) override;
    void Record(RecordChange change) override;

    // Writes what is queued, then the writer ends; later events count as lost. A store that
    // fails meanwhile is not waited for: what it could not take counts as lost.
    void Stop();

    std::uint64_t Lost() const { return lost_.load(std::memory_order_relaxed); }
    std::uint64_t Written() const { return written_.load(std::memory_order_relaxed); }
    std::size_t Pending() const;  // accepted and not yet committed

  private:
    void Accept(HistoryEvent event);
    void RunWriter();
    const std::vector<HistoryEvent>& TakeBatch();
    void WriteWithRetry(const std::vector<HistoryEvent>& batch);
    bool PauseBeforeRetry(std::chrono::milliseconds pause);  // false when stopping
    void Committed(std::size_t count);
    void ReportLosses(bool now);
    void RemoveExpired();

    std::unique_ptr<HistoryStore> store_;
    const Options options_;
    const LogLine log_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<HistoryEvent> queue_;
    // The batch being written (writer thread); swapped with the queue, so that both keep
    // their capacity and Record rarely allocates under the lock.
    std::vector<HistoryEvent> writing_;
    std::size_t inFlight_ = 0;  // taken by the writer, not yet committed
    bool stopping_ = false;

    std::atomic<std::uint64_t> lost_{0};
    std::atomic<std::uint64_t> written_{0};
    std::uint64_t reportedLost_ = 0;  // writer thread only
    std::chrono::steady_clock::time_point lastLossReport_{};
    std::chrono::steady_clock::time_point nextRetention_{};
    std::thread writer_;
};

}  // namespace krb::server::history
