#pragma once
// The test's side of a published port: plain POSIX, raw mode, like a real client.
#include <chrono>
#include <string>

namespace krb::sim::testing {

class SerialClient {
  public:
    explicit SerialClient(const std::string& path);
    ~SerialClient();
    SerialClient(const SerialClient&) = delete;
    SerialClient& operator=(const SerialClient&) = delete;

    void send(const std::string& bytes);
    // Bytes up to and including the first CR LF; whatever arrived if none came in time.
    std::string readLine();
    // Bytes up to and including `terminator`; whatever arrived if none came in time.
    std::string readTo(const std::string& terminator);
    std::string exchange(const std::string& command);  // command + CR, reply without CR LF
    std::chrono::steady_clock::time_point lastArrival() const { return lastArrival_; }

  private:
    int fd_ = -1;
    std::string buffered_;
    std::chrono::steady_clock::time_point lastArrival_{};
};

}  // namespace krb::sim::testing
