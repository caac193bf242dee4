#include "server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/profile_file.h"

namespace krb::server::frontend_testing {
namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address = Loopback(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::size_t EntriesOf(const std::string& folder) {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return count;
}

}  // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

ServerProcess::ServerProcess(const std::string& configPath, int port) : port_(port) {
    platform::ProfileFile(configPath).writeString("TCP", "port", std::to_string(port));
    pid_ = ::fork();
    if (pid_ == 0) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(KRB_SERVER_PATH), const_cast<char*>("--headless"),
                                const_cast<char*>(configPath.c_str()), const_cast<char*>("start"),
                                nullptr};
        ::execv(KRB_SERVER_PATH, argv.data());
        ::_exit(127);
    }
    listening_ =
        WithinTime(std::chrono::seconds(20), [&] { return !Running() || Accepts(port_); }) &&
        Running();
}

ServerProcess::~ServerProcess() { Kill(); }

bool ServerProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ServerProcess::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::size_t ServerProcess::OpenDescriptors() const {
    return EntriesOf("/proc/" + std::to_string(pid_) + "/fd");
}

std::size_t ServerProcess::Threads() const {
    return EntriesOf("/proc/" + std::to_string(pid_) + "/task");
}

}  // namespace krb::server::frontend_testing
