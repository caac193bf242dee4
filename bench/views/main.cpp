// Time per tree view ("GET /PlateExp/DrawTree") of a generated lab over loopback TCP, from
// the request to the document's last byte, at 10,000 and 100,000 locations: after every
// unit's contents file changed (each unit written anew), after one unit's changed, and with
// nothing changed since the last request; the figures at 100,000 against the 100 ms target,
// and the growth between the two sizes against linear; then 100,000 locations again with its
// twenty units activated, so that every unit is polled for door and error state while the
// views are built (time scale 1).
// With "--dump DIR" it only writes what a client receives for each view of the 100,000
// location lab into DIR, so that two builds can be compared byte for byte.
// Last, the memory the process still holds after all those views against its peak.
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KRB_lib.h"
#include "protocol/ServerCore.h"
#include "support/emulated_lab.h"
#include "support/running_server.h"
#include "support/tcp_client.h"
#include "views/LabViews.h"

namespace {

using krb::test_support::ConnectLoopback;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kCassettes = 50;  // per unit
constexpr int kLevels = 100;
constexpr int kLocationsPerUnit = kCassettes * kLevels;
constexpr int kSectors = 5;
constexpr double kTargetMs = 100.0;
constexpr std::string_view kDocumentEnd = "</MyLabPlate>\r\n\r\n";

// One contents line; every third location holds a plate with a barcode and dates. A few
// carry text that must be escaped, other date forms, or no integer level (left out).
// `round` changes the text of the first line, so that a file can be changed between requests.
std::string ContentsLine(int slot, int cassette, int level, int round = 0) {
    const bool present = slot % 3 == 0;
    const std::string number = std::to_string(slot);
    if (slot % 997 == 0) return number + "," + std::to_string(cassette) + ",x,0,,,,,,\r\n";
    std::string line = number + "," + std::to_string(cassette) + "," + std::to_string(level) + ",";
    if (slot % 101 == 0) {
        line += "1,B<" + number + ">,R&D \xE9tag\xC3\xA8re " + number +
                ",S1,2021-03-04T05:06:07,12/24/2021 1:02 PM,junk";
    } else if (present) {
        line += "1,BC" + number + ",Plate " + number + ",S" +
                std::to_string((cassette - 1) / (kCassettes / kSectors) + 1) +
                ",01.02.2020 10:30:00,01.02.2020 09:15:00,";
    } else {
        line += "0,,Location " + number +
                (slot == 1 && round > 0 ? " " + std::to_string(round) : "") + ",,,,";
    }
    return line + "\r\n";
}

// Units of 50 cassettes x 100 levels in 5 sectors, each with an emulated controller
// (controller ports 1..99).
class GeneratedLab {
  public:
    GeneratedLab(int locations, int firstCom)
        : lab_("krb_bench_views_" + std::to_string(locations)),
          units_(locations / kLocationsPerUnit) {
        for (int u = 0; u < units_; ++u) {
            const std::string id = "U" + std::to_string(u + 1);
            lab_.AddUnit(
                firstCom + u, id,
                "[Contents]\r\nFileName=" + id +
                    ".csv\r\n[Options]\r\nXFerStation=1\r\n[CassettesConfiguration]\r\n1-" +
                    std::to_string(kCassettes) + "=" + std::to_string(kLevels) +
                    ",25,1\r\n[Partitions]\r\n" + Partitions());
            lab_.WriteFile(ContentsPath(u), Contents(0));
        }
        config_ = lab_.WriteConfiguration();
    }
    // Writes the first `units` contents files anew with a different first line.
    void ChangeContents(int units) {
        ++round_;
        for (int u = 0; u < units; ++u) lab_.WriteFile(ContentsPath(u), Contents(round_));
    }
    const std::string& Config() const { return config_; }
    int Units() const { return units_; }
    // Relays that let each controller's initialisation succeed at once.
    void MakeReady() {
        for (int u = 0; u < units_; ++u) {
            for (int relay : {6500, 6501, 6502, 6503, 6504, 6505, 1915, 1811}) {
                lab_.Controller(u).registers().setRelay(relay, true);
            }
        }
    }

  private:
    static std::string Partitions() {
        std::string partitions;
        const int perSector = kCassettes / kSectors;
        for (int s = 0; s < kSectors; ++s) {
            partitions += "S" + std::to_string(s + 1) + "=" + std::to_string(s * perSector + 1) +
                          ".." + std::to_string((s + 1) * perSector) + "\r\n";
        }
        return partitions;
    }
    static std::string ContentsPath(int unit) {
        return "lab/System1/U" + std::to_string(unit + 1) + ".csv";
    }
    static std::string Contents(int round) {
        std::string contents;
        int slot = 0;
        for (int c = 1; c <= kCassettes; ++c) {
            for (int l = 1; l <= kLevels; ++l) contents += ContentsLine(++slot, c, l, round);
        }
        return contents;
    }

