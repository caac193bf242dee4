// The library and its caller share one platform state: what the caller installs, the
// library's links use.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KRB_lib.h"
#include "lib_test_support.h"
#include "platform/serial_port.h"

namespace krb::test {
namespace {

TEST(PlatformState, ATransportInstalledByTheCallerCarriesTheLibrarysLink) {
    sim::PortDirectory ports;
    sim::ControllerEmulator controller(ports, 5);
    controller.registers().setDm(12, 42);
    std::vector<std::string> asked;
    // COM77 exists only through this opener, which leads it to the emulator on COM5.
    platform::setSerialPortOpener(
        [&](const std::string& name) -> std::unique_ptr<platform::SerialPort> {
            asked.push_back(name);
            return platform::openTermiosPort(ports.entryPath(5), name);
        });
    const std::string connected = KRBConnect("77");
    const std::string word = KRBReadDM("77", "12");
    KRBDisconnect("77");
    platform::setSerialPortOpener({});

    EXPECT_EQ(connected, "1");
    EXPECT_EQ(word, "42");
    ASSERT_FALSE(asked.empty());
    EXPECT_NE(asked.front().find("COM77"), std::string::npos) << asked.front();
}

}  // namespace
}  // namespace krb::test
