#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "lab_test_support.h"
#include "sim/control_server.h"

namespace krb::sim {
namespace {

using testing::UnitLink;

class ControlTest : public ::testing::Test {
  protected:
    std::string last(const std::string& line) { return lab->control(line).back(); }
    std::unique_ptr<VirtualLab> lab = testing::makeDemoLab();
};

TEST_F(ControlTest, ListsUnitsPlatesAndTheirPlaces) {
    auto units = lab->control("UNITS");
    ASSERT_EQ(units.size(), 6u);
    EXPECT_EQ(units[0], "UNIT COM1 Base1 base");
    EXPECT_EQ(units[4], "UNIT COM5 Tubes5 tube-store");
    EXPECT_EQ(lab->control("WHERE E0002"),
              (std::vector<std::string>{"PLATE COM3 SLOT 4 4 E0002", "OK 1"}));
    EXPECT_EQ(lab->control("plates com3").back(), "OK 2");
    EXPECT_EQ(last("COUNT"), "OK plates=10 tubes=5");
    EXPECT_EQ(last("STATUS COM2"),
              "OK ready=1 error=0 code=0000 referenced=0 door=closed locked=0 scan=0 queued=0");
}

TEST_F(ControlTest, PutAndTakeChangeTheWorld) {
    EXPECT_EQ(last("PUT COM1 STATION 2 X1"), "OK");
    EXPECT_EQ(last("PUT 4 SHOVEL -"), "OK");
    EXPECT_EQ(last("PUT COM5 POSITION 2 RACK9"), "OK");
    EXPECT_EQ(last("TUBE RACK9 3 4 TX"), "OK");
    EXPECT_EQ(lab->control("WHERE X1").front(), "PLATE COM1 STATION 2 X1");
    EXPECT_EQ(lab->control("PLATES COM4")[3], "PLATE COM4 SHOVEL - NOLABEL");
    EXPECT_EQ(last("TAKE COM1 STATION 2"), "OK");
    EXPECT_EQ(last("WHERE X1"), "ERR no plate with barcode X1");
    EXPECT_EQ(last("COUNT"), "OK plates=12 tubes=6");
}

TEST_F(ControlTest, MalformedLinesAreRefusedAndChangeNothing) {
    for (const std::string& line : std::vector<std::string>{"",
                                                            "   ",
                                                            "FLY COM1",
                                                            "PUT",
                                                            "PUT COM1 1 1",
                                                            "PUT COM9 1 1 X",
                                                            "PUT COM1 a b X",
                                                            "PUT COM1 0 1 X",
                                                            "PUT COM1 1 1 P0001 extra",
                                                            "PUT COM1 1 1 Y",
                                                            "PUT COM1 POSITION 3 X",
                                                            "TAKE COM1 4 4",
                                                            "TAKE COM1",
                                                            "TAKE COMX 1 1",
                                                            "WHERE",
                                                            "WHERE a b",
                                                            "PLATES COM1 COM2",
                                                            "TUBE R0001 0 1 T",
                                                            "TUBE R0001 1 1 T",
                                                            "TUBE NONE 1 1 T",
                                                            "TUBES",
                                                            "STATUS",
                                                            "STATUS COM1 x",
                                                            "CLEAR",
                                                            "CLEAR COM99",
                                                            "FAULT",
                                                            "FAULT COM1",
                                                            "FAULT COM1 bogus",
                                                            "FAULT COM1 error",
                                                            "FAULT COM1 error zz",
                                                            "FAULT COM1 error 0",
                                                            "FAULT COM1 error 12345",
                                                            "FAULT COM1 slow -5",
                                                            "FAULT COM1 drop x",
                                                            "FAULT COM1 door ajar",
                                                            "FAULT COM1 nolabel NONE",
                                                            "FAULT COM2 reader silent",
                                                            "FAULT COM1 silent now",
                                                            "FAULT COM1 stray",
                                                            "FAULT COM1 power",
                                                            "FAULT COM1 power up",
                                                            std::string(5000, 'A')}) {
        const auto reply = lab->control(line);
        ASSERT_FALSE(reply.empty()) << line;
        EXPECT_EQ(reply.back().rfind("ERR ", 0), 0u) << "'" << line << "' gave " << reply.back();
    }
    EXPECT_EQ(last("COUNT"), "OK plates=10 tubes=5");
    EXPECT_EQ(last("STATUS COM1"),
              "OK ready=1 error=0 code=0000 referenced=0 door=closed locked=1 scan=0 queued=0");
}

TEST_F(ControlTest, CommunicationFaultsAndClear) {
    UnitLink base(*lab, 1);
    EXPECT_EQ(last("FAULT COM1 garble 1"), "OK");
    const std::string garbled = base("RD 1915");
    EXPECT_NE(garbled, "1");
    EXPECT_FALSE(garbled.empty());
    EXPECT_EQ(base("RD 1915"), "1");
    EXPECT_EQ(last("FAULT COM1 drop 1"), "OK");
    base.client().send("RD 1915\r");  // dropped: never answered, never carried out
    EXPECT_EQ(base("RD DM109"), "01101");
    EXPECT_EQ(last("FAULT COM1 late 50"), "OK");
    EXPECT_EQ(base("RD 1915"), "1");
    EXPECT_EQ(last("FAULT COM1 silent"), "OK");
    base.client().send("CR\r");
    EXPECT_EQ(last("CLEAR COM1"), "OK");
    EXPECT_EQ(base("CR"), "CC");  // the silent one got nothing back
}

TEST_F(ControlTest, AStrayReplyArrivesUnasked) {
    UnitLink base(*lab, 1);
    EXPECT_EQ(last("FAULT COM1 stray 00001"), "OK");
    EXPECT_EQ(base.client().readLine(), "00001\r\n");
    EXPECT_EQ(base("RD 1915"), "1");
}

// A power cycle: the device goes away (reads on it fail, its entry is gone), comes back as a
// new device under the same entry without its references, and the transcript runs on.
TEST_F(ControlTest, APowerCycleReplacesTheDeviceAndLosesTheReferences) {
    const std::string entry = lab->portDirectory() + "/COM1";
    const std::string before = lab->controller(1).devicePath();
    {
        UnitLink base(*lab, 1);
        base.initialise();
        ASSERT_NE(last("STATUS COM1").find("referenced=1"), std::string::npos);
        EXPECT_EQ(last("FAULT COM1 power off"), "OK");
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(entry)));
        EXPECT_EQ(base.client().readLine(), "") << "the line is dead";
        const int fd = ::open(before.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_LT(fd, 0) << "the old device cannot be opened any more";
        if (fd >= 0) ::close(fd);
        EXPECT_EQ(last("FAULT COM1 power off"), "OK") << "idempotent";
    }
    for (const std::string on : {"FAULT COM1 power on", "CLEAR COM1"}) {
        EXPECT_EQ(last(on), "OK") << on;
        EXPECT_EQ(std::filesystem::read_symlink(entry), lab->controller(1).devicePath()) << on;
        UnitLink base(*lab, 1);
        EXPECT_EQ(base("RD 1915"), "1") << on;
        EXPECT_NE(last("STATUS COM1").find("referenced=0"), std::string::npos) << on;
        EXPECT_EQ(last("FAULT COM1 power off"), "OK");
    }
    EXPECT_EQ(last("CLEAR COM1"), "OK");
    const auto lines = lab->controller(1).lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ST 1801"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "RD 1915"), 2);
}

// Reads the socket until the reply's final OK or ERR line.
std::vector<std::string> ask(int fd, const std::string& line) {
    const std::string sent = line + "\n";
    EXPECT_EQ(send(fd, sent.data(), sent.size(), MSG_NOSIGNAL), static_cast<ssize_t>(sent.size()));
    std::vector<std::string> reply;
    std::string pending;
    char buffer[512];
    while (reply.empty() ||
           (reply.back().rfind("OK", 0) != 0 && reply.back().rfind("ERR", 0) != 0)) {
        const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(count));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            reply.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    return reply;
}

int connectTo(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST_F(ControlTest, PlateMovedByRegisterCommandsShowsUpThroughTheControlSocket) {
    ControlServer server(lab->portDirectory() + "/control.sock",
                         [this](const std::string& line) { return lab->control(line); });
    const int fd = connectTo(server.path());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "WHERE P0004"),
              (std::vector<std::string>{"PLATE COM1 SLOT 5 5 P0004", "OK 1"}));

    UnitLink base(*lab, 1);
    base.initialise();
    EXPECT_TRUE(base.motion(5, 5, 1908));
    EXPECT_TRUE(base.motion(17, 3, 1909));

    EXPECT_EQ(ask(fd, "WHERE P0004"),
              (std::vector<std::string>{"PLATE COM1 SLOT 17 3 P0004", "OK 1"}));
    EXPECT_EQ(ask(fd, "bogus").back(), "ERR unknown command bogus");
    EXPECT_EQ(ask(fd, "COUNT\r").back(), "OK plates=10 tubes=5");
    close(fd);
}

}  // namespace
}  // namespace krb::sim
