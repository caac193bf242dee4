// A lab of twenty emulated units behind one server, at time scale 1 unless KRB_TIME_SCALE says
// otherwise:
//  - units in parallel: 1, 5 and 20 units, each doing ten KRB2ReadReadyFlag from a client of its
//    own at once; the wall time of 20 units against that of one (floor: at most 1.1);
//  - polling at lab scale: twenty activated units, one service listener and 50 clients sending
//    cheap commands (half to an unknown unit, answered "E2"): door and error polls completed
//    per unit per minute against the 30 of the period (floor 29), the "E2" reply p99 (at most
//    10 ms) and the delay from a door opening on the controller to the listener's line (at
//    most 2.6 s);
//  - the same with a command the audit trail records (KRB2DefineSector, kept in the library's
//    memory) in place of the unit clients' read, with the trail off and then on: the "E2" p99
//    should not move beyond the noise between the runs.
//
//   bench_lab [seconds]   (length of the polling phase; default 40)
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/LabServer.h"
#include "common/bench_trail.h"
#include "lab/Unit.h"
#include "platform/clock.h"
#include "support/emulated_lab.h"
#include "support/tcp_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using krb::test_support::ConnectLoopback;
using krb::test_support::SendAll;

constexpr int kUnits = 20;
constexpr int kFirstCom = 30;
constexpr int kReadsPerUnit = 10;
constexpr int kClients = 50;
constexpr int kDoorRelay = 1811;  // "1": closed
constexpr double kParallelCeiling = 1.1;
constexpr double kPollsFloor = 29;
constexpr double kE2P99CeilingMs = 10;
constexpr double kDoorDelayCeilingMs = 2600;

std::string UnitName(int index) { return "U" + std::to_string(index + 1); }

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// A blocking loopback client that reads whole lines.
class LineClient {
  public:
    explicit LineClient(int port) : fd_(ConnectLoopback(port, {.noDelay = true})) {}
    ~LineClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    bool Send(const std::string& text) { return fd_ >= 0 && SendAll(fd_, text); }
    // The next line with its CR LF; nullopt when none came within `waitMs` or the server closed.
    std::optional<std::string> ReadLine(int waitMs = 30000) {
        for (;;) {
            const auto end = pending_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = pending_.substr(0, end + 2);
                pending_.erase(0, end + 2);
                return line;
            }
            pollfd ready{fd_, POLLIN, 0};
            if (fd_ < 0 || ::poll(&ready, 1, waitMs) <= 0) return std::nullopt;
            char buffer[4096];
            const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return std::nullopt;
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    std::optional<std::string> Exchange(const std::string& command) {
        if (!Send(command)) return std::nullopt;
        return ReadLine();
    }

  private:
    int fd_;
    std::string pending_;
};

template <class Body>
void OnThreads(int count, Body body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back(body, i);
    for (auto& thread : threads) thread.join();
}

// --- the lab -----------------------------------------------------------------------------------

class Lab {
  public:
    Lab() : lab_("krb_bench_lab") {
        for (int i = 0; i < kUnits; ++i) {
            lab_.AddUnit(kFirstCom + i, UnitName(i),
                         "[Contents]\r\nFileName=" + UnitName(i) +
                             ".txt\r\n[CassettesConfiguration]\r\n1-10=10,25,1\r\n");
            // Relays that let the controller's initialisation succeed at once.
            for (int relay : {6500, 6501, 6502, 6503, 6504, 6505, 1915, 1811}) {
                lab_.Controller(i).registers().setRelay(relay, true);
            }
        }
        const std::string config = lab_.WriteConfiguration();
        krb::bench::TurnOffTheServersTrail(config);
        loop_ = std::thread([this] { core_.Run(); });
        core_.Invoke([&] { return core_.FormShow({config, "start"}); });
        port_ = core_.State().LocalPort;
    }
    ~Lab() {
        core_.Quit();
        loop_.join();
    }
    int Port() const { return port_; }
    krb::sim::ControllerEmulator& Controller(int index) { return lab_.Controller(index); }

