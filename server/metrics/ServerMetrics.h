#pragma once
// The server's own counters for the metrics page: unit commands by name and result with
// their latency, the commands each unit is running, contents-file writes and the history's
// lost records. Any thread records; the page reads a copy.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
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

    // Counts a unit command of `unitId` as running, waiting for its unit's locks included,
    // until the returned token ends.
    class RunningCommand {
      public:
        RunningCommand(ServerMetrics& metrics, std::string unitId);
        ~RunningCommand();
        RunningCommand(const RunningCommand&) = delete;
        RunningCommand& operator=(const RunningCommand&) = delete;

      private:
        ServerMetrics& metrics_;
        std::string unitId_;
    };
    [[nodiscard]] RunningCommand CommandRunning(const std::string& unitId) {
        return RunningCommand(*this, unitId);
    }
    std::uint64_t RunningCommandsOf(const std::string& unitId) const;

    // What krb_history_records_lost_total reads; it reads 0 while none is installed. An empty
    // function uninstalls it, after any page that is being written has read it.
    void SetHistoryLossSource(std::function<std::uint64_t()> source);

    // Appends the command, contents-file and history families.
    void Write(PrometheusText& text) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t> runningCommands_;  // by unit ID, none at 0
    std::function<std::uint64_t()> historyLosses_;
    std::map<std::pair<std::string, std::string>, std::uint64_t> commands_;  // name, result
    std::map<std::string, HistogramCounts> commandLatency_;                  // by name
    std::atomic<std::uint64_t> contentsWrites_{0};
    std::atomic<std::uint64_t> contentsWriteFailures_{0};
};

ServerMetrics& Metrics();

}  // namespace krb::server::web
