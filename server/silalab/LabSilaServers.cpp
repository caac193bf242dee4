#include "silalab/LabSilaServers.h"

#include <chrono>

#include "lab/Unit.h"
#include "platform/clock.h"
#include "protocol/ServerCore.h"
#include "sila/SilaHost.h"
#include "silalab/LabUnitBackend.h"

namespace krb::server {
namespace {

// Status reads are of flags in memory: a short period costs nothing and keeps a door opening
// well within the notification target.
constexpr auto kStatusPeriod = std::chrono::milliseconds(100);
constexpr std::int64_t kClimatePeriodMs = 5000;  // nominal, as the dashboard reads climate

}  // namespace

LabSilaServers::LabSilaServers(ServerCore& core) : core_(core) {}

LabSilaServers::~LabSilaServers() { Stop(); }

// The unit servers run while the text protocol listens: its start has loaded the lab.
void LabSilaServers::FollowConfiguration(const TServerState& state) {
    const std::string served = state.Listening ? state.ConfFile : std::string();
    if (served == configFile_) return;
    configFile_ = served;
    Stop();
    if (!configFile_.empty()) Start(configFile_);
}

std::size_t LabSilaServers::ServerCount() const { return host_ ? host_->servers().size() : 0; }

void LabSilaServers::Start(const std::string& configFile) {
    auto host = std::make_unique<sila::SiLAHost>(
        configFile, [this](const std::string& line) { core_.WriteLog("SiLA", line); });
    std::vector<std::shared_ptr<sila::UnitBackend>> units;
    std::vector<std::shared_ptr<LabUnitBackend>> backends;
    for (TKRBId* unit : core_.TcpBrowser().Units()) {
        backends.push_back(std::make_shared<LabUnitBackend>(*unit, core_.TcpBrowser()));
        units.push_back(backends.back());
    }
    if (!host->start(units)) return;
    host_ = std::move(host);
    backends_ = std::move(backends);
    stopping_ = false;
    statusWatcher_ = std::thread([this] { WatchStatus(); });
    climateReader_ = std::thread([this] { ReadClimates(); });
}

void LabSilaServers::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (statusWatcher_.joinable()) statusWatcher_.join();
    if (climateReader_.joinable()) climateReader_.join();
    host_.reset();  // ends the servers' calls before their units' backends go
    backends_.clear();
}

void LabSilaServers::WatchStatus() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kStatusPeriod, [this] { return stopping_; })) {
        lock.unlock();
        const LinkStates links = platform::linkCounters();
        for (const auto& backend : backends_) backend->NotifyIfChanged(links);
        lock.lock();
    }
}

void LabSilaServers::ReadClimates() {
    std::unique_lock lock(mutex_);
    while (
        !wake_.wait_for(lock, platform::scaled(kClimatePeriodMs), [this] { return stopping_; })) {
        lock.unlock();
        for (const auto& backend : backends_) {
            if (backend->ReadsClimate()) backend->ReadClimate();
        }
        lock.lock();
    }
}

std::shared_ptr<LabSilaServers> InstallSila(ServerCore& core) {
    auto servers = std::make_shared<LabSilaServers>(core);
    core.AddStateObserver(
        [servers](const TServerState& state) { servers->FollowConfiguration(state); });
    return servers;
}

}  // namespace krb::server
