// The questions as a client writes them and the answers as clients and terminals read them.
#include <gtest/gtest.h>

#include "history/HistoryQuery.h"
#include "history/HistoryTime.h"

namespace krb::server::history {
namespace {

using namespace std::chrono_literals;

Clock::time_point At(std::string_view text) {
    auto time = ParseUtcTime(text);
    EXPECT_TRUE(time) << text;
    return time.value_or(Clock::time_point{});
}

TEST(HistoryTime, ReadsTheIsoFormsAndRefusesDatesThatDoNotExist) {
    const auto noon = std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + 12h;
    const struct {
        const char* text;
        std::optional<Clock::time_point> expected;
    } cases[] = {
        {"2026-12-09", noon - 12h},
        {"2026-12-09T12:00", noon},
        {"2026-12-09 12:00:00Z", noon},
        {"2026-12-09T12:00:00.25Z", noon + 250ms},
        {"2026-12-09T13:30:00+01:30", noon},
        {"2026-12-09T10:00:00-02:00", noon},
        {"2026-02-30", std::nullopt},
        {"2026-12-09T24:00", std::nullopt},
        {"2026-12-09T12:60", std::nullopt},
        {"2026-12-09T12:00:00.", std::nullopt},
        {"2026-12-09T12:00:00Zjunk", std::nullopt},
        {"2026-12-9", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseUtcTime(c.text), c.expected) << c.text;
}

TEST(HistoryTime, FormatsUtcWithMilliseconds) {
    EXPECT_EQ(FormatUtcTime(At("2026-12-09T10:00:00.1239Z")), "2026-12-09T10:00:00.123Z");
    EXPECT_EQ(FormatUtcTime(At("1969-12-31T23:59:59.5Z")), "1969-12-31T23:59:59.500Z");
}

TEST(HistoryQueryString, ReadsEveryParameterPercentDecoded) {
    std::string error;
    const auto filter = FilterFromQueryString(
        "plate=P%2000+3&unit=Base1&client=10.0.0.7%3A5000&since=2026-12-09T10%3A00%3A00Z"
        "&until=2026-12-10&limit=25&",
        &error);
    ASSERT_TRUE(filter) << error;
    EXPECT_EQ(filter->Plate, "P 00 3");
    EXPECT_EQ(filter->UnitId, "Base1");
    EXPECT_EQ(filter->Client, "10.0.0.7:5000");
    EXPECT_EQ(filter->Since, At("2026-12-09T10:00:00Z"));
    EXPECT_EQ(filter->Until, At("2026-12-10"));
    EXPECT_EQ(filter->Limit, 25u);
}

TEST(HistoryQueryString, AnEmptyQueryAsksForEverythingUpToTheDefaultLimit) {
    const auto filter = FilterFromQueryString("", nullptr);
    ASSERT_TRUE(filter);
    EXPECT_TRUE(filter->Plate.empty() && filter->UnitId.empty() && filter->Client.empty());
    EXPECT_FALSE(filter->Since || filter->Until);
    EXPECT_EQ(filter->Limit, 1000u);
}

TEST(HistoryQueryString, NamesTheFirstBadParameter) {
    const struct {
        const char* query;
        const char* named;
    } cases[] = {
        {"plate=P1&barcode=P1", "\"barcode\": unknown parameter"},
        {"since=2026-13-01", "since: \"2026-13-01\" is no time"},
        {"until=soon&since=never", "until: \"soon\" is no time"},
        {"limit=0", "limit: \"0\" is no number"},
        {"limit=-5", "limit: \"-5\" is no number"},
        {"limit=100001", "limit: \"100001\" is no number"},
        {"limit=99999999999999999999", "is no number"},
        {"plate=%zz", "plate: bad percent-encoding"},
        {"plate=P%4", "plate: bad percent-encoding"},
        {"pl%ate=1", "bad percent-encoding"},
        {"since=2026-12-10&until=2026-12-09", "since: later than until"},
        {"x%0a%1b=1", "\\x0a\\x1b"},  // an error line never carries a client's control bytes
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(FilterFromQueryString(c.query, &error)) << c.query;
        EXPECT_NE(error.find(c.named), std::string::npos) << c.query << " -> " << error;
    }
    EXPECT_FALSE(FilterFromQueryString("limit=x", nullptr));
}

HistoryEntry MoveOf(std::string barcode) {
    HistoryEntry entry;
    entry.Time = At("2026-12-09T10:00:00.123Z");
    entry.Server = "ws1:/labs/a/DriverConfig.lni";
    entry.Interface = "text";
    entry.Client = "127.0.0.1:50412";
    entry.UnitId = "Base1";
    entry.Command = "KRB2ServiceMovePlate";
    entry.Arguments = "Base1,3,1,Ext1,2,1";
    entry.Reply = "1";
    entry.DurationUs = 1500;
    entry.Change =
        EntryChange{3, 3, 1, RecordState{true, std::move(barcode), "assay"}, RecordState{}, "move"};
    return entry;
}

TEST(HistoryJson, WritesEveryFieldAndNullForACommandAlone) {
    auto command = MoveOf("P0003");
    command.Change.reset();
    EXPECT_EQ(
        EntriesJson({MoveOf("P0003"), command}),
        R"({"entries":[{"time":"2026-12-09T10:00:00.123Z","server":"ws1:/labs/a/DriverConfig.lni",)"
        R"("interface":"text","client":"127.0.0.1:50412","unit":"Base1",)"
        R"("command":"KRB2ServiceMovePlate","arguments":"Base1,3,1,Ext1,2,1","reply":"1",)"
        R"("durationUs":1500,"change":{"slotNo":3,"cassette":3,"level":1,)"
        R"("before":{"present":true,"barcode":"P0003","name":"assay"},)"
        R"("after":{"present":false,"barcode":"","name":""},"cause":"move"}},)"
        R"({"time":"2026-12-09T10:00:00.123Z","server":"ws1:/labs/a/DriverConfig.lni",)"
        R"("interface":"text","client":"127.0.0.1:50412","unit":"Base1",)"
        R"("command":"KRB2ServiceMovePlate","arguments":"Base1,3,1,Ext1,2,1","reply":"1",)"
        R"("durationUs":1500,"change":null}]})");
    EXPECT_EQ(EntriesJson({}), R"({"entries":[]})");
}

TEST(HistoryJson, EscapesWhatWouldBreakTheDocumentOrAPage) {
    const struct {
        std::string barcode;
        std::string written;
    } cases[] = {
        {"say \"hi\"\\", R"("say \"hi\"\\")"},
        {"a\r\nb\tc", R"("a\r\nb\tc")"},
        {std::string("nul\0bel\x07", 8), R"("nul\u0000bel\u0007")"},
        {"</script><b>&amp;", R"("\u003c/script\u003e\u003cb\u003e\u0026amp;")"},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},           // UTF-8 stays as it is
        {"caf\xe9", R"("caf\u00e9")"},                // a Latin-1 byte becomes its character
        {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},  // no surrogates
    };
    for (const auto& c : cases) {
        const auto json = EntriesJson({MoveOf(c.barcode)});
        EXPECT_NE(json.find("\"barcode\":" + c.written), std::string::npos) << json;
    }
}

TEST(HistoryTable, AlignsColumnsAndShowsTheChange) {
    auto command = MoveOf("");
    command.Change.reset();
    command.Client = "";
    command.Command = "KRB2Activate";
    command.Arguments = "Base1";
    const auto table = EntriesTable({MoveOf("P0003"), command});
    const auto lines = [&] {
        std::vector<std::string> split;
        std::size_t start = 0;
        for (auto end = table.find('\n'); end != std::string::npos; end = table.find('\n', start)) {
            split.push_back(table.substr(start, end - start));
            start = end + 1;
        }
        return split;
    }();
    ASSERT_EQ(lines.size(), 3u) << table;
    EXPECT_EQ(lines[0].find("TIME (UTC)"), 0u);
    EXPECT_NE(lines[1].find("move slot 3 (3/1): P0003 \"assay\" -> empty"), std::string::npos);
    EXPECT_NE(lines[1].find("1.500"), std::string::npos);
    EXPECT_EQ(lines[1].find("KRB2ServiceMovePlate"), lines[0].find("COMMAND"));
    EXPECT_EQ(lines[2].find("KRB2Activate"), lines[0].find("COMMAND"));
    EXPECT_EQ(lines[1].find("ws1:"), lines[0].find("SERVER"));
    EXPECT_EQ(EntriesTable({}), "No entries.\n");
}

TEST(HistoryTable, ShowsControlBytesInsteadOfSendingThemToTheTerminal) {
    auto entry = MoveOf("P\x1b[2J");
    entry.Arguments = "a\rb";
    const auto table = EntriesTable({entry});
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.find('\r'), std::string::npos);
    EXPECT_NE(table.find("P\\x1b[2J"), std::string::npos);
    EXPECT_NE(table.find("a\\x0db"), std::string::npos);
}

}  // namespace
}  // namespace krb::server::history
