// Latency of service notifications: from a unit's state change to the busy line arriving at
// each of 32 registered listeners, with the server's real 500 ms timer (time scale 1). The
// units answer through a stand-in library: the busy query is a flag, as in KRB_lib; door
// and error queries take a controller exchange's time, once short (10 ms) and once the
// library's own exchange cost (300 ms). Prints p50 and p99 and the ratio of p99 to the
// 600 ms target.
//
//   bench_notifications [changes]   (default 40; each waits a random part of a tick)
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "protocol/ServerCore.h"
#include "support/lab_files.h"
#include "support/running_server.h"
#include "support/tcp_client.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kListeners = 32;
constexpr int kUnits = 4;
constexpr double kTargetP99Ms = 600.0;

// --- stand-in units ----------------------------------------------------------------------------

std::atomic<bool> g_firstUnitBusy{false};
std::atomic<int> g_exchangeMs{0};

const char* Text(const char* value) { return value; }
KRBText Connect(KRBText) { return Text("1"); }
KRBText IsOperationRunning(KRBText id) {
    return Text(std::string(id) == "1" && g_firstUnitBusy ? "1" : "0");
}
KRBText AfterAnExchange(const char* answer) {
    std::this_thread::sleep_for(std::chrono::milliseconds(g_exchangeMs.load()));
    return Text(answer);
}
KRBText ReadUserDoorFlag(KRBText) { return AfterAnExchange("1"); }
KRBText ReadErrorFlag(KRBText) { return AfterAnExchange("0"); }
KRBText ReadErrorCode(KRBText) { return AfterAnExchange("0"); }

krb::server::KRBExports StandInExports() {
    krb::server::KRBExports exports;
    exports.KRBConnect = &Connect;
    exports.KRBIsOperationRunning = &IsOperationRunning;
    exports.KRBReadUserDoorFlag = &ReadUserDoorFlag;
    exports.KRBReadErrorFlag = &ReadErrorFlag;
    exports.KRBReadErrorCode = &ReadErrorCode;
    return exports;
}

std::string WriteLab(const fs::path& root) {
    krb::test_support::LabFiles files(root, "S");
    for (int n = 1; n <= kUnits; ++n) {
        files.AddUnit(n, "U" + std::to_string(n), "[CassettesConfiguration]\r\n1-2=3,25,1\r\n");
    }
    return files.WriteConfiguration();
}

// --- listeners ---------------------------------------------------------------------------------

int ConnectOrThrow(int port) {
    const int fd = krb::test_support::ConnectLoopback(port, {.noDelay = true});
    if (fd < 0) throw std::runtime_error("connect failed");
    return fd;
}

// Reads every listener; records when each one receives a line for the first unit.
class Arrivals {
  public:
    explicit Arrivals(const std::vector<int>& fds) : fds_(fds), seen_(fds.size()) {
        reader_ = std::thread([this] { Read(); });
    }
    ~Arrivals() {
        stop_ = true;
        reader_.join();
    }
    // Waits until every listener has received `count` lines of the first unit; returns the
    // arrival times of line `count`.
    std::vector<Clock::time_point> WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [&] {
            return std::all_of(seen_.begin(), seen_.end(),
                               [&](const auto& times) { return times.size() >= count; });
        });
        std::vector<Clock::time_point> times;
        for (const auto& listener : seen_) times.push_back(listener[count - 1]);
        return times;
    }

  private:
    void Read() {
        std::vector<pollfd> ready;
        for (int fd : fds_) ready.push_back({fd, POLLIN, 0});
        std::vector<std::string> pending(fds_.size());
        while (!stop_) {
            if (::poll(ready.data(), ready.size(), 50) <= 0) continue;
            const auto now = Clock::now();
            for (std::size_t i = 0; i < ready.size(); ++i) {
                if (!(ready[i].revents & POLLIN)) continue;
                char buffer[4096];
                const auto n = ::recv(fds_[i], buffer, sizeof buffer, 0);
                if (n <= 0) continue;
                pending[i].append(buffer, static_cast<std::size_t>(n));
                for (auto end = pending[i].find("\r\n"); end != std::string::npos;
                     end = pending[i].find("\r\n")) {
                    const std::string line = pending[i].substr(0, end);
                    pending[i].erase(0, end + 2);
                    if (line == "I_DeviceBisy(U1)" || line == "I_DeviceNotBisy(U1)") {
                        std::lock_guard lock(mutex_);
                        seen_[i].push_back(now);
                        arrived_.notify_all();
                    }
                }
            }
        }
    }

    std::vector<int> fds_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::vector<Clock::time_point>> seen_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Reads a listener's snapshot: it ends with the error state of the last unit.
