// The trail's SQLite file: its schema, what goes in and what the questions find.
#include <gtest/gtest.h>

#include <filesystem>

#include "history/HistorySql.h"
#include "history/SqliteConnection.h"
#include "history/SqliteStore.h"
#include "site_scenario.h"
#include "support/temp_dir.h"

namespace krb::server::history {
namespace {

using namespace testing;
using test_support::TempDir;

std::vector<std::string> IndexNames(const std::string& path) {
    SqliteConnection connection(path, SqliteConnection::Mode::ReadOnly);
    std::vector<std::string> names;
    for (const auto& row :
         connection.Query("SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL"
                          " ORDER BY name")) {
        names.push_back(row[0]);
    }
    return names;
}

int VersionOf(const std::string& path) {
    SqliteConnection connection(path, SqliteConnection::Mode::ReadOnly);
    return SchemaVersion(connection);
}

TEST(SqliteStore, TwoServersWriteAndEachQuestionFindsItsEntries) {
    TempDir dir("krb-history");
    const auto path = dir.file("History.sqlite");
    SqliteStore a(path, kServerA);
    SqliteStore b(path, kServerB);
    WriteSiteScenario(a, b);
    SqliteStore reader(path);
    ExpectSiteAnswers(reader);
    ExpectWholeEntry(reader);
}

TEST(SqliteStore, CreatesTheSchemaInWalMode) {
    TempDir dir("krb-history");
    const auto path = dir.file("History.sqlite");
    SqliteStore store(path, kServerA);
    EXPECT_EQ(VersionOf(path), kSchemaVersion);
    SqliteConnection connection(path, SqliteConnection::Mode::ReadOnly);
    EXPECT_EQ(connection.Query("PRAGMA journal_mode").at(0).at(0), "wal");
    EXPECT_EQ(IndexNames(path).size(), 9u);
}

TEST(SqliteStore, MigratesAnOlderSchemaAndKeepsItsRows) {
    TempDir dir("krb-history");
    const auto path = dir.file("History.sqlite");
    {
        SqliteConnection old(path, SqliteConnection::Mode::ReadWrite);
        MigrateSchema(old, 1);
        InsertEvents(old, kServerA,
                     {Change("2026-12-01T09:00:00Z", "Base1", 1, "", "P0001", std::nullopt)});
    }
    ASSERT_EQ(VersionOf(path), 1);
    ASSERT_TRUE(IndexNames(path).empty());

    SqliteStore store(path, kServerA);
    EXPECT_EQ(VersionOf(path), kSchemaVersion);
    EXPECT_EQ(IndexNames(path).size(), 9u);
    const auto entries = store.Entries(*FilterFromQueryString("plate=P0001", nullptr));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].UnitId, "Base1");
}

TEST(SqliteStore, RefusesAStoreNewerThanItKnowsAndAFileThatIsNoDatabase) {
    TempDir dir("krb-history");
    const auto newer = dir.file("newer.sqlite");
    {
        SqliteStore store(newer, kServerA);
        SqliteConnection connection(newer, SqliteConnection::Mode::ReadWrite);
        connection.Execute("UPDATE schema_version SET version = 99");
    }
    try {
        SqliteStore store(newer, kServerA);
        FAIL() << "opened a schema it does not know";
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find("schema version 99 is newer"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(SqliteStore{newer}, StoreError);

    const auto text = dir.write("notes.txt", "not a database at all, but long enough to look\n");
    EXPECT_THROW((SqliteStore{text, kServerA}), StoreError);
    EXPECT_EQ(test_support::readWholeFile(text),
              "not a database at all, but long enough to look\n");
}

TEST(SqliteStore, ReadingNeitherCreatesNorWritesTheFile) {
    TempDir dir("krb-history");
    const auto path = dir.file("History.sqlite");
    EXPECT_THROW(SqliteStore{path}, StoreError);
    EXPECT_FALSE(std::filesystem::exists(path));

    SqliteStore(path, kServerA).Write({Change("2026-12-01T09:00:00Z", "Base1", 1, "", "P1", {})});
    SqliteStore reader(path);
    EXPECT_THROW(reader.Write({Change("2026-12-01T09:00:00Z", "Base1", 1, "", "P2", {})}),
                 StoreError);
    EXPECT_EQ(reader.Entries({}).size(), 1u);
}

TEST(SqliteStore, RemovesOnlyWhatIsOlderThanTheCutoff) {
    TempDir dir("krb-history");
    SqliteStore store(dir.file("History.sqlite"), kServerA);
    const auto old = Origin(1, "2025-01-01T00:00:00Z", "10.0.0.7:1", "Base1", "KRB2Activate");
    store.Write({Command(old, "1"), Change("2025-01-01T00:00:01Z", "Base1", 1, "", "P1", old),
                 Change("2026-12-01T00:00:00Z", "Base1", 1, "P1", "", std::nullopt)});
    EXPECT_EQ(store.RemoveOlderThan(At("2026-01-01")), 2u);
    const auto left = store.Entries({});
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Time, At("2026-12-01T00:00:00Z"));
    EXPECT_EQ(store.RemoveOlderThan(At("2026-01-01")), 0u);
}

TEST(SqliteStore, ABatchIsWrittenWhollyOrNotAtAll) {
    TempDir dir("krb-history");
    const auto path = dir.file("History.sqlite");
    SqliteStore store(path, kServerA);
    const auto row = Change("2026-12-01T00:00:00Z", "Base1", 1, "", "P1", std::nullopt);
    SqliteConnection connection(path, SqliteConnection::Mode::ReadWrite);
    EXPECT_THROW(InTransaction(connection,
                               [&] {
                                   InsertEvents(connection, kServerA, {row});
                                   connection.Execute("INSERT INTO no_such_table VALUES (1)");
                               }),
                 StoreError);
    EXPECT_TRUE(store.Entries({}).empty());
}

}  // namespace
}  // namespace krb::server::history
