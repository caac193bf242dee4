#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "support/null_serial_port.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace krb::platform {
namespace {

using test_support::ScopedEnv;
using test_support::TempDir;

constexpr long kPatientMs = 10 * 60 * 1000;  // a wrong early-return would hang, not pass

// The far end of a pseudo-terminal, published as COM5 in a private port folder.
class PtyPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        slavePath_ = ::ptsname(master_);
        termios mode{};
        ASSERT_EQ(::tcgetattr(master_, &mode), 0);
        ::cfmakeraw(&mode);
        ASSERT_EQ(::tcsetattr(master_, TCSANOW, &mode), 0);
        std::filesystem::create_symlink(slavePath_, dir_.file("COM5"));
    }
    void TearDown() override {
        if (keeper_ >= 0) ::close(keeper_);
        if (master_ >= 0) ::close(master_);
    }

    // A descriptor of our own on the slave, as the simulator keeps one.
    int keepSlaveOpen() {
        keeper_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return keeper_;
    }

    void sendFromFarEnd(const std::string& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::string receiveAtFarEnd(std::size_t count) {
        std::string received;
        while (received.size() < count) {
            pollfd request{master_, POLLIN, 0};
            if (::poll(&request, 1, 10000) <= 0) break;
            char buffer[256];
            ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got <= 0) break;
            received.append(buffer, static_cast<std::size_t>(got));
        }
        return received;
    }

    // Waits until the bytes sent by the far end sit in the slave's input queue.
    void awaitPendingInput() {
        ASSERT_GE(keeper_, 0);
        pollfd request{keeper_, POLLIN, 0};
        ASSERT_EQ(::poll(&request, 1, 10000), 1);
    }

    std::unique_ptr<SerialPort> openConfigured() {
        auto port = openSerialPort("COM5");
        if (port) {
            EXPECT_TRUE(port->configure(kControllerLine));
        }
        return port;
    }

    TempDir dir_;
    ScopedEnv portDir_{"KRB_PORT_DIR", dir_.path().string()};
    ScopedEnv noLog_{"KRB_SERIAL_LOG", std::nullopt};
    int master_ = -1;
    int keeper_ = -1;
    std::string slavePath_;
};

TEST_F(PtyPortTest, OpensThroughPortFolderByEitherName) {
    auto port = openSerialPort("COM5");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->name(), "COM5");
    port.reset();
    port = openSerialPort("\\\\.\\COM5");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->name(), "\\\\.\\COM5");
}

TEST_F(PtyPortTest, AcceptsBothLineSettingsOnPseudoTerminal) {
    auto port = openSerialPort("COM5");
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->configure(kControllerLine));
    EXPECT_TRUE(port->configure(kReaderLine));
    EXPECT_TRUE(port->configure({19200, 8, Parity::Odd, 2}));
    EXPECT_TRUE(port->configure({9600, 8, Parity::None, 1}));
    EXPECT_FALSE(port->configure({9600, 6, Parity::Even, 1}));
    EXPECT_FALSE(port->configure({9600, 8, Parity::Even, 3}));
    EXPECT_FALSE(port->configure({12345, 8, Parity::Even, 1}));
}

TEST_F(PtyPortTest, SecondOpenOfTheSamePortFailsUntilTheFirstCloses) {
    ASSERT_GE(keepSlaveOpen(), 0);
    auto first = openSerialPort("COM5");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(openSerialPort("COM5"), nullptr);
    EXPECT_EQ(openSerialPort("\\\\.\\COM5"), nullptr);
    first.reset();
    // The far end still holds the terminal; the port must open again all the same.
    EXPECT_NE(openSerialPort("COM5"), nullptr);
}

TEST_F(PtyPortTest, ReadReturnsWhenTheRequestedCountHasArrived) {
    auto port = openConfigured();
    ASSERT_NE(port, nullptr);
    sendFromFarEnd("00042\r\n");
    char buffer[32] = {};
    EXPECT_EQ(port->read(buffer, 7, kPatientMs), 7);
    EXPECT_EQ(std::string(buffer, 7), "00042\r\n");
}

