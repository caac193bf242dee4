// kill -9 while the trail writes: a child hands a steady stream of record changes to the
// trail and is killed with SIGKILL at a random moment, again and again. After each kill the
// file must open and pass PRAGMA integrity_check, every batch the trail had committed must be
// there, and the records lost (accepted by Record, not in the file) must be at most what was
// pending (accepted, not yet committed) when the child last looked.
//
//   crash_history [--kills N] [--queue N]      (200 kills and the default queue by default)
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "history/AuditTrail.h"
#include "history/SqliteConnection.h"
#include "history/SqliteStore.h"
#include "support/temp_dir.h"

using namespace krb::server::history;

namespace {

// What the child tells its parent, in a file both map; it survives the child's kill.
struct Progress {
    std::atomic<std::int64_t> run;
    std::atomic<std::uint64_t> accepted;   // handed to Record and taken
    std::atomic<std::uint64_t> committed;  // written, as the trail said
    std::atomic<int> ready;
};

Progress* MapProgress(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ftruncate(fd, sizeof(Progress)) != 0) return nullptr;
    void* memory = mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return memory == MAP_FAILED ? nullptr : static_cast<Progress*>(memory);
}

// About 20,000 records a second, in bursts of 20 a millisecond, until killed.
[[noreturn]] void RunChild(const std::string& database, Progress& progress, std::size_t queue) {
    const std::int64_t run = getpid();
    AuditTrail trail(std::make_unique<SqliteStore>(database, WriterIdentity{"crash", run}),
                     AuditTrail::Options{queue, 0}, [](const std::string&) {});
    progress.run = run;
    progress.accepted = 0;
    progress.committed = 0;
    progress.ready = 1;
    std::uint64_t handed = 0;
    while (true) {
        for (int i = 0; i < 20; ++i) {
            ++handed;
            trail.Record(RecordChange{Clock::now(),
                                      "Base1",
                                      int(handed % 99) + 1,
                                      1,
                                      1,
                                      {},
                                      {true, "P" + std::to_string(handed), ""},
                                      ChangeCause::Move,
                                      std::nullopt});
            progress.accepted = handed - trail.Lost();
        }
        progress.committed = trail.Written();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct KillOutcome {
    bool sound = true;
    std::string problem;
    std::uint64_t lost = 0;
    std::uint64_t pending = 0;
};

KillOutcome Check(const std::string& database, const Progress& progress, std::size_t queue) {
    KillOutcome outcome;
    try {
        SqliteConnection connection(database, SqliteConnection::Mode::ReadWrite);
        const auto check = connection.Query("PRAGMA integrity_check");
        if (check.size() != 1 || check[0][0] != "ok") {
            return {false, "integrity_check: " + (check.empty() ? "" : check[0][0]), 0, 0};
        }
        const auto rows =
            std::stoull(connection
                            .Query("SELECT count(*) FROM record_changes WHERE run = $1",
                                   {std::int64_t{progress.run}})
                            .at(0)
                            .at(0));
        const std::uint64_t accepted = progress.accepted;
        const std::uint64_t committed = progress.committed;
        outcome.pending = accepted - committed;
        outcome.lost = accepted > rows ? accepted - rows : 0;
        if (rows < committed) {
            outcome = {false, "committed " + std::to_string(committed) + ", found " +
                                  std::to_string(rows)};
        } else if (rows > accepted + 1) {
            outcome = {false, "found " + std::to_string(rows) + " of " + std::to_string(accepted) +
                                  " accepted"};
        } else if (outcome.lost > outcome.pending || outcome.lost > queue) {
            outcome.sound = false;
            outcome.problem = "lost " + std::to_string(outcome.lost) + " > pending " +
                              std::to_string(outcome.pending);
        }
    } catch (const StoreError& error) {
        return {false, error.what(), 0, 0};
    }
    return outcome;
}

std::size_t Option(int argc, char** argv, const char* name, std::size_t fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::stoul(argv[i + 1]);
    }
    return fallback;
}

std::uint64_t Median(std::vector<std::uint64_t> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t kills = Option(argc, argv, "--kills", 200);
    const std::size_t queue = Option(argc, argv, "--queue", AuditTrail::Options{}.QueueSize);
    krb::test_support::TempDir dir("krb-crash-history");
    const auto database = dir.file("History.sqlite");
    Progress* progress = MapProgress(dir.file("progress"));
    if (!progress) {
        std::perror("progress file");
        return 1;
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> afterReadyMs(20, 300);
    std::vector<std::uint64_t> lost, pending;
    std::size_t failures = 0;
    for (std::size_t kill = 1; kill <= kills; ++kill) {
        progress->ready = 0;
        const pid_t child = fork();
        if (child == 0) RunChild(database, *progress, queue);
        while (!progress->ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(afterReadyMs(random)));
        ::kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const auto outcome = Check(database, *progress, queue);
        if (!outcome.sound) {
            ++failures;
            std::printf("kill %zu: %s\n", kill, outcome.problem.c_str());
        }
        lost.push_back(outcome.lost);
        pending.push_back(outcome.pending);
    }
    std::printf(
        "%zu kills (queue %zu): file sound after %zu; records lost per kill min %llu median %llu "
        "max %llu; pending at the last look median %llu max %llu\n",
        kills, queue, kills - failures,
        static_cast<unsigned long long>(*std::min_element(lost.begin(), lost.end())),
        static_cast<unsigned long long>(Median(lost)),
        static_cast<unsigned long long>(*std::max_element(lost.begin(), lost.end())),
        static_cast<unsigned long long>(Median(pending)),
        static_cast<unsigned long long>(*std::max_element(pending.begin(), pending.end())));
    return failures == 0 ? 0 : 1;
}
