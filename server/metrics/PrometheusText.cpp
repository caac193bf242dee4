#include "metrics/PrometheusText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace krb::server::web {
namespace {

std::string EscapeHelp(std::string_view help) {
    std::string escaped;
    for (char c : help) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

const char* TypeName(PrometheusText::Type type) {
    switch (type) {
        case PrometheusText::Type::Counter:
            return "counter";
        case PrometheusText::Type::Gauge:
            return "gauge";
        case PrometheusText::Type::Histogram:
            return "histogram";
    }
    return "untyped";
}

std::string LabelText(const MetricLabels& labels) {
    if (labels.empty()) return {};
    std::string text = "{";
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (i > 0) text += ',';
        text += labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + '"';
    }
    return text + '}';
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '"') {
            escaped += "\\\"";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string FormatSampleValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    if (std::strtod(text, nullptr) != value) std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void PrometheusText::Family(std::string_view name, std::string_view help, Type type) {
    text_ += "# HELP " + std::string(name) + ' ' + EscapeHelp(help) + '\n';
    text_ += "# TYPE " + std::string(name) + ' ' + TypeName(type) + '\n';
}

void PrometheusText::Sample(std::string_view name, const MetricLabels& labels, double value) {
    text_ += std::string(name) + LabelText(labels) + ' ' + FormatSampleValue(value) + '\n';
}

void PrometheusText::Histogram(std::string_view name, const MetricLabels& labels,
                               const HistogramCounts& counts) {
    const std::string base(name);
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= counts.Bounds.size(); ++i) {
        if (i < counts.Buckets.size()) cumulative += counts.Buckets[i];
        MetricLabels bucketLabels = labels;
        bucketLabels.emplace_back(
            "le", i < counts.Bounds.size() ? FormatSampleValue(counts.Bounds[i]) : "+Inf");
        Sample(base + "_bucket", bucketLabels, static_cast<double>(cumulative));
    }
    Sample(base + "_sum", labels, counts.Sum);
    Sample(base + "_count", labels, static_cast<double>(cumulative));
}

}  // namespace krb::server::web
