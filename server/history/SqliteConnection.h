#pragma once
// One SQLite connection with its prepared statements kept for reuse.
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "history/SqlConnection.h"

namespace krb::server::history {

class SqliteConnection final : public SqlConnection {
  public:
    enum class Mode { ReadWrite, ReadOnly };
    // Throws StoreError naming the file.
    SqliteConnection(const std::string& path, Mode mode);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    SqlDialect Dialect() const override { return SqlDialect::Sqlite; }
    void Execute(const std::string& sql, const std::vector<SqlValue>& parameters = {}) override;
    std::vector<SqlRow> Query(const std::string& sql,
                              const std::vector<SqlValue>& parameters = {}) override;

  private:
    // A statement and the index of each of its parameters "$1", "$2", ..., found once.
    struct Statement {
        sqlite3_stmt* Handle = nullptr;
        std::vector<int> Indexes;
    };

    sqlite3_stmt* Prepared(const std::string& sql, const std::vector<SqlValue>& parameters);
    Statement& Cached(const std::string& sql, std::size_t parameterCount);
    [[noreturn]] void Fail(const std::string& what) const;
    void Close();

    std::string path_;
    sqlite3* db_ = nullptr;
    std::map<std::string, Statement> statements_;
};

}  // namespace krb::server::history
