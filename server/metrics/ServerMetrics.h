#pragma once
// The server's own counters for the metrics page: unit commands by name and result with
// their latency, and contents-file writes. Any thread records; the page reads a copy.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "metrics/PrometheusText.h"

namespace krb::server::web {

class ServerMetrics {
  public:
    // `name` is the command's table name ("unknown" when none matched); `allAnswered`: no
    // exchange of the command went without a reply.
    void RecordCommand(const std::string& name, const std::string& reply,
                       std::chrono::steady_clock::duration elapsed, bool allAnswered = true);
    bool RecordContentsWrite(bool saved);  // returns `saved`

    // Appends the command and contents-file families.
    void Write(PrometheusText& text) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::uint64_t> commands_;  // name, result
    std::map<std::string, HistogramCounts> commandLatency_;                  // by name
    std::atomic<std::uint64_t> contentsWrites_{0};
    std::atomic<std::uint64_t> contentsWriteFailures_{0};
};

ServerMetrics& Metrics();

}  // namespace krb::server::web
