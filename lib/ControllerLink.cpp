// The port and the exchange: pause, purge, write, two reads, then one resend.
#include "ControllerLink.h"

#include <chrono>

#include "ControllerRegisters.h"
#include "ReplyForm.h"
#include "platform/clock.h"
#include "platform/link_metrics.h"
#include "platform/port_names.h"
#include "text_numbers.h"

namespace krb {

using platform::sleepMs;

namespace {
constexpr std::size_t kReplyBufferSize = 32;
constexpr int kReplyReadMs = 55;
constexpr int kMaxDrainReads = 20;
// A reply this late after an exchange gave up is still drained before the next command.
constexpr int kLateReplyQuietMs = 1000;

// Reads until `quietMs` pass without a byte (bounded: a babbling line ends it too).
void drainUntilQuiet(platform::SerialPort& port, int quietMs = kReplyReadMs) {
    char buffer[kReplyBufferSize];
    for (int read = 0; read < kMaxDrainReads; ++read)
        if (port.read(buffer, sizeof buffer, platform::replyWindowMs(port, quietMs)) <= 0) return;
}

// A reply that cannot belong to the command is a late or doubled one: it is dropped with
// whatever follows it, and the exchange goes on as if nothing had come.
std::string withoutStrayReply(platform::SerialPort& port, const std::string& command,
                              std::string reply) {
    if (reply.empty() || replyFitsCommand(command, reply)) return reply;
    drainUntilQuiet(port);
    return "";
}

// A reopened port may lead to another device than the controller: it counts only once it
// answers a read that changes nothing.
bool answersHarmlessRead(platform::SerialPort& port) {
    const std::string command = controller::readRelay(controller::relay::kReady);
    const std::string line = command + '\r';
    port.purgeInput();
    if (!port.write(line.data(), line.size())) return false;
    sleepMs(60);
    char buffer[kReplyBufferSize];
    const long count =
        port.read(buffer, sizeof buffer, platform::replyWindowMs(port, kReplyReadMs));
    const std::string reply = withoutLineEnds(buffer, count);
    return !reply.empty() && replyFitsCommand(command, reply);
}

}  // namespace

ControllerLink::ControllerLink()
    : supervisor_(
          std::make_unique<LinkSupervisor>([this] { return openConfigured(PortTarget.get()); },
                                           [this](std::unique_ptr<platform::SerialPort> port) {
                                               return restore(std::move(port));
                                           })) {}

ControllerLink::~ControllerLink() { close(); }

void ControllerLink::setPortName(const std::string& name) {
    if (name.size() == 5)
        PortName.set("\\\\.\\" + name);
    else if (name.size() == 4 || name.size() == 12)
        PortName.set(name);
}

std::unique_ptr<platform::SerialPort> ControllerLink::openConfigured(const std::string& target) {
    auto port = platform::openSerialPortAt(PortName.get(), target);
    if (!port) return nullptr;
    port->configure(platform::kControllerLine);  // a pty reports other settings back: not an error
    port->setQueueSizes(300, 0);
    port->purgeInput();
    return port;
}

std::string ControllerLink::open() {
    auto held = holdAll();
    if (PortOpen && !supervisor_->isDown()) return "2";
    // A line still down is opened afresh: the name may lead elsewhere now (a restarted simulator).
    const std::string target = platform::resolvePortTarget(PortName.get());
    auto port = openConfigured(target);
    if (!port) return "0";
    supervisor_->stop();
    PortTarget.set(target);
    PortHandle = std::move(port);
    PortOpen = true;
    ++Openings;
    return "1";
}

// Only the line lost during this opening takes the port: a close (and a new open) meanwhile
// ends that recovery.
bool ControllerLink::restore(std::unique_ptr<platform::SerialPort> port) {
    auto held = holdAll();
    if (!PortOpen || LostOpening != Openings) return false;
    if (!answersHarmlessRead(*port)) return false;
    PortHandle = std::move(port);
    GaveUp = false;
    // The unit's own checks run before any other command can reach the line again.
    Restoring = true;
    if (restored_) restored_();
    Restoring = false;
    return PortHandle != nullptr;  // gone again during the checks: reopening goes on
}

// The port is let go, so that the device can be opened again when it is back.
void ControllerLink::lineFailed(const char* cause) {
    if (LineFailed) return;
    LineFailed = true;
    LostOpening = Openings;
    supervisor_->linkLost(PortName.get(), cause);
}

void ControllerLink::close() {
    supervisor_->stop();
    auto held = holdAll();
    PortHandle.reset();
    PortOpen = false;
    ++Openings;
}

std::unique_lock<std::recursive_mutex> ControllerLink::holdCommands() {
    return std::unique_lock(CommandLock);
}

ControllerLink::Hold ControllerLink::holdAll() {
    return Hold{std::unique_lock(CommandLock), std::unique_lock(ExchangeLock)};
}

std::string ControllerLink::ReadBackStr(const std::string& command) {
    std::lock_guard guard(CommandLock);
    return Exchange(command);
}

std::string ControllerLink::Exchange(const std::string& command) {
    std::lock_guard guard(ExchangeLock);
    LinkIdle = false;
    PendingCommand.set(command);
    ReplyPending = true;
    ExchangeReply.set("");
    std::string reply;
    LineFailed = false;
    if (PortHandle && (!supervisor_->isDown() || Restoring)) {
        const auto started = std::chrono::steady_clock::now();
        SendLine(command);
        sleepMs(60);
        reply = withoutStrayReply(*PortHandle, command, ReadReply());
        if (reply.empty()) {
            sleepMs(30);
            reply = withoutStrayReply(*PortHandle, command, ReadReply());
        }
        const bool resend = reply.empty();
        if (resend) {
            sleepMs(250);
            SendLine(command);
            sleepMs(250);
            reply = withoutStrayReply(*PortHandle, command, ReadReply());
        }
        platform::recordLinkExchange(PortName.get(), std::chrono::steady_clock::now() - started,
                                     resend, reply.empty());
        if (LineFailed) PortHandle.reset();
        GaveUp = reply.empty();
    }
    ExchangeReply.set(reply);
    ReplyPending = false;
    LinkIdle = true;
    return reply;
}

std::string ControllerLink::readFollowingReply() {
    std::lock_guard guard(ExchangeLock);
    if (!PortHandle || supervisor_->isDown()) return "";
    LinkIdle = false;
    LineFailed = false;
    std::string reply = ReadReply();
    if (LineFailed) PortHandle.reset();
    LinkIdle = true;
    return reply;
}

void ControllerLink::SendLine(const std::string& command) {
    sleepMs(ExchangeDelay.load());
    if (LineFailed) return;
    // The replies to a command given up on may still come: same form, so only quiet tells.
    if (GaveUp) drainUntilQuiet(*PortHandle, kLateReplyQuietMs);
    GaveUp = false;
    PortHandle->purgeInput();
    std::string line = command + '\r';
    if (!PortHandle->write(line.data(), line.size())) lineFailed("write failed");
}

std::string ControllerLink::ReadReply() {
    if (LineFailed) return "";
    char buffer[kReplyBufferSize];
    long count =
        PortHandle->read(buffer, sizeof buffer, platform::replyWindowMs(*PortHandle, kReplyReadMs));
    if (count < 0) lineFailed("read failed: device gone or connection closed");
    return withoutLineEnds(buffer, count);
}

}  // namespace krb
