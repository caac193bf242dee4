#pragma once
// One client connection of the listener, on the event loop. Each read event hands every byte
// received so far to the owner as one text; sends are queued and written in order, so a reply
// posted by a command thread never interleaves with a send of the loop.
#include <asio.hpp>
#include <deque>
#include <memory>
#include <string>

#include "ClientLink.h"

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
    ClientConnection(asio::ip::tcp::socket socket, ConnectionEvents& events);

    void Start();  // begins reading
    void Send(const std::string& text) override;
    void PostReply(std::string text) override;
    // Runs the disconnect handling at once. Sends already queued are still written before
    // the socket closes, unless `discardPending`.
    void Close(bool discardPending = false);
    bool IsOpen() const { return open_; }
    std::size_t PendingSends() const { return sendQueue_.size(); }  // texts not yet written

    const std::string& RemoteAddress() const { return remoteAddress_; }
    int RemotePort() const { return remotePort_; }
    const std::string& RemoteHost() const { return remoteHost_; }
    void SetRemoteHost(std::string host) { remoteHost_ = std::move(host); }
    bool ConnectLogged() const { return connectLogged_; }
    void SetConnectLogged() { connectLogged_ = true; }

  private:
    void ReadNext();
    void OnRead(const asio::error_code& error, std::size_t count);
    std::string DrainAvailable(std::size_t count);
    void WriteNext();
    void OnWritten(const asio::error_code& error);
    void Fail(const asio::error_code& error);
    void CloseSocket();

    asio::ip::tcp::socket socket_;
    ConnectionEvents& events_;
    std::string readBuffer_;
    std::deque<std::string> sendQueue_;
    bool writing_ = false;
    bool open_ = true;
    std::string remoteAddress_;
    int remotePort_ = -1;
    std::string remoteHost_;
    bool connectLogged_ = false;
};

}  // namespace krb::server
