// Controller port, the command exchange and the register commands.
#include "KRB_Class.h"

#include <cstdio>
#include <cstdlib>

#include "ReplyForm.h"
#include "platform/clock.h"
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

TKRB_Class::~TKRB_Class() = default;

void TKRB_Class::SetPortName(const std::string& name) {
    if (name.size() == 5)
        PortName = "\\\\.\\" + name;
    else if (name.size() == 4 || name.size() == 12)
        PortName = name;
}

std::string TKRB_Class::OpenPort() {
    std::lock_guard command(CommandLock);
    std::lock_guard exchange(ExchangeLock);
    if (PortOpen) return "2";
    auto port = platform::openSerialPort(PortName);
    if (!port) return "0";
    port->configure(platform::kControllerLine);  // a pty reports other settings back: not an error
    port->setQueueSizes(300, 0);
    port->purgeInput();
    PortHandle = std::move(port);
    PortOpen = true;
    return "1";
}

void TKRB_Class::Disconnect() {
    std::lock_guard command(CommandLock);
    std::lock_guard exchange(ExchangeLock);
    CloseCommunication();
    closePorts();
    Initialized = false;
}

void TKRB_Class::closePorts() {
    PortHandle.reset();
    {
        std::lock_guard reader(ReaderLock);
        ReaderHandle.reset();
        ReaderOpen = false;
    }
    PortOpen = false;
}

std::string TKRB_Class::ReadBackStr(const std::string& command) {
    std::lock_guard guard(CommandLock);
    return Exchange(command);
}

// One command out, one reply back: pause, purge, write, two reads, then one resend.
std::string TKRB_Class::Exchange(const std::string& command) {
    std::lock_guard guard(ExchangeLock);
    LinkIdle = false;
    PendingCommand = command;
    ReplyPending = true;
    ExchangeReply.clear();
    std::string reply;
    if (PortHandle) {
        SendLine(command);
        sleepMs(60);
        reply = withoutStrayReply(*PortHandle, command, ReadReply());
        if (reply.empty()) {
            sleepMs(30);
            reply = withoutStrayReply(*PortHandle, command, ReadReply());
        }
        if (reply.empty()) {
            sleepMs(250);
            SendLine(command);
            sleepMs(250);
            reply = withoutStrayReply(*PortHandle, command, ReadReply());
        }
    }
    ExchangeReply = reply;
    ReplyPending = false;
    LinkIdle = true;
    return reply;
}

void TKRB_Class::SendLine(const std::string& command) {
    sleepMs(ExchangeDelay.load());
    PortHandle->purgeInput();
    std::string line = command + '\r';
    PortHandle->write(line.data(), line.size());
}

std::string TKRB_Class::ReadReply() {
    char buffer[kReplyBufferSize];
    long count = PortHandle->read(buffer, sizeof buffer, platform::scaledWholeMs(kReplyReadMs));
    return withoutLineEnds(buffer, count);
}

bool TKRB_Class::replyIs(const std::string& command, const char* expected) {
    return ReadBackStr(command) == expected;
}

bool TKRB_Class::writeAccepted(const std::string& command) { return replyIs(command, "OK"); }

std::string TKRB_Class::setUnitText(std::string text) {
    std::lock_guard guard(TextLock);
    UnitText = text;
    return text;
}

std::string TKRB_Class::unitText() const {
    std::lock_guard guard(TextLock);
    return UnitText;
}

int TKRB_Class::cassetteLevels(int slot) const {
    return slot >= 1 && slot < kSlotTableSize ? CassetteLevels[slot].load() : 0;
}

int TKRB_Class::cassettePitch(int slot) const {
    return slot >= 1 && slot < kSlotTableSize ? CassettePitch[slot].load() : 0;
}

std::string TKRB_Class::ReadDM(const std::string& address) {
    if (!isDecimal(address)) return setUnitText("");
    auto value = parseInt64(ReadBackStr("RD DM" + address));
    return setUnitText(value ? std::to_string(*value) : "");
}

void TKRB_Class::WriteDM(const std::string& address, const std::string& value) {
    if (isDecimal(address) && isDecimal(value)) ReadBackStr("WR DM" + address + " " + value);
}

void TKRB_Class::WriteTimer(const std::string& timer, const std::string& value) {
    if (isDecimal(timer) && isDecimal(value)) ReadBackStr("WR T" + timer + " " + value);
}

void TKRB_Class::SetTimer(const std::string& timer, const std::string& value) {
    if (isDecimal(timer) && isDecimal(value)) ReadBackStr("WS T" + timer + " " + value);
}

std::string TKRB_Class::ReadTimer(const std::string& timer) {
    if (!isDecimal(timer)) return setUnitText("");
    return setUnitText(ReadBackStr("RD T" + timer));
}

void TKRB_Class::SetWriteTimeout(const std::string& delayMs) {
    ExchangeDelay = parseInt32(delayMs).value_or(250);
}

// Three tries; with no number after the third there is nothing to give, not a stale word.
std::string TKRB_Class::ReadDMWord(const std::string& command) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto value = parseInt64(ReadBackStr(command));
        if (value) return setUnitText(std::to_string(*value));
    }
    return setUnitText("");
}

// Climate words: signed 16 bit, "000.00" pattern, "0" for zero.
std::string TKRB_Class::ReadScaledDM(int address, int divisor) {
    auto value = parseInt64(ReadBackStr("RD DM" + std::to_string(address)));
    if (!value || *value == 0 || divisor == 0) return setUnitText("0");
    std::int64_t word = *value > 32767 ? *value - 65536 : *value;
    double scaledValue = static_cast<double>(word) / divisor;
    char text[64];
    std::snprintf(text, sizeof text, "%06.2f", scaledValue < 0 ? -scaledValue : scaledValue);
    return setUnitText((scaledValue < 0 ? "-" : "") + std::string(text));
}

std::string TKRB_Class::OpenCommunication() {
    auto linkOpened = [this] {
        fillSerialNumberCache();
        return setUnitText("1");
    };
    if (ReadBackStr("CR") == "CC") return linkOpened();
    std::string second = ReadBackStr("CR");
    if (second == "CC") return linkOpened();
    if (second != "E1") return setUnitText("0");
    Disconnect();
    sleepMs(200);
    OpenPort();
    sleepMs(200);
    if (ReadBackStr("CR") == "CC") return linkOpened();
    return setUnitText("2");
}

std::string TKRB_Class::CloseCommunication() {
    return setUnitText(ReadBackStr("CQ") == "CF" ? "1" : "0");
}

}  // namespace krb
