#include "web/MetricsPage.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>

#include "metrics/PrometheusText.h"
#include "metrics/ServerMetrics.h"
#include "platform/link_metrics.h"

namespace krb::server::web {
namespace {

using Type = PrometheusText::Type;

std::map<int, std::string> UnitIdsByPort(const LabSnapshot& snapshot) {
    std::map<int, std::string> units;
    for (const auto& system : snapshot.Systems) {
        for (const auto& unit : system.Units) units.emplace(unit.ComPort, unit.Id);
    }
    return units;
}

HistogramCounts LatencyOf(const platform::LinkCounters& counters) {
    HistogramCounts latency;
    latency.Bounds.assign(platform::kExchangeLatencyBounds.begin(),
                          platform::kExchangeLatencyBounds.end());
    latency.Buckets.assign(counters.LatencyBuckets.begin(), counters.LatencyBuckets.end());
    latency.Sum = counters.LatencySeconds;
    return latency;
}

// Exchanges of ports that belong to no unit (a barcode reader, a port of an earlier
// configuration) are labelled with their port alone.
void WriteLinks(const LabSnapshot& snapshot, PrometheusText& text) {
    const auto links = platform::linkCounters();
    const auto units = UnitIdsByPort(snapshot);
    auto labelsOf = [&](const std::string& port) {
        const auto unit = units.find(ComPortOf(port));
        return MetricLabels{{"port", port},
                            {"unit", unit == units.end() ? std::string() : unit->second}};
    };
    struct CounterFamily {
        const char* Name;
        const char* Help;
        std::uint64_t platform::LinkCounters::*Field;
    };
    const CounterFamily families[] = {
        {"krb_link_exchanges_total", "Command exchanges with a controller.",
         &platform::LinkCounters::Exchanges},
        {"krb_link_retries_total", "Exchanges that sent their command a second time.",
         &platform::LinkCounters::Retries},
        {"krb_link_timeouts_total", "Exchanges that ended without a reply.",
         &platform::LinkCounters::TimeOuts},
    };
    for (const auto& family : families) {
        text.Family(family.Name, family.Help, Type::Counter);
        for (const auto& [port, counters] : links) {
            text.Sample(family.Name, labelsOf(port), static_cast<double>(counters.*family.Field));
        }
    }
    text.Family("krb_link_losses_total", "Times the line was found gone.", Type::Counter);
    for (const auto& [port, counters] : links) {
        text.Sample("krb_link_losses_total", labelsOf(port), static_cast<double>(counters.Losses));
    }
    text.Family("krb_link_up",
                "1 while the unit answers; 0 while its exchanges time out or the line is gone.",
                Type::Gauge);
    for (const auto& [port, counters] : links) {
        text.Sample("krb_link_up", labelsOf(port), counters.Answering() ? 1 : 0);
    }
    text.Family("krb_link_exchange_duration_seconds", "Time of one exchange, resend included.",
                Type::Histogram);
    for (const auto& [port, counters] : links) {
        text.Histogram("krb_link_exchange_duration_seconds", labelsOf(port), LatencyOf(counters));
    }
}

void WriteServer(const LabSnapshot& snapshot, bool webListening, PrometheusText& text) {
    text.Family("krb_listener_up", "1 while the listener accepts connections.", Type::Gauge);
    text.Sample("krb_listener_up", {{"listener", "protocol"}}, snapshot.Listening ? 1 : 0);
    text.Sample("krb_listener_up", {{"listener", "web"}}, webListening ? 1 : 0);
    text.Family("krb_client_connections", "Open client connections of the protocol port.",
                Type::Gauge);
    text.Sample("krb_client_connections", {}, static_cast<double>(snapshot.Connections));
    text.Family("krb_service_listeners", "Connections registered for service notifications.",
                Type::Gauge);
    text.Sample("krb_service_listeners", {}, static_cast<double>(snapshot.ServiceListeners));
}

// A flag that is not known (no door, or a unit that does not answer) has no sample.
void WriteUnitStates(const LabSnapshot& snapshot, PrometheusText& text) {
    struct StateFamily {
        const char* Name;
        const char* Help;
        bool UnitView::*Field;
        bool (*Known)(const UnitView&);
    };
    const auto always = [](const UnitView&) { return true; };
    const auto answering = [](const UnitView& unit) { return unit.Answering(); };
    const StateFamily families[] = {
        {"krb_unit_activated", "1 while the unit is activated.", &UnitView::Activated, always},
        {"krb_unit_busy", "1 while the unit runs an operation.", &UnitView::Busy, always},
        {"krb_unit_door_open", "1 while the unit's door is open.", &UnitView::DoorOpen,
         [](const UnitView& unit) { return unit.HasDoor && unit.Answering(); }},
        {"krb_unit_error", "1 while the unit reports an error.", &UnitView::Error, answering},
    };
    for (const auto& family : families) {
        text.Family(family.Name, family.Help, Type::Gauge);
        for (const auto& system : snapshot.Systems) {
            for (const auto& unit : system.Units) {
                if (!family.Known(unit)) continue;
                text.Sample(family.Name, {{"unit", unit.Id}, {"system", system.Name}},
                            unit.*family.Field ? 1 : 0);
            }
        }
    }
}

// "037.00" or "37,5" as a number; nothing for a value that is unknown or no number.
std::optional<double> ClimateNumber(std::string value) {
    std::replace(value.begin(), value.end(), ',', '.');
    if (value.empty() || value.find_first_not_of("+-.0123456789") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (end != value.c_str() + value.size()) return std::nullopt;
    return number;
}

void WriteClimate(const LabSnapshot& snapshot, PrometheusText& text) {
    text.Family("krb_unit_climate", "The unit's last climate actual value that could be read.",
                Type::Gauge);
    for (const auto& system : snapshot.Systems) {
        for (const auto& unit : system.Units) {
            for (const auto& [name, value] : unit.Climate) {
                const auto number = ClimateNumber(value);
                if (!number) continue;
                text.Sample("krb_unit_climate",
                            {{"unit", unit.Id}, {"system", system.Name}, {"value", name}}, *number);
            }
        }
    }
}

// One gauge family per climate value and kind, so that a rule can subtract a set value from
// its actual value as they are.
struct ClimateFamily {
    const char* Value;  // as ClimateValuesOf names it
    const char* Actual;
    const char* Set;
    const char* What;
};
constexpr ClimateFamily kClimateFamilies[] = {
    {"temperature", "krb_unit_temperature_celsius", "krb_unit_temperature_setpoint_celsius",
     "temperature"},
    {"humidity", "krb_unit_humidity_percent", "krb_unit_humidity_setpoint_percent",
     "relative humidity"},
    {"CO2", "krb_unit_co2_percent", "krb_unit_co2_setpoint_percent", "CO2 concentration"},
    {"N2", "krb_unit_n2_percent", "krb_unit_n2_setpoint_percent", "N2 concentration"},
};

using ClimateValues = std::vector<std::pair<std::string, std::string>>;

void WriteClimateFamily(const LabSnapshot& snapshot, const char* name, const std::string& help,
                        const char* value, ClimateValues UnitView::*values, PrometheusText& text) {
    text.Family(name, help, Type::Gauge);
    for (const auto& system : snapshot.Systems) {
        for (const auto& unit : system.Units) {
            for (const auto& [valueName, reading] : unit.*values) {
                const auto number = valueName == value ? ClimateNumber(reading) : std::nullopt;
                if (number)
                    text.Sample(name, {{"unit", unit.Id}, {"system", system.Name}}, *number);
            }
        }
    }
}

void WriteClimateValues(const LabSnapshot& snapshot, PrometheusText& text) {
    for (const auto& family : kClimateFamilies) {
        const std::string what = family.What;
        WriteClimateFamily(snapshot, family.Actual,
                           "The unit's last " + what + " that could be read.", family.Value,
                           &UnitView::Climate, text);
        WriteClimateFamily(snapshot, family.Set, "The unit's " + what + " set value, as last read.",
                           family.Value, &UnitView::ClimateSet, text);
    }
}

double SecondsBetween(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to) {
    return std::max(0.0, std::chrono::duration<double>(to - from).count());
}

// Known only for an activated unit with a door that answers its polls; 0 while it is closed.
void WriteDoorOpenTimes(const LabSnapshot& snapshot, std::chrono::steady_clock::time_point now,
                        PrometheusText& text) {
    text.Family("krb_unit_door_open_seconds",
                "How long the unit's door has been open; 0 while it is closed.", Type::Gauge);
    for (const auto& system : snapshot.Systems) {
        for (const auto& unit : system.Units) {
            if (!unit.HasDoor || !unit.Activated || !unit.Answering()) continue;
            if (unit.DoorOpen && !unit.DoorOpenSince) continue;
            const double seconds = unit.DoorOpen ? SecondsBetween(*unit.DoorOpenSince, now) : 0;
            text.Sample("krb_unit_door_open_seconds", {{"unit", unit.Id}, {"system", system.Name}},
                        seconds);
        }
    }
}

using Links = std::map<std::string, platform::LinkCounters>;

// From the unit's controller line; its barcode reader's line is not the controller.
std::optional<std::chrono::steady_clock::time_point> LastAnswerOf(const UnitView& unit,
                                                                  const Links& links) {
    std::optional<std::chrono::steady_clock::time_point> lastAnswer;
    if (unit.ComPort <= 0) return lastAnswer;
    for (const auto& [port, link] : links) {
        if (link.ReaderOfUnit != 0 || ComPortOf(port) != unit.ComPort || !link.LastAnswer) continue;
        if (!lastAnswer || *link.LastAnswer > *lastAnswer) lastAnswer = link.LastAnswer;
    }
    return lastAnswer;
}

// A unit whose controller never answered has no sample.
void WriteLastAnswers(const LabSnapshot& snapshot, std::chrono::steady_clock::time_point now,
                      PrometheusText& text) {
    const Links links = platform::linkCounters();
    text.Family("krb_unit_last_answer_age_seconds",
                "Seconds since the unit's controller last answered an exchange.", Type::Gauge);
    for (const auto& system : snapshot.Systems) {
        for (const auto& unit : system.Units) {
            const auto lastAnswer = LastAnswerOf(unit, links);
            if (!lastAnswer) continue;
            text.Sample("krb_unit_last_answer_age_seconds",
                        {{"unit", unit.Id}, {"system", system.Name}},
                        SecondsBetween(*lastAnswer, now));
        }
    }
}

void WriteRunningCommands(const LabSnapshot& snapshot, PrometheusText& text) {
    text.Family("krb_unit_commands_running",
                "Unit commands of the unit that have not replied yet, those waiting for its "
                "locks included.",
                Type::Gauge);
    for (const auto& system : snapshot.Systems) {
        for (const auto& unit : system.Units) {
            text.Sample("krb_unit_commands_running", {{"unit", unit.Id}, {"system", system.Name}},
                        static_cast<double>(Metrics().RunningCommandsOf(unit.Id)));
        }
    }
}

}  // namespace

int ComPortOf(const std::string& portName) {
    const auto com = portName.rfind("COM");
    if (com == std::string::npos) return 0;
    int number = 0;
    for (std::size_t i = com + 3; i < portName.size(); ++i) {
        const char c = portName[i];
        if (c < '0' || c > '9' || number > 100000) return 0;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::string MetricsPage(const LabSnapshot& snapshot, bool webListening) {
    return MetricsPage(snapshot, webListening, std::chrono::steady_clock::now());
}

std::string MetricsPage(const LabSnapshot& snapshot, bool webListening,
                        std::chrono::steady_clock::time_point now) {
    PrometheusText text;
    WriteLinks(snapshot, text);
    Metrics().Write(text);
    WriteServer(snapshot, webListening, text);
    WriteUnitStates(snapshot, text);
    WriteClimate(snapshot, text);
    WriteClimateValues(snapshot, text);
    WriteDoorOpenTimes(snapshot, now, text);
    WriteLastAnswers(snapshot, now, text);
    WriteRunningCommands(snapshot, text);
    return text.Text();
}

}  // namespace krb::server::web
