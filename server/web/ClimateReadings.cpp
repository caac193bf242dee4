#include "web/ClimateReadings.h"

#include <asio/post.hpp>

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

void ClimateReadings::StartReading(TKRBId& unit) {
    {
        std::lock_guard lock(mutex_);
        Reading& reading = readings_[&unit];
        if (reading.InFlight) return;
        reading.InFlight = true;
    }
    asio::post(reader_, [this, &unit] {
        ClimateReading reading{true, false, {}};
        const auto timeOutsBefore = platform::linkTimeOutsOfThisThread();
        try {
            reading.Text = unit.ReadActualClimate2();
            reading.Answered = platform::linkTimeOutsOfThisThread() == timeOutsBefore;
        } catch (...) {
            // Left unanswered: shown as unknown values.
        }
        std::lock_guard lock(mutex_);
        readings_[&unit] = Reading{false, std::move(reading)};
    });
}

ClimateReading ClimateReadings::LastReading(const TKRBId& unit) const {
    std::lock_guard lock(mutex_);
    const auto reading = readings_.find(&unit);
    return reading == readings_.end() ? ClimateReading{} : reading->second.Last;
}

}  // namespace krb::server::web
