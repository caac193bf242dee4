#include "history/PostgresStore.h"

#include "history/HistorySql.h"
#include "history/PostgresConnection.h"

namespace krb::server::history {
namespace {

void ExpectUsableUri(const std::string& uri) {
    const auto problem = PostgresConnection::UriProblem(uri);
    if (!problem.empty()) throw StoreError("PostgreSQL address: " + problem);
}

}  // namespace

PostgresStore::PostgresStore(std::string uri, WriterIdentity writer)
    : uri_(std::move(uri)), writer_(std::move(writer)) {
    ExpectUsableUri(uri_);
}

PostgresStore::PostgresStore(std::string uri) : uri_(std::move(uri)) { ExpectUsableUri(uri_); }

PostgresStore::~PostgresStore() = default;

PostgresConnection& PostgresStore::Connected() {
    if (connection_ && connection_->Usable()) return *connection_;
    connection_.reset();
    auto connection = std::make_unique<PostgresConnection>(uri_);
    if (writer_) {
        MigrateSchema(*connection);
    } else {
        ExpectReadableSchema(*connection);
    }
    connection_ = std::move(connection);
    return *connection_;
}

template <class Work>
auto PostgresStore::OnConnection(Work work) -> decltype(work(std::declval<PostgresConnection&>())) {
    std::lock_guard lock(mutex_);
    auto& connection = Connected();
    try {
        return work(connection);
    } catch (const StoreError&) {
        if (!connection.Usable()) connection_.reset();
        throw;
    }
}

void PostgresStore::Write(const std::vector<HistoryEvent>& batch) {
    if (!writer_) throw StoreError("PostgreSQL: opened for reading only");
    OnConnection([&](PostgresConnection& connection) {
        InTransaction(connection, [&] { InsertEvents(connection, *writer_, batch); });
    });
}

std::size_t PostgresStore::RemoveOlderThan(Clock::time_point cutoff) {
    return OnConnection(
        [&](PostgresConnection& connection) { return DeleteOlderThan(connection, cutoff); });
}

std::vector<HistoryEntry> PostgresStore::Entries(const HistoryFilter& filter) {
    return OnConnection(
        [&](PostgresConnection& connection) { return SelectEntries(connection, filter); });
}

}  // namespace krb::server::history
