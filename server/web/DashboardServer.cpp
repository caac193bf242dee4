#include "web/DashboardServer.h"

#include <algorithm>
#include <array>
#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include "web/DashboardFeed.h"
#include "web/MetricsPage.h"

namespace krb::server::web {
namespace {

using asio::ip::tcp;

constexpr auto kStreamPoll = std::chrono::milliseconds(100);
// A comment line every 5 s finds closed browsers and keeps proxies from cutting the stream.
constexpr int kPollsPerKeepAlive = 50;
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// After a last reply the client's further bytes are read and dropped for a while, so that
// closing with unread bytes does not reset the connection before the reply is read.
constexpr auto kLinger = std::chrono::milliseconds(1000);

// Nothing from elsewhere may be loaded or run; the page's own inline script and style may.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string EventOf(const std::string& json) { return "event: lab\ndata: " + json + "\n\n"; }

const char* ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Service Unavailable";
    }
}

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

}  // namespace

struct DashboardServer::Reply {
    int Status = 200;
    std::string Type = "text/plain; charset=utf-8";
    std::string Body;
    bool PagePolicy = false;
    bool Stream = false;   // the connection turns into an event stream
    bool History = false;  // answered once the trail's worker has the entries
};

// One client connection: requests one after another, each within its time, or one event
// stream. Lives on the listener's thread only.
class DashboardServer::Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(DashboardServer& server, tcp::socket socket)
        : server_(server),
          socket_(std::move(socket)),
          deadline_(server.io_),
          streamTimer_(server.io_) {}

    void Start() { AwaitRequest(); }
    bool IsStream() const { return stream_; }

    void Close() {
        if (closed_) return;
        closed_ = true;
        asio::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        deadline_.cancel();
        streamTimer_.cancel();
        server_.Forget(*this);
    }

  private:
    void ArmDeadline(std::chrono::milliseconds limit) {
        deadline_.expires_after(limit);
        deadline_.async_wait([self = shared_from_this()](const asio::error_code& error) {
            if (!error) self->Close();
        });
    }

    // A request already begun (pipelined behind the last one) has its request time from now.
    void AwaitRequest() {
        if (!received_.empty()) {
            ArmDeadline(server_.limits_.RequestTime);
            return TryRequest();
        }
        ArmDeadline(server_.limits_.IdleTime);
        ReadMore();
    }

    void ReadMore() {
        socket_.async_read_some(
            asio::buffer(chunk_),
            [self = shared_from_this()](const asio::error_code& error, std::size_t length) {
                self->OnRead(error, length);
            });
    }

    void OnRead(const asio::error_code& error, std::size_t length) {
        if (closed_) return;
        if (error) return Close();
        if (stream_ || lingering_) return ReadMore();  // nothing more is taken from the client
        if (received_.empty()) ArmDeadline(server_.limits_.RequestTime);
        received_.append(chunk_.data(), length);
        TryRequest();
    }

    void TryRequest() {
        const HeadParse head = ParseRequestHead(received_, server_.limits_.Head);
        switch (head.Status) {
            case HeadStatus::Incomplete:
                return ReadMore();
            case HeadStatus::TooLarge:
                return Refuse(431, "request head too large\n");
            case HeadStatus::Malformed:
                return Refuse(400, "malformed request\n");
            case HeadStatus::Complete:
                received_.erase(0, head.Consumed);
                return Answer(head.Request);
        }
    }

    void Refuse(int status, const char* why) {
        received_.clear();
        Reply reply;
        reply.Status = status;
        reply.Body = why;
        Send(reply, false);
    }

    void Answer(const HttpRequest& request) {
        if (request.HasBody()) received_.clear();  // a body is never read: the connection ends
        Reply reply = server_.Respond(request);
        if (reply.Stream) return StartStream();
        const bool keepAlive = request.KeepAlive() && !request.HasBody();
        if (reply.History) return AskHistory(request.Target, keepAlive);
        Send(reply, keepAlive);
    }

    // The request time still runs while the trail answers: a store that hangs ends the
    // connection, never the listener.
    void AskHistory(const std::string& target, bool keepAlive) {
        const auto mark = target.find('?');
        std::string query = mark == std::string::npos ? "" : target.substr(mark + 1);
        auto& io = server_.io_;
        const bool queued = server_.history_->Submit(
            std::move(query), [self = shared_from_this(), keepAlive, &io](HistoryAnswer answer) {
                asio::post(io, [self, keepAlive, answer = std::move(answer)] {
                    if (self->closed_) return;
                    Reply reply;
                    reply.Status = answer.Status;
                    reply.Type = answer.Type;
                    reply.Body = answer.Body;
                    self->Send(reply, keepAlive);
                });
            });
        if (!queued) Refuse(503, "too many history queries waiting\n");
    }

    void Send(const Reply& reply, bool keepAlive) {
        std::string head = "HTTP/1.1 " + std::to_string(reply.Status) + " " +
                           ReasonOf(reply.Status) + "\r\nContent-Type: " + reply.Type +
                           "\r\nContent-Length: " + std::to_string(reply.Body.size()) +
                           "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
        if (reply.PagePolicy)
            head += std::string("Content-Security-Policy: ") + kPagePolicy + "\r\n";
        if (reply.Status == 405) head += "Allow: GET\r\n";
        head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
        Write(head + reply.Body, [keepAlive](Connection& self) {
            if (keepAlive) {
                self.AwaitRequest();
            } else {
                self.Linger();
            }
        });
    }

    void Linger() {
        lingering_ = true;
        received_.clear();
        asio::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        ArmDeadline(std::min<std::chrono::milliseconds>(kLinger, server_.limits_.IdleTime));
        ReadMore();
    }

    template <class Then>
    void Write(std::string bytes, Then then) {
        ArmDeadline(server_.limits_.WriteTime);
        writing_ = true;
        auto buffer = std::make_shared<std::string>(std::move(bytes));
        asio::async_write(
            socket_, asio::buffer(*buffer),
            [self = shared_from_this(), buffer, then](const asio::error_code& error, std::size_t) {
                self->writing_ = false;
                if (self->closed_) return;
                if (error) return self->Close();
                self->deadline_.cancel();
                then(*self);
            });
    }

    // The stream starts with the current snapshot, then one event per change; the body ends
    // when the connection does.
    void StartStream() {
        stream_ = true;
        received_.clear();
        const PublishedSnapshot latest = server_.hub_.Latest();
        seen_ = latest.Version;
        Write(
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
            "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" +
                EventOf(latest.Json),
            [](Connection& self) { self.PollStream(); });
        ReadMore();
    }

    void PollStream() {
        streamTimer_.expires_after(kStreamPoll);
        streamTimer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
            if (error || self->closed_) return;
            self->StreamNext();
        });
    }

    void StreamNext() {
        if (writing_) return PollStream();
        if (server_.hub_.Closed() || server_.stopping_) return Close();
        std::string chunk;
        if (server_.hub_.Version() > seen_) {
            const PublishedSnapshot latest = server_.hub_.Latest();
            seen_ = latest.Version;
            polls_ = 0;
            chunk = EventOf(latest.Json);
        } else if (++polls_ >= kPollsPerKeepAlive) {
            polls_ = 0;
            chunk = ": keep-alive\n\n";
        }
        if (chunk.empty()) return PollStream();
        Write(std::move(chunk), [](Connection& self) { self.PollStream(); });
    }

    DashboardServer& server_;
    tcp::socket socket_;
    asio::steady_timer deadline_;
    asio::steady_timer streamTimer_;
    std::array<char, 4096> chunk_{};
    std::string received_;  // bounded: the head limit plus one chunk
    bool closed_ = false;
    bool writing_ = false;
    bool stream_ = false;
    bool lingering_ = false;
    std::uint64_t seen_ = 0;
    int polls_ = 0;
};

