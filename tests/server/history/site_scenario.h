#pragma once
// Two servers of a site write into one store; the questions must find what each wrote. The
// same scenario runs on SQLite and on PostgreSQL.
#include <gtest/gtest.h>

#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include "history_events.h"

namespace krb::server::history::testing {

inline const WriterIdentity kServerA{"ws1:/labs/a/DriverConfig.lni", 77};
// The same run and command numbers as A: only the server tells their rows apart.
inline const WriterIdentity kServerB{"ws2:/labs/b/DriverConfig.lni", 77};

inline void WriteSiteScenario(HistoryStore& a, HistoryStore& b) {
    const auto move = Origin(1, "2026-12-09T10:00:00Z", "10.0.0.7:5000", "Base1",
                             "KRB2ServiceMovePlate", "Base1,3,1,Ext1,2,1");
    const auto activate =
        Origin(2, "2026-12-09T10:05:00Z", "10.0.0.8:6000", "Store1", "KRB2Activate", "Store1");
    a.Write({Change("2026-12-09T10:00:01Z", "Base1", 3, "P0003", "", move),
             Change("2026-12-09T10:00:01.5Z", "Ext1", 2, "", "P0003", move), Command(move, "1"),
             Command(activate, "1"),
             Change("2026-12-09T10:10:00Z", "Store1", 5, "", "P0009", std::nullopt,
                    ChangeCause::Inventory)});
    const auto other = Origin(1, "2026-12-09T11:00:00Z", "10.0.0.9:7000", "Base1",
                              "KRB2ServiceMovePlate", "Base1,4,1,Store1,1,1");
    b.Write({Change("2026-12-09T11:00:01Z", "Base1", 4, "P0042", "", other), Command(other, "-5")});
}

// "time unit what reply server", what being a change "A->B" or a command's name.
inline std::string Describe(const HistoryEntry& entry) {
    const auto time = FormatUtcTime(entry.Time).substr(11, 10);
    const auto what = entry.Change ? entry.Change->Before.Barcode + "->" +
                                         entry.Change->After.Barcode + " by " + entry.Command
                                   : entry.Command;
    return time + " " + entry.UnitId + " " + what + " [" + entry.Reply + "] " +
           entry.Server.substr(0, 3);
}

inline void ExpectSiteAnswers(HistoryReader& reader) {
    const struct {
        const char* query;
        std::vector<std::string> answer;
    } cases[] = {
        {"plate=P0003",
         {"10:00:01.0 Base1 P0003-> by KRB2ServiceMovePlate [1] ws1",
          "10:00:01.5 Ext1 ->P0003 by KRB2ServiceMovePlate [1] ws1"}},
        {"plate=P0042", {"11:00:01.0 Base1 P0042-> by KRB2ServiceMovePlate [-5] ws2"}},
        {"plate=P0009", {"10:10:00.0 Store1 ->P0009 by  [] ws1"}},
        {"plate=P9999", {}},
        {"unit=Base1",
         {"10:00:00.0 Base1 KRB2ServiceMovePlate [1] ws1",
          "10:00:01.0 Base1 P0003-> by KRB2ServiceMovePlate [1] ws1",
          "11:00:00.0 Base1 KRB2ServiceMovePlate [-5] ws2",
          "11:00:01.0 Base1 P0042-> by KRB2ServiceMovePlate [-5] ws2"}},
        {"unit=Base1&plate=P0042", {"11:00:01.0 Base1 P0042-> by KRB2ServiceMovePlate [-5] ws2"}},
        {"client=10.0.0.8", {"10:05:00.0 Store1 KRB2Activate [1] ws1"}},
        {"client=10.0.0.7:5000",
         {"10:00:00.0 Base1 KRB2ServiceMovePlate [1] ws1",
          "10:00:01.0 Base1 P0003-> by KRB2ServiceMovePlate [1] ws1",
          "10:00:01.5 Ext1 ->P0003 by KRB2ServiceMovePlate [1] ws1"}},
        {"client=10.0.0.7:5001", {}},
        {"client=10.0.0", {}},
        {"since=2026-12-09T10:05:00Z&until=2026-12-09T10:10:00Z",
         {"10:05:00.0 Store1 KRB2Activate [1] ws1", "10:10:00.0 Store1 ->P0009 by  [] ws1"}},
        {"limit=2",
         {"11:00:00.0 Base1 KRB2ServiceMovePlate [-5] ws2",
          "11:00:01.0 Base1 P0042-> by KRB2ServiceMovePlate [-5] ws2"}},
        {"",
         {"10:00:00.0 Base1 KRB2ServiceMovePlate [1] ws1",
          "10:00:01.0 Base1 P0003-> by KRB2ServiceMovePlate [1] ws1",
          "10:00:01.5 Ext1 ->P0003 by KRB2ServiceMovePlate [1] ws1",
          "10:05:00.0 Store1 KRB2Activate [1] ws1", "10:10:00.0 Store1 ->P0009 by  [] ws1",
          "11:00:00.0 Base1 KRB2ServiceMovePlate [-5] ws2",
          "11:00:01.0 Base1 P0042-> by KRB2ServiceMovePlate [-5] ws2"}},
    };
    for (const auto& c : cases) {
        const auto filter = FilterFromQueryString(c.query, nullptr);
        ASSERT_TRUE(filter) << c.query;
        std::vector<std::string> answer;
        for (const auto& entry : reader.Entries(*filter)) answer.push_back(Describe(entry));
        EXPECT_EQ(answer, c.answer) << c.query;
    }
}

// Every field of one entry survives the store.
inline void ExpectWholeEntry(HistoryReader& reader) {
    const auto entries = reader.Entries(*FilterFromQueryString("plate=P0003", nullptr));
    ASSERT_EQ(entries.size(), 2u);
    const auto& entry = entries[0];
    EXPECT_EQ(entry.Time, At("2026-12-09T10:00:01Z"));
    EXPECT_EQ(entry.Server, kServerA.Server);
    EXPECT_EQ(entry.Interface, "text");
    EXPECT_EQ(entry.Client, "10.0.0.7:5000");
    EXPECT_EQ(entry.Arguments, "Base1,3,1,Ext1,2,1");
    EXPECT_EQ(entry.DurationUs, 1500);
    ASSERT_TRUE(entry.Change);
    EXPECT_EQ(entry.Change->SlotNo, 3);
    EXPECT_EQ(entry.Change->Cassette, 3);
    EXPECT_EQ(entry.Change->Level, 1);
    EXPECT_EQ(entry.Change->Before, (RecordState{true, "P0003", "assay P0003"}));
    EXPECT_EQ(entry.Change->After, RecordState{});
    EXPECT_EQ(entry.Change->Cause, "move");
}

}  // namespace krb::server::history::testing
