#include "history/HistorySql.h"

#include <algorithm>
#include <charconv>

namespace krb::server::history {
namespace {

std::vector<std::vector<std::string>> Migrations(SqlDialect dialect) {
    const std::string id = dialect == SqlDialect::Sqlite ? "id INTEGER PRIMARY KEY AUTOINCREMENT"
                                                         : "id BIGSERIAL PRIMARY KEY";
    return {
        // 1: the tables
        {"CREATE TABLE commands (" + id +
             ", server TEXT NOT NULL, run BIGINT NOT NULL, command_id BIGINT NOT NULL,"
             " time_us BIGINT NOT NULL, interface TEXT NOT NULL, client TEXT NOT NULL,"
             " client_address TEXT NOT NULL, unit TEXT NOT NULL, command TEXT NOT NULL,"
             " arguments TEXT NOT NULL, reply TEXT NOT NULL, duration_us BIGINT NOT NULL)",
         "CREATE TABLE record_changes (" + id +
             ", server TEXT NOT NULL, run BIGINT NOT NULL, command_id BIGINT NOT NULL,"
             " time_us BIGINT NOT NULL, unit TEXT NOT NULL, slot_no INTEGER NOT NULL,"
             " cassette INTEGER NOT NULL, level INTEGER NOT NULL,"
             " before_present INTEGER NOT NULL, before_barcode TEXT NOT NULL,"
             " before_name TEXT NOT NULL, after_present INTEGER NOT NULL,"
             " after_barcode TEXT NOT NULL, after_name TEXT NOT NULL, cause TEXT NOT NULL,"
             " interface TEXT NOT NULL, client TEXT NOT NULL, client_address TEXT NOT NULL,"
             " command_unit TEXT NOT NULL, command TEXT NOT NULL, arguments TEXT NOT NULL)"},
        // 2: what the questions look up
        {"CREATE INDEX commands_time ON commands (time_us)",
         "CREATE INDEX commands_unit ON commands (unit, time_us)",
         "CREATE INDEX commands_client ON commands (client_address, time_us)",
         "CREATE INDEX commands_origin ON commands (server, run, command_id)",
         "CREATE INDEX record_changes_time ON record_changes (time_us)",
         "CREATE INDEX record_changes_unit ON record_changes (unit, time_us)",
         "CREATE INDEX record_changes_client ON record_changes (client_address, time_us)",
         "CREATE INDEX record_changes_before ON record_changes (before_barcode)",
         "CREATE INDEX record_changes_after ON record_changes (after_barcode)"},
    };
}

std::int64_t Number(const std::string& text) {
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::int64_t Micros(Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
}

Clock::time_point FromMicros(std::int64_t micros) {
    return Clock::time_point{
        std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds{micros})};
}

bool HasVersionTable(SqlConnection& connection) {
    const char* sql = connection.Dialect() == SqlDialect::Sqlite
                          ? "SELECT count(*) FROM sqlite_master WHERE type = 'table'"
                            " AND name = 'schema_version'"
                          : "SELECT count(*) FROM information_schema.tables"
                            " WHERE table_schema = current_schema()"
                            " AND table_name = 'schema_version'";
    const auto rows = connection.Query(sql);
    return !rows.empty() && Number(rows[0][0]) > 0;
}

constexpr const char* kCommandColumns =
    "INSERT INTO commands (server, run, command_id, time_us, interface, client, client_address,"
    " unit, command, arguments, reply, duration_us)";
constexpr const char* kChangeColumns =
    "INSERT INTO record_changes (server, run, command_id, time_us, unit, slot_no, cassette, level,"
    " before_present, before_barcode, before_name, after_present, after_barcode, after_name,"
    " cause, interface, client, client_address, command_unit, command, arguments)";
// Rows per INSERT: a round trip to a database server per row would cap the rate; SQLite runs
// in the process, where one prepared row at a time is fastest.
std::size_t RowsPerInsert(SqlDialect dialect) { return dialect == SqlDialect::Postgres ? 100 : 1; }

using Row = std::vector<SqlValue>;

Row CommandRow(const WriterIdentity& writer, const CommandEvent& event) {
    const auto& origin = event.Origin;
    return {writer.Server,
            writer.Run,
            static_cast<std::int64_t>(origin.Id),
            Micros(origin.Start),
            std::string(InterfaceName(origin.Door)),
            origin.Client,
            ClientAddress(origin.Client),
            origin.UnitId,
            origin.Command,
            origin.Arguments,
            event.Reply,
            static_cast<std::int64_t>(event.Duration.count())};
}

Row ChangeRow(const WriterIdentity& writer, const RecordChange& change) {
    const CommandOrigin none;
    const auto& origin = change.Origin ? *change.Origin : none;
    return {writer.Server,
            writer.Run,
            static_cast<std::int64_t>(change.Origin ? origin.Id : 0),
            Micros(change.Time),
            change.UnitId,
            std::int64_t{change.SlotNo},
            std::int64_t{change.Cassette},
            std::int64_t{change.Level},
            std::int64_t{change.Before.Present},
            change.Before.Barcode,
            change.Before.Name,
            std::int64_t{change.After.Present},
            change.After.Barcode,
            change.After.Name,
            std::string(ChangeCauseName(change.Cause)),
            change.Origin ? std::string(InterfaceName(origin.Door)) : std::string(),
            origin.Client,
            ClientAddress(origin.Client),
            origin.UnitId,
            origin.Command,
            origin.Arguments};
}

// "<columns> VALUES ($1, ..., $n), ($n+1, ...)" for `rows` rows of `width` values.
std::string InsertStatement(const char* columns, std::size_t width, std::size_t rows) {
    std::string sql = std::string(columns) + " VALUES ";
    std::size_t number = 0;
    for (std::size_t row = 0; row < rows; ++row) {
        sql += row == 0 ? "(" : ", (";
        for (std::size_t value = 0; value < width; ++value) {
            sql += (value == 0 ? "$" : ", $") + std::to_string(++number);
        }
        sql += ')';
    }
    return sql;
}

// Whole statements of RowsPerInsert rows, the rest one by one: few statement texts to keep.
void InsertRows(SqlConnection& connection, const char* columns, const std::vector<Row>& rows) {
    const std::size_t perInsert = RowsPerInsert(connection.Dialect());
    std::size_t at = 0;
    while (at < rows.size()) {
        const std::size_t count = rows.size() - at >= perInsert ? perInsert : 1;
        std::vector<SqlValue> values;
        for (std::size_t row = at; row < at + count; ++row) {
            values.insert(values.end(), rows[row].begin(), rows[row].end());
        }
        connection.Execute(InsertStatement(columns, rows[at].size(), count), values);
        at += count;
    }
}

// Conditions and their parameters, numbered as they are added.
class Conditions {
  public:
    explicit Conditions(std::vector<SqlValue>& parameters) : parameters_(parameters) {}
    // `condition` names the parameter "$?"; every "$?" in it is the same parameter.
    void Add(std::string condition, SqlValue value) {
        parameters_.push_back(std::move(value));
        const std::string name = "$" + std::to_string(parameters_.size());
        for (auto at = condition.find("$?"); at != std::string::npos; at = condition.find("$?"))
            condition.replace(at, 2, name);
        text_ += (text_.empty() ? " WHERE " : " AND ") + condition;
    }
    const std::string& Text() const { return text_; }

