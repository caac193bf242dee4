#pragma once
// KRBServer as a child process on a loopback port picked for it: for tests that kill it,
// or that count its descriptors and threads from /proc.
#include <sys/types.h>

#include <chrono>
#include <string>

namespace krb::server::frontend_testing {

// A loopback port that was free a moment ago.
int FreeLoopbackPort();

class ServerProcess {
  public:
    // Writes `port` into the configuration's [TCP] section and starts
    // "KRBServer --headless <config> start"; waits until the port accepts connections.
    ServerProcess(const std::string& configPath, int port);
    ~ServerProcess();  // SIGKILL if still running
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Listening() const { return listening_; }
    pid_t Pid() const { return pid_; }
    int Port() const { return port_; }
    bool Running();
    void Kill();  // SIGKILL, then reaped

    std::size_t OpenDescriptors() const;  // entries of /proc/<pid>/fd
    std::size_t Threads() const;          // entries of /proc/<pid>/task

  private:
    pid_t pid_ = -1;
    int port_;
    bool listening_ = false;
};

// Polls until `condition` holds or `limit` passes; the last answer.
template <class Condition>
bool WithinTime(std::chrono::milliseconds limit, Condition condition) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return condition();
        struct timespec pause {
            0, 10'000'000
        };
        ::nanosleep(&pause, nullptr);
    }
    return true;
}

}  // namespace krb::server::frontend_testing
