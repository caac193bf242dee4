// Who may connect to the command port, and how many at once.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_library.h"
#include "frontend_support.h"
#include "protocol/ClientAdmission.h"
#include "protocol/ServerCore.h"
#include "support/lab_files.h"

namespace krb::server {
namespace {

using namespace frontend_testing;

asio::ip::address Address(const char* text) { return asio::ip::make_address(text); }

TEST(ClientAdmissionTest, AllowedClientsAdmitTheirAddressesAndPrefixesOnly) {
    struct Case {
        const char* list;
        const char* client;
        bool allowed;
    };
    const Case cases[] = {
        {"", "203.0.113.9", true},
        {"10.1.2.3", "10.1.2.3", true},
        {"10.1.2.3", "10.1.2.4", false},
        {"10.1.0.0/16", "10.1.200.7", true},
        {"10.1.0.0/16", "10.2.0.1", false},
        {"192.168.1.128/25, 127.0.0.1", "192.168.1.200", true},
        {"192.168.1.128/25 127.0.0.1", "192.168.1.100", false},
        {"192.168.1.128/25,127.0.0.1", "127.0.0.1", true},
        {"10.0.0.0/8", "::ffff:10.9.9.9", true},  // IPv4 over IPv6
        {"fd00::/8", "fd12::1", true},
        {"fd00::/8", "fe80::1", false},
        {"::1", "127.0.0.1", false},
        {"0.0.0.0/0", "198.51.100.1", true},
        {"not-an-address", "127.0.0.1", false},  // a bad list admits nobody
        {"10.0.0.0/33", "10.0.0.1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.list) + " / " + c.client);
        ClientAdmission admission;
        std::vector<std::string> problems;
        admission.SetAllowedClients(c.list, problems);
        EXPECT_EQ(admission.Allows(Address(c.client)), c.allowed);
    }
}

TEST(ClientAdmissionTest, EveryEntryThatIsNoAddressIsReported) {
    ClientAdmission admission;
    std::vector<std::string> problems;
    admission.SetAllowedClients("10.0.0.1, host.example, 10.0.0.0/x", problems);
    EXPECT_EQ(problems, (std::vector<std::string>{"\"host.example\" is no address or prefix",
                                                  "\"10.0.0.0/x\" is no address or prefix"}));
    EXPECT_TRUE(admission.Allows(Address("10.0.0.1")));
}

TEST(ClientAdmissionTest, TheConnectionBoundLeavesTheReserveOfDescriptors) {
    EXPECT_EQ(ConnectionBound(1000, 1048576, 148), 1000u);
    EXPECT_EQ(ConnectionBound(1000, 1024, 148), 876u);
    EXPECT_EQ(ConnectionBound(1000, 100, 148), 1u);
}

// The server with one emulated unit and extra [TCP] lines.
class AdmissionServerTest : public ::testing::Test {
  protected:
    void Start(const std::string& tcpLines) {
        test_support::LabFiles files(folder_.path(), "S");
        files.AddUnit(1, "U1", "[CassettesConfiguration]\r\n1-2=3,25,1\r\n");
        server_.Start(files.WriteConfiguration(0, "LogFile=server.log\r\n" + tcpLines));
    }
    std::string LogPath() { return (folder_.path() / "server.log").string(); }
    bool Logged(const std::string& text) {
        const auto log = readLines(LogPath());
        return std::any_of(log.begin(), log.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    }

    test_support::TempDir folder_;
    RunningServer server_{testing::FakeExports()};
};

TEST_F(AdmissionServerTest, AClientOutsideAllowedClientsIsClosedAndLogged) {
    Start("AllowedClients=192.0.2.0/24\r\n");
    TestClient client(server_.Port());
    EXPECT_TRUE(client.ClosedByServer());
    EXPECT_TRUE(
        Logged(";Error=ClientNotAllowed,Message=not in [TCP] AllowedClients;RH=;RA=127.0.0.1;"));
}

TEST_F(AdmissionServerTest, ConnectionsBeyondTheBoundAreClosedAndLoggedAndOthersServed) {
    Start("MaxConnections=2\r\n");
    TestClient first(server_.Port());
    TestClient second(server_.Port());
    first.Send("KRB2IsOperationRunning(Nowhere)\r");
    EXPECT_EQ(first.ReadLine(), "E2\r\n");  // both are accepted by now
    second.Send("KRB2IsOperationRunning(Nowhere)\r");
    EXPECT_EQ(second.ReadLine(), "E2\r\n");
    TestClient third(server_.Port());
    EXPECT_TRUE(third.ClosedByServer());
    EXPECT_TRUE(Logged(";Error=TooManyConnections,Message=2 connections open;RH=;RA=127.0.0.1;"));
    first.Close();
    while (server_.Core().Invoke([&] { return server_.Core().ConnectionCount(); }) > 1) Pause();
    TestClient fourth(server_.Port());
    fourth.Send("KRB2IsOperationRunning(Nowhere)\r");
    EXPECT_EQ(fourth.ReadLine(), "E2\r\n");
}

TEST_F(AdmissionServerTest, TheListenerBindsToTheConfiguredAddressOnly) {
    Start("BindAddress=127.0.0.1\r\n");
    EXPECT_TRUE(Logged(";Start;") && Logged(";LA=127.0.0.1;"));
    RunningServer other{testing::FakeExports()};
    test_support::LabFiles files(folder_.path() / "other", "S");
    const std::string config = files.WriteConfiguration(0, "BindAddress=nowhere\r\n");
    other.Core().Invoke([&] { return other.Core().FormShow({config, "start"}); });
    EXPECT_FALSE(other.Core().State().Listening);
    EXPECT_EQ(other.Core().State().Problem, "The TCP bind address \"nowhere\" is not an address");
}

}  // namespace
}  // namespace krb::server
