#pragma once
// The little of SQL the trail needs from SQLite and PostgreSQL alike: statements with numbered
// parameters ($1, $2, ...) and rows read as texts. Every failure throws StoreError.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace krb::server::history {

enum class SqlDialect { Sqlite, Postgres };

using SqlValue = std::variant<std::int64_t, std::string>;
using SqlRow = std::vector<std::string>;  // NULL reads as ""

class SqlConnection {
  public:
    virtual ~SqlConnection() = default;
    virtual SqlDialect Dialect() const = 0;
    virtual void Execute(const std::string& sql, const std::vector<SqlValue>& parameters = {}) = 0;
    virtual std::vector<SqlRow> Query(const std::string& sql,
                                      const std::vector<SqlValue>& parameters = {}) = 0;
};

}  // namespace krb::server::history
