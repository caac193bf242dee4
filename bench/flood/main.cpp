// A client streams 100 MiB without CR at a running KRBServer while another client sends a
// command every 5 ms on a fresh connection: the command's reply time against the 50 ms
// floor, and the server's resident memory above its idle size against 64 MiB.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/tcp_client.h"
#include "support/temp_dir.h"

namespace {

using krb::test_support::ConnectLoopback;
using krb::test_support::SendAll;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t kStreamBytes = 100u * 1024 * 1024;
constexpr std::size_t kStreamBlock = 1024 * 1024;
constexpr double kLatencyFloorMs = 50.0;
constexpr double kMemoryFloorMiB = 64.0;
constexpr auto kProbePeriod = std::chrono::milliseconds(5);

// Milliseconds from sending an unknown unit's command to its "E2" line.
double AskOnce(int port) {
    const auto start = Clock::now();
    const int fd = ConnectLoopback(port, {.noDelay = true});
    if (fd < 0) throw std::runtime_error("connect failed");
    SendAll(fd, "KRB2IsOperationRunning(NoSuchUnit)\r");
    std::string reply;
    char buffer[64];
    while (reply.find('\n') == std::string::npos) {
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (reply != "E2\r\n") throw std::runtime_error("unexpected reply: " + reply);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ResidentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

class ServerProcess {
  public:
    explicit ServerProcess(int port) {
        fs::create_directories(root_.path() / "Lab");
        const std::string config = root_.write(
            "DriverConfig.lni",
            "[paths]\r\nKrbMainFolder=Lab\\\r\n[TCP]\r\nport=" + std::to_string(port) + "\r\n");
        pid_ = ::fork();
        if (pid_ == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            ::execl(KRB_SERVER_PATH, KRB_SERVER_PATH, config.c_str(), "start",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (const int fd = ConnectLoopback(port, {.noDelay = true}); fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        throw std::runtime_error("KRBServer did not start listening");
    }
    ~ServerProcess() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t Pid() const { return pid_; }

  private:
    krb::test_support::TempDir root_{"krb_bench_flood"};
    pid_t pid_ = -1;
};

struct Probe {
    std::vector<double> latenciesMs;
    double peakMiB = 0;
};

// Asks every probe period while `running`, sampling the server's memory at each ask.
Probe ProbeWhile(int port, pid_t server, const std::atomic<bool>& running) {
    Probe probe;
    while (running) {
        probe.latenciesMs.push_back(AskOnce(port));
        probe.peakMiB = std::max(probe.peakMiB, ResidentMiB(server));
        std::this_thread::sleep_for(kProbePeriod);
    }
    return probe;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main() {
    const int port = krb::test_support::FreeLoopbackPort();
    ServerProcess server(port);
    for (int i = 0; i < 20; ++i) AskOnce(port);  // warm up
    const double idleMiB = ResidentMiB(server.Pid());

    std::atomic<bool> streaming{true};
    std::size_t streamed = 0;
    std::thread streamer([&] {
        const int fd = ConnectLoopback(port, {.noDelay = true});
        const std::string block(kStreamBlock, 'x');
        while (streamed < kStreamBytes && SendAll(fd, block)) streamed += kStreamBlock;
        ::close(fd);
        streaming = false;
    });
    const auto start = Clock::now();
    const Probe probe = ProbeWhile(port, server.Pid(), streaming);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    streamer.join();

    const double worstMs = *std::max_element(probe.latenciesMs.begin(), probe.latenciesMs.end());
    const double growthMiB = probe.peakMiB - idleMiB;
    std::printf("streamed %zu MiB without CR in %.2f s; %zu commands answered meanwhile\n",
                streamed / (1024 * 1024), seconds, probe.latenciesMs.size());
    std::printf("reply time: p50 %.2f ms, p99 %.2f ms, worst %.2f ms; floor %.0f ms, ratio %.3f\n",
                Percentile(probe.latenciesMs, 0.5), Percentile(probe.latenciesMs, 0.99), worstMs,
                kLatencyFloorMs, worstMs / kLatencyFloorMs);
    std::printf(
        "resident memory: idle %.1f MiB, peak %.1f MiB, growth %.1f MiB; floor %.0f MiB, "
        "ratio %.3f\n",
        idleMiB, probe.peakMiB, growthMiB, kMemoryFloorMiB, growthMiB / kMemoryFloorMiB);
    return worstMs <= kLatencyFloorMs && growthMiB <= kMemoryFloorMiB ? 0 : 1;
}
