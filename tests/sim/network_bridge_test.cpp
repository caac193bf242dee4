// A unit of the demo lab put on the network: the library's transports reach its controller
// through the bridge, raw and with telnet COM-port control, and a client that leaves makes
// room for the next one.
#include "sim/network_bridge.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "lab_test_support.h"
#include "platform/network_port.h"

namespace krb::sim::testing {
namespace {

std::string Ask(platform::SerialPort& port, const std::string& command, std::size_t length) {
    const std::string line = command + "\r";
    EXPECT_TRUE(port.write(line.data(), line.size()));
    std::string reply(length, '\0');
    long got = port.read(reply.data(), length, 2000);
    reply.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return reply;
}

TEST(NetworkBridge, CarriesTheControllerLineRawAndWithComPortControl) {
    auto lab = makeDemoLab();
    const std::string device =
        std::filesystem::read_symlink(lab->portDirectory() + "/COM4").string();
    for (const auto mode : {BridgeMode::Raw, BridgeMode::Rfc2217}) {
        NetworkBridge bridge(device, 0, mode);
        SCOPED_TRACE(bridge.address());
        for (int client = 0; client < 2; ++client) {
            auto port =
                platform::openNetworkPort(*platform::parseNetworkAddress(bridge.address()), "COM4");
            ASSERT_NE(port, nullptr);
            ASSERT_TRUE(port->configure(platform::kControllerLine));
            EXPECT_EQ(Ask(*port, "WR DM300 255", 4), "OK\r\n");
            EXPECT_EQ(Ask(*port, "RD DM300", 7), "00255\r\n");
        }
    }
}

}  // namespace
}  // namespace krb::sim::testing
