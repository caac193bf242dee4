#include "sim/barcode_reader.h"

namespace krb::sim {

BarcodeReader::BarcodeReader(PortDirectory& ports, int comNumber, CodeSource source,
                             int readingNominalMs)
    : source_(std::move(source)),
      readingMs_(readingNominalMs),
      channel_(ports, comNumber, [this](const std::string& line) { return respond(line); }) {}

std::optional<std::string> BarcodeReader::respond(const std::string& line) {
    if (line == "LON") {
        {
            std::lock_guard lock(mutex_);
            on_ = true;
            ++generation_;
        }
        scheduleReading(true);
    } else if (line == "LOFF") {
        std::lock_guard lock(mutex_);
        on_ = false;
        ++generation_;
    }
    return std::nullopt;  // the reader acknowledges nothing
}

void BarcodeReader::trigger() { scheduleReading(false); }

void BarcodeReader::scheduleReading(bool onlyWhileOn) {
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
    }
    channel_.sendLater(readingMs_, [this, onlyWhileOn, generation]() -> std::optional<std::string> {
        {
            std::lock_guard lock(mutex_);
            if (silent_) return std::nullopt;
            if (onlyWhileOn && (!on_ || generation != generation_)) return std::nullopt;
        }
        auto code = source_();
        if (!code) return std::nullopt;
        return *code + "\r";
    });
}

bool BarcodeReader::switchedOn() const {
    std::lock_guard lock(mutex_);
    return on_;
}

void BarcodeReader::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

}  // namespace krb::sim
