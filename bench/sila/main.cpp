// 1. Get_ServerName from 50 concurrent clients against a bare echo service built the same way
//    (callback API, plain text, loopback): throughput ratio (target >= 0.5) and p99 (<= 5 ms).
// 2. A door opening reaching 32 DoorOpen subscribers: p99 over 50 openings (target <= 600 ms).
// 3. 20 idle unit servers: process CPU over 5 s of wall time (target < 1 %).
#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server_builder.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "SiLAService.grpc.pb.h"
#include "UnitStatusProvider.grpc.pb.h"
#include "echo.grpc.pb.h"
#include "fake_unit_backend.h"
#include "sila/UnitServer.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using krb::sila::UnitServer;
using krb::sila::test::FakeUnitBackend;
namespace v1 = sila2::org::silastandard::core::silaservice::v1;
namespace usp = sila2::org::krb::storage::unitstatusprovider::v1;

constexpr int kClients = 50;
constexpr int kCallsPerClient = 400;

class EchoService final : public krb::bench::Echo::CallbackService {
    grpc::ServerUnaryReactor* Say(grpc::CallbackServerContext* context,
                                  const sila2::org::silastandard::String* request,
                                  sila2::org::silastandard::String* response) override {
        *response = *request;
        auto* reactor = context->DefaultReactor();
        reactor->Finish(grpc::Status::OK);
        return reactor;
    }
};

struct LoadResult {
    double callsPerSecond = 0;
    double p99Ms = 0;
    int failed = 0;
};

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

// Each client its own channel, as separate schedulers would be.
template <class Call>
LoadResult load(const std::string& target, Call call) {
    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<int> failed{0};
    std::vector<std::thread> clients;
    const auto start = Clock::now();
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            grpc::ChannelArguments arguments;
            arguments.SetInt("grpc.channel_id", c);  // no sharing of one connection
            auto channel =
                grpc::CreateCustomChannel(target, grpc::InsecureChannelCredentials(), arguments);
            for (int i = 0; i < kCallsPerClient; ++i) {
                const auto begin = Clock::now();
                if (!call(channel)) ++failed;
                latencies[c].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            }
        });
    }
    for (auto& client : clients) client.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    return {double(all.size()) / seconds, percentile(all, 0.99), failed.load()};
}

bool benchThroughput(krb::sila::ServerIdentityStore& store) {
    auto backend = std::make_shared<FakeUnitBackend>(
        krb::sila::UnitIdentity{"Base1", "PlateStore", "bench", false, false, false});
    UnitServer unit(backend, store);
    std::string error;
    if (!unit.start("127.0.0.1:0", grpc::InsecureServerCredentials(), error)) return false;

    EchoService echo;
    grpc::ServerBuilder builder;
    int echoPort = 0;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &echoPort);
    builder.RegisterService(&echo);
    auto echoServer = builder.BuildAndStart();

    const auto sila = load("127.0.0.1:" + std::to_string(unit.port()), [](const auto& channel) {
        grpc::ClientContext context;
        v1::Get_ServerName_Responses responses;
        return v1::SiLAService::NewStub(channel)->Get_ServerName(&context, {}, &responses).ok();
    });
    const auto bare = load("127.0.0.1:" + std::to_string(echoPort), [](const auto& channel) {
        grpc::ClientContext context;
        sila2::org::silastandard::String request, response;
        request.set_value("Base1");
        return krb::bench::Echo::NewStub(channel)->Say(&context, request, &response).ok();
    });
    echoServer->Shutdown();
    std::printf(
        "Get_ServerName, %d clients: %.0f calls/s, p99 %.2f ms; echo %.0f calls/s, p99 %.2f ms;"
        " ratio %.2f (target >= 0.5, p99 <= 5 ms)%s\n",
        kClients, sila.callsPerSecond, sila.p99Ms, bare.callsPerSecond, bare.p99Ms,
        sila.callsPerSecond / bare.callsPerSecond,
        sila.failed + bare.failed ? ", FAILED CALLS" : "");
    return sila.failed + bare.failed == 0;
}

bool benchSubscribers(krb::sila::ServerIdentityStore& store) {
    constexpr int kSubscribers = 32, kOpenings = 50;
    auto backend = std::make_shared<FakeUnitBackend>(
        krb::sila::UnitIdentity{"Base1", "PlateStore", "bench", false, false, false});
    krb::sila::UnitStatus status;
    status.doorOpen = false;
    backend->setStatus(status);
    UnitServer unit(backend, store);
    std::string error;
    if (!unit.start("127.0.0.1:0", grpc::InsecureServerCredentials(), error)) return false;
    auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(unit.port()),
                                       grpc::InsecureChannelCredentials());
    auto stub = usp::UnitStatusProvider::NewStub(channel);

    std::vector<std::unique_ptr<grpc::ClientContext>> contexts;
    std::vector<std::unique_ptr<grpc::ClientReader<usp::Subscribe_DoorOpen_Responses>>> readers;
    for (int i = 0; i < kSubscribers; ++i) {
        contexts.push_back(std::make_unique<grpc::ClientContext>());
        readers.push_back(stub->Subscribe_DoorOpen(contexts.back().get(), {}));
        usp::Subscribe_DoorOpen_Responses first;
        if (!readers.back()->Read(&first)) return false;
    }
    std::vector<double> latencies;
    for (int opening = 0; opening < kOpenings; ++opening) {
        status.doorOpen = !*status.doorOpen;
        const auto changed = Clock::now();
        backend->setStatus(status);
        for (auto& reader : readers) {
            usp::Subscribe_DoorOpen_Responses value;
            if (!reader->Read(&value) || value.dooropen().value() != *status.doorOpen) return false;
            latencies.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - changed).count());
        }
    }
    for (auto& context : contexts) context->TryCancel();
    std::printf(
        "DoorOpen to %d subscribers, %d changes: p99 %.2f ms, max %.2f ms (target p99 <= 600 ms)\n",
        kSubscribers, kOpenings, percentile(latencies, 0.99), percentile(latencies, 1.0));
    return true;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool benchIdle(krb::sila::ServerIdentityStore& store) {
    constexpr int kServers = 20;
    std::vector<std::unique_ptr<UnitServer>> servers;
    for (int i = 0; i < kServers; ++i) {
        auto backend = std::make_shared<FakeUnitBackend>(krb::sila::UnitIdentity{
            "Unit" + std::to_string(i), "PlateStore", "bench", false, false, false});
        servers.push_back(std::make_unique<UnitServer>(backend, store));
        std::string error;
        if (!servers.back()->start("127.0.0.1:0", grpc::InsecureServerCredentials(), error))
            return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    std::printf("%d idle unit servers: CPU %.3f s in %.1f s wall = %.2f %% (target < 1 %%)\n",
                kServers, cpu, wall, 100 * cpu / wall);
    return true;
}

}  // namespace

int main() {
    krb::test_support::TempDir dir("krb-bench-sila");
    krb::sila::ServerIdentityStore store(dir.file("sila-servers.lni"));
    const bool ok = benchThroughput(store) && benchSubscribers(store) && benchIdle(store);
    if (!ok) std::fprintf(stderr, "a unit server could not be started or a stream broke\n");
    return ok ? 0 : 1;
}
