#include "MetricsPage.h"

#include <map>

#include "PrometheusText.h"
#include "ServerMetrics.h"
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
    text.Family("krb_link_up", "0 while the line is gone and being reopened, else 1.", Type::Gauge);
    for (const auto& [port, counters] : links) {
        text.Sample("krb_link_up", labelsOf(port), counters.Down ? 0 : 1);
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

void WriteUnits(const LabSnapshot& snapshot, PrometheusText& text) {
    struct StateFamily {
        const char* Name;
        const char* Help;
        bool UnitView::*Field;
    };
    const StateFamily families[] = {
        {"krb_unit_activated", "1 while the unit is activated.", &UnitView::Activated},
        {"krb_unit_busy", "1 while the unit runs an operation.", &UnitView::Busy},
        {"krb_unit_door_open", "1 while the unit's door is open.", &UnitView::DoorOpen},
        {"krb_unit_error", "1 while the unit reports an error.", &UnitView::Error},
    };
    for (const auto& family : families) {
        text.Family(family.Name, family.Help, Type::Gauge);
        for (const auto& system : snapshot.Systems) {
            for (const auto& unit : system.Units) {
                text.Sample(family.Name, {{"unit", unit.Id}, {"system", system.Name}},
                            unit.*family.Field ? 1 : 0);
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
    WriteUnits(snapshot, text);
    return text.Text();
}

}  // namespace krb::server::web
