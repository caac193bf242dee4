#include "support/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <utility>

namespace krb::test_support {
namespace {

constexpr int kReadGuardMs = 20000;

}  // namespace

int ConnectLoopback(int port, LoopbackOptions options) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    if (options.receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer,
                     sizeof options.receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    if (options.noDelay) {
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool SendAll(int fd, std::string_view text) {
    for (std::size_t sent = 0; sent < text.size();) {
        const auto n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

TestClient::TestClient(int port, LoopbackOptions options) : fd_(ConnectLoopback(port, options)) {
    if (fd_ < 0) throw std::runtime_error("connect failed");
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    localPort_ = ntohs(local.sin_port);
}

TestClient::~TestClient() { Close(); }

void TestClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TestClient::Send(const std::string& text) {
    if (!SendAll(fd_, text)) throw std::runtime_error("send failed");
}

TestClient::Read TestClient::ReadSome() {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, kReadGuardMs) <= 0) return Read::TimedOut;
    char buffer[4096];
    const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return Read::Closed;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return Read::Data;
}

std::string TestClient::ReadLine() {
    for (;;) {
        const auto end = pending_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end + 2);
            pending_.erase(0, end + 2);
            return line;
        }
        switch (ReadSome()) {
            case Read::TimedOut:
                return "<no reply>";
            case Read::Closed:
                return std::exchange(pending_, {});
            case Read::Data:
                break;
        }
    }
}

std::string TestClient::ReadToEnd() {
    for (;;) {
        switch (ReadSome()) {
            case Read::TimedOut:
                return pending_ + "<not closed>";
            case Read::Closed:
                return std::exchange(pending_, {});
            case Read::Data:
                break;
        }
    }
}

bool TestClient::ClosedByServer() { return ReadToEnd().empty(); }

}  // namespace krb::test_support
