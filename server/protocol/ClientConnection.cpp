#include "protocol/ClientConnection.h"

#include <algorithm>

#include "protocol/FailureLog.h"

namespace krb::server {

ClientConnection::ClientConnection(asio::ip::tcp::socket socket, ConnectionEvents& events)
    : socket_(std::move(socket)), events_(events), readBuffer_(kReadChunk, '\0') {
    asio::error_code error;
    const auto peer = socket_.remote_endpoint(error);
    if (!error) {
        remoteAddress_ = peer.address().to_string();
        remotePort_ = peer.port();
    }
    socket_.set_option(asio::ip::tcp::no_delay(true), error);
}

void ClientConnection::Start() { ReadNext(); }

std::size_t ClientConnection::ReadRoom() const {
    return std::min(readBuffer_.size(), kMaxPendingText - pendingText_.size());
}

void ClientConnection::ReadNext() {
    socket_.async_read_some(
        asio::buffer(readBuffer_.data(), ReadRoom()),
        [self = shared_from_this()](const asio::error_code& error, std::size_t count) {
            self->OnRead(error, count);
        });
}

void ClientConnection::OnRead(const asio::error_code& error, std::size_t count) {
    if (!open_) return;
    if (error == asio::error::eof) {
        Close();
        return;
    }
    if (error) {
        Fail(error);
        return;
    }
    try {
        pendingText_.append(readBuffer_.data(), count);
        if (TextIsComplete()) {
            std::string text;
            text.swap(pendingText_);
            events_.ClientRead(shared_from_this(), text);
        }
        if (open_) ReadNext();
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("client read", failure);
        Close(true);
    }
}

// A text is every byte received so far, as one read event of the socket layer sees it; it
// is taken one bounded read per turn of the loop, so other clients are served in between,
// and it never holds more than kMaxPendingText.
bool ClientConnection::TextIsComplete() {
    if (pendingText_.size() >= kMaxPendingText) return true;
    asio::error_code error;
    return socket_.available(error) == 0 || error;
}

void ClientConnection::Send(std::string text) {
    if (text.empty()) return;
    Outgoing outgoing;
    outgoing.Text = std::move(text);
    Queue(std::move(outgoing));
}

void ClientConnection::SendPieces(TTextPieces pieces) {
    std::erase_if(pieces, [](const auto& piece) { return !piece || piece->empty(); });
    if (pieces.empty()) return;
    Outgoing outgoing;
    outgoing.Pieces = std::move(pieces);
    Queue(std::move(outgoing));
}

void ClientConnection::Queue(Outgoing outgoing) {
    if (!open_) return;
    sendQueue_.push_back(std::move(outgoing));
    if (!writing_) WriteNext();
}

void ClientConnection::PostReply(std::string text) {
    asio::post(socket_.get_executor(),
               [self = shared_from_this(), text = std::move(text)]() mutable {
                   self->Send(std::move(text));  // nothing is sent once the connection has closed
               });
}

std::string ClientConnection::RemoteDetails() const {
    return "RH=" + remoteHost_ + ";RA=" + remoteAddress_ + ";RP=" + std::to_string(remotePort_);
}

std::string ClientConnection::PeerAddress() const {
    return remoteAddress_ + ":" + std::to_string(remotePort_);
}

void ClientConnection::WhenSent(std::function<void()> done) {
    if (!writing_ && sendQueue_.empty()) {
        asio::post(socket_.get_executor(), std::move(done));
        return;
    }
    sentWaiters_.push_back(std::move(done));
}

void ClientConnection::RunSentWaiters() {
    auto waiters = std::move(sentWaiters_);
    sentWaiters_.clear();
    for (auto& done : waiters) done();
}

void ClientConnection::WriteNext() {
    writing_ = true;
    Outgoing& next = sendQueue_.front();
    if (next.Pieces.empty()) {
        next.Buffers.push_back(asio::buffer(next.Text));
    } else {
        for (const auto& piece : next.Pieces) next.Buffers.push_back(asio::buffer(*piece));
    }
    asio::async_write(socket_, next.Buffers,
                      [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                          self->OnWritten(error);
                      });
}

void ClientConnection::OnWritten(const asio::error_code& error) {
    writing_ = false;
    if (error) {
        sendQueue_.clear();
        sentWaiters_.clear();
        if (open_) {
            Fail(error);
        } else {
            CloseSocket();
        }
        return;
    }
    sendQueue_.pop_front();
    if (!sendQueue_.empty()) {
        WriteNext();
        return;
    }
    RunSentWaiters();
    if (!open_) CloseSocket();
}

void ClientConnection::Fail(const asio::error_code& error) {
    if (error == asio::error::operation_aborted) return;
    events_.ClientError(shared_from_this(), error.value());
    Close(true);
}

void ClientConnection::Close(bool discardPending) {
    if (!open_) return;
    open_ = false;
    events_.ClientDisconnect(shared_from_this());
    if (discardPending || !writing_) {
        sentWaiters_.clear();
        CloseSocket();
    }
}

void ClientConnection::CloseSocket() {
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

}  // namespace krb::server
