#include "serial_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace krb::sim::testing {
namespace {

// Guards against a hang only; replies normally arrive within milliseconds.
constexpr auto kReadBound = std::chrono::seconds(3);

}  // namespace

SerialClient::SerialClient(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &settings);
}

SerialClient::~SerialClient() { close(fd_); }

void SerialClient::send(const std::string& bytes) {
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("short write");
    }
}

std::string SerialClient::readLine() { return readTo("\r\n"); }

std::string SerialClient::readTo(const std::string& terminator) {
    const auto deadline = std::chrono::steady_clock::now() + kReadBound;
    std::size_t end;
    while ((end = buffered_.find(terminator)) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[64];
        const ssize_t count = read(fd_, chunk, sizeof chunk);
        if (count > 0) {
            lastArrival_ = std::chrono::steady_clock::now();
            buffered_.append(chunk, static_cast<std::size_t>(count));
        }
    }
    const std::size_t take = end == std::string::npos ? buffered_.size() : end + terminator.size();
    std::string line = buffered_.substr(0, take);
    buffered_.erase(0, take);
    return line;
}

std::string SerialClient::exchange(const std::string& command) {
    send(command + "\r");
    std::string line = readLine();
    if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
        return line + "<no line end>";
    }
    line.resize(line.size() - 2);
    return line;
}

}  // namespace krb::sim::testing
