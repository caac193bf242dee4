// Several units driven from several threads at once: no mixed replies, no races.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KRB_lib.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

TEST(Stress, SeveralUnitsFromSeveralThreads) {
    sim::PortDirectory ports;
    std::vector<std::unique_ptr<sim::ControllerEmulator>> controllers;
    const std::vector<int> units{11, 12, 13};
    for (int n : units) {
        controllers.push_back(std::make_unique<sim::ControllerEmulator>(ports, n));
        controllers.back()->registers().setDm(100, static_cast<std::uint16_t>(n));
        ASSERT_STREQ(KRBConnect(std::to_string(n).c_str()), "1");
    }
    int wrong = 0;
    std::mutex wrongLock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            std::string id = std::to_string(units[t % units.size()]);
            for (int i = 0; i < 8; ++i) {
                std::string value = KRBReadDM(id.c_str(), "100");
                std::string running = KRBIsOperationRunning(id.c_str());
                if (value != id || running != "0") {
                    std::lock_guard guard(wrongLock);
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    for (int n : units) KRBDisconnect(std::to_string(n).c_str());
}

}  // namespace
}  // namespace krb::test
