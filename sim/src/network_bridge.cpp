#include "sim/network_bridge.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace krb::sim {
namespace {

constexpr unsigned char IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253, kComPort = 44;
constexpr unsigned char kServerReplyOffset = 100;

void writeAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t done = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (done < 0 && errno == ENOTSOCK)
            done = ::write(fd, bytes.data() + sent, bytes.size() - sent);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;
        sent += static_cast<std::size_t>(done);
    }
}

int openDevice(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios mode{};
    if (::tcgetattr(fd, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(fd, TCSANOW, &mode);
    }
    return fd;
}

// The server's side of the telnet COM-port control: requests are acknowledged with their
// value (a pseudo-terminal has no line settings to apply); data bytes pass through.
class TelnetServerSide {
  public:
    std::string greeting() const { return std::string{char(IAC), char(DO), char(kComPort)}; }

    void feed(const char* bytes, std::size_t count, std::string& data, std::string& answers) {
        for (std::size_t i = 0; i < count; ++i)
            step(static_cast<unsigned char>(bytes[i]), data, answers);
    }

  private:
    enum class State { Data, Command, Option, Sub, SubIac };
    void step(unsigned char byte, std::string& data, std::string& answers) {
        switch (state_) {
            case State::Data:
                if (byte == IAC)
                    state_ = State::Command;
                else
                    data += char(byte);
                return;
            case State::Command:
                if (byte == IAC) {
                    data += char(byte);
                    state_ = State::Data;
                } else if (byte == SB) {
                    sub_.clear();
                    state_ = State::Sub;
                } else
                    state_ = byte >= WILL ? State::Option : State::Data;
                return;
            case State::Option:
                state_ = State::Data;
                return;
            case State::Sub:
                if (byte == IAC)
                    state_ = State::SubIac;
                else
                    sub_ += char(byte);
                return;
            case State::SubIac:
                if (byte == SE) {
                    acknowledge(answers);
                    state_ = State::Data;
                } else {
                    sub_ += char(byte);
                    state_ = State::Sub;
                }
                return;
        }
    }
    void acknowledge(std::string& answers) {
        if (sub_.size() < 2 || static_cast<unsigned char>(sub_[0]) != kComPort) return;
        std::string reply = sub_;
        reply[1] = char(static_cast<unsigned char>(reply[1]) + kServerReplyOffset);
        answers += std::string{char(IAC), char(SB)} + reply + std::string{char(IAC), char(SE)};
    }

    State state_ = State::Data;
    std::string sub_;
};

std::string escaped(const char* bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += bytes[i];
        if (static_cast<unsigned char>(bytes[i]) == IAC) out += bytes[i];
    }
    return out;
}

}  // namespace

NetworkBridge::NetworkBridge(std::string devicePath, int port, BridgeMode mode)
    : devicePath_(std::move(devicePath)), mode_(mode) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 4) != 0 || ::pipe2(wakeup_, O_CLOEXEC) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener_ >= 0) ::close(listener_);
        throw std::runtime_error("cannot listen on TCP port " + std::to_string(port));
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

NetworkBridge::~NetworkBridge() {
    stopping_ = true;
    [[maybe_unused]] ssize_t ignored = ::write(wakeup_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(wakeup_[0]);
    ::close(wakeup_[1]);
}

std::string NetworkBridge::address() const {
    return std::string(mode_ == BridgeMode::Raw ? "tcp" : "rfc2217") +
           "://127.0.0.1:" + std::to_string(port_);
}

void NetworkBridge::serve() {
    while (!stopping_) {
        pollfd waits[2] = {{listener_, POLLIN, 0}, {wakeup_[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) return;
        if (stopping_) return;
        if (!(waits[0].revents & POLLIN)) continue;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        relay(client);
        ::close(client);
    }
}

// One client at a time, as a device server port; the next client waits in the backlog.
void NetworkBridge::relay(int client) {
    const int device = openDevice(devicePath_);
    if (device < 0) return;
    TelnetServerSide telnet;
    if (mode_ == BridgeMode::Rfc2217) writeAll(client, telnet.greeting());
    char buffer[4096];
    while (!stopping_) {
        pollfd waits[3] = {{client, POLLIN, 0}, {device, POLLIN, 0}, {wakeup_[0], POLLIN, 0}};
        if (::poll(waits, 3, -1) < 0 && errno != EINTR) break;
        if (stopping_ || (waits[0].revents & (POLLHUP | POLLERR))) break;
        if (waits[0].revents & POLLIN) {
            ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            std::string data, answers;
            if (mode_ == BridgeMode::Raw)
                data.assign(buffer, static_cast<std::size_t>(got));
            else
                telnet.feed(buffer, static_cast<std::size_t>(got), data, answers);
            writeAll(device, data);
            writeAll(client, answers);
        }
        if (waits[1].revents & POLLIN) {
            ssize_t got = ::read(device, buffer, sizeof buffer);
            if (got <= 0) break;
            writeAll(client, mode_ == BridgeMode::Raw
                                 ? std::string(buffer, static_cast<std::size_t>(got))
                                 : escaped(buffer, static_cast<std::size_t>(got)));
        }
    }
    ::close(device);
}

}  // namespace krb::sim
