#pragma once
// The audit trail of a running server: follows the configuration's [History] section, installs
// the trail as the process's sink before the listener starts, and drains it on stop.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "history/AuditTrail.h"

namespace krb::server {

class ServerCore;
struct TServerState;

class LabHistory {
  public:
    explicit LabHistory(ServerCore& core);
    ~LabHistory();
    LabHistory(const LabHistory&) = delete;
    LabHistory& operator=(const LabHistory&) = delete;

    void FollowConfiguration(const TServerState& state);  // on the loop
    // Uninstalls the trail and writes what it queued; later events count as lost.
    void Stop();

    // Any thread. nullptr while the trail is off.
    std::shared_ptr<history::HistoryReader> Reader() const;
    std::uint64_t Lost() const;  // since the server started, over every configuration

  private:
    void Start(const std::string& configFile);
    void LogLine(const std::string& line);

    ServerCore& core_;
    std::string configFile_;
    mutable std::mutex mutex_;  // guards the members below
    std::unique_ptr<history::AuditTrail> trail_;
    // Stopped trails stay, as a producer may still hold the sink it read before the change.
    std::vector<std::unique_ptr<history::AuditTrail>> stopped_;
    std::shared_ptr<history::HistoryReader> reader_;
};

std::shared_ptr<LabHistory> InstallLabHistory(ServerCore& core);

}  // namespace krb::server
