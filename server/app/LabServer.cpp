#include "app/LabServer.h"

#include "app/LabHistory.h"
#include "metrics/ServerMetrics.h"
#include "notifications/ServiceNotifier.h"
#include "silalab/LabSilaServers.h"
#include "updates/UpdateCommands.h"
#include "views/LabViews.h"
#include "web/Dashboard.h"

namespace krb::server {

// The trail follows the configuration first, so that it is installed before anything else
// reacts to the configuration and long before the listener starts.
LabServer::LabServer(const KRBExports& exports)
    : ServerCore(exports), history_(InstallLabHistory(*this)) {
    InstallUpdateCommands(*this);
    InstallViews(*this);
    InstallServiceNotifier(*this);
    web::InstallDashboard(*this, [trail = std::weak_ptr(history_)] {
        const auto held = trail.lock();  // gone once the server is
        return held ? held->Reader() : nullptr;
    });
    InstallSila(*this);
    web::Metrics().SetHistoryLossSource([trail = std::weak_ptr(history_)]() -> std::uint64_t {
        const auto held = trail.lock();
        return held ? held->Lost() : 0;
    });
}

LabServer::~LabServer() { StopHistory(); }

std::shared_ptr<history::HistoryReader> LabServer::History() const { return history_->Reader(); }

std::uint64_t LabServer::HistoryRecordsLost() const { return history_->Lost(); }

void LabServer::StopHistory() { history_->Stop(); }

}  // namespace krb::server
