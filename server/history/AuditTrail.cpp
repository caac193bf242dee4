#include "history/AuditTrail.h"

#include <algorithm>

#include "platform/clock.h"

namespace krb::server::history {
namespace {

constexpr auto kLossReportInterval = std::chrono::seconds(1);
constexpr std::int64_t kFirstRetryMs = 500;
constexpr std::int64_t kLongestRetryMs = 30000;
constexpr std::int64_t kRetentionIntervalMs = 3600 * 1000;
// Wall-clock: how long an event may wait for the next batch.
constexpr auto kWriterPause = std::chrono::milliseconds(5);

}  // namespace

AuditTrail::AuditTrail(std::unique_ptr<HistoryStore> store, Options options, LogLine log)
    : store_(std::move(store)), options_(options), log_(std::move(log)) {
    if (!store_) {
        stopping_ = true;
        return;
    }
    queue_.reserve(std::min<std::size_t>(options_.QueueSize, 1024));
    writer_ = std::thread([this] { RunWriter(); });
}

AuditTrail::~AuditTrail() { Stop(); }

void AuditTrail::Record(CommandEvent event) { Accept(std::move(event)); }

void AuditTrail::Record(RecordChange change) { Accept(std::move(change)); }

void AuditTrail::Accept(HistoryEvent event) {
    bool filling = false;
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() + inFlight_ >= options_.QueueSize) {
            lost_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        queue_.push_back(std::move(event));
        filling = queue_.size() == WakeAt() || (writerIdle_ && queue_.size() == 1);
    }
    if (filling) wake_.notify_one();
}

std::size_t AuditTrail::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + inFlight_;
}

void AuditTrail::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
}

void AuditTrail::RunWriter() {
    std::vector<HistoryEvent> batch;  // swapped with the queue: both keep their capacity
    WriteWithRetry(batch);            // connects and creates the schema before the first event
    while (true) {
        TakeBatch(batch);
        ReportLosses(false);
        RemoveExpired();
        if (batch.empty()) {
            std::lock_guard lock(mutex_);
            if (stopping_ && queue_.empty()) break;
            continue;
        }
        WriteWithRetry(batch);
        batch.clear();
    }
    ReportLosses(true);
}

// While events flow, producers wake the writer only when the queue is half full (a wake-up on
// every event would cost each command a system call); an idle writer wakes on the first.
std::size_t AuditTrail::WakeAt() const { return std::max<std::size_t>(1, options_.QueueSize / 2); }

// Everything queued after a short pause, or at once when the queue is half full; when nothing
// is queued, the first event or a second's wait (for the loss summary and the retention).
void AuditTrail::TakeBatch(std::vector<HistoryEvent>& batch) {
    std::unique_lock lock(mutex_);
    writerIdle_ = queue_.empty();
    wake_.wait_for(lock, writerIdle_ ? kLossReportInterval : kWriterPause, [this] {
        return stopping_ || queue_.size() >= WakeAt() || (writerIdle_ && !queue_.empty());
    });
    writerIdle_ = false;
    batch.swap(queue_);
    inFlight_ = batch.size();
}

void AuditTrail::Committed(std::size_t count) {
    written_.fetch_add(count, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    inFlight_ = 0;
}

void AuditTrail::WriteWithRetry(const std::vector<HistoryEvent>& batch) {
    std::chrono::milliseconds pause{kFirstRetryMs};
    bool failing = false;
    while (true) {
        try {
            store_->Write(batch);
            if (failing) log_("History: writing again");
            Committed(batch.size());
            return;
        } catch (const std::exception& error) {
            if (!failing)
                log_(std::string("History: cannot write (") + error.what() + "); retrying");
            failing = true;
        }
        if (!PauseBeforeRetry(pause)) break;
        pause = std::min(pause * 2, std::chrono::milliseconds{kLongestRetryMs});
    }
    // Stopping while the store fails: what is held and queued cannot be written.
    std::size_t dropped = batch.size();
    {
        std::lock_guard lock(mutex_);
        dropped += queue_.size();
        queue_.clear();
        inFlight_ = 0;
    }
    lost_.fetch_add(dropped, std::memory_order_relaxed);
}

// Waits on the time scale, reporting losses meanwhile.
bool AuditTrail::PauseBeforeRetry(std::chrono::milliseconds pause) {
    const auto until = std::chrono::steady_clock::now() + platform::scaled(pause.count());
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return true;
        wake_.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(until - now, kLossReportInterval));
        lock.unlock();
        ReportLosses(false);
        lock.lock();
    }
    return false;
}

void AuditTrail::ReportLosses(bool now) {
    const std::uint64_t lost = Lost();
    if (lost == reportedLost_) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - lastLossReport_ < kLossReportInterval) return;
    log_("History: " + std::to_string(lost - reportedLost_) + " records lost (" +
         std::to_string(lost) + " since start)");
    reportedLost_ = lost;
    lastLossReport_ = time;
}

void AuditTrail::RemoveExpired() {
    if (options_.RetentionDays <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextRetention_) return;
    nextRetention_ = now + platform::scaled(kRetentionIntervalMs);
    try {
        const auto removed =
            store_->RemoveOlderThan(Clock::now() - std::chrono::days{options_.RetentionDays});
        if (removed > 0) {
            log_("History: removed " + std::to_string(removed) + " entries older than " +
                 std::to_string(options_.RetentionDays) + " days");
        }
    } catch (const std::exception& error) {
        log_(std::string("History: cannot remove old entries (") + error.what() + ")");
    }
}

}  // namespace krb::server::history