    bool ActivateAll() {
        std::atomic<int> activated{0};
        OnThreads(kUnits, [&](int i) {
            LineClient client(port_);
            const auto reply = client.Exchange("KRB2Activate(" + UnitName(i) + ")\r");
            if (reply && reply->starts_with("1")) ++activated;
        });
        return activated == kUnits;
    }
    // Door and error polls run for activated units only; the server's flag alone is cleared,
    // the library's link stays open.
    void PollDoorsAndErrors(bool on) {
        core_.Invoke([&] {
            for (auto* unit : core_.TcpBrowser().Units()) unit->Activated = on;
            return 0;
        });
    }

  private:
    krb::test_support::EmulatedLab lab_;
    krb::server::LabServer core_;
    std::thread loop_;
    int port_ = -1;
};

// --- units in parallel ---------------------------------------------------------------------------

// The door and error poll's two queries on a controller line.
bool IsDoorOrErrorQuery(const std::string& line) { return line == "RD 1811" || line == "RD 1814"; }

// Every unit's door and error poll starts on the same timer tick. Waiting for the end of one
// (its error flag query) before each run gives every run the same place in the polling
// period, so that runs of different lengths meet the same number of polls; without polls it
// returns after one period.
void WaitForTheEndOfAPoll(Lab& lab) {
    const auto since = Clock::now();
    while (Clock::now() - since < std::chrono::milliseconds(2500)) {
        const auto transcript = lab.Controller(0).transcript();
        const bool seen = std::any_of(
            transcript.rbegin(), transcript.rend(),
            [&](const auto& entry) { return entry.time > since && entry.line == "RD 1814"; });
        if (seen) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct ParallelRun {
    double wallMs = -1;        // -1 when a read failed
    double longestReadMs = 0;  // the slowest single read
    int mostPollQueries = 0;   // door and error queries on the busiest of the units' lines
};

// `units` units each doing kReadsPerUnit ready-flag reads, one after the other, on a client
// of its own.
ParallelRun ReadsInParallel(Lab& lab, int units) {
    std::atomic<bool> failed{false};
    std::mutex longestMutex;
    ParallelRun run;
    const auto begin = Clock::now();
    OnThreads(units, [&](int i) {
        LineClient client(lab.Port());
        for (int read = 0; read < kReadsPerUnit; ++read) {
            const auto sent = Clock::now();
            const auto reply = client.Exchange("KRB2ReadReadyFlag(" + UnitName(i) + ")\r");
            if (!reply || *reply != "1\r\n") failed = true;
            std::lock_guard lock(longestMutex);
            run.longestReadMs = std::max(run.longestReadMs, Ms(Clock::now() - sent));
        }
    });
    const auto end = Clock::now();
    if (!failed) run.wallMs = Ms(end - begin);
    for (int i = 0; i < units; ++i) {
        int queries = 0;
        for (const auto& entry : lab.Controller(i).transcript()) {
            if (entry.time >= begin && entry.time <= end && IsDoorOrErrorQuery(entry.line))
                ++queries;
        }
        run.mostPollQueries = std::max(run.mostPollQueries, queries);
    }
    return run;
}

void MeasureUnitsInParallel(Lab& lab, const char* condition) {
    std::printf("ten KRB2ReadReadyFlag per unit, %s, each run started as a poll ends:\n",
                condition);
    double oneUnit = 0;
    double twentyUnits = 0;
    for (int units : {1, 5, 20}) {
        WaitForTheEndOfAPoll(lab);
        const auto run = ReadsInParallel(lab, units);
        std::printf(
            "  %2d units: %8.1f ms, slowest read %6.1f ms, door and error queries on the busiest "
            "line: %d%s\n",
            units, run.wallMs, run.longestReadMs, run.mostPollQueries,
            run.wallMs < 0 ? "  (a read failed)" : "");
        if (units == 1) oneUnit = run.wallMs;
        if (units == 20) twentyUnits = run.wallMs;
    }
    if (oneUnit > 0 && twentyUnits > 0) {
        std::printf("  wall(20) / wall(1) = %.3f (ceiling %.1f)\n", twentyUnits / oneUnit,
                    kParallelCeiling);
    }
}

// --- polling at lab scale ------------------------------------------------------------------------

// The listener's lines with their arrival times, read on a thread of their own.
class ListenerLines {
  public:
    explicit ListenerLines(int port) : client_(port) {
        client_.Send("KRBServiceSocket\r\n");
        reader_ = std::thread([this] {
            while (!stop_) {
                auto line = client_.ReadLine(100);
                if (!line) continue;
                std::lock_guard lock(mutex_);
                lines_.push_back({Clock::now(), std::move(*line)});
                arrived_.notify_all();
            }
        });
    }
    ~ListenerLines() {
        stop_ = true;
        reader_.join();
    }
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }
    // When `line` arrived after `since`; nullopt when it did not within `waitMs`.
    std::optional<Clock::time_point> WaitFor(const std::string& line, Clock::time_point since,
                                             int waitMs) {
        std::unique_lock lock(mutex_);
        std::optional<Clock::time_point> arrival;
        arrived_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] {
            for (const auto& entry : lines_) {
                if (entry.time >= since && entry.text == line) arrival = entry.time;
            }
            return arrival.has_value();
        });
        return arrival;
    }

