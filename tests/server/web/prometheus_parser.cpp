#include "prometheus_parser.h"

#include <cmath>
#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>

namespace krb::server::web::testing {
namespace {

const std::regex kComment(R"(^# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*)( (.*))?$)");
const std::regex kSample(
    R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(.*)\})? ([-+]?(?:[0-9.eE+-]+|Inf|NaN))$)");
const std::regex kLabel(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\["\\n])*)"(,|$))re");

std::string Unescape(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
            text += value[i] == 'n' ? '\n' : value[i];
        } else {
            text += value[i];
        }
    }
    return text;
}

std::optional<std::map<std::string, std::string>> ParseLabels(const std::string& list) {
    std::map<std::string, std::string> labels;
    auto begin = list.cbegin();
    std::smatch match;
    while (begin != list.cend()) {
        if (!std::regex_search(begin, list.cend(), match, kLabel,
                               std::regex_constants::match_continuous)) {
            return std::nullopt;
        }
        if (!labels.emplace(match[1], Unescape(match[2])).second) return std::nullopt;
        begin = match[0].second;
    }
    return labels;
}

// A histogram's sample belongs to the family without its suffix.
std::string FamilyOf(const std::string& name, const std::map<std::string, std::string>& types) {
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        const std::string s(suffix);
        if (name.size() > s.size() && name.ends_with(s)) {
            const std::string base = name.substr(0, name.size() - s.size());
            const auto type = types.find(base);
            if (type != types.end() && type->second == "histogram") return base;
        }
    }
    return name;
}

double ValueOf(const std::string& text) {
    if (text == "+Inf" || text == "Inf") return INFINITY;
    if (text == "-Inf") return -INFINITY;
    if (text == "NaN") return NAN;
    return std::strtod(text.c_str(), nullptr);
}

// Buckets of each histogram series: cumulative, ending with +Inf equal to _count.
void CheckHistograms(ParsedMetrics& parsed) {
    std::map<std::string, std::vector<std::pair<double, double>>> buckets;
    std::map<std::string, double> counts;
    auto seriesOf = [](const ParsedSample& sample) {
        std::string key;
        for (const auto& [name, value] : sample.Labels) {
            if (name != "le") key += name + "=" + value + ",";
        }
        return key;
    };
    for (const auto& sample : parsed.Samples) {
        const std::string family = FamilyOf(sample.Name, parsed.Types);
        if (family == sample.Name) continue;
        const std::string series = family + "|" + seriesOf(sample);
        if (sample.Name.ends_with("_bucket")) {
            const auto le = sample.Labels.find("le");
            if (le == sample.Labels.end()) {
                parsed.Problems.push_back(sample.Name + " without le");
                continue;
            }
            buckets[series].emplace_back(ValueOf(le->second), sample.Value);
        } else if (sample.Name.ends_with("_count")) {
            counts[series] = sample.Value;
        }
    }
    for (const auto& [series, list] : buckets) {
        for (std::size_t i = 1; i < list.size(); ++i) {
            if (list[i].first <= list[i - 1].first || list[i].second < list[i - 1].second) {
                parsed.Problems.push_back(series + ": buckets not cumulative in le order");
            }
        }
        if (list.empty() || !std::isinf(list.back().first)) {
            parsed.Problems.push_back(series + ": no +Inf bucket");
        } else if (counts.count(series) == 0 || counts[series] != list.back().second) {
            parsed.Problems.push_back(series + ": +Inf bucket differs from _count");
        }
    }
}

}  // namespace

std::optional<double> ParsedMetrics::Value(const std::string& name,
                                           const std::map<std::string, std::string>& labels) const {
    std::optional<double> found;
    for (const auto& sample : Samples) {
        if (sample.Name != name) continue;
        bool matches = true;
        for (const auto& [label, value] : labels) {
            const auto it = sample.Labels.find(label);
            matches = matches && it != sample.Labels.end() && it->second == value;
        }
        if (!matches) continue;
        if (found) return std::nullopt;  // ambiguous
        found = sample.Value;
    }
    return found;
}

ParsedMetrics ParsePrometheusText(const std::string& text) {
    ParsedMetrics parsed;
    if (!text.empty() && text.back() != '\n') parsed.Problems.push_back("no final line break");
    std::istringstream lines(text);
    std::string line;
    std::set<std::string> closedFamilies;
    std::string currentFamily;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string where = "line " + std::to_string(number) + ": ";
        std::smatch match;
        if (std::regex_match(line, match, kComment)) {
            const std::string family = match[2];
            if (match[1] == "TYPE") {
                if (parsed.Types.count(family)) parsed.Problems.push_back(where + "TYPE twice");
                parsed.Types[family] = match[4];
            }
            if (family != currentFamily) {
                if (closedFamilies.count(family)) {
                    parsed.Problems.push_back(where + family + " continued after others");
                }
                if (!currentFamily.empty()) closedFamilies.insert(currentFamily);
                currentFamily = family;
            }
            continue;
        }
        if (!std::regex_match(line, match, kSample)) {
            parsed.Problems.push_back(where + "not a sample: " + line);
            continue;
        }
        ParsedSample sample;
        sample.Name = match[1];
        const auto labels = ParseLabels(match[3]);
        if (!labels) {
            parsed.Problems.push_back(where + "bad labels: " + line);
            continue;
        }
        sample.Labels = *labels;
        sample.Value = ValueOf(match[4]);
        const std::string family = FamilyOf(sample.Name, parsed.Types);
        if (family != currentFamily || !parsed.Types.count(family)) {
            parsed.Problems.push_back(where + sample.Name + " outside its family's block");
        }
        parsed.Samples.push_back(std::move(sample));
    }
    CheckHistograms(parsed);
    return parsed;
}

}  // namespace krb::server::web::testing