    krb::test_support::EmulatedLab lab_;
    int units_;
    int round_ = 0;
    std::string config_;
};

// "KRB2Activate" for every unit at once; the number of units that answered "1".
int ActivateAll(int port, int units) {
    std::atomic<int> activated{0};
    std::vector<std::thread> clients;
    for (int u = 0; u < units; ++u) {
        clients.emplace_back([&, u] {
            const int fd = ConnectLoopback(port);
            if (fd < 0) return;
            const std::string command = "KRB2Activate(U" + std::to_string(u + 1) + ")\r";
            char reply[64] = {};
            if (krb::test_support::SendAll(fd, command) &&
                ::recv(fd, reply, sizeof reply - 1, 0) > 0 && reply[0] == '1') {
                ++activated;
            }
            ::close(fd);
        });
    }
    for (auto& client : clients) client.join();
    return activated;
}

// Milliseconds from the request to the document's last byte; negative on failure.
double TimeTreeRequest(int port, std::size_t& bytes) {
    const int fd = ConnectLoopback(port, {.noDelay = true});
    if (fd < 0) return -1;
    const std::string request = "GET /PlateExp/DrawTree HTTP/1.1\r\nHost: bench\r\n\r\n";
    const auto start = Clock::now();
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return -1;
    }
    // The reader keeps only the tail it needs to see the end, as a streaming parser would.
    std::vector<char> buffer(1 << 20);
    std::string tail;
    bytes = 0;
    while (!std::string_view(tail).ends_with(kDocumentEnd)) {
        const auto n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        bytes += static_cast<std::size_t>(n);
        const std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
        tail.append(chunk.substr(chunk.size() - std::min(chunk.size(), kDocumentEnd.size())));
        if (tail.size() > kDocumentEnd.size()) tail.erase(0, tail.size() - kDocumentEnd.size());
    }
    const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    ::close(fd);
    return std::string_view(tail).ends_with(kDocumentEnd) ? elapsed : -1;
}

double ThreadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Medians over the repeats.
struct Figures {
    double unchangedMs = -1;   // request, no contents file changed since the last one
    double oneChangedMs = -1;  // request after one unit's contents file changed
    double allChangedMs = -1;  // request after every contents file changed
    double buildMs = -1;       // a first build of the document alone, without the network
    double buildCpuMs = -1;    // CPU time of that build (the machine may be shared)
    std::size_t bytes = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median of `repeats` requests, each after `prepare`; negative on failure.
template <class Prepare>
double MedianRequest(int port, int repeats, std::size_t& bytes, Prepare prepare) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        prepare();
        const double ms = TimeTreeRequest(port, bytes);
        if (ms < 0) return -1;
        times.push_back(ms);
    }
    return Median(times);
}

Figures Measure(int locations, int firstCom, int repeats, bool polled = false) {
    GeneratedLab lab(locations, firstCom);
    krb::test_support::RunningServer server;
    server.Start(lab.Config());
    auto& core = server.Core();
    const int port = server.Port();
    if (polled) {
        lab.MakeReady();
        const int activated = ActivateAll(port, lab.Units());
        std::printf("%d of %d units activated and polled\n", activated, lab.Units());
    }
    Figures figures;
    figures.allChangedMs =
        MedianRequest(port, repeats, figures.bytes, [&] { lab.ChangeContents(lab.Units()); });
    figures.oneChangedMs =
        MedianRequest(port, repeats, figures.bytes, [&] { lab.ChangeContents(1); });
    figures.unchangedMs = MedianRequest(port, repeats, figures.bytes, [] {});
    std::vector<double> builds, buildCpu;
    for (int i = 0; i < repeats; ++i) {
        core.Invoke([&] {
            const krb::server::TLabViews views(core.Manager().Lab(), {});
            const auto start = Clock::now();
            const double cpuStart = ThreadCpuMs();
            const auto document = views.TreeViewPieces();
            buildCpu.push_back(ThreadCpuMs() - cpuStart);
            builds.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        });
    }
    server.Stop();
    figures.buildMs = Median(builds);
    figures.buildCpuMs = Median(buildCpu);
    return figures;
}

