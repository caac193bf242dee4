#pragma once
// The dashboard's HTTP listener: GET routes only, served from the published snapshot on the
// listener's own threads. Nothing here touches the event loop's state.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace krb::server::web {

class SnapshotHub;

class DashboardServer {
  public:
    explicit DashboardServer(const SnapshotHub& hub);
    ~DashboardServer();
    DashboardServer(const DashboardServer&) = delete;
    DashboardServer& operator=(const DashboardServer&) = delete;

    // Binds (port 0: the system picks one) and serves on a thread of its own; false with
    // `problem` set when the address cannot be bound.
    bool Start(const std::string& address, int port, std::string& problem);
    void Stop();  // ends open event streams too
    int Port() const { return port_; }

  private:
    void AddRoutes();

    const SnapshotHub& hub_;
    std::unique_ptr<httplib::Server> http_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> streams_{0};
    int port_ = -1;
};

// The page, its script and its style: static text built into the program.
extern const char* const kDashboardPage;

}  // namespace krb::server::web
