#pragma once
// Watches over one serial line: once an exchange finds the line gone (device removed,
// connection reset), the line is marked down, later exchanges fail at once, and the port is
// reopened in the background with growing pauses until the device is back and answers.
// One worker thread per supervisor, started at the first loss; no call of the supervisor
// ever waits for that thread, so callers may hold the locks its callbacks take.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/serial_port.h"

namespace krb {

class LinkSupervisor {
  public:
    using Opener = std::function<std::unique_ptr<platform::SerialPort>()>;
    // Offered each reopened port, on the supervisor's thread: true when the device on it
    // answered and the line took it; false lets the port go and reopening goes on.
    using Restorer = std::function<bool(std::unique_ptr<platform::SerialPort>)>;
    // Called on the supervisor's thread once the line counts as back.
    using BackNotice = std::function<void()>;

    static constexpr long kFirstPauseMs = 500;
    static constexpr long kLongestPauseMs = 30000;

    LinkSupervisor(Opener open, Restorer restore, BackNotice back = {});
    ~LinkSupervisor();
    LinkSupervisor(const LinkSupervisor&) = delete;
    LinkSupervisor& operator=(const LinkSupervisor&) = delete;

    // The line failed: `cause` is logged; reopening starts unless it already runs. Never blocks.
    void linkLost(const std::string& portName, const std::string& cause);
    bool isDown() const { return down_.load(); }
    // The port was closed on purpose: reopening stops at its next step. Never blocks.
    void stop();

  private:
    void run();
    void reopenUntilBack(const std::string& portName, std::uint64_t round);
    bool pause(long nominalMs, std::uint64_t round);
    bool roundGoesOn(std::uint64_t round);

    Opener open_;
    Restorer restore_;
    BackNotice back_;
    std::atomic<bool> down_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool lost_ = false;        // a loss waits for the worker
    bool ending_ = false;      // the supervisor goes
    std::uint64_t round_ = 0;  // a stop ends the reopening of every earlier round
    std::string portName_;
    std::thread thread_;
};

}  // namespace krb
