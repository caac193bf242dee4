#pragma once
// Where the trail is kept: written by the trail's one writer thread in batches, read by the
// questions (HistoryReader). A SQLite file beside the configuration or a site's PostgreSQL.
#include <cstddef>
#include <stdexcept>
#include <variant>
#include <vector>

#include "history/HistoryEvents.h"
#include "history/HistoryQuery.h"

namespace krb::server::history {

using HistoryEvent = std::variant<CommandEvent, RecordChange>;

// A store that cannot be opened, read or written, with a one-line reason.
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The writer's name for its rows: which server, and which run of it (command ids restart
// with every run).
struct WriterIdentity {
    std::string Server;
    std::int64_t Run = 0;
};

class HistoryStore : public HistoryReader {
  public:
    // All of the batch or nothing, in one transaction. Throws StoreError; a store whose
    // connection was lost connects again on the next call.
    virtual void Write(const std::vector<HistoryEvent>& batch) = 0;
    // Removes what happened before `cutoff`; returns how many rows went.
    virtual std::size_t RemoveOlderThan(Clock::time_point cutoff) = 0;
};

}  // namespace krb::server::history
