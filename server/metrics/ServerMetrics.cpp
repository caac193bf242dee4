#include "metrics/ServerMetrics.h"

#include <array>

#include "metrics/CommandResults.h"

namespace krb::server::web {
namespace {

constexpr std::array<double, 9> kCommandLatencyBounds{0.01, 0.05, 0.1, 0.5, 1, 2.5, 5, 10, 30};

HistogramCounts EmptyCommandHistogram() {
    HistogramCounts counts;
    counts.Bounds.assign(kCommandLatencyBounds.begin(), kCommandLatencyBounds.end());
    counts.Buckets.assign(kCommandLatencyBounds.size() + 1, 0);
    return counts;
}

void Add(HistogramCounts& counts, double seconds) {
    std::size_t bucket = 0;
    while (bucket < counts.Bounds.size() && seconds > counts.Bounds[bucket]) ++bucket;
    ++counts.Buckets[bucket];
    counts.Sum += seconds;
}

}  // namespace

void ServerMetrics::RecordCommand(const std::string& name, const std::string& reply,
                                  std::chrono::steady_clock::duration elapsed, bool allAnswered) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::lock_guard lock(mutex_);
    ++commands_[{name, CommandResultOf(name, reply, allAnswered)}];
    auto [latency, added] = commandLatency_.try_emplace(name, EmptyCommandHistogram());
    Add(latency->second, seconds);
}

bool ServerMetrics::RecordContentsWrite(bool saved) {
    ++contentsWrites_;
    if (!saved) ++contentsWriteFailures_;
    return saved;
}

ServerMetrics::RunningCommand::RunningCommand(ServerMetrics& metrics, std::string unitId)
    : metrics_(metrics), unitId_(std::move(unitId)) {
    std::lock_guard lock(metrics_.mutex_);
    ++metrics_.runningCommands_[unitId_];
}

ServerMetrics::RunningCommand::~RunningCommand() {
    std::lock_guard lock(metrics_.mutex_);
    const auto running = metrics_.runningCommands_.find(unitId_);
    if (running != metrics_.runningCommands_.end() && --running->second == 0) {
        metrics_.runningCommands_.erase(running);
    }
}

std::uint64_t ServerMetrics::RunningCommandsOf(const std::string& unitId) const {
    std::lock_guard lock(mutex_);
    const auto running = runningCommands_.find(unitId);
    return running == runningCommands_.end() ? 0 : running->second;
}

void ServerMetrics::SetHistoryLossSource(std::function<std::uint64_t()> source) {
    std::lock_guard lock(mutex_);
    historyLosses_ = std::move(source);
}

void ServerMetrics::Write(PrometheusText& text) const {
    using Type = PrometheusText::Type;
    std::lock_guard lock(mutex_);
    text.Family("krb_commands_total", "Unit commands answered, by command and result.",
                Type::Counter);
    for (const auto& [key, count] : commands_) {
        text.Sample("krb_commands_total", {{"command", key.first}, {"result", key.second}},
                    static_cast<double>(count));
    }
    text.Family("krb_command_duration_seconds", "Time from a unit command's start to its reply.",
                Type::Histogram);
    for (const auto& [name, latency] : commandLatency_) {
        text.Histogram("krb_command_duration_seconds", {{"command", name}}, latency);
    }
    text.Family("krb_contents_file_writes_total", "Contents-file saves attempted.", Type::Counter);
    text.Sample("krb_contents_file_writes_total", {}, static_cast<double>(contentsWrites_.load()));
    text.Family("krb_contents_file_write_failures_total", "Contents-file saves that failed.",
                Type::Counter);
    text.Sample("krb_contents_file_write_failures_total", {},
                static_cast<double>(contentsWriteFailures_.load()));
    text.Family("krb_history_records_lost_total",
                "History records lost: the queue was full or the store refused them.",
                Type::Counter);
    text.Sample("krb_history_records_lost_total", {},
                historyLosses_ ? static_cast<double>(historyLosses_()) : 0);
}

ServerMetrics& Metrics() {
    static auto* metrics = new ServerMetrics;  // command threads may record at exit
    return *metrics;
}

}  // namespace krb::server::web
