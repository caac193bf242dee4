#pragma once
// Feeds the dashboard: the last log lines (any thread), the lab snapshot that the event loop
// takes and publishes, and the hub that web threads read it from and wait on.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/LabSnapshot.h"

namespace krb::server {
class ServerCore;
class TKRBId;
}  // namespace krb::server

namespace krb::server::web {

// The last lines of the server's log, kept also when no log file is configured.
class RecentLog {
  public:
    static constexpr std::size_t kLines = 50;
    void Add(const std::string& event, const std::string& details);
    std::vector<std::string> Lines() const;

  private:
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
};
RecentLog& DashboardLog();  // one per process, as there is one log

// The locations of each unit's contents file, read again only when the file has changed.
class ContentsCache {
  public:
    const std::vector<LocationView>& LocationsOf(const TKRBId& unit);

  private:
    struct Entry {
        std::filesystem::file_time_type Modified{};
        std::uintmax_t Size = 0;
        bool Read = false;
        std::vector<LocationView> Locations;
    };
    std::map<std::string, Entry> files_;
};

class ClimateReadings;

// On the loop: the lab as it stands.
LabSnapshot TakeLabSnapshot(ServerCore& core, ContentsCache& contents,
                            const ClimateReadings& climate);

// When each unit's door was first seen open, by unit ID, so that /metrics can tell for how
// long; kept while the unit does not answer. On the loop.
class DoorOpenings {
  public:
    void Stamp(LabSnapshot& snapshot, std::chrono::steady_clock::time_point now);

  private:
    std::map<std::string, std::chrono::steady_clock::time_point> openSince_;
};

struct PublishedSnapshot {
    std::uint64_t Version = 0;
    std::shared_ptr<const LabSnapshot> Snapshot;
    std::string Json;
};

// The loop publishes, web threads read. A snapshot equal to the last one is not published.
class SnapshotHub {
  public:
    SnapshotHub();
    bool Publish(LabSnapshot snapshot);  // true when it differed
    PublishedSnapshot Latest() const;
    std::uint64_t Version() const;  // of the latest, without copying it
    // Waits until a version newer than `seen` is there, `limit` passes or Close is called.
    PublishedSnapshot WaitNewerThan(std::uint64_t seen, std::chrono::milliseconds limit) const;
    void Close();  // wakes every waiter for good
    bool Closed() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    PublishedSnapshot latest_;
    bool closed_ = false;
};

}  // namespace krb::server::web
