#include "history/SqliteStore.h"

#include "history/HistorySql.h"
#include "history/SqliteConnection.h"

namespace krb::server::history {

SqliteStore::SqliteStore(const std::string& path, WriterIdentity writer)
    : connection_(std::make_unique<SqliteConnection>(path, SqliteConnection::Mode::ReadWrite)),
      writer_(std::move(writer)) {
    MigrateSchema(*connection_);
}

SqliteStore::SqliteStore(const std::string& path)
    : connection_(std::make_unique<SqliteConnection>(path, SqliteConnection::Mode::ReadOnly)) {
    ExpectReadableSchema(*connection_);
}

SqliteStore::~SqliteStore() = default;

void SqliteStore::Write(const std::vector<HistoryEvent>& batch) {
    std::lock_guard lock(mutex_);
    InTransaction(*connection_, [&] { InsertEvents(*connection_, writer_, batch); });
}

std::size_t SqliteStore::RemoveOlderThan(Clock::time_point cutoff) {
    std::lock_guard lock(mutex_);
    return DeleteOlderThan(*connection_, cutoff);
}

std::vector<HistoryEntry> SqliteStore::Entries(const HistoryFilter& filter) {
    std::lock_guard lock(mutex_);
    return SelectEntries(*connection_, filter);
}

}  // namespace krb::server::history
