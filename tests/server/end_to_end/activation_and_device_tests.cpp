// A scheduler's session with the demo lab: activation codes, climate, shaker, status, door
// and beeper commands answered in their forms, and the log of the session. Register effects
// are read back from the simulated controllers.
#include <algorithm>

#include "demo_lab_server.h"

namespace krb::server::e2e {
namespace {

// "0" or the "000.00" pattern with an optional "-".
bool IsClimateValue(const std::string& value) {
    if (value == "0") return true;
    std::string digits = value.rfind('-', 0) == 0 ? value.substr(1) : value;
    std::size_t point = digits.find('.');
    if (point == std::string::npos || point < 3 || digits.size() - point != 3) return false;
    digits.erase(point, 1);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsFourClimateValues(std::string reply) {
    if (reply.size() < 2 || reply.substr(reply.size() - 2) != "\r\n") return false;
    reply.resize(reply.size() - 2);
    int fields = 0;
    for (std::size_t at = 0;; ++fields) {
        std::size_t end = reply.find(';', at);
        if (!IsClimateValue(reply.substr(at, end - at))) return false;
        if (end == std::string::npos) return fields + 1 == 4;
        at = end + 1;
    }
}

using test_support::EventOf;
using test_support::eventually;
using test_support::readLines;

using ActivationOverTcp = DemoLabServerTest;

TEST_F(ActivationOverTcp, CodesFollowTheUnitsReaderConfiguration) {
    TestClient client(ServerPort());
    Activate(client, "Base1", "1;1");  // reader on a port of its own (COM11)
    EXPECT_TRUE(Unit("Base1").Activated);
    EXPECT_TRUE(Unit("Base1").BCRInit);
    EXPECT_FALSE(Unit("Base1").Error);
    EXPECT_EQ(Unit("Base1").SerialNumber(), "1101");
    EXPECT_EQ(Unit("Base1").FirmwareVersion(), "7100");
    EXPECT_TRUE(lab_->model(kBase).status().referenced);

    Activate(client, "Cascader1", "1");  // no reader
    Activate(client, "Ext1", "1");       // reader relayed through the controller: no port
    EXPECT_FALSE(Unit("Ext1").BCRInit);
    EXPECT_TRUE(Unit("Ext1").Activated);
    EXPECT_TRUE(lab_->model(kExtension).status().referenced);

    EXPECT_EQ(Ask(client, "KRB2Activate(Base2)\r"), "E2\r\n");
    EXPECT_EQ(Ask(client, "KRB2Activate(base1)\r"), "E2\r\n");
    EXPECT_FALSE(Unit("Store4").Activated);
}

TEST_F(ActivationOverTcp, AControllerThatDoesNotAnswerFailsWithItsCode) {
    Control("FAULT COM4 silent");
    TestClient client(ServerPort());
    Activate(client, "Store4", "-3");  // the link could not be opened
    EXPECT_FALSE(Unit("Store4").Activated);
    EXPECT_TRUE(Unit("Store4").Error);
    EXPECT_FALSE(lab_->model(kStore).status().referenced);

    Control("CLEAR COM4");
    Activate(client, "Store4", "1;1");
    EXPECT_FALSE(Unit("Store4").Error);
}

class DevicesOverTcp : public DemoLabServerTest {
  protected:
    void SetUp() override {
        DemoLabServerTest::SetUp();
        ConnectClient({{"Base1", "1;1"}});
    }
    std::string Ask(const std::string& command) {
        return DemoLabServerTest::Ask(*client_, command);
    }
    std::uint16_t Word(int address) { return Registers(kBase).dm(address); }
    bool Relay(int relay) { return Registers(kBase).relay(relay); }
};

TEST_F(DevicesOverTcp, ClimateSetPointsReachTheControllerAndReadBack) {
    EXPECT_EQ(Ask("KRB2WriteSetClimate(Base1,37.5,90,5,0)\r"), "\r\n");
    EXPECT_EQ(Word(890), 375);
    EXPECT_EQ(Word(893), 900);
    EXPECT_EQ(Word(894), 500);
    EXPECT_EQ(Word(895), 0);
    EXPECT_EQ(Ask("KRB2ReadSetClimate(Base1)\r"), "037.50;090.00;005.00;0\r\n");

    EXPECT_EQ(Ask("KRB2WriteSetClimate(Base1,-5,x,5,0)\r"), "\r\n");
    EXPECT_EQ(Word(890), 65486);
    EXPECT_EQ(Word(893), 900) << "a value that is no number is not sent";
    EXPECT_EQ(Ask("KRB2ReadSetClimate(Base1)\r"), "-005.00;090.00;005.00;0\r\n");

    const std::string actual = Ask("KRB2ReadActualClimate(Base1)\r");
    EXPECT_TRUE(IsFourClimateValues(actual)) << actual;
}

TEST_F(DevicesOverTcp, ShakerSpeedAndRelayFollowTheCommands) {
    EXPECT_EQ(Ask("KRB2ActivateShaker(Base1,300)\r"), "\r\n");
    EXPECT_EQ(Word(39), 300);
    EXPECT_TRUE(Relay(1913));
    EXPECT_EQ(Ask("KRB2ReadSetShakerSpeed(Base1)\r"), "300\r\n");

    EXPECT_EQ(Ask("KRB2DeactivateShaker(Base1)\r"), "\r\n");
    EXPECT_FALSE(Relay(1913));
    EXPECT_TRUE(Unit("Base1").Activated) << "not taken for the unit's deactivation";
    EXPECT_EQ(Ask("KRB2ReadSetShakerSpeed(Base1)\r"), "300\r\n");

    EXPECT_EQ(Ask("KRB2ActivateShaker(Base1,400,5)\r"), "E3\r\n");
    EXPECT_EQ(Word(39), 300);
    EXPECT_FALSE(Relay(1913));
}

TEST_F(DevicesOverTcp, StatusAndDoorFollowTheUnitsLockAndDoor) {
    EXPECT_EQ(Ask("KRB2ReadReadyFlag(Base1)\r"), "1\r\n");
    // Firmware 7100 with compatibility: the controller's status word in decimal, error 128,
    // door closed and locked 32, initialising 4, ready 1.
    EXPECT_EQ(Ask("KRB2GetSysStatus(Base1)\r"), "33\r\n");
    EXPECT_EQ(Ask("KRB2ReadUserDoorFlag(Base1)\r"), "1\r\n");

    Control("FAULT COM1 door open");
    EXPECT_EQ(Ask("KRB2ReadUserDoorFlag(Base1)\r"), "0\r\n");
    EXPECT_EQ(Ask("KRB2GetSysStatus(Base1)\r"), "1\r\n");
    Control("FAULT COM1 door closed");
    EXPECT_EQ(Ask("KRB2ReadUserDoorFlag(Base1)\r"), "1\r\n");

    EXPECT_EQ(Ask("KRB2UnLock(Base1)\r"), "\r\n");
    EXPECT_FALSE(lab_->model(kBase).status().locked);
    EXPECT_EQ(Ask("KRB2ReadUserDoorFlag(Base1)\r"), "0\r\n");
    EXPECT_EQ(Ask("KRB2Lock(Base1)\r"), "\r\n");
    EXPECT_TRUE(lab_->model(kBase).status().locked);
    EXPECT_EQ(Ask("KRB2GetSysStatus(Base1)\r"), "33\r\n");
    EXPECT_EQ(Ask("KRB2ReadErrorFlag(Base1)\r"), "0\r\n");
}

TEST_F(DevicesOverTcp, BeeperRelayFollowsTheCommands) {
    EXPECT_EQ(Ask("KRB2BeeperOn(Base1)\r"), "\r\n");
    EXPECT_TRUE(Relay(1702));
    EXPECT_EQ(Ask("KRB2BeeperOff(Base1)\r"), "\r\n");
    EXPECT_FALSE(Relay(1702));
}

using SessionLog = DemoLabServerTest;

// The configuration's own notes (the demo lab has cassettes in no sector) share the log.
std::vector<std::string> SessionLines(const std::string& log) {
    auto lines = readLines(log);
    std::erase_if(lines, [](const std::string& line) { return EventOf(line) == "Configuration"; });
    return lines;
}

TEST_F(SessionLog, RecordsStartConnectDisconnectAndStop) {
    const std::string log = LabFile("KRBServer.log").string();
    const std::string serverPort = std::to_string(ServerPort());
    std::string clientPort;
    {
        TestClient client(ServerPort());
        clientPort = std::to_string(client.LocalPort());
        EXPECT_EQ(Ask(client, "KRB2Activate(Nowhere)\r"), "E2\r\n");
    }
    ASSERT_TRUE(eventually([&] { return SessionLines(log).size() >= 3; }, std::chrono::seconds(5)));
    CloseServer();

    const auto lines = SessionLines(log);
    std::vector<std::string> events;
    std::transform(lines.begin(), lines.end(), std::back_inserter(events), EventOf);
    EXPECT_EQ(events, (std::vector<std::string>{"Start", "Connect", "Disconnect", "Stop"}));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[0].ends_with(";LP=" + serverPort)) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(";RA=127.0.0.1;RP=" + clientPort)) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(";RA=127.0.0.1;RP=" + clientPort)) << lines[2];
    EXPECT_TRUE(lines[3].ends_with(";LP=" + serverPort)) << lines[3];
}

}  // namespace
}  // namespace krb::server::e2e