TEST_F(PtyPortTest, ReadGivesWhatArrivedWhenTheTimeOutPasses) {
    ASSERT_GE(keepSlaveOpen(), 0);
    auto port = openConfigured();
    ASSERT_NE(port, nullptr);
    char buffer[32] = {};
    EXPECT_EQ(port->read(buffer, sizeof buffer, 20), 0);
    EXPECT_EQ(port->read(buffer, sizeof buffer, 0), 0);
    sendFromFarEnd("OK\r");
    EXPECT_EQ(port->read(buffer, 3, kPatientMs), 3);
    sendFromFarEnd("CC");
    awaitPendingInput();
    EXPECT_EQ(port->read(buffer, sizeof buffer, 50), 2);
    EXPECT_EQ(std::string(buffer, 2), "CC");
}

TEST_F(PtyPortTest, ReadFailsWhenTheDeviceIsGone) {
    auto port = openConfigured();
    ASSERT_NE(port, nullptr);
    ::close(master_);
    master_ = -1;
    char buffer[8];
    EXPECT_EQ(port->read(buffer, sizeof buffer, kPatientMs), -1);
    EXPECT_FALSE(port->write("CR\r", 3));
}

TEST_F(PtyPortTest, WriteReachesTheFarEnd) {
    auto port = openConfigured();
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->write("RD DM200\r", 9));
    EXPECT_EQ(receiveAtFarEnd(9), "RD DM200\r");
    // More than the terminal buffers hold: the write must wait for the far end to drain.
    std::string large(200000, 'x');
    std::string drained;
    std::thread farEnd([&] { drained = receiveAtFarEnd(large.size()); });
    EXPECT_TRUE(port->write(large.data(), large.size()));
    farEnd.join();
    EXPECT_EQ(drained, large);
}

TEST_F(PtyPortTest, PurgeDiscardsPendingInput) {
    ASSERT_GE(keepSlaveOpen(), 0);
    auto port = openConfigured();
    ASSERT_NE(port, nullptr);
    char buffer[16] = {};

    sendFromFarEnd("stale");
    awaitPendingInput();
    port->purgeInput();
    sendFromFarEnd("1\r");
    EXPECT_EQ(port->read(buffer, 2, kPatientMs), 2);
    EXPECT_EQ(std::string(buffer, 2), "1\r");

    sendFromFarEnd("stale");
    awaitPendingInput();
    port->purgeAll();
    sendFromFarEnd("0\r");
    EXPECT_EQ(port->read(buffer, 2, kPatientMs), 2);
    EXPECT_EQ(std::string(buffer, 2), "0\r");
}

TEST(OpenSerialPort, FailsPromptlyForMissingOrUnsuitableDevices) {
    TempDir dir;
    test_support::writeWholeFile(dir.file("plain"), "");
    std::filesystem::create_symlink(dir.file("plain"), dir.file("COM7"));
    std::filesystem::create_symlink("/dev/null", dir.file("COM8"));
    std::filesystem::create_symlink(dir.file("gone"), dir.file("COM9"));
    ScopedEnv env("KRB_PORT_DIR", dir.path().string());

    EXPECT_EQ(openSerialPort("COM7"), nullptr);    // not a device
    EXPECT_EQ(openSerialPort("COM8"), nullptr);    // a device, but no terminal
    EXPECT_EQ(openSerialPort("COM9"), nullptr);    // dangling entry
    EXPECT_EQ(openSerialPort("COM250"), nullptr);  // /dev/ttyS249 does not exist
    EXPECT_EQ(openSerialPort("LPT1"), nullptr);
    EXPECT_EQ(openSerialPort(""), nullptr);
    EXPECT_EQ(openTermiosPort("", "COM1"), nullptr);
}

TEST(OpenSerialPort, UsesTheInstalledOpenerUntilItIsRemoved) {
    TempDir dir;
    ScopedEnv env("KRB_PORT_DIR", dir.path().string());
    std::string asked;
    setSerialPortOpener([&asked](const std::string& name) -> std::unique_ptr<SerialPort> {
        asked = name;
        return std::make_unique<test_support::NullSerialPort>("fake " + name);
    });
    auto port = openSerialPort("COM33");
    setSerialPortOpener({});
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(asked, "COM33");
    EXPECT_EQ(port->name(), "fake COM33");
    EXPECT_EQ(openSerialPort("COM33"), nullptr);
}

}  // namespace
}  // namespace krb::platform