void AwaitSnapshot(int fd) {
    const std::string last = "I_E#0(U" + std::to_string(kUnits) + ")\r\n";
    std::string received;
    while (received.find(last) == std::string::npos) {
        char buffer[4096];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) throw std::runtime_error("a listener was closed");
        received.append(buffer, static_cast<std::size_t>(n));
    }
}

// Discards what the listeners received after their snapshots.
void Drain(const std::vector<int>& fds) {
    for (int fd : fds) {
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    }
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

struct Figures {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    std::size_t lines = 0;
};

Figures Measure(int changes, const std::string& config) {
    krb::test_support::RunningServer server(StandInExports());
    server.Start(config);
    auto& core = server.Core();
    const int port = server.Port();
    core.Invoke([&] {  // activated units are polled for door and error every fourth tick
        for (auto* unit : core.TcpBrowser().Units()) unit->Activated = true;
        return 0;
    });

    std::vector<int> fds;
    for (int i = 0; i < kListeners; ++i) {
        fds.push_back(ConnectOrThrow(port));
        const std::string registration = "KRBServiceSocket\r\n";
        ::send(fds.back(), registration.data(), registration.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // one read each
    }
    for (int fd : fds) AwaitSnapshot(fd);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the first reports
    Drain(fds);

    std::vector<double> latenciesMs;
    {
        Arrivals arrivals(fds);
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> phaseMs(0, 499);
        for (int change = 1; change <= changes; ++change) {
            std::this_thread::sleep_for(std::chrono::milliseconds(phaseMs(random)));
            const auto changedAt = Clock::now();
            g_firstUnitBusy = !g_firstUnitBusy;
            for (const auto arrival : arrivals.WaitFor(static_cast<std::size_t>(change))) {
                latenciesMs.push_back(
                    std::chrono::duration<double, std::milli>(arrival - changedAt).count());
            }
        }
    }
    for (int fd : fds) ::close(fd);
    server.Stop();
    return {Percentile(latenciesMs, 0.50), Percentile(latenciesMs, 0.99),
            *std::max_element(latenciesMs.begin(), latenciesMs.end()), latenciesMs.size()};
}

}  // namespace

int main(int argc, char** argv) {
    const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    krb::platform::setTimeScale(1.0);  // the timer's real 500 ms
    const krb::test_support::TempDir root("krb_bench_notifications");
    const std::string config = WriteLab(root.path());

    std::printf("notification latency: %d listeners, %d activated units, %d changes of U1\n",
                kListeners, kUnits, changes);
    // A fast link, and the library's own exchange cost (200 ms pause before each command,
    // then the reply).
    for (int exchangeMs : {10, 300}) {
        g_exchangeMs = exchangeMs;
        const Figures figures = Measure(changes, config);
        g_firstUnitBusy = false;
        std::printf(
            "  door/error exchanges of %3d ms: p50 %.1f ms, p99 %.1f ms, max %.1f ms "
            "(%zu lines); p99 / target %.0f ms = %.2f -> %s\n",
            exchangeMs, figures.p50, figures.p99, figures.max, figures.lines, kTargetP99Ms,
            figures.p99 / kTargetP99Ms,
            figures.p99 <= kTargetP99Ms ? "within target" : "over target");
    }
    return 0;
}
