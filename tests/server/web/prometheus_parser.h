#pragma once
// A strict reader of the Prometheus text format for the tests: every line must be a HELP or
// TYPE comment or a sample; a family's lines must stand together after its TYPE line.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace krb::server::web::testing {

struct ParsedSample {
    std::string Name;
    std::map<std::string, std::string> Labels;  // values unescaped
    double Value = 0;
};

struct ParsedMetrics {
    std::vector<ParsedSample> Samples;
    std::map<std::string, std::string> Types;  // family name -> type
    std::vector<std::string> Problems;         // empty when the text follows the format

    // The value of the one sample with this name whose labels include `labels`.
    std::optional<double> Value(const std::string& name,
                                const std::map<std::string, std::string>& labels = {}) const;
};

ParsedMetrics ParsePrometheusText(const std::string& text);

}  // namespace krb::server::web::testing
