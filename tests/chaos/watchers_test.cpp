// The run's own eyes: the device watch reports a terminal outside the lab, the listener and
// the view client see the server's surfaces, and the reader's device server can be cut.
#include "watchers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <thread>

#include "chaos_lab.h"
#include "platform/clock.h"
#include "support/eventually.h"
#include "support/tcp_client.h"

namespace krb::chaos {
namespace {

class LabWatch : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("KRB_TIME_SCALE") == nullptr) platform::setTimeScale(0.05);
        lab_ = std::make_unique<ChaosLab>(true);
    }
    std::unique_ptr<ChaosLab> lab_;
};

TEST_F(LabWatch, AnOpenTerminalOutsideTheLabIsReportedOnceAndTheLabsOwnAreNot) {
    Watchers watchers(*lab_);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string outside = ::ptsname(master);
    const int slave = ::open(outside.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    watchers.setContext("while the test held " + outside);
    EXPECT_TRUE(test_support::eventually([&] { return !watchers.devices().violations.empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::close(slave);
    ::close(master);
    watchers.stop();
    const auto found = watchers.devices();
    ASSERT_EQ(found.violations.size(), 1u);
    EXPECT_EQ(found.violations.front(),
              "while the test held " + outside + ": a device outside the lab is open: " + outside);
    EXPECT_GT(found.checks, 1);
}

TEST_F(LabWatch, TheListenerAndTheViewClientFindTheServersSurfacesWellFormed) {
    Watchers watchers(*lab_);
    EXPECT_TRUE(test_support::eventually(
        [&] { return watchers.notificationLines() >= 5 && watchers.viewsFetched() >= 8; }));
    watchers.stop();
    EXPECT_TRUE(watchers.notifications().violations.empty());
    EXPECT_TRUE(watchers.views().violations.empty());
}

TEST_F(LabWatch, AStoppedDeviceServerRefusesConnectionsUntilItIsStartedAgain) {
    const std::string entry = lab_->sim().portDirectory() + "/COM14";
    const std::string address = test_support::readWholeFile(entry);
    ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;
    const int port = std::stoi(address.substr(std::string("tcp://127.0.0.1:").size()));
    lab_->stopDeviceServer();
    EXPECT_LT(test_support::ConnectLoopback(port), 0);
    lab_->startDeviceServer();
    const int fd = test_support::ConnectLoopback(port);
    ASSERT_GE(fd, 0) << "the same port as before";
    ASSERT_TRUE(test_support::SendAll(fd, "LON\r"));
    EXPECT_TRUE(test_support::eventually([&] {
        const auto lines = lab_->sim().reader(4)->lines();
        return !lines.empty() && lines.back() == "LON";
    }));
    ::close(fd);
}

}  // namespace
}  // namespace krb::chaos
