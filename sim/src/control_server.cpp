#include "sim/control_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace krb::sim {
namespace {

constexpr std::size_t kMaxPending = 8192;  // a client that sends no line end this long is cut off

void writeAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = send(fd, text.data() + written, text.size() - written, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        written += static_cast<std::size_t>(count);
    }
}

}  // namespace

ControlServer::ControlServer(std::string path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof address.sun_path)
        throw std::runtime_error("control socket path is empty or too long: " + path_);
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("cannot create the control socket");
    unlink(path_.c_str());
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 8) != 0) {
        const std::string reason = std::strerror(errno);
        close(listenFd_);
        throw std::runtime_error("cannot listen on " + path_ + ": " + reason);
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        close(listenFd_);
        unlink(path_.c_str());
        throw std::runtime_error("cannot create the control server's wake-up event");
    }
    thread_ = std::thread([this] { serve(); });
}

ControlServer::~ControlServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto ignored = write(wakeFd_, &one, sizeof one);
    thread_.join();
    for (const auto& client : clients_) close(client.fd);
    close(listenFd_);
    close(wakeFd_);
    unlink(path_.c_str());
}

void ControlServer::serve() {
    for (;;) {
        std::vector<pollfd> watched{{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const auto& client : clients_) watched.push_back({client.fd, POLLIN, 0});
        if (poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[0].revents != 0) return;
        for (std::size_t i = clients_.size(); i-- > 0;) {
            if (watched[i + 2].revents == 0 || readFrom(clients_[i])) continue;
            close(clients_[i].fd);
            clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (watched[1].revents & POLLIN) {
            const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients_.push_back({fd, {}});
        }
    }
}

bool ControlServer::readFrom(Client& client) {
    char buffer[1024];
    const ssize_t count = recv(client.fd, buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) return true;
    if (count <= 0) return false;
    client.pending.append(buffer, static_cast<std::size_t>(count));
    for (auto end = client.pending.find('\n'); end != std::string::npos;
         end = client.pending.find('\n')) {
        std::string line = client.pending.substr(0, end);
        client.pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        answer(client, line);
    }
    if (client.pending.size() > kMaxPending) {
        writeAll(client.fd, "ERR line too long\n");
        return false;
    }
    return true;
}

void ControlServer::answer(Client& client, const std::string& line) {
    std::string text;
    for (const auto& reply : handler_(line)) text += reply + "\n";
    writeAll(client.fd, text);
}

}  // namespace krb::sim
