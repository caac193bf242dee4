#include "DashboardServer.h"

#include <httplib.h>

#include <chrono>
#include <optional>

#include "DashboardFeed.h"
#include "MetricsPage.h"

namespace krb::server::web {
namespace {

constexpr int kMaxEventStreams = 12;  // each holds a thread of the pool while it is open
constexpr std::size_t kWorkerThreads = kMaxEventStreams + 4;
constexpr auto kStreamWait = std::chrono::milliseconds(500);
// A comment line every 5 s finds closed browsers and keeps proxies from cutting the stream.
constexpr int kWaitsPerKeepAlive = 10;

// Nothing from elsewhere may be loaded or run; the page's own inline script and style may.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

void NoStore(httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
}

std::string EventOf(const std::string& json) { return "event: lab\ndata: " + json + "\n\n"; }

}  // namespace

DashboardServer::DashboardServer(const SnapshotHub& hub)
    : hub_(hub), http_(std::make_unique<httplib::Server>()) {
    http_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    AddRoutes();
}

DashboardServer::~DashboardServer() { Stop(); }

void DashboardServer::AddRoutes() {
    http_->Get("/", [](const httplib::Request&, httplib::Response& response) {
        NoStore(response);
        response.set_header("Content-Security-Policy", kPagePolicy);
        response.set_content(kDashboardPage, "text/html; charset=utf-8");
    });
    http_->Get("/snapshot.json", [this](const httplib::Request&, httplib::Response& response) {
        NoStore(response);
        response.set_content(hub_.Latest().Json, "application/json");
    });
    http_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        NoStore(response);
        response.set_content(MetricsPage(*hub_.Latest().Snapshot, true),
                             "text/plain; version=0.0.4; charset=utf-8");
    });
    http_->Get("/events", [this](const httplib::Request&, httplib::Response& response) {
        NoStore(response);
        if (++streams_ > kMaxEventStreams) {
            --streams_;
            response.status = 503;
            response.set_content("too many open dashboards\n", "text/plain");
            return;
        }
        // The stream starts with the current snapshot, then one event per change.
        auto seen = std::make_shared<std::optional<std::uint64_t>>();
        auto waits = std::make_shared<int>(0);
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, seen, waits](std::size_t, httplib::DataSink& sink) {
                if (stopping_) return false;
                const PublishedSnapshot latest =
                    *seen ? hub_.WaitNewerThan(**seen, kStreamWait) : hub_.Latest();
                std::string chunk;
                if (!*seen || latest.Version > **seen) {
                    *seen = latest.Version;
                    *waits = 0;
                    chunk = EventOf(latest.Json);
                } else if (++*waits >= kWaitsPerKeepAlive) {
                    *waits = 0;
                    chunk = ": keep-alive\n\n";
                }
                return chunk.empty() || sink.write(chunk.data(), chunk.size());
            },
            [this](bool) { --streams_; });
    });
}

bool DashboardServer::Start(const std::string& address, int port, std::string& problem) {
    const bool bound = port == 0 ? (port_ = http_->bind_to_any_port(address)) > 0
                                 : http_->bind_to_port(address, port);
    if (!bound) {
        problem = "the dashboard cannot listen on " + address + ":" + std::to_string(port);
        port_ = -1;
        return false;
    }
    if (port != 0) port_ = port;
    thread_ = std::thread([this] { http_->listen_after_bind(); });
    return true;
}

void DashboardServer::Stop() {
    stopping_ = true;
    if (http_) http_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace krb::server::web
