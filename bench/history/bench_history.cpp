// Records per second the trail writes to its SQLite file, against the 5,000 it must reach.
// The producer hands events as fast as the queue takes them; the figure is from the first
// event to the last one committed.
//   bench_history [postgresql://...]   (with an address: the same into that database)
#include <chrono>
#include <cstdio>
#include <thread>

#include "history/AuditTrail.h"
#include "history/PostgresStore.h"
#include "history/SqliteStore.h"
#include "support/temp_dir.h"

using namespace krb::server::history;

namespace {

constexpr double kFloor = 5000;
constexpr std::uint64_t kRecords = 200000;

CommandOrigin MoveOrigin(std::uint64_t id) {
    return CommandOrigin{id,      Clock::now(),           Interface::Text,     "10.0.0.7:50412",
                         "Base1", "KRB2ServiceMovePlate", "Base1,3,1,Ext1,2,1"};
}

// A move: the source and target records change, then the command ends.
void HandMove(AuditTrail& trail, std::uint64_t id) {
    const auto origin = MoveOrigin(id);
    const std::string barcode = "P" + std::to_string(id);
    trail.Record(RecordChange{
        Clock::now(), "Base1", 3, 3, 1, {true, barcode, "assay"}, {}, ChangeCause::Move, origin});
    trail.Record(RecordChange{
        Clock::now(), "Ext1", 2, 2, 1, {}, {true, barcode, "assay"}, ChangeCause::Move, origin});
    trail.Record(CommandEvent{origin, "1", std::chrono::microseconds{1500}});
}

}  // namespace

int main(int argc, char** argv) {
    krb::test_support::TempDir dir("krb-bench-history");
    const auto path = dir.file("History.sqlite");
    const WriterIdentity writer{"bench:/lab", Clock::now().time_since_epoch().count()};
    const std::string uri = argc > 1 ? argv[1] : "";
    std::unique_ptr<HistoryStore> store;
    if (uri.empty()) {
        store = std::make_unique<SqliteStore>(path, writer);
    } else {
        store = std::make_unique<PostgresStore>(uri, writer);
    }
    AuditTrail trail(std::move(store), AuditTrail::Options{},
                     [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t handed = 0;
    for (std::uint64_t id = 1; handed < kRecords; ++id) {
        while (trail.Pending() + 3 > AuditTrail::Options{}.QueueSize) std::this_thread::yield();
        HandMove(trail, id);
        handed += 3;
    }
    while (trail.Written() < handed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    trail.Stop();
    const double rate = static_cast<double>(trail.Written()) / seconds;
    std::printf("trail to %s: %llu records in %.2f s = %.0f records/s\n",
                uri.empty() ? "SQLite (WAL)" : "PostgreSQL",
                static_cast<unsigned long long>(trail.Written()), seconds, rate);
    std::printf("floor %.0f records/s: ratio %.1f (%s); lost %llu\n", kFloor, rate / kFloor,
                rate >= kFloor ? "met" : "NOT met", static_cast<unsigned long long>(trail.Lost()));
    return rate >= kFloor && trail.Lost() == 0 ? 0 : 1;
}
