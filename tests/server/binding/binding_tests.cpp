#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "fake_library.h"

namespace krb::server::testing {
namespace {

class BindingTest : public ::testing::Test {
  protected:
    void SetUp() override { Fake().Reset(); }
    TKRBDLL dll{FakeExports()};
};

TEST_F(BindingTest, PassesUnitAndArgumentsAsTexts) {
    dll.SetCassetteConfig(7, 3, 12, -25);
    dll.SetBase(7, true);
    dll.SetExt(7, false);
    dll.WriteSetClimate2(7, "37.0", "90", "5", "");
    dll.Inventory2(7, "inv", true, false);
    dll.ServiceMovePlate2(7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
    EXPECT_EQ(Fake().ArgsOf("KRBSetCassetteConfig"),
              (std::vector<std::string>{"7", "3", "12", "-25"}));
    EXPECT_EQ(Fake().ArgsOf("KRBSetBase"), (std::vector<std::string>{"7", "1"}));
    EXPECT_EQ(Fake().ArgsOf("KRBSetExt"), (std::vector<std::string>{"7", "0"}));
    EXPECT_EQ(Fake().ArgsOf("KRB2WriteSetClimate"),
              (std::vector<std::string>{"7", "37.0", "90", "5", ""}));
    EXPECT_EQ(Fake().ArgsOf("KRB2Inventory"), (std::vector<std::string>{"7", "inv", "1", "0"}));
    EXPECT_EQ(Fake().ArgsOf("KRB2ServiceMovePlate").size(), 12u);
    EXPECT_EQ(Fake().ArgsOf("KRB2ServiceMovePlate")[11], "11");
}

TEST_F(BindingTest, IntegerResultsFallBackOnFailure) {
    Fake().Reply("KRBReadReadyFlag", {"abc"});
    EXPECT_EQ(dll.ReadReadyFlag(1), -1);
    Fake().Reply("KRBConnect", {""});
    EXPECT_EQ(dll.Connect(1), 0);
    Fake().Reply("KRBReadErrorCode", {FakeLibrary::kNoText});
    EXPECT_EQ(dll.ReadErrorCode(1), -1);
    Fake().Reply("KRBReadErrorFlag", {" 1"});
    EXPECT_EQ(dll.ReadErrorFlag(1), -1);
    Fake().Reply("KRBSoftReset", {"99999999999"});
    EXPECT_EQ(dll.SoftReset(1), -1);
    Fake().Reply("KRB2ServiceMovePlate", {"x"});
    EXPECT_EQ(dll.ServiceMovePlate2(1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
    Fake().Reply("KRBBCRPath", {"open"});
    EXPECT_NE(dll.BCRPath(1, 2), 1);
    Fake().Reply("KRBReadFirmWareVersion", {"v72"});
    EXPECT_FALSE(dll.TryReadFirmWareVersion(1).has_value());
    EXPECT_EQ(dll.ReadFirmWareVersion(1), 0);
}

TEST_F(BindingTest, StartResultsAreMapped) {
    Fake().Reply("KRB2Inventory", {"0", "1", "4", "-3", "x", "-1"});
    std::vector<int> results;
    for (int i = 0; i < 6; ++i) results.push_back(dll.Inventory2(1, "f", false, false));
    EXPECT_EQ(results, (std::vector<int>{-1, 1, -4, 3, -1, -1}));
    Fake().Reply("KRB2ServiceIsPlateAtLocation", {"0", "1", "5", "", "-1"});
    results.clear();
    for (int i = 0; i < 5; ++i) results.push_back(dll.ServiceIsPlateAtLocation2(1, 1, 1));
    EXPECT_EQ(results, (std::vector<int>{0, 1, -5, -1, -1}));
}

TEST_F(BindingTest, TextResultsAreConverted) {
    Fake().Reply("KRBAlternateXferStation", {"0", "2", "abc", FakeLibrary::kNoText});
    EXPECT_EQ(dll.AlternateXferStation(1, 1), "-1");
    EXPECT_EQ(dll.AlternateXferStation(1, 1), "2");
    EXPECT_EQ(dll.AlternateXferStation(1, 1), "abc");
    EXPECT_EQ(dll.AlternateXferStation(1, 1), "-1");
    Fake().Reply("KRB2GetSysStatus", {"007", "", "x"});
    EXPECT_EQ(dll.GetSysStatus2(1), "7");
    EXPECT_EQ(dll.GetSysStatus2(1), "-1");
    EXPECT_EQ(dll.GetSysStatus2(1), "-1");
    Fake().Reply("KRBSwap", {"0", "3"});
    EXPECT_EQ(dll.Swap(1), -1);
    EXPECT_EQ(dll.Swap(1), 3);
    Fake().Reply("KRBSerialNumber", {FakeLibrary::kNoText});
    EXPECT_EQ(dll.SerialNumber(1), "");
}

TEST_F(BindingTest, OnlyMarkedCallsHoldTheBindingLock) {
    dll.Connect(1);
    dll.IsOperationRunning(1);
    dll.DefineSector2(1, 1, 2, "A");
    dll.Initialize(1);
    dll.Inventory2(1, "f", false, false);
    dll.SetId(1, "U");
    for (const auto& call : Fake().Calls()) {
        bool marked = call.name == "KRBConnect" || call.name == "KRBIsOperationRunning" ||
                      call.name == "KRB2DefineSector";
        EXPECT_EQ(call.bindingLockHeld, marked) << call.name;
    }
    EXPECT_FALSE(BindingLockHeld(1));
}

// While a marked call for one unit is inside the library, a marked call for another unit runs
// and the first unit's lock is still held.
TEST_F(BindingTest, UnitsHaveBindingLocksOfTheirOwn) {
    std::future_status other = std::future_status::timeout;
    bool ownHeld = false;
    Fake().OnCall([&](const RecordedCall& call) {
        if (call.name != "KRBReadReadyFlag" || call.args.front() != "1") return;
        other = std::async(std::launch::async, [&] {
                    dll.ReadReadyFlag(2);
                }).wait_for(std::chrono::seconds(5));
        ownHeld = BindingLockHeld(1);
    });
    dll.ReadReadyFlag(1);
    Fake().OnCall({});
    EXPECT_EQ(other, std::future_status::ready);
    EXPECT_TRUE(ownHeld);
    EXPECT_EQ(Fake().Count("KRBReadReadyFlag"), 2);
}

// A holder that lets go and asks again at once (a poll between its two queries) queues behind
// the threads already waiting; the holder itself may take it again while it holds it.
TEST(FairRecursiveMutexTest, WaitersGetItInTheOrderTheyCame) {
    FairRecursiveMutex mutex;
    std::vector<int> order;  // written only by the holder
    mutex.lock();
    mutex.lock();
    std::vector<std::thread> waiters;
    for (std::size_t i = 1; i <= 3; ++i) {
        waiters.emplace_back([&, i] {
            mutex.lock();
            order.push_back(static_cast<int>(i));
            mutex.unlock();
        });
        while (mutex.Waiters() < i) std::this_thread::yield();
    }
    EXPECT_TRUE(mutex.try_lock());
    EXPECT_FALSE(std::async(std::launch::async, [&] { return mutex.try_lock(); }).get());
    mutex.unlock();
    mutex.unlock();
    mutex.unlock();
    mutex.lock();
    order.push_back(0);
    mutex.unlock();
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(mutex.Waiters(), 0u);
    EXPECT_TRUE(mutex.try_lock());
    mutex.unlock();
}

}  // namespace
}  // namespace krb::server::testing
