#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "support/tcp_client.h"
#include "web/DashboardFeed.h"
#include "web/DashboardServer.h"
#include "web/HttpRequest.h"

namespace krb::server::web {
namespace {

using test_support::TestClient;

TEST(RequestHead, IsParsedWithinItsBounds) {
    const HttpLimits limits{256, 4};
    const std::string many(5, 'x');
    const struct {
        std::string Bytes;
        HeadStatus Status;
        const char* Target;
        std::size_t Headers;
    } cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n", HeadStatus::Complete, "/metrics", 1},
        {"\r\nGET / HTTP/1.0\n\n", HeadStatus::Complete, "/", 0},
        {"GET / HTTP/1.1\r\nHost: a\r\n", HeadStatus::Incomplete, "", 0},
        {"GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", HeadStatus::Complete, "/", 4},
        {"GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\nE: 5\r\n\r\n", HeadStatus::TooLarge, "",
         0},
        {"GET / HTTP/1.1\r\nX: " + std::string(300, 'y'), HeadStatus::TooLarge, "", 0},
        {"GET / HTTP/1.1\r\nX: " + std::string(300, 'y') + "\r\n\r\n", HeadStatus::TooLarge, "", 0},
        {"GET /HTTP/1.1\r\n\r\n", HeadStatus::Malformed, "", 0},
        {"GET / HTTP/2\r\n\r\n", HeadStatus::Malformed, "", 0},
        {"GET / HTTP/1.1\r\nno colon\r\n\r\n", HeadStatus::Malformed, "", 0},
        {"GET / HTTP/1.1\r\n folded: x\r\n\r\n", HeadStatus::Malformed, "", 0},
        {"G(T / HTTP/1.1\r\n\r\n", HeadStatus::Malformed, "", 0},
    };
    for (const auto& c : cases) {
        const HeadParse head = ParseRequestHead(c.Bytes, limits);
        EXPECT_EQ(head.Status, c.Status) << c.Bytes;
        if (head.Status != HeadStatus::Complete) continue;
        EXPECT_EQ(head.Request.Target, c.Target) << c.Bytes;
        EXPECT_EQ(head.Request.Headers.size(), c.Headers) << c.Bytes;
    }
}

TEST(RequestHead, LeavesAPipelinedRequestUnread) {
    const std::string bytes = "GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /b HTTP/1.1\r\n";
    const HeadParse head = ParseRequestHead(bytes, {});
    ASSERT_EQ(head.Status, HeadStatus::Complete);
    EXPECT_EQ(bytes.substr(head.Consumed), "GET /b HTTP/1.1\r\n");
    EXPECT_EQ(head.Request.Header("HOST"), "x");
    EXPECT_TRUE(head.Request.KeepAlive());
}

TEST(HostName, IsAnAddressALoopbackNameOrAConfiguredName) {
    const std::vector<std::string> names{"lab.example"};
    const struct {
        const char* Host;
        bool Allowed;
    } cases[] = {
        {"127.0.0.1:3180", true},
        {"192.168.1.20:3180", true},
        {"[::1]:3180", true},
        {"localhost:3180", true},
        {"LOCALHOST", true},
        {"dash.localhost", true},
        {"Lab.Example:3180", true},
        {"lab.example", true},
        {"evil.example:3180", false},
        {"lab.example.evil", false},
        {"localhost.evil", false},
        {"", false},
        {"[::1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HostAllowed(c.Host, names), c.Allowed) << c.Host;
}

class ListenerTest : public ::testing::Test {
  protected:
    void Start(DashboardServer& server) {
        std::string problem;
        ASSERT_TRUE(server.Start("127.0.0.1", 0, problem)) << problem;
    }
    static int MetricsStatus(int port) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30, 0);
        const auto metrics = client.Get("/metrics");
        return metrics ? metrics->status : -1;
    }
    SnapshotHub hub_;
};

TEST_F(ListenerTest, RefusesRequestsForOtherHostNames) {
    DashboardServer server(hub_, {"lab.example"});
    Start(server);
    const struct {
        const char* Host;
        int Status;
    } cases[] = {{"lab.example", 200}, {"localhost", 200}, {"evil.example", 403}};
    for (const auto& c : cases) {
        TestClient client(server.Port());
        client.Send(std::string("GET /snapshot.json HTTP/1.1\r\nHost: ") + c.Host +
                    "\r\nConnection: close\r\n\r\n");
        const std::string reply = client.ReadToEnd();
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 " + std::to_string(c.Status))) << c.Host << reply;
    }
}

// A client that sends headers without end gets a refusal once the head is over its bound;
// the listener keeps no more of it and goes on answering.
TEST_F(ListenerTest, CutsAnEndlessHeadAndKeepsAnswering) {
    DashboardServer server(hub_);
    Start(server);
    TestClient flood(server.Port());
    flood.Send("GET / HTTP/1.1\r\nHost: localhost\r\n");
    const std::string header = "X-Filler: " + std::string(1000, 'z') + "\r\n";
    bool refused = false;
    for (int i = 0; i < 4096 && !refused; ++i) {
        try {
            flood.Send(header);
        } catch (...) {
            refused = true;
        }
        if (i == 64) {
            EXPECT_EQ(MetricsStatus(server.Port()), 200);
        }
    }
    EXPECT_TRUE(flood.ReadToEnd().starts_with("HTTP/1.1 431"));
    EXPECT_EQ(MetricsStatus(server.Port()), 200);
}

// Slow clients that never finish a request and open event streams leave /metrics reachable.
TEST_F(ListenerTest, AnswersMetricsWhileSlowClientsAndEventStreamsAreOpen) {
    DashboardServer server(hub_);
    Start(server);
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.push_back(std::make_unique<TestClient>(server.Port()));
        clients.back()->Send("GET /metrics HTTP/1.1\r\nHost: loc");
    }
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<TestClient>(server.Port()));
        clients.back()->Send("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
        EXPECT_EQ(clients.back()->ReadLine(), "HTTP/1.1 200 OK\r\n");
    }
    EXPECT_EQ(MetricsStatus(server.Port()), 200);
}

TEST_F(ListenerTest, ClosesAConnectionWhoseRequestTakesTooLong) {
    DashboardLimits limits;
    limits.RequestTime = std::chrono::milliseconds(100);
    limits.IdleTime = std::chrono::milliseconds(100);
    DashboardServer server(hub_, {}, limits);
    Start(server);
    TestClient started(server.Port());
    started.Send("GET /metrics HTTP/1.1\r\nHost: local");
    EXPECT_TRUE(started.ClosedByServer());
    TestClient idle(server.Port());
    EXPECT_TRUE(idle.ClosedByServer());
    TestClient pipelined(server.Port());
    pipelined.Send("GET /snapshot.json HTTP/1.1\r\nHost: localhost\r\n\r\nGET /met");
    const std::string replies = pipelined.ReadToEnd();
    EXPECT_TRUE(replies.starts_with("HTTP/1.1 200")) << replies;
    EXPECT_FALSE(replies.ends_with("<not closed>")) << replies;
}

}  // namespace
}  // namespace krb::server::web
