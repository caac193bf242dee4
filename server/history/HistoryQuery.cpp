#include "history/HistoryQuery.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "history/HistoryTime.h"
#include "platform/utf8_text.h"

namespace krb::server::history {
namespace {

constexpr std::size_t kMaxLimit = 100000;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Form encoding: "+" is a blank, "%41" is "A".
std::optional<std::string> PercentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return decoded;
}

std::optional<std::size_t> ParseLimit(const std::string& text) {
    if (text.empty() || text.size() > 7) return std::nullopt;
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    if (value == 0 || value > kMaxLimit) return std::nullopt;
    return value;
}

// Sets one parameter; false when its value is not acceptable.
bool Apply(HistoryFilter& filter, const std::string& name, const std::string& value) {
    if (name == "plate") {
        filter.Plate = value;
    } else if (name == "unit") {
        filter.UnitId = value;
    } else if (name == "client") {
        filter.Client = value;
    } else if (name == "since" || name == "until") {
        const auto time = ParseUtcTime(value);
        if (!time) return false;
        (name == "since" ? filter.Since : filter.Until) = *time;
    } else if (name == "limit") {
        const auto limit = ParseLimit(value);
        if (!limit) return false;
        filter.Limit = *limit;
    } else {
        return false;
    }
    return true;
}

std::string Problem(const std::string& name, const std::string& value) {
    if (name == "since" || name == "until") {
        return name + ": \"" + value + "\" is no time (2026-12-09, 2026-12-09T10:00:00Z, ...)";
    }
    if (name == "limit") {
        return "limit: \"" + value + "\" is no number from 1 to " + std::to_string(kMaxLimit);
    }
    return "\"" + name + "\": unknown parameter (plate, unit, client, since, until, limit)";
}

void AppendEscaped(std::string& json, unsigned c) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
    json += escaped;
}

// Every byte survives: a byte that starts no UTF-8 sequence is taken as Latin-1; characters
// that could end a script block in a page are escaped too.
std::string JsonString(std::string_view text) {
    std::string json = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const auto length = platform::Utf8SequenceLength(text.substr(i));
            if (length > 0) {
                json.append(text.substr(i, length));
                i += length;
            } else {
                AppendEscaped(json, c);
                ++i;
            }
            continue;
        }
        ++i;
        switch (c) {
            case '"':
                json += "\\\"";
                break;
            case '\\':
                json += "\\\\";
                break;
            case '\n':
                json += "\\n";
                break;
            case '\r':
                json += "\\r";
                break;
            case '\t':
                json += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f || c == '<' || c == '>' || c == '&') {
                    AppendEscaped(json, c);
                } else {
                    json += static_cast<char>(c);
                }
        }
    }
    return json + '"';
}

std::string StateJson(const RecordState& state) {
    return std::string("{\"present\":") + (state.Present ? "true" : "false") +
           ",\"barcode\":" + JsonString(state.Barcode) + ",\"name\":" + JsonString(state.Name) +
           '}';
}

std::string ChangeJson(const std::optional<EntryChange>& change) {
    if (!change) return "null";
    return "{\"slotNo\":" + std::to_string(change->SlotNo) +
           ",\"cassette\":" + std::to_string(change->Cassette) +
           ",\"level\":" + std::to_string(change->Level) +
           ",\"before\":" + StateJson(change->Before) + ",\"after\":" + StateJson(change->After) +
           ",\"cause\":" + JsonString(change->Cause) + '}';
}

std::string EntryJson(const HistoryEntry& entry) {
    return "{\"time\":" + JsonString(FormatUtcTime(entry.Time)) +
           ",\"server\":" + JsonString(entry.Server) +
           ",\"interface\":" + JsonString(entry.Interface) +
           ",\"client\":" + JsonString(entry.Client) + ",\"unit\":" + JsonString(entry.UnitId) +
           ",\"command\":" + JsonString(entry.Command) +
           ",\"arguments\":" + JsonString(entry.Arguments) +
           ",\"reply\":" + JsonString(entry.Reply) +
           ",\"durationUs\":" + std::to_string(entry.DurationUs) +
           ",\"change\":" + ChangeJson(entry.Change) + '}';
}

// A terminal shows what a client sent, never obeys it: control bytes become "\xHH".
std::string Printable(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string StateText(const RecordState& state) {
    if (!state.Present) return "empty";
    std::string text = state.Barcode.empty() ? "plate" : state.Barcode;
    if (!state.Name.empty()) text += " \"" + state.Name + '"';
    return text;
}

std::string ChangeText(const std::optional<EntryChange>& change) {
    if (!change) return "";
    return change->Cause + " slot " + std::to_string(change->SlotNo) + " (" +
           std::to_string(change->Cassette) + '/' + std::to_string(change->Level) +
           "): " + StateText(change->Before) + " -> " + StateText(change->After);
}

std::string Milliseconds(std::int64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(micros / 1000),
                  static_cast<long long>(micros % 1000 < 0 ? -(micros % 1000) : micros % 1000));
    return text;
}

constexpr std::size_t kColumns = 10;
using Row = std::array<std::string, kColumns>;

Row TableRow(const HistoryEntry& entry) {
    return {FormatUtcTime(entry.Time),
            Printable(entry.Interface),
            Printable(entry.Client.empty() ? "-" : entry.Client),
            Printable(entry.UnitId.empty() ? "-" : entry.UnitId),
            Printable(entry.Command.empty() ? "-" : entry.Command),
            Printable(entry.Arguments),
            Printable(entry.Reply),
            entry.Command.empty() ? "" : Milliseconds(entry.DurationUs),
            Printable(ChangeText(entry.Change)),
            Printable(entry.Server)};
}

}  // namespace

std::optional<HistoryFilter> FilterFromQueryString(std::string_view query, std::string* error) {
    HistoryFilter filter;
    std::string problem;
    std::size_t start = 0;
    while (start <= query.size() && problem.empty()) {
        auto end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view pair = query.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue;
        const auto equals = pair.find('=');
        const std::string_view rawName = pair.substr(0, equals);
        const std::string_view rawValue =
            equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1);
        const auto name = PercentDecoded(rawName);
        const auto value = PercentDecoded(rawValue);
        if (!name) {
            problem = "\"" + std::string(rawName) + "\": bad percent-encoding";
        } else if (!value) {
            problem = *name + ": bad percent-encoding in \"" + std::string(rawValue) + '"';
        } else if (!Apply(filter, *name, *value)) {
            problem = Problem(*name, *value);
        }
    }
    if (problem.empty() && filter.Since && filter.Until && *filter.Since > *filter.Until) {
        problem = "since: later than until";
    }
    if (!problem.empty()) {
        if (error) *error = Printable(problem);
        return std::nullopt;
    }
    return filter;
}

std::string EntriesJson(const std::vector<HistoryEntry>& entries) {
    std::string json = "{\"entries\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) json += ',';
        json += EntryJson(entries[i]);
    }
    return json + "]}";
}

std::string EntriesTable(const std::vector<HistoryEntry>& entries) {
    if (entries.empty()) return "No entries.\n";
    std::vector<Row> rows{{"TIME (UTC)", "VIA", "CLIENT", "UNIT", "COMMAND", "ARGUMENTS", "REPLY",
                           "MS", "RECORD CHANGE", "SERVER"}};
    for (const auto& entry : entries) rows.push_back(TableRow(entry));
    std::array<std::size_t, kColumns> widths{};
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < kColumns; ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < kColumns; ++column) {
            line += row[column];
            if (column + 1 < kColumns) line.append(widths[column] - row[column].size() + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        table += line + '\n';
    }
    return table;
}

}  // namespace krb::server::history
