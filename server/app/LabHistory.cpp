#include "app/LabHistory.h"

#include "history/HistorySettings.h"
#include "history/StoreOpening.h"
#include "platform/operator_message.h"
#include "protocol/ServerCore.h"

namespace krb::server {
namespace {

std::int64_t RunNumber() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               history::Clock::now().time_since_epoch())
        .count();
}

}  // namespace

LabHistory::LabHistory(ServerCore& core) : core_(core) {}

LabHistory::~LabHistory() { Stop(); }

void LabHistory::FollowConfiguration(const TServerState& state) {
    if (state.ConfFile == configFile_) return;
    configFile_ = state.ConfFile;
    Stop();
    if (!configFile_.empty()) Start(configFile_);
}

void LabHistory::Start(const std::string& configFile) {
    const auto settings = history::ReadHistorySettings(configFile);
    for (const auto& problem : settings.Problems) {
        platform::showOperatorMessage("Configuration", problem);
    }
    if (!settings.Enabled) return;
    std::unique_ptr<history::HistoryStore> store;
    std::shared_ptr<history::HistoryReader> reader;
    try {
        store = history::OpenWritingStore(
            settings, history::WriterIdentity{history::ServerName(configFile), RunNumber()});
        reader = history::OpenReadingStore(settings);
    } catch (const history::StoreError& error) {
        // The lab runs on; what the trail is handed is counted as lost.
        core_.WriteLog("History", std::string("the trail is off: ") + error.what());
        store.reset();
    }
    auto trail = std::make_unique<history::AuditTrail>(
        std::move(store), history::AuditTrail::Options{settings.QueueSize, settings.RetentionDays},
        [this](const std::string& line) { LogLine(line); });
    history::InstallSink(trail.get());
    std::lock_guard lock(mutex_);
    trail_ = std::move(trail);
    reader_ = std::move(reader);
}

void LabHistory::Stop() {
    std::unique_ptr<history::AuditTrail> trail;
    {
        std::lock_guard lock(mutex_);
        trail = std::move(trail_);
        reader_.reset();
    }
    if (!trail) return;
    history::UninstallSink(trail.get());
    trail->Stop();
    std::lock_guard lock(mutex_);
    stopped_.push_back(std::move(trail));
}

std::shared_ptr<history::HistoryReader> LabHistory::Reader() const {
    std::lock_guard lock(mutex_);
    return reader_;
}

std::uint64_t LabHistory::Lost() const {
    std::lock_guard lock(mutex_);
    std::uint64_t lost = trail_ ? trail_->Lost() : 0;
    for (const auto& trail : stopped_) lost += trail->Lost();
    return lost;
}

// The trail's lines ("History: ...") as log events of their own.
void LabHistory::LogLine(const std::string& line) {
    constexpr std::string_view kPrefix = "History: ";
    const bool prefixed = line.compare(0, kPrefix.size(), kPrefix) == 0;
    core_.WriteLog("History", prefixed ? line.substr(kPrefix.size()) : line);
}

std::shared_ptr<LabHistory> InstallLabHistory(ServerCore& core) {
    auto history = std::make_shared<LabHistory>(core);
    core.AddStateObserver(
        [history](const TServerState& state) { history->FollowConfiguration(state); });
    return history;
}

}  // namespace krb::server
