// Connecting and disconnecting, the register commands, opening and closing the link.
#include "KRB_Class.h"

#include <cstdio>
#include <cstdlib>

#include "ControllerRegisters.h"
#include "platform/clock.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

TKRB_Class::TKRB_Class() {
    Link.onRestored([this] { linkRestored(); });
}

TKRB_Class::~TKRB_Class() = default;

// Holds the whole link: no command of another thread falls between "CQ" and the close.
void TKRB_Class::Disconnect() {
    auto held = Link.holdAll();
    CloseCommunication();
    Link.close();
    closeReader();
    Initialized = false;
}

void TKRB_Class::closeReader() { CloseBCRSerial(); }

void TKRB_Class::setRegistration(std::int32_t portNumber, std::int32_t position) {
    PortNumber = portNumber;
    RegistryPosition = position;
}

bool TKRB_Class::replyIs(const std::string& command, const char* expected) {
    return ReadBackStr(command).is(expected);
}

bool TKRB_Class::writeAccepted(const std::string& command) { return replyIs(command, kAccepted); }

std::string TKRB_Class::setUnitText(std::string text) {
    UnitText.set(text);
    return text;
}

std::string TKRB_Class::unitText() const { return UnitText.get(); }

int TKRB_Class::cassetteLevels(int slot) const {
    return slot >= 1 && slot < kSlotTableSize ? CassetteLevels[slot].load() : 0;
}

int TKRB_Class::cassettePitch(int slot) const {
    return slot >= 1 && slot < kSlotTableSize ? CassettePitch[slot].load() : 0;
}

TExchange TKRB_Class::readWordAt(int address) { return ReadBackStr(readWord(address)).asNumber(); }

bool TKRB_Class::wordWritten(int address, std::int64_t value) {
    return writeAccepted(writeWord(address, value));
}

std::string TKRB_Class::ReadDM(const std::string& address) {
    if (!isDecimal(address)) return setUnitText("");
    auto value = ReadBackStr(readWord(address)).number();
    return setUnitText(value ? std::to_string(*value) : "");
}

// The raw writes answer their caller nothing, whatever the controller said.
void TKRB_Class::WriteDM(const std::string& address, const std::string& value) {
    if (isDecimal(address) && isDecimal(value))
        ReadBackStr(writeWord(address, value)).outcomeNotNeeded();
}

void TKRB_Class::WriteTimer(const std::string& timer, const std::string& value) {
    if (isDecimal(timer) && isDecimal(value))
        ReadBackStr(writeTimer(timer, value)).outcomeNotNeeded();
}

void TKRB_Class::SetTimer(const std::string& timer, const std::string& value) {
    if (isDecimal(timer) && isDecimal(value))
        ReadBackStr(setTimerPreset(timer, value)).outcomeNotNeeded();
}

std::string TKRB_Class::ReadTimer(const std::string& timer) {
    if (!isDecimal(timer)) return setUnitText("");
    return setUnitText(ReadBackStr(readTimer(timer)).text());
}

void TKRB_Class::SetWriteTimeout(const std::string& delayMs) {
    Link.setExchangeDelay(parseInt32(delayMs).value_or(250));
}

// Three tries; with no number after the third there is nothing to give, not a stale word.
std::string TKRB_Class::ReadDMWord(const std::string& command) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto value = ReadBackStr(command).number();
        if (value) return setUnitText(std::to_string(*value));
    }
    return setUnitText("");
}

// Climate words: signed 16 bit, "000.00" pattern, "0" for zero.
std::string TKRB_Class::ReadScaledDM(int address, int divisor) {
    auto value = readWordAt(address).number();
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
    if (replyIs(kOpenLink, kLinkOpened)) return linkOpened();
    TExchange second = ReadBackStr(kOpenLink);
    if (second.is(kLinkOpened)) return linkOpened();
    if (!second.is(kLinkError)) return setUnitText("0");
    Disconnect();
    sleepMs(200);
    OpenPort();
    sleepMs(200);
    if (replyIs(kOpenLink, kLinkOpened)) return linkOpened();
    return setUnitText("2");
}

std::string TKRB_Class::CloseCommunication() {
    return setUnitText(replyIs(kCloseLink, kLinkClosed) ? "1" : "0");
}

}  // namespace krb
