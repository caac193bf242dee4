#pragma once
// The web dashboard of a server: follows the configuration's [Web] section, runs the
// listener, and while it runs takes a snapshot of the lab on the event loop at a short
// interval and publishes it when it changed.
#include <asio.hpp>
#include <chrono>
#include <memory>
#include <string>

#include "web/ClimateReadings.h"
#include "web/DashboardFeed.h"
#include "web/DashboardServer.h"
#include "web/WebConfig.h"

namespace krb::server {
class ServerCore;
struct TServerState;
}  // namespace krb::server

namespace krb::server::web {

class Dashboard : public std::enable_shared_from_this<Dashboard> {
  public:
    // Real time: browsers are told of a change within this, at any time scale.
    static constexpr auto kSnapshotInterval = std::chrono::milliseconds(200);
    static constexpr int kSnapshotsPerClimateRead = 25;

    Dashboard(ServerCore& core, HistoryProvider history);
    ~Dashboard();
    Dashboard(const Dashboard&) = delete;
    Dashboard& operator=(const Dashboard&) = delete;

    // On the loop.
    void FollowConfiguration(const TServerState& state);
    void PublishSnapshot();  // while the listener runs
    int Port() const;        // -1 while off

  private:
    void StartListener(const std::string& configFile);
    void StopListener();
    void WarnOfOpenListener(const WebConfig& config);
    void ArmTimer();
    void ReadClimateNowAndThen();

    ServerCore& core_;
    const HistoryProvider history_;
    asio::steady_timer timer_;
    std::string configFile_;
    ContentsCache contents_;
    DoorOpenings doorOpenings_;
    std::unique_ptr<ClimateReadings> climate_;  // its reader thread runs with the listener
    int snapshotsSinceClimateRead_ = 0;
    SnapshotHub hub_;
    std::unique_ptr<DashboardServer> server_;
};

// `history` answers GET /history; none: the trail is off.
std::shared_ptr<Dashboard> InstallDashboard(ServerCore& core, HistoryProvider history = {});

}  // namespace krb::server::web
