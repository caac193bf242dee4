// The server over loopback TCP with emulated units: framing replies, routing, unit commands
// on the wire, connection lifecycle and the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "frontend_support.h"
#include "lab/Unit.h"
#include "protocol/UnitCommandThread.h"

namespace krb::server {
namespace {

using namespace frontend_testing;

// "hh:nn:ss.zzz dd.mm.yy;" + event + ";" + host key, any host name without ";", then `tail`.
bool IsLogLine(const std::string& line, const std::string& event, const std::string& hostKey,
               const std::string& tail) {
    const std::string shape = "dd:dd:dd.ddd dd.dd.dd;";
    if (line.size() < shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
    }
    const std::string head = event + ";" + hostKey;
    std::string_view rest(line);
    rest.remove_prefix(shape.size());
    if (rest.size() < head.size() + tail.size()) return false;
    if (!rest.starts_with(head) || !rest.ends_with(tail)) return false;
    const auto host = rest.substr(head.size(), rest.size() - head.size() - tail.size());
    return host.find(';') == std::string_view::npos;
}

int CountLines(const std::vector<std::string>& lines, const std::string& wanted) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), wanted));
}

class ServerEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override { server_.Start(lab_.ConfigPath()); }

    TKRBId& Unit(const std::string& id) { return *server_.Core().TcpBrowser().FindUnitById(id); }
    std::vector<std::string> Transcript() { return lab_.Controller().lines(); }
    std::string Ask(TestClient& client, const std::string& command) {
        client.Send(command);
        return client.ReadLine();
    }

    EmulatedLab lab_;
    RunningServer server_;
};

