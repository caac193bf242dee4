#pragma once
// The server as the program runs it: the text protocol with every front end plugged in (XML
// views, plate and slot updates, service notifications, the dashboard and /metrics, the SiLA 2
// unit servers) and the audit trail.
#include <cstdint>
#include <memory>

#include "history/HistoryQuery.h"
#include "protocol/ServerCore.h"

namespace krb::server {

class LabHistory;

class LabServer : public ServerCore {
  public:
    explicit LabServer(const KRBExports& exports = LibraryExports());
    ~LabServer() override;

    // The audit trail's questions; nullptr while the trail is off. Any thread.
    std::shared_ptr<history::HistoryReader> History() const;
    // Events the trail could not keep since the server started (krb_history_records_lost_total).
    // Any thread.
    std::uint64_t HistoryRecordsLost() const;
    // Writes what the trail queued and ends it; called when the program ends.
    void StopHistory();

  private:
    std::shared_ptr<LabHistory> history_;
};

}  // namespace krb::server