DashboardServer::DashboardServer(const SnapshotHub& hub, std::vector<std::string> hostNames,
                                 DashboardLimits limits)
    : hub_(hub), hostNames_(std::move(hostNames)), limits_(limits) {}

DashboardServer::~DashboardServer() { Stop(); }

DashboardServer::Reply DashboardServer::Respond(const HttpRequest& request) {
    Reply reply;
    if (!HostAllowed(request.Header("Host"), hostNames_)) {
        reply.Status = 403;
        reply.Body = "unknown host name\n";
        return reply;
    }
    if (request.Method != "GET") {
        reply.Status = 405;
        reply.Body = "read-only\n";
        return reply;
    }
    const std::string path = PathOf(request.Target);
    if (path == "/") {
        reply.Type = "text/html; charset=utf-8";
        reply.Body = kDashboardPage;
        reply.PagePolicy = true;
    } else if (path == "/snapshot.json") {
        reply.Type = "application/json";
        reply.Body = hub_.Latest().Json;
    } else if (path == "/metrics") {
        reply.Type = "text/plain; version=0.0.4; charset=utf-8";
        reply.Body = MetricsPage(*hub_.Latest().Snapshot, true);
    } else if (path == "/history") {
        reply.History = history_ != nullptr;
        if (!history_) {
            reply.Status = 503;
            reply.Body = "the audit trail is off\n";
        }
    } else if (path == "/events") {
        reply.Stream = OpenStream();
        if (!reply.Stream) {
            reply.Status = 503;
            reply.Body = "too many open dashboards\n";
        }
    } else {
        reply.Status = 404;
        reply.Body = "not found\n";
    }
    return reply;
}

