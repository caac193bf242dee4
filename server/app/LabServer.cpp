#include "app/LabServer.h"

#include "notifications/ServiceNotifier.h"
#include "silalab/LabSilaServers.h"
#include "updates/UpdateCommands.h"
#include "views/LabViews.h"
#include "web/Dashboard.h"

namespace krb::server {

LabServer::LabServer(const KRBExports& exports) : ServerCore(exports) {
    InstallUpdateCommands(*this);
    InstallViews(*this);
    InstallServiceNotifier(*this);
    web::InstallDashboard(*this);
    InstallSila(*this);
}

}  // namespace krb::server
