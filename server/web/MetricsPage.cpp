#include "web/MetricsPage.h"

#include <algorithm>
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
    PrometheusText text;
    WriteLinks(snapshot, text);
    Metrics().Write(text);
    WriteServer(snapshot, webListening, text);
    WriteUnitStates(snapshot, text);
    WriteClimate(snapshot, text);
    return text.Text();
}

}  // namespace krb::server::web
