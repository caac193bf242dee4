// Throughput and p99 latency of a cheap unit command (KRB2IsOperationRunning) from 50
// concurrent loopback clients, against a minimal Asio line-echo server measured in the same
// run (floors: at least 0.5 of the echo server's throughput, p99 at most 5 ms); a cheap command
// the audit trail records (KRB2DefineSector: the library keeps it in memory, under the unit's
// device lock) with the trail off and on, twice in turn (target: on / off throughput at least
// 0.95); and the time to
// load a configuration of 50 emulated units. Time scale 1 unless KRB_TIME_SCALE says otherwise.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KRB_lib.h"
#include "common/bench_trail.h"
#include "platform/clock.h"
#include "protocol/ServerCore.h"
#include "support/emulated_lab.h"
#include "support/running_server.h"
#include "support/tcp_client.h"

namespace {

using krb::test_support::ConnectLoopback;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kClients = 50;
constexpr int kCommandUnits = 5;
constexpr int kLoadUnits = 50;
constexpr auto kWarmUp = std::chrono::milliseconds(500);
constexpr auto kMeasure = std::chrono::seconds(3);
constexpr double kThroughputFloor = 0.5;
constexpr double kP99CeilingUs = 5000;
constexpr double kTrailRatioTarget = 0.95;
constexpr int kTrailRounds = 2;

struct Figures {
    double perSecond = 0;
    double p50Us = 0;
    double p99Us = 0;
    std::size_t requests = 0;
    std::uint64_t recorded = 0;  // with the trail on: commands it wrote, and lost
    std::uint64_t lost = 0;
};

// A lab of emulated units, each with ten cassettes of ten levels.
class BenchLab {
  public:
    BenchLab(int units, int firstCom) : lab_("krb_bench_server_" + std::to_string(firstCom)) {
        for (int i = 0; i < units; ++i) {
            const std::string id = "U" + std::to_string(i + 1);
            lab_.AddUnit(firstCom + i, id,
                         "[Contents]\r\nFileName=" + id +
                             ".txt\r\n[CassettesConfiguration]\r\n1-10=10,25,1\r\n");
        }
        config_ = lab_.WriteConfiguration();
    }
    const std::string& Config() const { return config_; }

  private:
    krb::test_support::EmulatedLab lab_;
    std::string config_;
};

bool Exchange(int fd, const std::string& request) {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return false;
    }
    std::string reply;
    char buffer[256];
    while (reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\r\n") != 0) {
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// kClients connections, one request outstanding on each, for kMeasure after a warm-up.
Figures Drive(int port, const std::function<std::string(int client)>& requestOf) {
    std::atomic<bool> measuring{false};
    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> latencies(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            const int fd = ConnectLoopback(port, {.noDelay = true});
            if (fd < 0) return;
            const std::string request = requestOf(c);
            while (!stop) {
                const auto begin = Clock::now();
                if (!Exchange(fd, request)) break;
                if (measuring) {
                    latencies[c].push_back(
                        std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
                }
            }
            ::close(fd);
        });
    }
    std::this_thread::sleep_for(kWarmUp);
    measuring = true;
    const auto begin = Clock::now();
    std::this_thread::sleep_for(kMeasure);
    measuring = false;
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    stop = true;
    for (auto& client : clients) client.join();

    std::vector<double> all;
    for (const auto& list : latencies) all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    Figures figures;
    figures.requests = all.size();
    if (all.empty()) return figures;
    figures.perSecond = static_cast<double>(all.size()) / seconds;
    figures.p50Us = all[all.size() / 2];
    figures.p99Us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    return figures;
}

// The baseline: every read is echoed back with a line feed, on one event-loop thread.
class EchoServer {
  public:
    EchoServer() : acceptor_(loop_, asio::ip::tcp::endpoint(asio::ip::tcp::v4(), 0)) {
        Accept();
        thread_ = std::thread([this] { loop_.run(); });
    }
    ~EchoServer() {
        loop_.stop();
        thread_.join();
    }
    int Port() const { return acceptor_.local_endpoint().port(); }

  private:
    struct Session : std::enable_shared_from_this<Session> {
        explicit Session(asio::ip::tcp::socket s) : socket(std::move(s)) {}
        void Read() {
            socket.async_read_some(
                asio::buffer(buffer),
                [self = shared_from_this()](const asio::error_code& error, std::size_t n) {
                    if (error) return;
                    self->reply.assign(self->buffer.data(), n);
                    self->reply += '\n';
                    asio::async_write(self->socket, asio::buffer(self->reply),
                                      [self](const asio::error_code& e, std::size_t) {
                                          if (!e) self->Read();
                                      });
                });
        }
        asio::ip::tcp::socket socket;
        std::array<char, 4096> buffer{};
        std::string reply;
    };