// Every view form of the 100,000 location lab, as received over TCP, one file each.
int DumpViews(const fs::path& folder) {
    GeneratedLab lab(100'000, 1);
    krb::test_support::RunningServer server;
    server.Start(lab.Config());
    const std::vector<std::pair<std::string, std::string>> requests{
        {"tree", "GET /PlateExp/DrawTree HTTP/1.1\r\n\r\n"},
        {"lab", "GET /PlateExp/DrawLab HTTP/1.1\r\n\r\n"},
        {"system", "GET /PlateExp/DrawSys?id=1 HTTP/1.1\r\n\r\n"},
        {"unit", "GET /PlateExp/DrawUnit?id=U3 HTTP/1.1\r\n\r\n"},
        {"sector", "GET /PlateExp/DrawSector?unitid=U3&id=S2 HTTP/1.1\r\n\r\n"},
        {"cassette", "GET /PlateExp/DrawCassette?unitid=U3&id=17 HTTP/1.1\r\n\r\n"},
        {"content", "GET /PlateExp/UnitContent?id=U20 HTTP/1.1\r\n\r\n"},
        {"plate", "GET /PlateExp/DrawPlate?unitid=U7&id=1200 HTTP/1.1\r\n\r\n"},
    };
    fs::create_directories(folder);
    for (const auto& [name, request] : requests) {
        krb::test_support::TestClient client(server.Port());
        client.Send(request);
        std::ofstream(folder / (name + ".txt"), std::ios::binary) << client.ReadToEnd();
    }
    server.Stop();
    std::printf("views written to %s\n", folder.c_str());
    return 0;
}

void Print(int locations, const Figures& figures) {
    std::printf(
        "%7d locations, ms per request: %6.1f unchanged, %6.1f after one unit's contents "
        "changed, %6.1f after every unit's (document %4.1f MB; a first build %6.1f ms, %6.1f ms "
        "CPU)\n",
        locations, figures.unchangedMs, figures.oneChangedMs, figures.allChangedMs,
        static_cast<double>(figures.bytes) / 1e6, figures.buildMs, figures.buildCpuMs);
}

void PrintAgainstTarget(const char* what, const Figures& figures) {
    std::printf(
        "tree view at 100,000 locations%s / target %.0f ms: %.2f unchanged, %.2f one unit "
        "changed, %.2f every unit changed (at most 1.00)\n",
        what, kTargetMs, figures.unchangedMs / kTargetMs, figures.oneChangedMs / kTargetMs,
        figures.allChangedMs / kTargetMs);
}

// What the allocator keeps after the views: free heap held for reuse, and resident memory now
// against its peak (a spike that is never given back keeps the two equal).
void PrintKeptMemory() {
    const struct mallinfo2 heap = ::mallinfo2();
    const auto mib = [](double bytes) { return bytes / (1024.0 * 1024.0); };
    std::printf("free heap kept after the views: %.1f MiB (of it at the heap's top: %.1f MiB)\n",
                mib(static_cast<double>(heap.fordblks)), mib(static_cast<double>(heap.keepcost)));
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:") || line.starts_with("VmHWM:")) {
            std::printf("%s\n", line.c_str());
        }
    }
}

bool Complete(const Figures& figures) {
    return figures.unchangedMs > 0 && figures.oneChangedMs > 0 && figures.allChangedMs > 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--dump") return DumpViews(argv[2]);
    krb::server::KeepLargeViewBuffersInTheHeap();  // as KRBServer does
    double load[1] = {0};
    if (::getloadavg(load, 1) == 1) {
        std::printf("load average %.2f on %u cores (other work slows the wall-clock figures)\n",
                    load[0], std::thread::hardware_concurrency());
    }
    const Figures small = Measure(10'000, 1, 9);
    Print(10'000, small);
    const Figures large = Measure(100'000, 21, 5);
    Print(100'000, large);
    if (!Complete(small) || !Complete(large)) {
        std::printf("error: a tree view did not arrive\n");
        return 1;
    }
    PrintAgainstTarget("", large);
    std::printf("a first build at 100,000 locations, CPU time / target = %.2f\n",
                large.buildCpuMs / kTargetMs);
    const double growth = large.allChangedMs / small.allChangedMs;
    std::printf(
        "growth 10,000 -> 100,000 locations, every unit changed = %.2f x; per location %.2f of "
        "linear (1.00 is linear)\n",
        growth, growth / 10.0);
    const Figures polled = Measure(100'000, 41, 5, true);
    Print(100'000, polled);
    if (!Complete(polled)) {
        std::printf("error: a tree view did not arrive\n");
        return 1;
    }
    PrintAgainstTarget(", units polled", polled);
    std::printf("polled / unpolled, every unit changed = %.2f\n",
                polled.allChangedMs / large.allChangedMs);
    PrintKeptMemory();
    return 0;
}
