// Latency of the dashboard: from an update command that changes a contents file to the
// Server-Sent Event carrying the change arriving at each of 8 open dashboards, with the
// server's real snapshot interval. The units answer through a stand-in library (the update
// commands need no controller). Prints p50 and p99 and the ratio of p99 to the 2 s target.
//
//   bench_dashboard [changes]   (default 40; each waits a random part of a snapshot interval)
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/LabServer.h"
#include "platform/clock.h"
#include "support/tcp_client.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kDashboards = 8;
constexpr double kTargetP99Ms = 2000.0;

const char* Text(const char* value) { return value; }
KRBText Connect(KRBText) { return Text("1"); }
KRBText IsOperationRunning(KRBText) { return Text("0"); }

krb::server::KRBExports StandInExports() {
    krb::server::KRBExports exports;
    exports.KRBConnect = &Connect;
    exports.KRBIsOperationRunning = &IsOperationRunning;
    return exports;
}

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// One unit of 10 cassettes of 10 levels, all in its contents file.
std::string WriteLab(const fs::path& root, int webPort) {
    std::string contents;
    for (int slot = 1; slot <= 100; ++slot) {
        const std::string cassette = std::to_string((slot - 1) / 10 + 1);
        const std::string level = std::to_string((slot - 1) % 10 + 1);
        contents += std::to_string(slot) + "," + cassette + "," + level + ",1,B" +
                    std::to_string(slot) + ",Plate " + std::to_string(slot) + ",,,,\r\n";
    }
    WriteFile(root / "lab" / "System1" / "U1Contents.csv", contents);
    WriteFile(root / "lab" / "System1" / "U1.lni",
              "[Unit]\r\nUnitComPort=1\r\nUnitId=U1\r\n[Contents]\r\nFileName=U1Contents.csv\r\n"
              "[CassettesConfiguration]\r\n1-10=10,25,1\r\n");
    WriteFile(root / "lab" / "System1" / "System.lni",
              "[System]\r\nSystemName=S\r\nSystemId=1\r\n[Unit]\r\nUnit1=U1.lni\r\n");
    const fs::path config = root / "DriverConfig.lni";
    WriteFile(config, "[paths]\r\nKrbMainFolder=" + (root / "lab").string() +
                          "\r\n[TCP]\r\nport=0\r\n[Web]\r\nPort=" + std::to_string(webPort) +
                          "\r\n");
    return config.string();
}

// Open dashboards: each follows /events and notes when a plate name first arrives.
class Dashboards {
  public:
    explicit Dashboards(int port) {
        for (int i = 0; i < kDashboards; ++i) {
            readers_.emplace_back([this, port] { Follow(port); });
        }
    }
    ~Dashboards() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        for (auto& reader : readers_) reader.join();
    }
    // Waits until every dashboard has seen `name`; returns when each saw it.
    std::vector<Clock::time_point> WaitFor(const std::string& name) {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [&] { return arrivals_[name].size() >= kDashboards; });
        return arrivals_[name];
    }

  private:
    void Follow(int port) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(60, 0);
        std::string received;
        client.Get("/events", [&](const char* data, std::size_t length) {
            received.append(data, length);
            const auto now = Clock::now();
            for (auto end = received.find("\n\n"); end != std::string::npos;
                 end = received.find("\n\n")) {
                const std::string event = received.substr(0, end);
                received.erase(0, end + 2);
                const auto start = event.find("\"name\":\"change ");
                if (start == std::string::npos) continue;
                const auto close = event.find('"', start + 8);
                std::lock_guard lock(mutex_);
                arrivals_[event.substr(start + 8, close - start - 8)].push_back(now);
                arrived_.notify_all();
            }
            std::lock_guard lock(mutex_);
            return !stop_;
        });
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<std::string, std::vector<Clock::time_point>> arrivals_;
    bool stop_ = false;
    std::vector<std::thread> readers_;
};

void UpdatePlateName(int port, const std::string& name) {
    const int fd = krb::test_support::ConnectLoopback(port, {.noDelay = true});
    if (fd < 0 || !krb::test_support::SendAll(fd, "UpdatePlateName(U1,1," + name + ")\r")) {
        throw std::runtime_error("the update command could not be sent");
    }
    char reply[64];
    if (::recv(fd, reply, sizeof reply, 0) <= 0) throw std::runtime_error("no reply");
    ::close(fd);
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

}  // namespace

int main(int argc, char** argv) {
    const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    krb::platform::setTimeScale(1.0);
    const fs::path root =
        fs::temp_directory_path() / ("krb_bench_dashboard_" + std::to_string(::getpid()));
    fs::remove_all(root);
    const int webPort = FreePort();
    const std::string config = WriteLab(root, webPort);

    krb::server::LabServer core(StandInExports());
    std::thread loop([&] { core.Run(); });
    core.Invoke([&] { return core.FormShow({config, "start"}); });
    const int port = core.State().LocalPort;
    if (port <= 0) throw std::runtime_error("the server does not listen");

    std::vector<double> latenciesMs;
    {
        Dashboards dashboards(webPort);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // every stream open
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> phaseMs(0, 199);
        for (int change = 1; change <= changes; ++change) {
            std::this_thread::sleep_for(std::chrono::milliseconds(phaseMs(random)));
            const std::string name = "change " + std::to_string(change);
            const auto changedAt = Clock::now();
            UpdatePlateName(port, name);
            for (const auto arrival : dashboards.WaitFor(name)) {
                latenciesMs.push_back(
                    std::chrono::duration<double, std::milli>(arrival - changedAt).count());
            }
        }
    }  // each stream sees the stop at its next event or keep-alive line (5 s)
    core.Quit();
    loop.join();
    const double p50 = Percentile(latenciesMs, 0.50);
    const double p99 = Percentile(latenciesMs, 0.99);
    std::printf(
        "dashboard latency: %d open dashboards, %d contents changes: p50 %.1f ms, p99 %.1f ms, "
        "max %.1f ms (%zu events); p99 / target %.0f ms = %.2f -> %s\n",
        kDashboards, changes, p50, p99, *std::max_element(latenciesMs.begin(), latenciesMs.end()),
        latenciesMs.size(), kTargetP99Ms, p99 / kTargetP99Ms,
        p99 <= kTargetP99Ms ? "within target" : "over target");
    fs::remove_all(root);
    return 0;
}
