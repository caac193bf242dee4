#include "history/PostgresConnection.h"

#include <memory>

#include "history/HistoryStore.h"

namespace krb::server::history {
namespace {

// libpq's messages span lines; the log gets one.
std::string FirstLine(const char* message) {
    std::string line = message ? message : "";
    line = line.substr(0, line.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line.empty() ? "unknown failure" : line;
}

std::string Text(const SqlValue& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
    return std::get<std::string>(value);
}

}  // namespace

PostgresConnection::PostgresConnection(const std::string& uri) {
    // A connect_timeout in the address wins: keywords later in the list override earlier ones.
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"5", "KRBServer", uri.c_str(), nullptr};
    connection_ = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string reason = FirstLine(PQerrorMessage(connection_));
        PQfinish(connection_);
        throw StoreError("PostgreSQL: " + reason);
    }
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr);
}

PostgresConnection::~PostgresConnection() { PQfinish(connection_); }

std::string PostgresConnection::UriProblem(const std::string& uri) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
    if (options) {
        PQconninfoFree(options);
        return "";
    }
    std::string problem = error ? FirstLine(error) : "out of memory";
    PQfreemem(error);
    return problem;
}

bool PostgresConnection::Usable() const { return PQstatus(connection_) == CONNECTION_OK; }

void PostgresConnection::Execute(const std::string& sql, const std::vector<SqlValue>& parameters) {
    Query(sql, parameters);
}

std::vector<SqlRow> PostgresConnection::Query(const std::string& sql,
                                              const std::vector<SqlValue>& parameters) {
    std::vector<std::string> texts;
    texts.reserve(parameters.size());
    for (const auto& parameter : parameters) texts.push_back(Text(parameter));
    std::vector<const char*> values;
    for (const auto& text : texts) values.push_back(text.c_str());
    const std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                     values.data(), nullptr, nullptr, 0),
        &PQclear);
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        throw StoreError("PostgreSQL: " + FirstLine(PQerrorMessage(connection_)));
    }
    std::vector<SqlRow> rows;
    const int columns = PQnfields(result.get());
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        SqlRow cells(static_cast<std::size_t>(columns));
        for (int column = 0; column < columns; ++column) {
            cells[static_cast<std::size_t>(column)].assign(
                PQgetvalue(result.get(), row, column),
                static_cast<std::size_t>(PQgetlength(result.get(), row, column)));
        }
        rows.push_back(std::move(cells));
    }
    return rows;
}

}  // namespace krb::server::history
