// A service listener on the demo lab: what it is told while the base unit moves a plate
// through the cascade, has its door opened and closed, and faults.
#include <algorithm>

#include "demo_lab_server.h"

namespace krb::server::e2e {
namespace {

const std::string kBaseToExtension = "KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2,0)\r";

class ServiceListenerOnTheDemoLab : public DemoLabServerTest {
  protected:
    // Lines up to and including the first that `wanted` accepts; the last is "<no reply>"
    // when none came in time.
    template <class Wanted>
    std::vector<std::string> LinesUntilMatch(TestClient& listener, Wanted wanted) {
        std::vector<std::string> lines;
        do {
            lines.push_back(AwaitLine(listener, std::chrono::seconds(60)));
        } while (lines.back() != "<no reply>" && !wanted(lines.back()));
        return lines;
    }
    std::vector<std::string> LinesUntil(TestClient& listener, const std::string& line) {
        return LinesUntilMatch(listener,
                               [&](const std::string& got) { return got == line + "\r\n"; });
    }
    static std::vector<std::string> Of(const std::vector<std::string>& lines,
                                       const std::string& unitId) {
        std::vector<std::string> own;
        for (const auto& line : lines) {
            if (line.ends_with("(" + unitId + ")\r\n")) own.push_back(line);
        }
        return own;
    }
    static std::vector<std::string> DoorAndErrorOf(const std::vector<std::string>& lines,
                                                   const std::string& unitId) {
        auto own = Of(lines, unitId);
        std::erase_if(own, [](const std::string& line) { return line.starts_with("I_Device"); });
        return own;
    }
};

TEST_F(ServiceListenerOnTheDemoLab, SeesTheBaseMoveOpenItsDoorAndFault) {
    TestClient client(ServerPort());
    Activate(client, "Base1", "1;1");
    Activate(client, "Cascader1", "1");
    Activate(client, "Ext1", "1");

    TestClient listener(ServerPort());
    listener.Send("KRBServiceSocket\r\n");
    const auto snapshot = LinesUntil(listener, "I_DeviceDeactivated(Store4)");
    EXPECT_EQ(
        Of(snapshot, "Base1"),
        (std::vector<std::string>{"I_DeviceNotBisy(Base1)\r\n", "I_DeviceActivated(Base1)\r\n",
                                  "I_DoorClosed(Base1)\r\n", "I_E#0(Base1)\r\n"}));

    Control("FAULT COM1 slow 3000");  // the base's handler motions span several ticks
    EXPECT_EQ(Ask(client, kBaseToExtension), "1\r\n");
    // The base is busy once per step of the move: busy and idle alternate.
    const auto moving = Of(LinesUntil(listener, "I_DeviceNotBisy(Base1)"), "Base1");
    ASSERT_FALSE(moving.empty());
    for (std::size_t i = 0; i < moving.size(); ++i) {
        EXPECT_EQ(moving[i], i % 2 == 0 ? "I_DeviceBisy(Base1)\r\n" : "I_DeviceNotBisy(Base1)\r\n");
    }

    Control("FAULT COM1 door open");
    EXPECT_EQ(DoorAndErrorOf(LinesUntil(listener, "I_DoorOpened(Base1)"), "Base1"),
              std::vector<std::string>{"I_DoorOpened(Base1)\r\n"});
    Control("FAULT COM1 door closed");
    EXPECT_EQ(DoorAndErrorOf(LinesUntil(listener, "I_DoorClosed(Base1)"), "Base1"),
              std::vector<std::string>{"I_DoorClosed(Base1)\r\n"});

    Control("CLEAR COM1");
    Control("FAULT COM1 error 6101");  // the next handler motion fails with this code
    Ask(client, "KRB2ServiceMovePlate(Base1,2,4,1,1,0,Ext1,2,7,1,2,0)\r");
    const auto faulted = LinesUntilMatch(listener, [](const std::string& line) {
        return line.starts_with("I_E#") && line.ends_with("(Base1)\r\n");
    });
    EXPECT_EQ(faulted.back(), "I_E#" + std::to_string(Unit("Base1").ErrorCode) + "(Base1)\r\n");
    EXPECT_NE(Unit("Base1").ErrorCode, 0);

    EXPECT_EQ(Ask(client, "KRB2SoftReset(Base1)\r"), "1\r\n");
    EXPECT_EQ(LinesUntil(listener, "I_E#0(Base1)").back(), "I_E#0(Base1)\r\n");
}

}  // namespace
}  // namespace krb::server::e2e
