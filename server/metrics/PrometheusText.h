#pragma once
// The Prometheus text exposition format (version 0.0.4), written by hand: a family's HELP and
// TYPE lines, then its samples; label values and help texts escaped.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krb::server::web {

using MetricLabels = std::vector<std::pair<std::string, std::string>>;

// Counts per bucket (not cumulative): one per bound, then the unbounded bucket.
struct HistogramCounts {
    std::vector<double> Bounds;
    std::vector<std::uint64_t> Buckets;
    double Sum = 0;
};

class PrometheusText {
  public:
    enum class Type { Counter, Gauge, Histogram };

    // Starts a family; its samples follow.
    void Family(std::string_view name, std::string_view help, Type type);
    void Sample(std::string_view name, const MetricLabels& labels, double value);
    // name_bucket{le=...} (cumulative, ending with +Inf), name_sum and name_count.
    void Histogram(std::string_view name, const MetricLabels& labels,
                   const HistogramCounts& counts);

    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

std::string EscapeLabelValue(std::string_view value);
std::string FormatSampleValue(double value);

}  // namespace krb::server::web
