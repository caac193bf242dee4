#pragma once
// The server's core with its event loop on a thread of its own, and reading its log.
#include <string>
#include <thread>
#include <vector>

#include "app/LabServer.h"

namespace krb::test_support {

class RunningServer {
  public:
    explicit RunningServer(const server::KRBExports& exports = server::LibraryExports());
    ~RunningServer();
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    server::ServerCore& Core() { return core_; }
    // Loads the configuration and starts listening, as "KRBServer <path> start" does.
    void Start(const std::string& configPath);
    int Port();
    // Ends the event loop; the core itself lives on until the holder goes. Idempotent.
    void Stop();

  private:
    server::LabServer core_;
    std::thread loop_;
};

// Lines of the log, waiting until `count` lines exist (or the guard ran out).
std::vector<std::string> WaitForLogLines(const std::string& path, std::size_t count);
// Event field of a log line (between the first and the second ";").
std::string EventOf(const std::string& line);

}  // namespace krb::test_support
