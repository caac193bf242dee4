#include "history/SqliteConnection.h"

#include "history/HistoryStore.h"

namespace krb::server::history {
namespace {

constexpr int kBusyTimeoutMs = 5000;

// Where "$number" is bound: its own position when the text numbers them in order (asked
// cheaply), else looked up by name.
int ParameterIndex(sqlite3_stmt* statement, std::size_t number) {
    const std::string name = "$" + std::to_string(number);
    const char* at = sqlite3_bind_parameter_name(statement, static_cast<int>(number));
    if (at && name == at) return static_cast<int>(number);
    return sqlite3_bind_parameter_index(statement, name.c_str());
}

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, Mode mode) : path_(path) {
    const int flags =
        mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(path + ": " + reason);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (mode == Mode::ReadOnly) return;
    try {
        // A process killed at any moment leaves every committed batch; only a power loss
        // may take the last ones (never the file's consistency).
        Query("PRAGMA journal_mode=WAL");
        Execute("PRAGMA synchronous=NORMAL");
    } catch (...) {
        Close();
        throw;
    }
}

SqliteConnection::~SqliteConnection() { Close(); }

void SqliteConnection::Close() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    statements_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
}

void SqliteConnection::Fail(const std::string& what) const {
    throw StoreError(path_ + ": " + what + ": " + sqlite3_errmsg(db_));
}

sqlite3_stmt* SqliteConnection::Prepared(const std::string& sql,
                                         const std::vector<SqlValue>& parameters) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            Fail("cannot prepare \"" + sql.substr(0, 40) + "\"");
        }
        found = statements_.emplace(sql, statement).first;
    }
    sqlite3_stmt* statement = found->second;
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const int index = ParameterIndex(statement, i + 1);
        if (index == 0) continue;
        int result = SQLITE_OK;
        if (const auto* number = std::get_if<std::int64_t>(&parameters[i])) {
            result = sqlite3_bind_int64(statement, index, *number);
        } else {
            const auto& text = std::get<std::string>(parameters[i]);
            result = sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                                       SQLITE_STATIC);
        }
        if (result != SQLITE_OK) Fail("cannot bind a value");
    }
    return statement;
}

void SqliteConnection::Execute(const std::string& sql, const std::vector<SqlValue>& parameters) {
    Query(sql, parameters);
}

std::vector<SqlRow> SqliteConnection::Query(const std::string& sql,
                                            const std::vector<SqlValue>& parameters) {
    sqlite3_stmt* statement = Prepared(sql, parameters);
    std::vector<SqlRow> rows;
    while (true) {
        const int step = sqlite3_step(statement);
        if (step == SQLITE_DONE) break;
        if (step != SQLITE_ROW) {
            sqlite3_reset(statement);
            Fail("\"" + sql.substr(0, 40) + "\" failed");
        }
        SqlRow row;
        const int columns = sqlite3_column_count(statement);
        for (int column = 0; column < columns; ++column) {
            const auto* text = sqlite3_column_text(statement, column);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "",
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
        }
        rows.push_back(std::move(row));
    }
    sqlite3_reset(statement);  // ends the statement's read of the file
    return rows;
}

}  // namespace krb::server::history