TEST_F(ServerEndToEndTest, TextWithoutCarriageReturnIsAnsweredE1AndTheConnectionStays) {
    TestClient client(server_.Port());
    EXPECT_EQ(Ask(client, "DrawLab"), "E1\r\n");
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag(U1"), "E1\r\n");
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag(7)\r"), "E2\r\n");
}

TEST_F(ServerEndToEndTest, UnknownUnitIdsAreAnsweredE2) {
    TestClient client(server_.Port());
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag(7)\r"), "E2\r\n");
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag(u1)\r"), "E2\r\n");
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag(U1 )\r"), "E2\r\n");
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag()\r\n"), "E2\r\n");
}

TEST_F(ServerEndToEndTest, UnrecognisedTextsGetNoReplyAndKeepTheConnection) {
    TestClient client(server_.Port());
    for (const char* text : {"krb2ReadReadyFlag(U1)\r", "GET /favicon.ico HTTP/1.1\r\n\r\n",
                             "GET /\r\n", "Hello\r\n", "KRBServicePort\r\n"}) {
        client.Send(text);
        Pause();
    }
    // The first line the client receives answers the last command.
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag(9)\r"), "E2\r\n");
}

TEST_F(ServerEndToEndTest, UnitCommandsAnswerOnTheWire) {
    lab_.Controller().registers().setRelay(1915, true);
    TestClient client(server_.Port());
    EXPECT_EQ(Ask(client, "KRB2ReadReadyFlag(U1)\r"), "1\r\n");
    EXPECT_EQ(Ask(client, "KRB2Lock(U1)\r"), "\r\n");
    EXPECT_EQ(Ask(client, "KRB2NoSuchCommand(U1)\r"), "E1\r\n");
    EXPECT_EQ(Ask(client, "KRB2ServiceReadBarcode(U1,5)\r"), "E3\r\n");
    EXPECT_EQ(Ask(client, "KRB2ActivateShaker(U1,5,6)\r"), "E3\r\n");
    EXPECT_EQ(Ask(client, "KRB2ManualAccess(U1,one)\r"), "E3\r\n");
}

TEST_F(ServerEndToEndTest, TransferStationPositionWritesOnlyKnownPositions) {
    TestClient client(server_.Port());
    EXPECT_EQ(Ask(client, "KRB2TransferStPosition(U1,1)\r"), "\r\n");
    EXPECT_EQ(CountLines(Transcript(), "WR DM1778 79"), 1);
    lab_.Controller().clearTranscript();
    EXPECT_EQ(Ask(client, "KRB2TransferStPosition(U1,3)\r"), "E1\r\n");
    EXPECT_TRUE(Transcript().empty());
}

TEST_F(ServerEndToEndTest, ShakerCommandsAreNotMistakenForActivationOrDeactivation) {
    TestClient client(server_.Port());
    EXPECT_EQ(Ask(client, "KRB2ActivateShaker(U1,120)\r"), "\r\n");
    EXPECT_EQ(CountLines(Transcript(), "ST 1913"), 1);
    EXPECT_EQ(CountLines(Transcript(), "CR"), 0);  // the link was never opened
    EXPECT_FALSE(Unit("U1").Activated);

    lab_.MakeReady();
    EXPECT_EQ(Ask(client, "KRB2Activate(U1)\r"), "1\r\n");
    EXPECT_GE(CountLines(Transcript(), "CR"), 1);
    EXPECT_TRUE(Unit("U1").Activated);

    EXPECT_EQ(Ask(client, "KRB2DeactivateShaker(U1)\r"), "\r\n");
    EXPECT_EQ(CountLines(Transcript(), "RS 1913"), 1);
    EXPECT_TRUE(Unit("U1").Activated);

    EXPECT_EQ(Ask(client, "KRB2Deactivate(U1)\r"), "\r\n");
    EXPECT_FALSE(Unit("U1").Activated);
}

TEST_F(ServerEndToEndTest, AClientLeavingBeforeItsReplyDisturbsNothing) {
    lab_.Controller().setReplyDelay(400);
    {
        TestClient leaving(server_.Port());
        leaving.Send("KRB2ReadReadyFlag(U1)\r");
    }
    TTHRUnitCommand::WaitForRunningCommands();
    lab_.Controller().setReplyDelay(0);
    TestClient staying(server_.Port());
    EXPECT_EQ(Ask(staying, "KRB2ReadReadyFlag(U1)\r"), "0\r\n");
    const auto lines = WaitForLogLines(lab_.LogPath(), 4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(EventOf(lines[2]), "Disconnect");
    EXPECT_EQ(EventOf(lines[3]), "Connect");
}

TEST_F(ServerEndToEndTest, UpdateCommandsAnswerAndClose) {
    {
        TestClient client(server_.Port());
        client.Send("UpdatePlateColour(U1,1,red)\r");
        EXPECT_EQ(client.ReadToEnd(), "0\r\n");
    }
    {
        TestClient client(server_.Port());
        client.Send("UpdateSlotWidth(U1,1,3)\r");
        EXPECT_EQ(client.ReadToEnd(), "0\r\n");
    }
    std::vector<std::pair<TPlateUpdate, std::string>> applied;
    server_.Core().Invoke([&] {
        server_.Core().SetPlateUpdater([&](TPlateUpdate form, const std::string& text) {
            applied.emplace_back(form, text);
            return 1;
        });
    });
    for (const char* text : {"UpdatePlateName(U1,1,Assay)\r", "UpdatePlateLoadDate(U1,1,0)\r"}) {
        TestClient client(server_.Port());
        client.Send(text);
        EXPECT_EQ(client.ReadToEnd(), "1\r\n");
    }
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0].first, TPlateUpdate::Name);
    EXPECT_EQ(applied[1].first, TPlateUpdate::LoadDate);
    EXPECT_EQ(applied[1].second, "UpdatePlateLoadDate(U1,1,0)\r");
}

