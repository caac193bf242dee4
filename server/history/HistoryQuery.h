#pragma once
// Asking the trail: a plate's journey (the record changes that moved it, with the commands that
// caused them) or the commands of a unit or client in a time window.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/HistoryEvents.h"

namespace krb::server::history {

struct HistoryFilter {
    std::string Plate;   // a barcode; "" for any. With a plate, only record changes are listed.
    std::string UnitId;  // "" for any
    std::string Client;  // address, or address:port; "" for any
    std::optional<Clock::time_point> Since;
    std::optional<Clock::time_point> Until;
    std::size_t Limit = 1000;
};

// The record part of an entry that changed a contents record.
struct EntryChange {
    std::int32_t SlotNo = 0;
    std::int32_t Cassette = 0;
    std::int32_t Level = 0;
    RecordState Before;
    RecordState After;
    std::string Cause;  // ChangeCauseName
};

// One line of an answer, oldest first. A record change carries its command's fields when a
// command caused it; a command alone has no Change.
struct HistoryEntry {
    Clock::time_point Time;
    std::string Server;  // which KRBServer wrote it (host and configuration)
    std::string Interface;
    std::string Client;
    std::string UnitId;
    std::string Command;
    std::string Arguments;
    std::string Reply;
    std::int64_t DurationUs = 0;
    std::optional<EntryChange> Change;
};

class HistoryReader {
  public:
    virtual ~HistoryReader() = default;
    // Throws std::runtime_error with a one-line reason when the store cannot be read.
    virtual std::vector<HistoryEntry> Entries(const HistoryFilter& filter) = 0;
};

// "plate=P0003&unit=Base1&client=10.0.0.7&since=2026-12-09T10:00:00Z&until=...&limit=100"
// (percent-decoded); nullopt names the first bad parameter in `error`.
std::optional<HistoryFilter> FilterFromQueryString(std::string_view query, std::string* error);
// {"entries":[{"time":"2026-12-09T10:00:00.123Z","server":...,"change":{...}|null},...]}
std::string EntriesJson(const std::vector<HistoryEntry>& entries);
// A fixed-width table for a terminal, one line per entry.
std::string EntriesTable(const std::vector<HistoryEntry>& entries);

}  // namespace krb::server::history