  private:
    struct Entry {
        Clock::time_point time;
        std::string text;
    };
    LineClient client_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Entry> lines_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

struct CheapCommandFigures {
    std::vector<double> e2Ms;
    std::vector<double> unitMs;
    std::atomic<int> wrongReplies{0};
};

// "KRB2IsOperationRunning(" or another command that takes the unit ID and `rest`.
struct UnitCommand {
    std::string Name = "KRB2IsOperationRunning";
    std::string Rest;
};

// Even clients address an unknown unit ("E2" from the loop), odd ones a unit (a worker).
void SendCheapCommands(int port, const std::atomic<bool>& stop, CheapCommandFigures& figures,
                       const UnitCommand& unitCommand) {
    std::vector<std::vector<double>> e2(kClients);
    std::vector<std::vector<double>> unit(kClients);
    OnThreads(kClients, [&](int c) {
        LineClient client(port);
        const bool unknown = c % 2 == 0;
        const std::string command =
            unknown ? "KRB2IsOperationRunning(NoSuchUnit)\r"
                    : unitCommand.Name + "(" + UnitName(c % kUnits) + unitCommand.Rest + ")\r";
        while (!stop) {
            const auto begin = Clock::now();
            const auto reply = client.Exchange(command);
            if (!reply) break;
            if (unknown && *reply != "E2\r\n") ++figures.wrongReplies;
            (unknown ? e2 : unit)[c].push_back(Ms(Clock::now() - begin));
        }
    });
    for (int c = 0; c < kClients; ++c) {
        figures.e2Ms.insert(figures.e2Ms.end(), e2[c].begin(), e2[c].end());
        figures.unitMs.insert(figures.unitMs.end(), unit[c].begin(), unit[c].end());
    }
}

std::vector<double> OpenDoorsOneAfterAnother(Lab& lab, ListenerLines& listener,
                                             std::chrono::seconds length) {
    std::vector<double> delaysMs;
    const auto end = Clock::now() + length;
    for (int i = 0; Clock::now() + std::chrono::seconds(3) < end; ++i) {
        const int unit = (i * 7) % kUnits;  // any phase of the units' polls
        auto& relays = lab.Controller(unit).registers();
        const auto opened = Clock::now();
        relays.setRelay(kDoorRelay, false);
        const auto arrival =
            listener.WaitFor("I_DoorOpened(" + UnitName(unit) + ")\r\n", opened, 10000);
        delaysMs.push_back(arrival ? Ms(*arrival - opened) : -1);
        relays.setRelay(kDoorRelay, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(700 + 97 * (i % 5)));
    }
    return delaysMs;
}

struct PollCounts {
    std::vector<double> perMinute;  // door and error polls completed, per unit
    int resent = 0;                 // queries the library sent again after a late reply
};

PollCounts CountDoorAndErrorPolls(Lab& lab, Clock::time_point from, Clock::time_point to) {
    PollCounts counts;
    const double minutes = Ms(to - from) / 60000.0;
    for (int i = 0; i < kUnits; ++i) {
        int polls = 0;  // the error flag is the second query of each door and error poll
        std::string previous;
        for (const auto& entry : lab.Controller(i).transcript()) {
            if (entry.time < from || entry.time >= to) continue;
            if (entry.line == "RD 1814" && previous != entry.line) ++polls;
            if (entry.line.starts_with("RD ") && entry.line == previous) ++counts.resent;
            previous = entry.line;
        }
        counts.perMinute.push_back(polls / minutes);
    }
    return counts;
}

void MeasurePolling(Lab& lab, std::chrono::seconds length, const UnitCommand& unitCommand = {}) {
    ListenerLines listener(lab.Port());
    const std::size_t snapshotLines = 4 * kUnits;
    const auto snapshotStart = Clock::now();
    while (listener.Count() < snapshotLines &&
           Clock::now() - snapshotStart < std::chrono::seconds(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("listener snapshot of %d units: %.0f ms\n", kUnits,
                Ms(Clock::now() - snapshotStart));

    std::atomic<bool> stop{false};
    CheapCommandFigures commands;
    std::thread clients([&] { SendCheapCommands(lab.Port(), stop, commands, unitCommand); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto from = Clock::now();
    const auto delays = OpenDoorsOneAfterAnother(lab, listener, length);
    const auto to = Clock::now();
    stop = true;
    clients.join();

    const auto counts = CountDoorAndErrorPolls(lab, from, to);
    const auto& polls = counts.perMinute;
    double sum = 0;
    for (double p : polls) sum += p;
    const double fewest = *std::min_element(polls.begin(), polls.end());
    std::printf(
        "door/error polls per unit per minute over %.1f s: fewest %.1f, mean %.1f "
        "(period: 30, floor %.0f)\n",
        Ms(to - from) / 1000, fewest, sum / kUnits, kPollsFloor);
    std::printf("register reads sent twice (a reply later than the read window): %d\n",
                counts.resent);
    std::printf("\"E2\" replies: %zu, p50 %.2f ms, p99 %.2f ms (ceiling %.0f ms)%s\n",
                commands.e2Ms.size(), Percentile(commands.e2Ms, 0.5),
                Percentile(commands.e2Ms, 0.99), kE2P99CeilingMs,
                commands.wrongReplies > 0 ? "  (some replies were not E2)" : "");
    std::printf("%s replies: %zu, p50 %.2f ms, p99 %.2f ms\n", unitCommand.Name.c_str(),
                commands.unitMs.size(), Percentile(commands.unitMs, 0.5),
                Percentile(commands.unitMs, 0.99));
    const bool lost = std::any_of(delays.begin(), delays.end(), [](double d) { return d < 0; });
    std::printf(
        "door opening to listener, %zu openings: p50 %.0f ms, max %.0f ms (ceiling %.0f ms)%s\n",
        delays.size(), Percentile(delays, 0.5),
        delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end()), kDoorDelayCeilingMs,
        lost ? "  (a line never came)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("KRB_TIME_SCALE")) krb::platform::setTimeScale(1.0);
    const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 40;
    std::printf("time scale %.2f, %d emulated units\n", krb::platform::timeScale(), kUnits);
    Lab lab;
    const auto activation = Clock::now();
    if (!lab.ActivateAll()) {
        std::printf("error: not every unit activated\n");
        return 1;
    }
    std::printf("activation of %d units at once: %.0f ms\n", kUnits, Ms(Clock::now() - activation));

    lab.PollDoorsAndErrors(false);
    MeasureUnitsInParallel(lab, "door and error polls paused");
    lab.PollDoorsAndErrors(true);
    MeasureUnitsInParallel(lab, "door and error polls running");
    MeasurePolling(lab, std::chrono::seconds(seconds));

    const UnitCommand recorded{"KRB2DefineSector", ",1,2,Bench"};
    const auto trailPhase = std::chrono::seconds(std::max(10, seconds / 2));
    std::printf("\n-- trail off, the unit clients send KRB2DefineSector\n");
    MeasurePolling(lab, trailPhase, recorded);
    std::printf("\n-- trail on (SQLite), the same\n");
    krb::bench::BenchTrail trail("krb_bench_lab_trail");
    MeasurePolling(lab, trailPhase, recorded);
    trail.Stop();
    std::printf("trail: %llu events written, %llu lost\n",
                static_cast<unsigned long long>(trail.Written()),
                static_cast<unsigned long long>(trail.Lost()));
    return 0;
}