TEST_F(ServerEndToEndTest, ViewRequestsAreServedByNameAndClosed) {
    {
        TestClient client(server_.Port());
        client.Send("GET /PlateExp/DrawLab HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_TRUE(client.ReadToEnd().starts_with("HTTP/1.1 200 OK\nServer: KRB (Win32)\n"));
        EXPECT_TRUE(client.ClosedByServer());
    }
    std::string requested;
    server_.Core().Invoke([&] {
        server_.Core().AddView("TestView", [&](const std::string& request) {
            requested = request;
            return TViewReply{"HTTP/1.1 200 OK\n\n", "<MyLabPlate/>\r\n"};
        });
    });
    {
        TestClient client(server_.Port());
        client.Send("GET /PlateExp/TestView?id=1 HTTP/1.1\r\n\r\n");
        EXPECT_EQ(client.ReadToEnd(), "HTTP/1.1 200 OK\n\n<MyLabPlate/>\r\n");
        EXPECT_EQ(requested, "TestView?id=1");
    }
    {
        TestClient client(server_.Port());  // the direct form never names a view
        client.Send("PlateExp/TestView?id=1\r\n");
        EXPECT_TRUE(client.ClosedByServer());
    }
}

TEST_F(ServerEndToEndTest, StoppingClosesEveryClientBeforeLoggingStop) {
    TestClient first(server_.Port());
    TestClient second(server_.Port());
    WaitForLogLines(lab_.LogPath(), 3);
    server_.Core().Invoke([&] { server_.Core().BtnStartClick(); });
    EXPECT_EQ(server_.Core().State().StartCaption(), "Start");
    EXPECT_TRUE(first.ClosedByServer());
    EXPECT_TRUE(second.ClosedByServer());
    const auto lines = readLines(lab_.LogPath());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(EventOf(lines[3]), "Disconnect");
    EXPECT_EQ(EventOf(lines[4]), "Disconnect");
    EXPECT_EQ(EventOf(lines[5]), "Stop");
}

class ServerLifecycleTest : public ::testing::Test {
  protected:
    EmulatedLab lab_;
};

TEST_F(ServerLifecycleTest, LogsStartConnectDisconnectAndStopInTheirFormat) {
    int serverPort = 0;
    int clientPort = 0;
    {
        RunningServer server;
        server.Start(lab_.ConfigPath());
        serverPort = server.Port();
        TestClient client(serverPort);
        clientPort = client.LocalPort();
        client.Close();
        WaitForLogLines(lab_.LogPath(), 3);
    }  // the window closes
    const auto lines = readLines(lab_.LogPath());
    ASSERT_EQ(lines.size(), 4u);
    const std::string local = ";LA=0.0.0.0;LP=" + std::to_string(serverPort);
    const std::string remote = ";RA=127.0.0.1;RP=" + std::to_string(clientPort);
    EXPECT_TRUE(IsLogLine(lines[0], "Start", "LH=", local)) << lines[0];
    EXPECT_TRUE(IsLogLine(lines[1], "Connect", "RH=", remote)) << lines[1];
    EXPECT_TRUE(IsLogLine(lines[2], "Disconnect", "RH=", remote)) << lines[2];
    EXPECT_TRUE(IsLogLine(lines[3], "Stop", "LH=", local)) << lines[3];
}

TEST_F(ServerLifecycleTest, ASecondArgumentOtherThanStartLoadsButDoesNotListen) {
    RunningServer server;
    auto& core = server.Core();
    EXPECT_TRUE(core.Invoke([&] { return core.FormShow({lab_.ConfigPath(), "later"}); }));
    EXPECT_FALSE(core.State().Listening);
    EXPECT_EQ(core.State().ConfFile, lab_.ConfigPath());
    EXPECT_EQ(core.State().Port, "0");
    EXPECT_EQ(core.TcpBrowser().Units().size(), 1u);
    EXPECT_FALSE(core.Invoke([&] { return core.FormShow({lab_.ConfigPath(), "start"}); }));
    EXPECT_FALSE(core.State().Listening);  // the command line is handled once
}

TEST_F(ServerLifecycleTest, AMissingConfigurationChangesNothingAndIsLogged) {
    RunningServer server;
    auto& core = server.Core();
    core.Invoke([&] { core.LoadConfiguration(lab_.ConfigPath()); });
    core.Invoke([&] { core.LoadConfiguration("/nonexistent/DriverConfig.lni"); });
    EXPECT_EQ(core.State().ConfFile, lab_.ConfigPath());
    EXPECT_EQ(core.TcpBrowser().Units().size(), 1u);
    const auto lines = WaitForLogLines(lab_.LogPath(), 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(";Error!;Configuration File: /nonexistent/DriverConfig.lni "
                            "Does not exist!"),
              std::string::npos)
        << lines[0];
}

TEST_F(ServerLifecycleTest, StartDoesNothingWithoutANumericPort) {
    const std::string config = lab_.WriteFile("NoPort.lni", "[TCP]\r\nLogFile=other.log\r\n");
    RunningServer server;
    auto& core = server.Core();
    core.Invoke([&] {
        core.LoadConfiguration(config);
        core.BtnStartClick();
    });
    EXPECT_EQ(core.State().StartCaption(), "Start");
    EXPECT_FALSE(core.State().Listening);
    EXPECT_TRUE(core.State().LogEnabled);
}

TEST_F(ServerLifecycleTest, AConfigurationWithoutLogFileSwitchesLoggingOff) {
    const std::string quiet = lab_.WriteFile("Quiet.lni", "[TCP]\r\nport=0\r\n");
    RunningServer server;
    auto& core = server.Core();
    core.Invoke([&] { core.LoadConfiguration(lab_.ConfigPath()); });
    EXPECT_TRUE(core.State().LogEnabled);
    core.Invoke([&] {
        core.LoadConfiguration(quiet);
        core.BtnStartClick();
    });
    EXPECT_FALSE(core.State().LogEnabled);
    EXPECT_TRUE(core.State().Listening);
    EXPECT_TRUE(readLines(lab_.LogPath()).empty());
}

TEST(LogFileTest, TimeStampIsHourMinuteSecondMillisecondDayMonthYear) {
    std::tm local{};
    local.tm_year = 111;
    local.tm_mon = 5;
    local.tm_mday = 21;
    local.tm_hour = 14;
    local.tm_min = 3;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    const auto time = std::chrono::system_clock::from_time_t(std::mktime(&local)) +
                      std::chrono::milliseconds(125);
    EXPECT_EQ(LogTimeStamp(time), "14:03:07.125 21.06.11");
    EXPECT_EQ(FormatLogLine(time, "Connect", "RH=;RA=1.2.3.4;RP=5"),
              "14:03:07.125 21.06.11;Connect;RH=;RA=1.2.3.4;RP=5");
}

TEST(DispatchTest, PrefixesAreComparedExactlyInTheirOrder) {
    EXPECT_EQ(SelectDispatchTarget("GET /PlateExp/DrawLab HTTP/1.1\r\n"),
              TDispatchTarget::GetRequest);
    EXPECT_EQ(SelectDispatchTarget("KRB2ReadReadyFlag(1)\r"), TDispatchTarget::UnitCommand);
    EXPECT_EQ(SelectDispatchTarget("PlateExp/DrawLab\r"), TDispatchTarget::PlateExp);
    EXPECT_EQ(SelectDispatchTarget("UpdatePlateName(U,1,x)\r"), TDispatchTarget::UpdatePlate);
    EXPECT_EQ(SelectDispatchTarget("KRBServiceSocket\r"), TDispatchTarget::ServiceRegistration);
    EXPECT_EQ(SelectDispatchTarget("UpdateSlotLevels(U,1,3)\r"), TDispatchTarget::UpdateSlot);
    EXPECT_EQ(SelectDispatchTarget("krb2ReadReadyFlag(1)\r"), TDispatchTarget::None);
    EXPECT_EQ(SelectDispatchTarget("get / HTTP/1.1\r"), TDispatchTarget::None);
    EXPECT_EQ(SelectDispatchTarget("KRB1Init\r"), TDispatchTarget::None);
    EXPECT_EQ(SelectDispatchTarget("\r"), TDispatchTarget::None);
}

TEST(DispatchTest, OnlyRequestsForPlateExpReachTheViews) {
    EXPECT_EQ(ViewRequestOf("GET /PlateExp/DrawSys?id=2 HTTP/1.1\r\n"), "DrawSys?id=2");
    EXPECT_EQ(ViewRequestOf("GET /PlateExp/ HTTP/1.1\r\n"), "");
    EXPECT_EQ(ViewRequestOf("GET /favicon.ico HTTP/1.1\r\n"), std::nullopt);
    EXPECT_EQ(ViewRequestOf("GET /PlateExp/DrawLab\r\n"), std::nullopt);   // no blank
    EXPECT_EQ(ViewRequestOf("GET /PlateExp HTTP/1.1\r\n"), std::nullopt);  // no "/"
    EXPECT_EQ(ViewRequestOf("GET /plateexp/DrawLab HTTP/1.1\r\n"), std::nullopt);
    EXPECT_EQ(ViewRequestOf("GET\r"), std::nullopt);
}

}  // namespace
}  // namespace krb::server
