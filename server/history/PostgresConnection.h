#pragma once
// One connection to a PostgreSQL server through libpq.
#include <libpq-fe.h>

#include <string>

#include "history/SqlConnection.h"

namespace krb::server::history {

class PostgresConnection final : public SqlConnection {
  public:
    // Throws StoreError when the server cannot be reached.
    explicit PostgresConnection(const std::string& uri);
    ~PostgresConnection() override;
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    // "" when `uri` can be used, else why not.
    static std::string UriProblem(const std::string& uri);

    // False once the server went away; the connection is then of no further use.
    bool Usable() const;
    SqlDialect Dialect() const override { return SqlDialect::Postgres; }
    void Execute(const std::string& sql, const std::vector<SqlValue>& parameters = {}) override;
    std::vector<SqlRow> Query(const std::string& sql,
                              const std::vector<SqlValue>& parameters = {}) override;

  private:
    PGconn* connection_ = nullptr;
};

}  // namespace krb::server::history
