#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/clock.h"
#include "platform/network_port.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "serial_log.h"

namespace krb::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWriteLimit{2000};
constexpr long kLongestRead = 24L * 60 * 60 * 1000;

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

speed_t speedFor(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return B0;
    }
}

bool applyFrame(termios& mode, const LineSettings& settings) {
    mode.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    if (settings.dataBits == 7) {
        mode.c_cflag |= CS7;
    } else if (settings.dataBits == 8) {
        mode.c_cflag |= CS8;
    } else {
        return false;
    }
    if (settings.parity == Parity::Even) mode.c_cflag |= PARENB;
    if (settings.parity == Parity::Odd) mode.c_cflag |= PARENB | PARODD;
    if (settings.stopBits == 2) {
        mode.c_cflag |= CSTOPB;
    } else if (settings.stopBits != 1) {
        return false;
    }
    return true;
}

bool isPseudoTerminal(int fd) {
    constexpr unsigned kFirstPtySlaveMajor = 136;  // Unix98 pty slaves use majors 136..143
    constexpr unsigned kLastPtySlaveMajor = 143;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    unsigned deviceMajor = major(info.st_rdev);
    return deviceMajor >= kFirstPtySlaveMajor && deviceMajor <= kLastPtySlaveMajor;
}

class TermiosSerialPort : public SerialPort {
  public:
    TermiosSerialPort(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~TermiosSerialPort() override {
        // The exclusive flag outlives us while another descriptor (the simulator's)
        // keeps the terminal open; clear it so the port can be opened again.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    TermiosSerialPort(const TermiosSerialPort&) = delete;
    TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

    bool configure(const LineSettings& settings) override;
    // Linux has no per-port driver queue size to set; the request is accepted and ignored.
    void setQueueSizes(std::size_t, std::size_t) override {}
    void purgeInput() override { ::tcflush(fd_, TCIFLUSH); }
    void purgeAll() override { ::tcflush(fd_, TCIOFLUSH); }
    long read(char* buffer, std::size_t count, long timeoutMs) override;
    bool write(const char* data, std::size_t count) override;
    const std::string& name() const override { return name_; }

  private:
    bool waitWritable(Clock::time_point deadline);

    int fd_;
    std::string name_;
};

bool TermiosSerialPort::configure(const LineSettings& settings) {
    speed_t speed = speedFor(settings.baud);
    termios mode{};
    if (speed == B0 || ::tcgetattr(fd_, &mode) != 0) return false;
    ::cfmakeraw(&mode);
    mode.c_cflag |= CLOCAL | CREAD;
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    if (!applyFrame(mode, settings)) return false;
    if (::cfsetispeed(&mode, speed) != 0 || ::cfsetospeed(&mode, speed) != 0) return false;
    if (::tcsetattr(fd_, TCSANOW, &mode) == 0) return true;
    // A pseudo-terminal keeps CS8 and no parity whatever we ask, and some kernels refuse
    // the request outright; a pty has no framing to get wrong, so ask for what it keeps.
    if (errno != EINVAL || !isPseudoTerminal(fd_)) return false;
    mode.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD);
    mode.c_cflag |= CS8;
    return ::tcsetattr(fd_, TCSANOW, &mode) == 0;
}

long TermiosSerialPort::read(char* buffer, std::size_t count, long timeoutMs) {
    const long waitMs = std::clamp(timeoutMs, 0L, kLongestRead);
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::size_t received = 0;
    auto failure = [&received] { return received > 0 ? static_cast<long>(received) : -1L; };
    while (received < count) {
        pollfd request{fd_, POLLIN, 0};
        int ready = ::poll(&request, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (request.revents & POLLNVAL)) return failure();
        if (ready == 0) break;
        if (request.revents & POLLIN) {
            ssize_t got = ::read(fd_, buffer + received, count - received);
            if (got > 0) {
                received += static_cast<std::size_t>(got);
                continue;
            }
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return failure();  // ready but empty: the device is gone
        }
        if (request.revents & (POLLHUP | POLLERR)) return failure();
    }
    return static_cast<long>(received);
}

bool TermiosSerialPort::waitWritable(Clock::time_point deadline) {
    for (;;) {
        pollfd request{fd_, POLLOUT, 0};
        int ready = ::poll(&request, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        if (request.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        return true;
    }
}

bool TermiosSerialPort::write(const char* data, std::size_t count) {
    const auto deadline = Clock::now() + kWriteLimit;
    std::size_t sent = 0;
    while (sent < count) {
        ssize_t done = ::write(fd_, data + sent, count - sent);
        if (done > 0) {
            sent += static_cast<std::size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && errno != EAGAIN) return false;
        if (!waitWritable(deadline)) return false;
    }
    return true;
}

int openDevice(const std::string& devicePath) {
    for (;;) {
        int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// flock keeps two descriptors of ours apart even as root, where TIOCEXCL does not.
bool takeExclusive(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    return ::ioctl(fd, TIOCEXCL) == 0;
}

std::mutex& openerMutex() {
    static std::mutex mutex;
    return mutex;
}

SerialPortOpener& installedOpener() {
    static SerialPortOpener opener;
    return opener;
}

SerialPortOpener currentOpener() {
    std::lock_guard lock(openerMutex());
    return installedOpener();
}

}  // namespace

std::unique_ptr<SerialPort> openTermiosPort(const std::string& devicePath,
                                            const std::string& logName) {
    struct stat info {};
    if (devicePath.empty() || ::stat(devicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return nullptr;
    }
    int fd = openDevice(devicePath);
    if (fd < 0) return nullptr;
    if (!::isatty(fd) || !takeExclusive(fd)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<TermiosSerialPort>(fd, logName.empty() ? devicePath : logName);
}

std::unique_ptr<SerialPort> openSerialPort(const std::string& windowsName) {
    if (currentOpener()) return openSerialPortAt(windowsName, {});
    return openSerialPortAt(windowsName, resolvePortTarget(windowsName));
}

std::unique_ptr<SerialPort> openSerialPortAt(const std::string& windowsName,
                                             const std::string& target) {
    std::unique_ptr<SerialPort> port;
    if (auto opener = currentOpener()) {
        port = opener(windowsName);
    } else if (target.starts_with("tcp://") || target.starts_with("rfc2217://")) {
        if (const auto address = parseNetworkAddress(target))
            port = openNetworkPort(*address, windowsName);
    } else {
        port = openTermiosPort(target, windowsName);
    }
    if (!port) return nullptr;
    return attachSerialLog(std::move(port), windowsName);
}

long replyWindowMs(const SerialPort& port, long nominalMs) {
    return std::max(scaledWholeMs(nominalMs), port.shortestReplyWindowMs());
}

void setSerialPortOpener(SerialPortOpener opener) {
    std::lock_guard lock(openerMutex());
    installedOpener() = std::move(opener);
}

}  // namespace krb::platform