void DashboardServer::ServeHistory(HistoryProvider provider) {
    history_ = provider ? std::make_unique<HistoryQueries>(std::move(provider)) : nullptr;
}

bool DashboardServer::OpenStream() {
    if (streams_ >= limits_.MaxEventStreams) return false;
    ++streams_;
    return true;
}

void DashboardServer::Accept() {
    acceptor_.async_accept([this](const asio::error_code& error, tcp::socket socket) {
        if (stopping_ || error == asio::error::operation_aborted) return;
        if (error) {  // out of descriptors, for one: try again a little later
            acceptRetry_.expires_after(kAcceptRetry);
            acceptRetry_.async_wait([this](const asio::error_code& wait) {
                if (!wait && !stopping_) Accept();
            });
            return;
        }
        Admit(std::move(socket));
        Accept();
    });
}

void DashboardServer::Admit(tcp::socket socket) {
    if (connections_.size() >= limits_.MaxConnections) {
        const auto oldest =
            std::find_if(connections_.begin(), connections_.end(),
                         [](const auto& connection) { return !connection->IsStream(); });
        if (oldest == connections_.end()) return;  // `socket` closes on the way out
        const auto evicted = *oldest;
        evicted->Close();
    }
    auto connection = std::make_shared<Connection>(*this, std::move(socket));
    connections_.push_back(connection);
    open_ = connections_.size();
    connection->Start();
}

void DashboardServer::Forget(const Connection& connection) {
    const auto at = std::find_if(connections_.begin(), connections_.end(),
                                 [&](const auto& held) { return held.get() == &connection; });
    if (at == connections_.end()) return;
    if (connection.IsStream()) --streams_;
    connections_.erase(at);
    open_ = connections_.size();
}

bool DashboardServer::Start(const std::string& address, int port, std::string& problem) {
    asio::error_code error;
    const tcp::endpoint endpoint(asio::ip::make_address(address, error),
                                 static_cast<unsigned short>(port));
    if (!error) acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        problem = "the dashboard cannot listen on " + address + ":" + std::to_string(port) + " (" +
                  error.message() + ")";
        acceptor_.close(error);
        port_ = -1;
        return false;
    }
    port_ = acceptor_.local_endpoint().port();
    Accept();
    thread_ = std::thread([this] { io_.run(); });
    return true;
}

void DashboardServer::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    asio::post(io_, [this] {
        asio::error_code ignored;
        acceptor_.close(ignored);
        acceptRetry_.cancel();
        const auto open = connections_;
        for (const auto& connection : open) connection->Close();
    });
    thread_.join();
    history_.reset();  // after the thread that submits; an answer still coming is dropped
}

}  // namespace krb::server::web
