#pragma once
// Watches over one controller link: once an exchange finds the line gone (device removed,
// connection reset), the link is marked down, later exchanges fail at once, and the port is
// reopened in the background with growing pauses until the device is back.
#include <atomic>
#include <condition_variable>
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
    // Takes the reopened port; called on the supervisor's thread.
    using Restorer = std::function<void(std::unique_ptr<platform::SerialPort>)>;

    static constexpr long kFirstPauseMs = 500;
    static constexpr long kLongestPauseMs = 30000;

    LinkSupervisor(Opener open, Restorer restore);
    ~LinkSupervisor();
    LinkSupervisor(const LinkSupervisor&) = delete;
    LinkSupervisor& operator=(const LinkSupervisor&) = delete;

    // The link failed: `cause` is logged; reopening starts unless it already runs.
    void linkLost(const std::string& portName, const std::string& cause);
    bool isDown() const { return down_.load(); }
    // The port was closed on purpose: stop reopening it.
    void stop();

  private:
    void reopenUntilBack(std::string portName);
    bool pause(long nominalMs);

    Opener open_;
    Restorer restore_;
    std::atomic<bool> down_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace krb
