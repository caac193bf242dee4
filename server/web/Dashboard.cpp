#include "web/Dashboard.h"

#include <algorithm>
#include <iostream>

#include "lab/Unit.h"
#include "platform/operator_message.h"
#include "protocol/ServerCore.h"
#include "web/WebConfig.h"

namespace krb::server::web {

Dashboard::Dashboard(ServerCore& core, HistoryProvider history)
    : core_(core), history_(std::move(history)), timer_(core.Loop()) {}

Dashboard::~Dashboard() { StopListener(); }

int Dashboard::Port() const { return server_ ? server_->Port() : -1; }

void Dashboard::FollowConfiguration(const TServerState& state) {
    if (state.ConfFile == configFile_) return;
    configFile_ = state.ConfFile;
    StopListener();
    StartListener(configFile_);
}

void Dashboard::StartListener(const std::string& configFile) {
    const WebConfig config = ReadWebConfig(configFile);
    std::string problem = config.Problem;
    if (config.Enabled) {
        auto server = std::make_unique<DashboardServer>(hub_, config.HostNames);
        server->ServeHistory(history_);
        if (server->Start(config.BindAddress, config.Port, problem)) server_ = std::move(server);
    }
    if (!server_) {
        if (!problem.empty()) platform::showOperatorMessage("KRB TCP/IP Server", problem);
        return;
    }
    if (ListensOnAllInterfaces(config)) WarnOfOpenListener(config);
    climate_ = std::make_unique<ClimateReadings>();
    std::cout << "KRBServer dashboard on http://" << config.BindAddress << ":" << server_->Port()
              << "/" << std::endl;
    PublishSnapshot();
    ArmTimer();
}

void Dashboard::WarnOfOpenListener(const WebConfig& config) {
    const std::string warning =
        "the dashboard listens on every interface (" + config.BindAddress + ":" +
        std::to_string(server_->Port()) +
        ") without authentication: anyone who can reach this port can read the lab, its plates "
        "and the log";
    std::cerr << "KRBServer: " << warning << std::endl;
    core_.WriteLog("Dashboard", warning);
}

void Dashboard::StopListener() {
    timer_.cancel();
    server_.reset();
    climate_.reset();
}

void Dashboard::ArmTimer() {
    timer_.expires_after(kSnapshotInterval);
    timer_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        auto self = weak.lock();
        if (error || !self || !self->server_) return;
        self->ReadClimateNowAndThen();
        self->PublishSnapshot();
        self->ArmTimer();
    });
}

void Dashboard::PublishSnapshot() {
    if (!server_) return;
    LabSnapshot snapshot = TakeLabSnapshot(core_, contents_, *climate_);
    doorOpenings_.Stamp(snapshot, std::chrono::steady_clock::now());
    hub_.Publish(std::move(snapshot));
}

void Dashboard::ReadClimateNowAndThen() {
    if (++snapshotsSinceClimateRead_ < kSnapshotsPerClimateRead) return;
    snapshotsSinceClimateRead_ = 0;
    for (TKRBId* unit : core_.TcpBrowser().Units()) {
        const auto options = ClimateOptionsOf(*unit);
        const bool hasClimate = std::find(options.begin(), options.end(), true) != options.end();
        if (hasClimate && unit->Activated) climate_->StartReading(*unit);
    }
}

std::shared_ptr<Dashboard> InstallDashboard(ServerCore& core, HistoryProvider history) {
    auto dashboard = std::make_shared<Dashboard>(core, std::move(history));
    core.AddLogObserver([](const std::string& event, const std::string& details) {
        DashboardLog().Add(event, details);
    });
    core.AddStateObserver(
        [dashboard](const TServerState& state) { dashboard->FollowConfiguration(state); });
    return dashboard;
}

}  // namespace krb::server::web
