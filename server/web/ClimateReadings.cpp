#include "web/ClimateReadings.h"

#include <asio/post.hpp>
#include <optional>

#include "lab/Unit.h"
#include "platform/link_metrics.h"

namespace krb::server::web {

ClimateOptions ClimateOptionsOf(const TKRBId& unit) {
    return {unit.Temperature, unit.Humidity, unit.CO2Gassing, unit.N2Gassing};
}

std::vector<std::pair<std::string, std::string>> ClimateValuesOf(const ClimateOptions& options,
                                                                 const std::string& reading) {
    static const char* const kNames[] = {"temperature", "humidity", "CO2", "N2"};
    std::vector<std::pair<std::string, std::string>> values;
    if (reading.empty()) return values;
    std::size_t start = 0;
    for (std::size_t i = 0; i < options.size(); ++i) {
        std::string value;
        if (start <= reading.size()) {
            const auto end = reading.find(';', start);
            value = reading.substr(start, end == std::string::npos ? end : end - start);
            start = end == std::string::npos ? reading.size() + 1 : end + 1;
        }
        if (options[i]) values.emplace_back(kNames[i], value);
    }
    return values;
}

std::vector<std::pair<std::string, std::string>> ClimateValuesOf(const ClimateOptions& options,
                                                                 const ClimateReading& reading) {
    if (!reading.Taken) return {};
    if (!reading.Answered) return ClimateValuesOf(options, ";;;");
    return ClimateValuesOf(options, reading.Text);
}

ClimateReadings::~ClimateReadings() { reader_.join(); }

ClimateReading ClimateReadings::ReadWith(TKRBId& unit, std::string (TKRBId::*read)()) {
    ClimateReading reading{true, false, {}};
    const auto timeOutsBefore = platform::linkTimeOutsOfThisThread();
    try {
        reading.Text = (unit.*read)();
        reading.Answered = platform::linkTimeOutsOfThisThread() == timeOutsBefore;
    } catch (...) {
        // Left unanswered: shown as unknown values.
    }
    return reading;
}

void ClimateReadings::StartReading(TKRBId& unit) {
    bool readSet = false;
    {
        std::lock_guard lock(mutex_);
        Reading& reading = readings_[&unit];
        if (reading.InFlight) return;
        reading.InFlight = true;
        // Set values that could not be read are read again once the unit answers.
        readSet = !reading.LastSet.Taken || reading.ReadsSinceSetRead >= kReadsPerSetRead ||
                  (!reading.LastSet.Answered && reading.Last.Answered);
    }
    asio::post(reader_, [this, &unit, readSet] {
        ClimateReading actual = ReadWith(unit, &TKRBId::ReadActualClimate2);
        std::optional<ClimateReading> set;
        if (readSet) set = ReadWith(unit, &TKRBId::ReadSetClimate2);
        std::lock_guard lock(mutex_);
        Reading& reading = readings_[&unit];
        reading.InFlight = false;
        reading.Last = std::move(actual);
        if (set) {
            reading.LastSet = std::move(*set);
            reading.ReadsSinceSetRead = 0;
        }
        ++reading.ReadsSinceSetRead;
    });
}

ClimateReading ClimateReadings::LastReading(const TKRBId& unit) const {
    std::lock_guard lock(mutex_);
    const auto reading = readings_.find(&unit);
    return reading == readings_.end() ? ClimateReading{} : reading->second.Last;
}

ClimateReading ClimateReadings::LastSetReading(const TKRBId& unit) const {
    std::lock_guard lock(mutex_);
    const auto reading = readings_.find(&unit);
    return reading == readings_.end() ? ClimateReading{} : reading->second.LastSet;
}

}  // namespace krb::server::web
