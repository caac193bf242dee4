#include "TubeMoveList.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "text_numbers.h"

namespace krb {

namespace {

constexpr std::size_t kMandatoryFields = 10;

struct MoveLine {
    std::array<std::int32_t, kMandatoryFields> field{};  // index = field number - 1
    TTubePos source, target;
};

bool isMoveLine(std::string_view line) { return !line.empty() && line[0] >= '1' && line[0] <= '9'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::optional<std::int32_t> integerField(std::string_view text) {
    return parseInt32(trimmed(text));
}

// Fields 1 to 10 end at the first ten commas; the rest is field 11, up to its first comma,
// and field 12, everything after it (commas included).
std::optional<MoveLine> parseMoveLine(std::string_view line) {
    MoveLine parsed;
    for (std::size_t index = 0; index < kMandatoryFields; ++index) {
        auto comma = line.find(',');
        if (comma == std::string_view::npos) return std::nullopt;
        std::string_view text = line.substr(0, comma);
        line.remove_prefix(comma + 1);
        if (index == 2 || index == 7) continue;  // fields 3 and 8 are not used
        auto value = integerField(text);
        if (!value) return std::nullopt;
        parsed.field[index] = *value;
    }
    auto comma = line.find(',');
    auto number = integerField(line.substr(0, comma));
    if (!number) return std::nullopt;
    std::string text = comma == std::string_view::npos ? "" : std::string(line.substr(comma + 1));
    const auto& f = parsed.field;
    // Racks outside the unit and tubes the controller words cannot address move nothing.
    if (f[0] < 1 || f[1] < 1 || f[5] < 1 || f[6] < 1) return std::nullopt;
    for (std::size_t index : {3u, 4u, 8u, 9u})
        if (!IsTubeCoordinate(f[index])) return std::nullopt;
    parsed.source = {f[3], f[4], *number, text};
    parsed.target = {f[8], f[9], *number, text};
    return parsed;
}

bool sameRacks(const MoveLine& line, const TMoveTubeFileCommand& command) {
    return line.field[0] == command.Source.Slot && line.field[1] == command.Source.Level &&
           line.field[5] == command.Target.Slot && line.field[6] == command.Target.Level;
}

std::string twoDigits(std::int32_t coordinate) {
    std::string digits = std::to_string(coordinate);
    return digits.size() == 1 ? "0" + digits : digits;
}

}  // namespace

std::optional<std::int32_t> HexDigitsWord(std::string_view digits) {
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    std::int32_t word = 0;
    for (char digit : digits) {
        if (digit < '0' || digit > '9') return std::nullopt;
        word = word * 16 + (digit - '0');
    }
    return word;
}

std::optional<std::int32_t> CoordinateWord(std::int32_t coordinate) {
    return HexDigitsWord(std::to_string(coordinate));
}

std::optional<std::int32_t> PackedWord(std::int32_t high, std::int32_t low) {
    if (high < 0 || low < 0) return std::nullopt;
    return HexDigitsWord(twoDigits(high) + twoDigits(low));
}

std::optional<std::int32_t> PackedWord(std::int32_t high) {
    if (high < 0) return std::nullopt;
    return HexDigitsWord(twoDigits(high) + "00");
}

std::optional<TMoveList> ParseMoveList(std::string_view content) {
    TMoveList list;
    while (!content.empty()) {
        auto end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!isMoveLine(line)) continue;
        auto parsed = parseMoveLine(line);
        if (!parsed) return std::nullopt;
        if (list.empty() || !sameRacks(*parsed, list.back())) {
            TMoveTubeFileCommand command;
            command.Source = {parsed->field[0], parsed->field[1], {}};
            command.Target = {parsed->field[5], parsed->field[6], {}};
            list.push_back(std::move(command));
        }
        list.back().Source.Tubes.push_back(parsed->source);
        list.back().Target.Tubes.push_back(parsed->target);
    }
    return list;
}

std::string ReadMoveListFile(const std::string& path, TMoveList& list) {
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error)) return "-5";
    std::ifstream file(path, std::ios::binary);
    if (!file || std::filesystem::is_directory(path, error)) return "-6";
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) return "-6";
    auto parsed = ParseMoveList(content.str());
    if (!parsed) return "-6";
    list = std::move(*parsed);
    return "";
}

}  // namespace krb
