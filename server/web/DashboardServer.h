#pragma once
// The dashboard's HTTP listener: GET routes only, served from the published snapshot on one
// thread of its own. Nothing here touches the event loop's state. Every connection is
// bounded: its request head in size and header count, the time a request may take to
// arrive, the time it may stay idle, and the time it may take to read a reply; open event
// streams are bounded apart, so that /metrics answers while they are open.
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "web/HistoryQueries.h"
#include "web/HttpRequest.h"

namespace krb::server::web {

class SnapshotHub;

struct DashboardLimits {
    HttpLimits Head;
    std::chrono::milliseconds RequestTime{10000};  // from a request's first byte to its end
    std::chrono::milliseconds IdleTime{5000};      // before the first byte of a request
    std::chrono::milliseconds WriteTime{10000};    // for the client to take a reply or event
    std::size_t MaxConnections = 64;  // beyond it the oldest connection that is no stream goes
    std::size_t MaxEventStreams = 32;
};

class DashboardServer {
  public:
    // `hostNames`: names besides addresses and loopback names under which browsers may reach
    // the listener; requests for any other Host are refused (DNS rebinding).
    explicit DashboardServer(const SnapshotHub& hub, std::vector<std::string> hostNames = {},
                             DashboardLimits limits = {});
    ~DashboardServer();
    DashboardServer(const DashboardServer&) = delete;
    DashboardServer& operator=(const DashboardServer&) = delete;

    // GET /history asks the reader `provider` gives (none, or a null reader: the trail is
    // off, 503). Before Start.
    void ServeHistory(HistoryProvider provider);

    // Binds (port 0: the system picks one) and serves on a thread of its own; false with
    // `problem` set when the address cannot be bound.
    bool Start(const std::string& address, int port, std::string& problem);
    void Stop();  // ends open event streams too
    int Port() const { return port_; }
    std::size_t OpenConnections() const { return open_; }

  private:
    class Connection;
    struct Reply;
    enum class Deferred { No, History };

    void Accept();
    void Admit(asio::ip::tcp::socket socket);
    void Forget(const Connection& connection);
    Reply Respond(const HttpRequest& request);
    bool OpenStream();  // false at the bound

    const SnapshotHub& hub_;
    const std::vector<std::string> hostNames_;
    const DashboardLimits limits_;
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_{io_};
    asio::steady_timer acceptRetry_{io_};
    std::list<std::shared_ptr<Connection>> connections_;  // oldest first; on the thread only
    std::size_t streams_ = 0;
    std::atomic<std::size_t> open_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    int port_ = -1;
    std::unique_ptr<HistoryQueries> history_;  // stopped before the listener's thread ends
};

// The page, its script and its style: static text built into the program.
extern const char* const kDashboardPage;

}  // namespace krb::server::web
