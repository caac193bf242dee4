#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/clock.h"
#include "platform/decimal.h"
#include "platform/network_port.h"
#include "telnet_com_port.h"

namespace krb::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWriteLimit{2000};
constexpr long kLongestRead = 24L * 60 * 60 * 1000;
constexpr long kNegotiationWaitMs = 1000;
constexpr std::size_t kReceiveChunk = 4096;

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd request{fd, events, 0};
        int ready = ::poll(&request, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0 && (request.revents & events);
    }
}

int connectOne(const addrinfo& candidate, Clock::time_point deadline) {
    int fd = ::socket(candidate.ai_family, candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      candidate.ai_protocol);
    if (fd < 0) return -1;
    int error = 0;
    socklen_t length = sizeof error;
    const bool connected =
        ::connect(fd, candidate.ai_addr, candidate.ai_addrlen) == 0 ||
        (errno == EINPROGRESS && waitFor(fd, POLLOUT, deadline) &&
         ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0);
    if (!connected) {
        ::close(fd);
        return -1;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // a command is a few bytes
    return fd;
}

int connectWithin(const NetworkAddress& address, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.port);
    if (::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo* candidate = found; candidate && fd < 0; candidate = candidate->ai_next)
        fd = connectOne(*candidate, deadline);
    ::freeaddrinfo(found);
    return fd;
}

class NetworkSerialPort : public SerialPort {
  public:
    NetworkSerialPort(int fd, NetworkMode mode, std::string name)
        : fd_(fd), mode_(mode), name_(std::move(name)) {}
    ~NetworkSerialPort() override { ::close(fd_); }
    NetworkSerialPort(const NetworkSerialPort&) = delete;
    NetworkSerialPort& operator=(const NetworkSerialPort&) = delete;

    bool configure(const LineSettings& settings) override;
    void setQueueSizes(std::size_t, std::size_t) override {}
    void purgeInput() override { purge(telnet::kPurgeReceive); }
    void purgeAll() override { purge(telnet::kPurgeBoth); }
    long read(char* buffer, std::size_t count, long timeoutMs) override;
    bool write(const char* data, std::size_t count) override;
    const std::string& name() const override { return name_; }
    long shortestReplyWindowMs() const override { return kNetworkReplyWindowFloorMs; }

    bool sendRaw(const std::string& bytes);

  private:
    bool telnet() const { return mode_ == NetworkMode::Rfc2217; }
    // Takes what the socket holds within the deadline into pending_; false when the
    // connection failed or ended.
    bool receive(Clock::time_point deadline);
    void purge(unsigned char direction);

    int fd_;
    NetworkMode mode_;
    std::string name_;
    std::string pending_;  // data bytes received and not yet read
    telnet::Decoder decoder_;
    bool broken_ = false;
};

bool NetworkSerialPort::receive(Clock::time_point deadline) {
    if (!waitFor(fd_, POLLIN, deadline)) return !broken_;
    char chunk[kReceiveChunk];
    ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (got <= 0) {
        broken_ = true;  // reset, or closed by the device server
        return false;
    }
    if (!telnet()) {
        pending_.append(chunk, static_cast<std::size_t>(got));
        return true;
    }
    std::string answers;
    decoder_.feed(chunk, static_cast<std::size_t>(got), pending_, answers);
    return answers.empty() || sendRaw(answers);
}

long NetworkSerialPort::read(char* buffer, std::size_t count, long timeoutMs) {
    const long waitMs = std::clamp(timeoutMs, 0L, kLongestRead);
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (pending_.size() < count && !broken_) {
        if (!receive(deadline)) break;
        if (Clock::now() >= deadline) break;
    }
    const std::size_t taken = std::min(count, pending_.size());
    if (taken == 0 && broken_) return -1;
    std::copy_n(pending_.data(), taken, buffer);
    pending_.erase(0, taken);
    return static_cast<long>(taken);
}

bool NetworkSerialPort::sendRaw(const std::string& bytes) {
    const auto deadline = Clock::now() + kWriteLimit;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t done = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (done > 0) {
            sent += static_cast<std::size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if ((done < 0 && errno != EAGAIN) || !waitFor(fd_, POLLOUT, deadline)) {
            broken_ = true;
            return false;
        }
    }
    return true;
}

bool NetworkSerialPort::write(const char* data, std::size_t count) {
    if (broken_) return false;
    return sendRaw(telnet() ? telnet::escapeData(data, count) : std::string(data, count));
}

bool NetworkSerialPort::configure(const LineSettings& settings) {
    if (!telnet()) return !broken_;  // the device server's own settings apply
    const auto deadline = Clock::now() + platform::scaled(kNegotiationWaitMs);
    while (!decoder_.peerAcceptedComPort() && Clock::now() < deadline) {
        if (!receive(deadline)) return false;
    }
    return decoder_.peerAcceptedComPort() && sendRaw(telnet::lineSettingRequests(settings));
}

void NetworkSerialPort::purge(unsigned char direction) {
    while (!broken_ && receive(Clock::now())) {
        if (!waitFor(fd_, POLLIN, Clock::now())) break;
    }
    pending_.clear();
    if (telnet() && decoder_.peerAcceptedComPort())
        sendRaw(telnet::comPortRequest(telnet::ComPortCommand::PurgeData,
                                       std::string(1, static_cast<char>(direction))));
}

std::optional<int> portNumber(std::string_view text) {
    auto number = parseInt32(text);
    if (!number || text.front() == '+' || text.front() == '-' || *number < 1 || *number > 65535)
        return std::nullopt;
    return *number;
}

}  // namespace

std::optional<NetworkAddress> parseNetworkAddress(const std::string& text) {
    NetworkAddress address;
    std::string_view rest = text;
    if (rest.starts_with("tcp://")) {
        rest.remove_prefix(6);
    } else if (rest.starts_with("rfc2217://")) {
        address.mode = NetworkMode::Rfc2217;
        rest.remove_prefix(10);
    } else {
        return std::nullopt;
    }
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view host = rest.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address needs its brackets
    }
    if (host.find_first_of(" \t/@") != std::string_view::npos) return std::nullopt;
    const auto port = portNumber(rest.substr(colon + 1));
    if (!port) return std::nullopt;
    address.host = std::string(host);
    address.port = *port;
    return address;
}

std::unique_ptr<SerialPort> openNetworkPort(const NetworkAddress& address,
                                            const std::string& logName) {
    const auto deadline = Clock::now() + platform::scaled(kNetworkOpenTimeoutMs);
    const int fd = connectWithin(address, deadline);
    if (fd < 0) return nullptr;
    auto port = std::make_unique<NetworkSerialPort>(fd, address.mode, logName);
    if (address.mode == NetworkMode::Rfc2217 && !port->sendRaw(telnet::openingNegotiation()))
        return nullptr;
    return port;
}

}  // namespace krb::platform
