#pragma once
// One SQLite connection with its prepared statements kept for reuse.
#include <sqlite3.h>

#include <map>
#include <string>

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
    sqlite3_stmt* Prepared(const std::string& sql, const std::vector<SqlValue>& parameters);
    [[noreturn]] void Fail(const std::string& what) const;
    void Close();

    std::string path_;
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace krb::server::history
