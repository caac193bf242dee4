#pragma once
// The trail in a SQLite file (WAL): the embedded default, beside the configuration.
#include <memory>
#include <mutex>
#include <string>

#include "history/HistoryStore.h"

namespace krb::server::history {

class SqliteConnection;

class SqliteStore final : public HistoryStore {
  public:
    // For the writer: creates the file and its schema, or migrates it. Throws StoreError.
    SqliteStore(const std::string& path, WriterIdentity writer);
    // For the questions: opens an existing trail read-only. Throws StoreError.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override;

    void Write(const std::vector<HistoryEvent>& batch) override;
    std::size_t RemoveOlderThan(Clock::time_point cutoff) override;
    std::vector<HistoryEntry> Entries(const HistoryFilter& filter) override;

  private:
    std::mutex mutex_;  // one statement at a time on the connection
    std::unique_ptr<SqliteConnection> connection_;
    WriterIdentity writer_;
};

}  // namespace krb::server::history
