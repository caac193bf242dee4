#pragma once
// One client connection of the listener, on the event loop. Each read event hands every byte
// received so far to the owner as one text, at most kMaxPendingText long; sends are queued and
// written in order, so a reply posted by a command thread never interleaves with a send of
// the loop.
#include <asio.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/ClientLink.h"

namespace krb::server {

class ClientConnection;

// The listener's handlers for its connections; called on the event loop.
class ConnectionEvents {
  public:
    virtual ~ConnectionEvents() = default;
    virtual void ClientRead(const std::shared_ptr<ClientConnection>& connection,
                            const std::string& text) = 0;
    virtual void ClientError(const std::shared_ptr<ClientConnection>& connection, int code) = 0;
    // Runs once, when the connection closes from either side.
    virtual void ClientDisconnect(const std::shared_ptr<ClientConnection>& connection) = 0;
};

class ClientConnection : public ClientLink, public std::enable_shared_from_this<ClientConnection> {
  public:
    static constexpr std::size_t kReadChunk = 64 * 1024;
    // What one connection may hold without a CR; a longer text is handed over at this size
    // (and answered "E1" when it holds no CR).
    static constexpr std::size_t kMaxPendingText = 1024 * 1024;

    ClientConnection(asio::ip::tcp::socket socket, ConnectionEvents& events);

    void Start();  // begins reading
    void Send(std::string text) override;
    void SendPieces(TTextPieces pieces) override;  // written with gathering writes
    void PostReply(std::string text) override;
    void Close(bool discardPending = false) override;
    void WhenSent(std::function<void()> done) override;
    bool IsOpen() const override { return open_; }
    std::size_t PendingSends() const override { return sendQueue_.size(); }
    std::string RemoteDetails() const override;
    std::string PeerAddress() const override;

    const std::string& RemoteAddress() const { return remoteAddress_; }
    int RemotePort() const { return remotePort_; }
    const std::string& RemoteHost() const { return remoteHost_; }
    void SetRemoteHost(std::string host) { remoteHost_ = std::move(host); }
    bool ConnectLogged() const { return connectLogged_; }
    void SetConnectLogged() { connectLogged_ = true; }

  private:
    void ReadNext();
    void OnRead(const asio::error_code& error, std::size_t count);
    std::size_t ReadRoom() const;
    bool TextIsComplete();
    void WriteNext();
    void OnWritten(const asio::error_code& error);
    void RunSentWaiters();
    void Fail(const asio::error_code& error);
    void CloseSocket();

    asio::ip::tcp::socket socket_;
    ConnectionEvents& events_;
    std::string readBuffer_;
    std::string pendingText_;
    // One queued text: a whole string, or shared pieces.
    struct Outgoing {
        std::string Text;
        TTextPieces Pieces;
        std::vector<asio::const_buffer> Buffers;  // over Text or Pieces while it is written
    };
    void Queue(Outgoing outgoing);

    std::deque<Outgoing> sendQueue_;
    std::vector<std::function<void()>> sentWaiters_;
    bool writing_ = false;
    bool open_ = true;
    std::string remoteAddress_;
    int remotePort_ = -1;
    std::string remoteHost_;
    bool connectLogged_ = false;
};

}  // namespace krb::server
