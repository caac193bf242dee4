#pragma once
// The trail's schema and statements, the same for SQLite and PostgreSQL.
#include <functional>
#include <vector>

#include "history/HistoryStore.h"
#include "history/SqlConnection.h"

namespace krb::server::history {

constexpr int kSchemaVersion = 2;

// Runs `work` in one transaction: committed when it returns, rolled back when it throws.
void InTransaction(SqlConnection& connection, const std::function<void()>& work);

// 0 when the store holds no trail yet.
int SchemaVersion(SqlConnection& connection);
// Creates the tables or brings them up to `target`, in one transaction that other servers
// starting on the same database wait for. Throws when the store is newer than this server.
void MigrateSchema(SqlConnection& connection, int target = kSchemaVersion);
// Throws unless the store holds a trail this server can read.
void ExpectReadableSchema(SqlConnection& connection);

void InsertEvents(SqlConnection& connection, const WriterIdentity& writer,
                  const std::vector<HistoryEvent>& events);
std::vector<HistoryEntry> SelectEntries(SqlConnection& connection, const HistoryFilter& filter);
std::size_t DeleteOlderThan(SqlConnection& connection, Clock::time_point cutoff);

// "10.0.0.7:5000" -> "10.0.0.7", "[::1]:5000" -> "::1": what a filter by address matches.
std::string ClientAddress(const std::string& client);

}  // namespace krb::server::history