    void Accept() {
        acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket s) {
            if (error) return;
            s.set_option(asio::ip::tcp::no_delay(true));
            std::make_shared<Session>(std::move(s))->Read();
            Accept();
        });
    }

    asio::io_context loop_;
    asio::ip::tcp::acceptor acceptor_;
    std::thread thread_;
};

void Print(const char* name, const Figures& figures) {
    std::printf("%-28s %9.0f commands/s  p50 %7.1f us  p99 %7.1f us  (%zu commands)\n", name,
                figures.perSecond, figures.p50Us, figures.p99Us, figures.requests);
}

// "name(Un" + rest + ")", the unit chosen by the client.
std::string CommandFor(const std::string& name, int client, const std::string& rest = "") {
    return name + "(U" + std::to_string(client % kCommandUnits + 1) + rest + ")\r";
}

// With `trail`, the audit trail records every command that changes something.
Figures MeasureServer(const std::string& command, bool trail, const std::string& rest = "") {
    BenchLab lab(kCommandUnits, 60);  // controller ports 1..99
    krb::bench::TurnOffTheServersTrail(lab.Config());
    krb::test_support::RunningServer server;
    server.Start(lab.Config());
    const int port = server.Port();
    if (server.Core().TcpBrowser().Units().size() != static_cast<std::size_t>(kCommandUnits)) {
        std::printf("error: the command units did not load\n");
        std::exit(1);
    }
    std::optional<krb::bench::BenchTrail> recording;
    if (trail) recording.emplace("krb_bench_server_trail");
    Figures figures = Drive(port, [&](int client) { return CommandFor(command, client, rest); });
    server.Stop();
    if (recording) {
        recording->Stop();
        figures.recorded = recording->Written();
        figures.lost = recording->Lost();
    }
    return figures;
}

void CompareTrailOnAndOff() {
    double off = 0;
    double on = 0;
    for (int round = 1; round <= kTrailRounds; ++round) {
        const Figures without = MeasureServer("KRB2DefineSector", false, ",1,2,Bench");
        const Figures with = MeasureServer("KRB2DefineSector", true, ",1,2,Bench");
        Print(("DefineSector, trail off (" + std::to_string(round) + ")").c_str(), without);
        Print(("DefineSector, trail on  (" + std::to_string(round) + ")").c_str(), with);
        std::printf("  trail: %llu events written, %llu lost\n",
                    static_cast<unsigned long long>(with.recorded),
                    static_cast<unsigned long long>(with.lost));
        off += without.perSecond;
        on += with.perSecond;
    }
    if (off > 0) {
        std::printf("throughput ratio trail on / off = %.3f (target at least %.2f)\n", on / off,
                    kTrailRatioTarget);
    }
}

Figures MeasureEcho() {
    EchoServer echo;
    return Drive(echo.Port(), [](int client) {
        return "KRB2IsOperationRunning(U" + std::to_string(client % kCommandUnits + 1) + ")\r";
    });
}

double MeasureLoadMs() {
    BenchLab lab(kLoadUnits, 10);
    krb::test_support::RunningServer server;
    auto& core = server.Core();
    const auto begin = Clock::now();
    core.Invoke([&] { core.LoadConfiguration(lab.Config()); });
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    const std::size_t loaded = core.TcpBrowser().Units().size();
    server.Stop();
    if (loaded != static_cast<std::size_t>(kLoadUnits)) {
        std::printf("warning: %zu of %d units loaded\n", loaded, kLoadUnits);
    }
    return ms;
}

}  // namespace

int main() {
    if (!std::getenv("KRB_TIME_SCALE")) krb::platform::setTimeScale(1.0);
    double load[1] = {0};
    if (::getloadavg(load, 1) == 1) {
        std::printf("load average %.2f on %u cores (other work slows every figure)\n", load[0],
                    std::thread::hardware_concurrency());
    }
    std::printf("time scale %.2f, %d clients, one command outstanding per client\n",
                krb::platform::timeScale(), kClients);
    const Figures echo = MeasureEcho();
    const Figures server = MeasureServer("KRB2IsOperationRunning", false);
    Print("echo server (baseline)", echo);
    Print("KRBServer IsOperationRunning", server);
    if (echo.perSecond > 0) {
        std::printf("throughput ratio KRBServer / echo = %.3f (floor %.1f)\n",
                    server.perSecond / echo.perSecond, kThroughputFloor);
        std::printf("KRBServer p99 / ceiling %.0f us = %.2f (at most 1.00)\n", kP99CeilingUs,
                    server.p99Us / kP99CeilingUs);
    }
    CompareTrailOnAndOff();
    std::printf("configuration load, %d emulated units: %.1f ms\n", kLoadUnits, MeasureLoadMs());
    return 0;
}
