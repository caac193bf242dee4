// The [History] section as operators write it, right and wrong.
#include <gtest/gtest.h>

#include "history/HistorySettings.h"
#include "support/temp_dir.h"

namespace krb::server::history {
namespace {

using test_support::TempDir;

TEST(HistorySettings, TakesTheDefaultsWithoutTheSection) {
    TempDir dir("krb-history");
    const auto config = dir.write("DriverConfig.lni", "[TCP]\r\nport=3100\r\n");
    const auto settings = ReadHistorySettings(config);
    EXPECT_TRUE(settings.Enabled);
    EXPECT_EQ(settings.Database, dir.file("History.sqlite"));
    EXPECT_FALSE(settings.IsPostgres());
    EXPECT_EQ(settings.RetentionDays, 365);
    EXPECT_EQ(settings.QueueSize, 10000u);
    EXPECT_TRUE(settings.Problems.empty());
}

TEST(HistorySettings, ReadsEachKeyAndRefusesMalformedValuesWithTheDefault) {
    TempDir dir("krb-history");
    const struct {
        const char* section;
        bool enabled;
        std::string database;  // "~/" stands for the configuration's folder
        int retentionDays;
        std::size_t queueSize;
        const char* problem;  // "" for none
    } cases[] = {
        {"Enabled=0\r\nRetentionDays=0\r\nQueueSize=5", false, "~/History.sqlite", 0, 5, ""},
        {"Database=trail\\site.db", true, "~/trail/site.db", 365, 10000, ""},
        {"Database=/var/lib/krb/h.db", true, "/var/lib/krb/h.db", 365, 10000, ""},
        {"Database=postgresql://krb@db.lab/trail", true, "postgresql://krb@db.lab/trail", 365,
         10000, ""},
        {"Database=mysql://db.lab/trail", true, "~/History.sqlite", 365, 10000,
         "[History] Database=\"mysql://db.lab/trail\" is neither a file nor a postgresql://"},
        {"Enabled=yes", true, "~/History.sqlite", 365, 10000,
         "[History] Enabled=\"yes\" is no number from 0 to 1; using 1"},
        {"Enabled=2", true, "~/History.sqlite", 365, 10000, "Enabled=\"2\""},
        {"RetentionDays=-1", true, "~/History.sqlite", 365, 10000,
         "RetentionDays=\"-1\" is no number from 0 to 36500; using 365"},
        {"RetentionDays=30d", true, "~/History.sqlite", 365, 10000, "RetentionDays=\"30d\""},
        {"QueueSize=0", true, "~/History.sqlite", 365, 10000,
         "QueueSize=\"0\" is no number from 1 to 10000000; using 10000"},
        {"QueueSize=99999999999", true, "~/History.sqlite", 365, 10000, "QueueSize="},
    };
    for (const auto& c : cases) {
        const auto config =
            dir.write("DriverConfig.lni", std::string("[History]\r\n") + c.section + "\r\n");
        const auto settings = ReadHistorySettings(config);
        std::string database = c.database;
        if (database.rfind("~/", 0) == 0) database = dir.file(database.substr(2));
        EXPECT_EQ(settings.Enabled, c.enabled) << c.section;
        EXPECT_EQ(settings.Database, database) << c.section;
        EXPECT_EQ(settings.RetentionDays, c.retentionDays) << c.section;
        EXPECT_EQ(settings.QueueSize, c.queueSize) << c.section;
        if (std::string(c.problem).empty()) {
            EXPECT_TRUE(settings.Problems.empty()) << c.section << ": " << settings.Problems[0];
        } else {
            ASSERT_EQ(settings.Problems.size(), 1u) << c.section;
            EXPECT_NE(settings.Problems[0].find(config), std::string::npos);
            EXPECT_NE(settings.Problems[0].find(c.problem), std::string::npos)
                << settings.Problems[0];
        }
    }
}

TEST(HistorySettings, NamesTheServerByHostAndAbsoluteConfiguration) {
    TempDir dir("krb-history");
    const auto config = dir.write("lab/DriverConfig.lni", "");
    const auto name = ServerName(config);
    EXPECT_EQ(name.substr(name.find(':') + 1), config);
    EXPECT_GT(name.find(':'), 0u);
}

}  // namespace
}  // namespace krb::server::history
