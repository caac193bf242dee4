// The port and the exchange: pause, purge, write, two reads, then one resend.
#include "ControllerLink.h"

#include "ReplyForm.h"

#include <chrono>

#include "platform/clock.h"
#include "platform/link_metrics.h"
#include "text_numbers.h"

namespace krb {

using platform::sleepMs;

namespace {
constexpr std::size_t kReplyBufferSize = 32;
constexpr int kReplyReadMs = 55;
constexpr int kMaxDrainReads = 20;

// Reads until one read window passes without a byte (bounded: a babbling line ends it too).
void drainUntilQuiet(platform::SerialPort& port) {
    char buffer[kReplyBufferSize];
    for (int read = 0; read < kMaxDrainReads; ++read)
        if (port.read(buffer, sizeof buffer, platform::scaledWholeMs(kReplyReadMs)) <= 0) return;
}

// A reply that cannot belong to the command is a late or doubled one: it is dropped with
// whatever follows it, and the exchange goes on as if nothing had come.
std::string withoutStrayReply(platform::SerialPort& port, const std::string& command,
                              std::string reply) {
    if (reply.empty() || replyFitsCommand(command, reply)) return reply;
    drainUntilQuiet(port);
    return "";
}

}  // namespace

ControllerLink::~ControllerLink() = default;

void ControllerLink::setPortName(const std::string& name) {
    if (name.size() == 5)
        PortName.set("\\\\.\\" + name);
    else if (name.size() == 4 || name.size() == 12)
        PortName.set(name);
}

std::string ControllerLink::open() {
    auto held = holdAll();
    if (PortOpen) return "2";
    auto port = platform::openSerialPort(PortName.get());
    if (!port) return "0";
    port->configure(platform::kControllerLine);  // a pty reports other settings back: not an error
    port->setQueueSizes(300, 0);
    port->purgeInput();
    PortHandle = std::move(port);
    PortOpen = true;
    return "1";
}

void ControllerLink::close() {
    auto held = holdAll();
    PortHandle.reset();
    PortOpen = false;
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
    if (PortHandle) {
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
    }
    ExchangeReply.set(reply);
    ReplyPending = false;
    LinkIdle = true;
    return reply;
}

std::string ControllerLink::readFollowingReply() {
    std::lock_guard guard(ExchangeLock);
    if (!PortHandle) return "";
    LinkIdle = false;
    std::string reply = ReadReply();
    LinkIdle = true;
    return reply;
}

void ControllerLink::SendLine(const std::string& command) {
    sleepMs(ExchangeDelay.load());
    PortHandle->purgeInput();
    std::string line = command + '\r';
    PortHandle->write(line.data(), line.size());
}

std::string ControllerLink::ReadReply() {
    char buffer[kReplyBufferSize];
    long count = PortHandle->read(buffer, sizeof buffer, platform::scaledWholeMs(kReplyReadMs));
    return withoutLineEnds(buffer, count);
}

}  // namespace krb
