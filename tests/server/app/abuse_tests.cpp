// Abusive clients against a KRBServer child process on loopback: whatever they send, other
// clients are still served, the process lives, and its descriptors and threads come back
// to where they were. Counts are small so that the suite stays fast; each test prints them.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frontend_support.h"
#include "server_process.h"

namespace krb::server::frontend_testing {
namespace {

constexpr auto kSettle = std::chrono::seconds(20);

class Abuse : public ::testing::Test {
  protected:
    void SetUp() override {
        server = std::make_unique<ServerProcess>(lab.ConfigPath(), FreeLoopbackPort());
        ASSERT_TRUE(server->Listening());
        ExpectServed();  // the first command starts whatever the server keeps afterwards
        ASSERT_TRUE(WithinTime(kSettle, [&] { return server->Threads() == Threads(); }));
        baselineDescriptors = server->OpenDescriptors();
        baselineThreads = server->Threads();
    }

    std::size_t Threads() {
        std::size_t before = server->Threads();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return before == server->Threads() ? before : 0;
    }

    // A fresh client's unit command is answered: the unknown unit's "E2".
    void ExpectServed() {
        TestClient client(server->Port());
        client.Send("KRB2Activate(Nobody)\r");
        EXPECT_EQ(client.ReadLine(), "E2\r\n");
    }

    void ExpectBackToBaseline() {
        ASSERT_TRUE(server->Running()) << "the server died";
        EXPECT_TRUE(
            WithinTime(kSettle, [&] { return server->OpenDescriptors() == baselineDescriptors; }))
            << server->OpenDescriptors() << " descriptors, " << baselineDescriptors << " before";
        EXPECT_TRUE(WithinTime(kSettle, [&] { return server->Threads() == baselineThreads; }))
            << server->Threads() << " threads, " << baselineThreads << " before";
    }

    EmulatedLab lab{1, false};
    std::unique_ptr<ServerProcess> server;
    std::size_t baselineDescriptors = 0;
    std::size_t baselineThreads = 0;
};

TEST_F(Abuse, IdleConnectionsDoNotKeepOthersWaiting) {
    constexpr int kIdle = 500;
    std::vector<std::unique_ptr<TestClient>> idle;
    for (int i = 0; i < kIdle; ++i) idle.push_back(std::make_unique<TestClient>(server->Port()));
    const auto start = std::chrono::steady_clock::now();
    ExpectServed();
    const auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(WithinTime(
        kSettle, [&] { return server->OpenDescriptors() >= baselineDescriptors + kIdle; }));
    idle.clear();
    ExpectBackToBaseline();
    std::printf("[ counts   ] %d idle connections, a fresh command answered in %.1f ms\n", kIdle,
                ms.count());
}

TEST_F(Abuse, JunkAllByteValuesAndHugeFieldsGetTheirRefusals) {
    constexpr std::size_t kJunkBytes = 8u << 20;
    {
        TestClient junk(server->Port());
        const std::string burst(256 * 1024, 'x');
        for (std::size_t sent = 0; sent < kJunkBytes; sent += burst.size()) junk.Send(burst);
        ExpectServed();
    }
    std::string every;
    for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
    const std::string hugeName(1'000'000, 'A');
    const std::string hugeNumber(1'000'000, '9');
    struct Case {
        std::string text;
        std::string reply;
    };
    const std::vector<Case> cases{
        {std::string("KRB2Activate(U\0\x01\xff)\r", 19), "E2\r\n"},
        {"KRB2Activate(" + hugeName + ")\r", "E2\r\n"},
        {"KRB2ManualAccess(U1," + hugeNumber + ")\r", "E3\r\n"},
        {"UpdateSlotLevels(U1,1," + hugeNumber + ")\r", "-1\r\n"},
    };
    // One read event is one command: a text longer than one read may reach the server in
    // parts while its bytes are still on the way, and a part without CR is answered "E1".
    constexpr std::size_t kOneRead = 64 * 1024;
    for (const auto& c : cases) {
        TestClient client(server->Port());
        client.Send(c.text);
        const std::string reply = client.ReadLine();
        const bool splitByTheWire = c.text.size() > kOneRead && reply == "E1\r\n";
        EXPECT_TRUE(reply == c.reply || splitByTheWire) << c.text.substr(0, 40) << ": " << reply;
    }
    {
        TestClient client(server->Port());
        client.Send(every + "\r");  // every byte value once, NUL included: no command, no reply
        TestClient named(server->Port());
        named.Send("KRB2Activate(" + every + ")\r");
        EXPECT_EQ(named.ReadLine(), "E2\r\n");
    }
    ExpectServed();
    ExpectBackToBaseline();
    std::printf(
        "[ counts   ] %zu MiB of junk in bursts, 256 byte values, 10^6-byte name and "
        "integer\n",
        kJunkBytes >> 20);
}

TEST_F(Abuse, SlowClientsDoNotStallTheOthers) {
    constexpr int kSlow = 20;
    const std::string text = "KRB2Activate(Nobody)\r";
    std::vector<std::unique_ptr<TestClient>> slow;
    for (int i = 0; i < kSlow; ++i) slow.push_back(std::make_unique<TestClient>(server->Port()));
    for (std::size_t byte = 0; byte < text.size(); ++byte) {
        for (auto& client : slow) client->Send(text.substr(byte, 1));
        if (byte % 7 == 0) ExpectServed();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    slow.clear();
    ExpectBackToBaseline();
    std::printf("[ counts   ] %d clients sending one byte every 20 ms\n", kSlow);
}

TEST_F(Abuse, ManyQueuedCommandsToOneUnitAreAllAnswered) {
    constexpr int kQueued = 200;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kQueued; ++i) {
        clients.push_back(std::make_unique<TestClient>(server->Port()));
        clients.back()->Send("KRB2IsOperationRunning(U1)\r");
    }
    ExpectServed();
    int answered = 0;
    for (auto& client : clients) answered += client->ReadLine() == "0\r\n";
    EXPECT_EQ(answered, kQueued);
    clients.clear();
    ExpectBackToBaseline();
    std::printf("[ counts   ] %d commands queued for one unit, %d answered\n", kQueued, answered);
}

}  // namespace
}  // namespace krb::server::frontend_testing
