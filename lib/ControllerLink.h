#pragma once
// The serial link to one controller: the port, the two locks and the exchange of one
// command for one reply. A unit holds one link; nothing else touches the port.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Guarded.h"
#include "LinkSupervisor.h"
#include "platform/serial_port.h"

namespace krb {

// A wait that polls the controller gives up after this many polls without a reply to its read.
inline constexpr int kSilentPollsBeforeGivingUp = 30;

class ControllerLink {
  public:
    ControllerLink();
    ~ControllerLink();
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    // Both locks at once: no command and no reply read of another thread falls in between.
    struct Hold {
        std::unique_lock<std::recursive_mutex> commands;
        std::unique_lock<std::recursive_mutex> exchanges;
    };

    // Five-character names ("COM12") get the device prefix; other lengths than 4, 5 and 12
    // leave the name as it was.
    void setPortName(const std::string& name);
    // "1" opened (a line that is down: opened afresh), "2" already open, "0" the port cannot
    // be opened.
    std::string open();
    void close();
    bool isOpen() const { return PortOpen.load(); }
    // A line found gone is reopened in the background; meanwhile every exchange fails at once.
    bool isDown() const { return supervisor_->isDown(); }
    // Called on the supervisor's thread, with the link held, once a lost line is back: reopened
    // at the device it was opened at and answering.
    void onRestored(std::function<void()> restored) { restored_ = std::move(restored); }

    // One command out, one reply back, under CommandLock.
    std::string ReadBackStr(const std::string& command);
    // One more reply read without a command (the controller's barcode text comes in parts).
    std::string readFollowingReply();
    [[nodiscard]] std::unique_lock<std::recursive_mutex> holdCommands();
    [[nodiscard]] Hold holdAll();

    bool linkIdle() const { return LinkIdle.load(); }
    bool replyPending() const { return ReplyPending.load(); }
    std::int32_t exchangeDelay() const { return ExchangeDelay.load(); }
    void setExchangeDelay(std::int32_t ms) { ExchangeDelay = ms; }
    // Sets the delay and gives the one it replaced.
    std::int32_t swapExchangeDelay(std::int32_t ms) { return ExchangeDelay.exchange(ms); }

  private:
    std::string Exchange(const std::string& command);
    void SendLine(const std::string& command);
    std::string ReadReply();
    std::unique_ptr<platform::SerialPort> openConfigured(const std::string& target);
    void lineFailed(const char* cause);
    bool restore(std::unique_ptr<platform::SerialPort> port);

    std::unique_ptr<platform::SerialPort> PortHandle;
    Guarded<std::string> PortName;
    Guarded<std::string> PortTarget;  // what the name resolved to when opened: recovery's device
    std::atomic<bool> PortOpen{false};
    std::atomic<bool> LinkIdle{false};
    std::atomic<bool> ReplyPending{false};
    std::atomic<std::int32_t> ExchangeDelay{200};
    Guarded<std::string> PendingCommand;
    Guarded<std::string> ExchangeReply;
    std::recursive_mutex ExchangeLock;
    std::recursive_mutex CommandLock;
    bool LineFailed = false;     // under ExchangeLock: the exchange in progress found the line gone
    bool GaveUp = false;         // under ExchangeLock: the last exchange ended without a reply
    std::uint64_t Openings = 0;  // under both locks: counts opens and closes
    std::uint64_t LostOpening = 0;  // under ExchangeLock: the opening whose line was lost
    bool Restoring = false;  // under both locks: the reopened line is checked before it is back
    std::function<void()> restored_;
    std::unique_ptr<LinkSupervisor> supervisor_;  // last: its thread ends before the rest goes
};

}  // namespace krb
