// Entries of the unit files: cassettes, partitions and parameter file lines.
#include "ControllerRegisters.h"
#include "lab/ConfigurationLoader.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

// A key may name at most this many cassettes; a longer range is taken as a typing error.
constexpr std::int64_t kMaxCassettesPerEntry = 1000;

std::optional<std::int32_t> CassetteNumber(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    return ParseInt32(text);
}

std::optional<std::vector<std::int32_t>> CassetteNumbers(std::string_view key) {
    auto dash = key.find('-');
    auto first = CassetteNumber(key.substr(0, dash));
    auto last = dash == std::string_view::npos ? first : CassetteNumber(key.substr(dash + 1));
    if (!first || !last) return std::nullopt;
    if (static_cast<std::int64_t>(*last) - *first >= kMaxCassettesPerEntry) return std::nullopt;
    std::vector<std::int32_t> numbers;
    // Counted in 64 bits: a range ending at the largest number must not wrap round.
    for (std::int64_t n = *first; n <= *last; ++n) numbers.push_back(static_cast<std::int32_t>(n));
    return numbers;
}

std::string_view Between(std::string_view text, std::size_t from, std::size_t to) {
    if (from == std::string_view::npos) return {};
    return text.substr(from + 1,
                       to == std::string_view::npos ? std::string_view::npos : to - from - 1);
}

std::optional<PartitionEntry::Range> PartitionRange(const std::string& token) {
    std::size_t split = token.find("..");
    std::size_t width = 2;
    if (split == std::string::npos) {
        split = token.find('-');
        width = 1;
    }
    auto first = ParseInt32(std::string_view(token).substr(0, split));
    auto last = split == std::string::npos
                    ? first
                    : ParseInt32(std::string_view(token).substr(split + width));
    if (!first || !last) return std::nullopt;
    return PartitionEntry::Range{*first, *last};
}

}  // namespace

std::optional<CassetteEntry> ParseCassetteEntry(std::string_view line) {
    auto equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string key = WithoutBlanks(line.substr(0, equals));
    const std::string value = WithoutBlanks(line.substr(equals + 1));
    auto numbers = CassetteNumbers(key);
    if (!numbers) return std::nullopt;

    const std::string_view v = value;
    const auto first = v.find(',');
    const auto second = first == std::string_view::npos ? first : v.find(',', first + 1);
    const auto third = second == std::string_view::npos ? second : v.find(',', second + 1);
    CassetteEntry entry;
    entry.Numbers = std::move(*numbers);
    entry.Levels = first == std::string_view::npos ? 0 : Int32Or(v.substr(0, first), 0);
    entry.ZPitch =
        first == std::string_view::npos ? Int32Or(v, 0) : Int32Or(Between(v, first, second), 0);
    entry.Type = second == std::string_view::npos  ? 0
                 : third == std::string_view::npos ? Int32Or(Between(v, second, third), 0)
                                                   : Int32Or(v.substr(third + 1), 0);
    return entry;
}

PartitionEntry ParsePartitionEntry(std::string_view line) {
    PartitionEntry entry;
    auto equals = line.find('=');
    entry.Name = std::string(line.substr(0, equals));
    if (equals == std::string_view::npos) return entry;
    for (const auto& part : SplitAt(line.substr(equals + 1), ',')) {
        const std::string token = Trimmed(part);
        if (token.empty()) continue;
        if (auto range = PartitionRange(token)) {
            entry.Ranges.push_back(*range);
        } else {
            entry.BadTokens.push_back(token);
        }
    }
    return entry;
}

std::optional<ParameterCommand> ParseParameterLine(std::string_view line) {
    auto split = line.find('=');
    if (split == std::string_view::npos) split = line.find(' ');
    if (split == std::string_view::npos) return std::nullopt;
    const std::string name = Trimmed(line.substr(0, split));
    const std::string value = Trimmed(line.substr(split + 1));
    if (name.empty() || value.empty()) return std::nullopt;
    if (name.front() == 'D') {
        return ParameterCommand{controller::writeNamedWord(name + " " + value),
                                UpperCased(name.substr(0, 4)) == "DM25"};
    }
    if (name.front() == 'T')
        return ParameterCommand{controller::setNamedTimerPreset(name + " " + value), false};
    return std::nullopt;
}

}  // namespace krb::server