  private:
    std::vector<SqlValue>& parameters_;
    std::string text_;
};

void AddCommonConditions(Conditions& where, const HistoryFilter& filter, const std::string& table) {
    if (!filter.UnitId.empty()) where.Add(table + ".unit = $?", filter.UnitId);
    if (!filter.Client.empty()) {
        where.Add("(" + table + ".client = $? OR " + table + ".client_address = $?)",
                  filter.Client);
    }
    if (filter.Since) where.Add(table + ".time_us >= $?", Micros(*filter.Since));
    if (filter.Until) where.Add(table + ".time_us <= $?", Micros(*filter.Until));
}

std::string CommandsSelect(const HistoryFilter& filter, std::vector<SqlValue>& parameters) {
    Conditions where(parameters);
    AddCommonConditions(where, filter, "c");
    return "SELECT 0 AS kind, c.id AS row_id, c.time_us AS time_us, c.server, c.interface,"
           " c.client, c.unit, c.command, c.arguments, c.reply, c.duration_us, 0, 0, 0, 0, '',"
           " '', 0, '', '', '' FROM commands c" +
           where.Text();
}

std::string ChangesSelect(const HistoryFilter& filter, std::vector<SqlValue>& parameters) {
    Conditions where(parameters);
    if (!filter.Plate.empty()) {
        where.Add("(r.before_barcode = $? OR r.after_barcode = $?)", filter.Plate);
    }
    AddCommonConditions(where, filter, "r");
    return "SELECT 1 AS kind, r.id AS row_id, r.time_us AS time_us, r.server, r.interface,"
           " r.client, r.unit, r.command, r.arguments, COALESCE(c.reply, ''),"
           " COALESCE(c.duration_us, 0), r.slot_no, r.cassette, r.level, r.before_present,"
           " r.before_barcode, r.before_name, r.after_present, r.after_barcode, r.after_name,"
           " r.cause FROM record_changes r LEFT JOIN commands c ON r.command_id <> 0"
           " AND c.server = r.server AND c.run = r.run AND c.command_id = r.command_id" +
           where.Text();
}

HistoryEntry EntryOf(const SqlRow& row) {
    HistoryEntry entry;
    entry.Time = FromMicros(Number(row[2]));
    entry.Server = row[3];
    entry.Interface = row[4];
    entry.Client = row[5];
    entry.UnitId = row[6];
    entry.Command = row[7];
    entry.Arguments = row[8];
    entry.Reply = row[9];
    entry.DurationUs = Number(row[10]);
    if (Number(row[0]) == 1) {
        entry.Change = EntryChange{static_cast<std::int32_t>(Number(row[11])),
                                   static_cast<std::int32_t>(Number(row[12])),
                                   static_cast<std::int32_t>(Number(row[13])),
                                   RecordState{Number(row[14]) != 0, row[15], row[16]},
                                   RecordState{Number(row[17]) != 0, row[18], row[19]},
                                   row[20]};
    }
    return entry;
}

}  // namespace

void InTransaction(SqlConnection& connection, const std::function<void()>& work) {
    connection.Execute(connection.Dialect() == SqlDialect::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN");
    try {
        work();
        connection.Execute("COMMIT");
    } catch (...) {
        try {
            connection.Execute("ROLLBACK");
        } catch (const StoreError&) {
            // a lost connection has rolled back already
        }
        throw;
    }
}

int SchemaVersion(SqlConnection& connection) {
    if (!HasVersionTable(connection)) return 0;
    const auto rows = connection.Query("SELECT max(version) FROM schema_version");
    return rows.empty() ? 0 : static_cast<int>(Number(rows[0][0]));
}

void MigrateSchema(SqlConnection& connection, int target) {
    InTransaction(connection, [&] {
        if (connection.Dialect() == SqlDialect::Postgres) {
            // Servers of a site starting together: one creates, the others wait and see it.
            connection.Query("SELECT pg_advisory_xact_lock(7243001)");
        }
        connection.Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        const int current = SchemaVersion(connection);
        if (current > kSchemaVersion) {
            throw StoreError("the trail's schema version " + std::to_string(current) +
                             " is newer than this server's " + std::to_string(kSchemaVersion));
        }
        const auto migrations = Migrations(connection.Dialect());
        for (int version = current + 1; version <= target; ++version) {
            for (const auto& statement : migrations[version - 1]) connection.Execute(statement);
        }
        if (target <= current) return;
        connection.Execute("DELETE FROM schema_version");
        connection.Execute("INSERT INTO schema_version (version) VALUES ($1)",
                           {std::int64_t{target}});
    });
}

void ExpectReadableSchema(SqlConnection& connection) {
    const int version = SchemaVersion(connection);
    if (version == 0) throw StoreError("holds no history yet");
    if (version > kSchemaVersion) {
        throw StoreError("its schema version " + std::to_string(version) +
                         " is newer than this program's " + std::to_string(kSchemaVersion));
    }
}

void InsertEvents(SqlConnection& connection, const WriterIdentity& writer,
                  const std::vector<HistoryEvent>& events) {
    std::vector<Row> commands;
    std::vector<Row> changes;
    for (const auto& event : events) {
        if (const auto* command = std::get_if<CommandEvent>(&event)) {
            commands.push_back(CommandRow(writer, *command));
        } else {
            changes.push_back(ChangeRow(writer, std::get<RecordChange>(event)));
        }
    }
    InsertRows(connection, kCommandColumns, commands);
    InsertRows(connection, kChangeColumns, changes);
}

// The newest `Limit` entries, returned oldest first.
std::vector<HistoryEntry> SelectEntries(SqlConnection& connection, const HistoryFilter& filter) {
    std::vector<SqlValue> parameters;
    std::string sql = ChangesSelect(filter, parameters);
    if (filter.Plate.empty()) sql = CommandsSelect(filter, parameters) + " UNION ALL " + sql;
    parameters.emplace_back(std::in_place_type<std::int64_t>, filter.Limit);
    sql = "SELECT * FROM (" + sql + ") AS entries ORDER BY time_us DESC, kind DESC, row_id DESC" +
          " LIMIT $" + std::to_string(parameters.size());
    std::vector<HistoryEntry> entries;
    for (const auto& row : connection.Query(sql, parameters)) entries.push_back(EntryOf(row));
    std::reverse(entries.begin(), entries.end());
    return entries;
}

std::size_t DeleteOlderThan(SqlConnection& connection, Clock::time_point cutoff) {
    std::size_t removed = 0;
    InTransaction(connection, [&] {
        for (const std::string table : {"commands", "record_changes"}) {
            const std::vector<SqlValue> before{Micros(cutoff)};
            removed += static_cast<std::size_t>(Number(
                connection.Query("SELECT count(*) FROM " + table + " WHERE time_us < $1", before)
                    .at(0)
                    .at(0)));
            connection.Execute("DELETE FROM " + table + " WHERE time_us < $1", before);
        }
    });
    return removed;
}

std::string ClientAddress(const std::string& client) {
    if (!client.empty() && client.front() == '[') {
        const auto end = client.find(']');
        return end == std::string::npos ? client : client.substr(1, end - 1);
    }
    const auto colon = client.rfind(':');
    return colon == std::string::npos ? client : client.substr(0, colon);
}

}  // namespace krb::server::history
