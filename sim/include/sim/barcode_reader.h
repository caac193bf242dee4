#pragma once
// A barcode reader on its own serial port. "LON" switches it on: after its reading time it
// sends the code in front of it followed by CR (nothing when there is no code). "LOFF"
// switches it off and drops a reading still under way. A trigger from the unit's controller
// (relay 1710) reads once more whatever the switch says.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/line_channel.h"

namespace krb::sim {

class BarcodeReader {
  public:
    using CodeSource = std::function<std::optional<std::string>()>;

    BarcodeReader(PortDirectory& ports, int comNumber, CodeSource source, int readingNominalMs);
    BarcodeReader(const BarcodeReader&) = delete;
    BarcodeReader& operator=(const BarcodeReader&) = delete;

    void trigger();
    void stop() { channel_.stop(); }  // stops hearing and sending; idempotent
    bool switchedOn() const;
    int comNumber() const { return channel_.comNumber(); }
    const std::string& devicePath() const { return channel_.devicePath(); }
    std::vector<std::string> lines() const { return channel_.lines(); }
    std::size_t waitForLines(std::size_t count, std::chrono::milliseconds timeout) const {
        return channel_.waitForLines(count, timeout);
    }
    void setSilent(bool silent);  // a dead reader: it hears but never answers

  private:
    std::optional<std::string> respond(const std::string& line);
    void scheduleReading(bool onlyWhileOn);

    const CodeSource source_;
    const int readingMs_;
    mutable std::mutex mutex_;
    bool on_ = false;
    bool silent_ = false;
    std::uint64_t generation_ = 0;
    LineChannel channel_;  // last: its threads stop before the state above goes away
};

}  // namespace krb::sim
