#pragma once
// The trail in a site's PostgreSQL database, which several servers write into. Connects when
// first used and again after the connection was lost; the caller decides when to retry.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "history/HistoryStore.h"

namespace krb::server::history {

class PostgresConnection;

class PostgresStore final : public HistoryStore {
  public:
    // For the writer: the schema is created or migrated on connecting. Throws StoreError
    // when the address cannot be used (not when the server cannot be reached).
    PostgresStore(std::string uri, WriterIdentity writer);
    // For the questions.
    explicit PostgresStore(std::string uri);
    ~PostgresStore() override;

    void Write(const std::vector<HistoryEvent>& batch) override;
    std::size_t RemoveOlderThan(Clock::time_point cutoff) override;
    std::vector<HistoryEntry> Entries(const HistoryFilter& filter) override;

  private:
    PostgresConnection& Connected();  // throws StoreError
    // Runs `work` on the connection; a connection that broke meanwhile is dropped.
    template <class Work>
    auto OnConnection(Work work) -> decltype(work(std::declval<PostgresConnection&>()));

    std::string uri_;
    std::optional<WriterIdentity> writer_;  // none for the questions
    std::mutex mutex_;
    std::unique_ptr<PostgresConnection> connection_;
};

}  // namespace krb::server::history
