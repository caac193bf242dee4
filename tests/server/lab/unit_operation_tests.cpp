#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "fake_library.h"
#include "lab/Unit.h"
#include "lab/UnitDirectory.h"

namespace krb::server::testing {
namespace {

using Strings = std::vector<std::string>;

class UnitOperationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        Fake().Reply("KRBConnect", {"1"});
        Fake().Reply("KRBOpenCommunication", {"1"});
        Fake().Reply("KRBInitialize", {"1"});
        Fake().Reply("KRBSerialNumber", {"1234"});
        Fake().Reply("KRBReadFirmWareVersion", {"7105"});
        browser.AddUnit(&unit);
        unit.TcpBrowser = &browser;
    }
    TKRBDLL dll{FakeExports()};
    UnitDirectory browser;
    TKRBId unit{"U1", 4, "Sys", "", dll};
};

TEST_F(UnitOperationTest, ActivationSendsTheConfigurationInOrder) {
    unit.InitCommands = {"WR DM10 5", "WR DM25 12"};
    unit.PlateShovelSensor = true;
    unit.ManualAccessOffset = 3;
    unit.Compatibility = true;
    unit.UseCassConfTable = true;
    unit.AddCassette(2, 12, 30, 0);
    unit.AddCassette(1, 10, 25, 0);
    unit.AddSector(std::make_unique<TKRBSector>("Top", &unit)).AddCassette(unit.FindCassette(2));
    unit.AddSector(std::make_unique<TKRBSector>("Empty", &unit));
    EXPECT_EQ(unit.ActivateUnit(), "1");
    EXPECT_EQ(Fake().CallNames(), (Strings{"KRBConnect",
                                           "KRBOpenCommunication",
                                           "KRBReadBackStr",
                                           "KRBReadBackStr",
                                           "KRBSetPlateDetector",
                                           "KRBSetPlateShovelDetector",
                                           "KRBSetPlateTStatDetector",
                                           "KRBSetPlateTStatDetector2",
                                           "KRBSetCarsOffSet",
                                           "KRBSetIsCompSv",
                                           "KRBSetIsBCR",
                                           "KRBInitialize",
                                           "KRBSerialNumber",
                                           "KRBReadFirmWareVersion",
                                           "KRBUseCassetteConfTable",
                                           "KRBSetCassetteConfig",
                                           "KRBSetCassetteConfig",
                                           "KRBSetBase",
                                           "KRBSetExt",
                                           "KRBSetCascader",
                                           "KRBSetId",
                                           "KRBSetIdSys",
                                           "KRBDeleteSectors",
                                           "KRB2DefineSector",
                                           "KRBReadFirmWareVersion"}));
    EXPECT_EQ(Fake().ArgsOf("KRBReadBackStr"), (Strings{"4", "WR DM10 5"}));
    EXPECT_EQ(Fake().ArgsOf("KRBSetPlateShovelDetector"), (Strings{"4", "1"}));
    EXPECT_EQ(Fake().ArgsOf("KRBSetPlateDetector"), (Strings{"4", "0"}));
    EXPECT_EQ(Fake().ArgsOf("KRBSetCassetteConfig"), (Strings{"4", "1", "10", "25"}));
    EXPECT_EQ(Fake().ArgsOf("KRB2DefineSector"), (Strings{"4", "2", "2", "Top"}));
    EXPECT_TRUE(unit.Activated);
    EXPECT_FALSE(unit.Error);
    EXPECT_TRUE(unit.NewFirmware);
    EXPECT_EQ(unit.SerialNumber(), "1234");
    EXPECT_EQ(unit.FirmwareVersion(), "7105");
}

TEST_F(UnitOperationTest, ActivationCodes) {
    struct Case {
        const char* connect;
        const char* open;
        const char* init;
        const char* expected;
    };
    for (const Case& c :
         {Case{"0", "1", "1", "-1"}, Case{"2", "0", "1", "-3"}, Case{"1", "2", "1", "-4"},
          Case{"1", "9", "1", "-1"}, Case{"1", "1", "2", "-5"}, Case{"1", "1", "3", "-6"},
          Case{"1", "1", "x", "-7"}}) {
        Fake().Reply("KRBConnect", {c.connect});
        Fake().Reply("KRBOpenCommunication", {c.open});
        Fake().Reply("KRBInitialize", {c.init});
        unit.Activated = true;
        unit.BCRInit = true;
        EXPECT_EQ(unit.ActivateUnit(), c.expected);
        EXPECT_FALSE(unit.Activated);
        EXPECT_TRUE(unit.Error);
        EXPECT_FALSE(unit.BCRInit);
        EXPECT_FALSE(IsHeld(unit, TKRBId::OperationLock));
    }
}

TEST_F(UnitOperationTest, BarcodeReaderPathCodes) {
    unit.BCRPort = 6;
    for (auto [answer, expected, init] : {std::tuple{"1", "1;1", true},
                                          {"3", "1;1", true},
                                          {"0", "1;-1", false},
                                          {"5", "1;-5", false},
                                          {"junk", "1;-1", false}}) {
        Fake().Reply("KRBBCRPath", {answer});
        EXPECT_EQ(unit.ActivateUnit(), expected);
        EXPECT_EQ(unit.BCRInit, init);
        EXPECT_TRUE(unit.Activated);
    }
    EXPECT_EQ(Fake().ArgsOf("KRBBCRPath"), (Strings{"4", "6"}));
}

TEST_F(UnitOperationTest, FirmwareDecidesNewFirmware) {
    for (auto [version, isNew, text] : {std::tuple{"7099", false, "7099"},
                                        {"71", true, "71"},
                                        {"8", false, "8"},
                                        {"abc", false, ""},
                                        {"9100", true, "9100"}}) {
        Fake().Reply("KRBReadFirmWareVersion", {version});
        EXPECT_EQ(unit.ActivateUnit(), "1");
        EXPECT_EQ(unit.NewFirmware, isNew) << version;
        EXPECT_EQ(unit.FirmwareVersion(), text);
    }
}

TEST_F(UnitOperationTest, OperationLockIsHeldDuringActivation) {
    bool heldDuringConnect = false;
    Fake().OnCall([&](const RecordedCall& call) {
        if (call.name == "KRBConnect") heldDuringConnect = IsHeld(unit, TKRBId::OperationLock);
    });
    unit.ActivateUnit();
    EXPECT_TRUE(heldDuringConnect);
    EXPECT_FALSE(IsHeld(unit, TKRBId::OperationLock));
}

TEST_F(UnitOperationTest, RelayStatusAndDecodeBitText) {
    Fake().Reply("KRBReadBackStr", {"1", "1", "1", "0", "1"});
    EXPECT_EQ(unit.GetSysStatus2(), std::to_string(128 + 32 + 4 + 1));
    Fake().Reply("KRBReadBackStr", {"1", "E1"});
    EXPECT_EQ(unit.GetSysStatus2(), "-1");
    unit.NewFirmware = true;
    unit.Compatibility = true;
    Fake().Reply("KRB2GetSysStatus", {"007"});
    EXPECT_EQ(unit.GetSysStatus2(), "7");
    EXPECT_FALSE(IsHeld(unit, TKRBId::DeviceLock));

    EXPECT_EQ(DecodeBitText("10100101"), 165u);
    EXPECT_EQ(DecodeBitText("101b"), 5u);
    EXPECT_EQ(DecodeBitText("101BB"), 0u);
    EXPECT_EQ(DecodeBitText("10201"), 0u);
    EXPECT_EQ(DecodeBitText(""), 0u);
    EXPECT_EQ(DecodeBitText(std::string(64, '1')), ~0ull);
    EXPECT_EQ(DecodeBitText(std::string(65, '1')), 0u);
}

TEST_F(UnitOperationTest, ServiceMoveReplies) {
    TKRBId other{"B", 2, "Sys", "", dll};
    browser.AddUnit(&other);
    std::array<std::int32_t, 11> args{1, 2, 3, 4, 5, 2, 7, 8, 9, 10, 11};
    for (auto [answer, expected] : {std::pair{"1", "1"},
                                    {"0", "-1"},
                                    {"5", "-5"},
                                    {"23", "-B;3"},
                                    {"93", "-null;3"},
                                    {"-4", "-null;4"},
                                    {"x", "-1"}}) {
        Fake().Reply("KRB2ServiceMovePlate", {answer});
        EXPECT_EQ(unit.ServiceMovePlate2(args), expected) << answer;
        EXPECT_FALSE(unit.MoveBusy);
    }
    EXPECT_EQ(Fake().ArgsOf("KRB2ServiceMovePlate")[6], "2");
}

TEST_F(UnitOperationTest, SecondServiceMoveIsRefusedAtOnce) {
    std::string second;
    Fake().OnCall([&](const RecordedCall& call) {
        if (call.name == "KRB2ServiceMovePlate" && second.empty()) {
            std::thread([&] { second = unit.ServiceMovePlate2({}); }).join();
        }
    });
    Fake().Reply("KRB2ServiceMovePlate", {"1"});
    EXPECT_EQ(unit.ServiceMovePlate2({}), "1");
    EXPECT_EQ(second, "-1");
    EXPECT_EQ(Fake().Count("KRB2ServiceMovePlate"), 1);
}

// Two moves that both wait for the unit (another operation holds it) must not both run.
TEST_F(UnitOperationTest, ServiceMoveClaimsTheUnitBeforeWaitingForIt) {
    Fake().Reply("KRB2ServiceMovePlate", {"1"});
    auto operation = unit.Hold(TKRBId::OperationLock);
    std::thread first([&] { EXPECT_EQ(unit.ServiceMovePlate2({}), "1"); });
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!unit.MoveBusy && std::chrono::steady_clock::now() < guard) std::this_thread::yield();
    auto second = std::async(std::launch::async, [&] { return unit.ServiceMovePlate2({}); });
    const bool refusedWhileWaiting =
        second.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    operation.unlock();
    first.join();
    EXPECT_TRUE(refusedWhileWaiting);
    EXPECT_EQ(second.get(), "-1");
    EXPECT_EQ(Fake().Count("KRB2ServiceMovePlate"), 1);
}

TEST_F(UnitOperationTest, DeviceCallsHoldTheDeviceLockThenTheBindingLock) {
    bool deviceHeld = false;
    bool operationHeld = true;
    Fake().OnCall([&](const RecordedCall& call) {
        deviceHeld = IsHeld(unit, TKRBId::DeviceLock);
        operationHeld = IsHeld(unit, TKRBId::OperationLock);
        EXPECT_TRUE(call.bindingLockHeld);
    });
    Fake().Reply("KRBReadReadyFlag", {"1"});
    EXPECT_EQ(unit.ReadReadyFlag(), "1");
    EXPECT_TRUE(deviceHeld);
    EXPECT_FALSE(operationHeld);
    Fake().Reply("KRBReadUserDoorFlag", {"1"});
    EXPECT_EQ(unit.ReadUserDoorFlag(), "1");
    EXPECT_FALSE(deviceHeld);
    EXPECT_FALSE(IsHeld(unit, TKRBId::DeviceLock));
}

TEST_F(UnitOperationTest, DeactivateResetAndAccessCommands) {
    unit.Activated = true;
    unit.Busy = true;
    unit.Deactivate2();
    EXPECT_FALSE(unit.Activated);
    EXPECT_FALSE(unit.Busy);
    unit.Activated = true;
    unit.Busy = true;
    unit.Reset2();
    EXPECT_FALSE(unit.Activated);
    EXPECT_TRUE(unit.Busy);
    unit.AbandonAccess();
    unit.ContinueAccess();
    EXPECT_EQ(Fake().CallNames(),
              (Strings{"KRB2Deactivate", "KRB2Reset", "KRBReadBackStr", "KRBReadBackStr"}));
    EXPECT_EQ(Fake().Calls()[2].args[1], "ST 1903");
    EXPECT_EQ(Fake().Calls()[3].args[1], "ST 1902");
}

TEST_F(UnitOperationTest, UnboundLibraryAnswersFailureValues) {
    TKRBDLL unbound{KRBExports{}};
    TKRBId lonely{"L", 9, "Sys", "", unbound};
    EXPECT_EQ(lonely.ActivateUnit(), "-1");
    EXPECT_EQ(lonely.ReadReadyFlag(), "-1");
    EXPECT_EQ(lonely.GetSysStatus2(), "-1");
    EXPECT_EQ(lonely.Swap(), "-1");
    EXPECT_EQ(lonely.ServiceMovePlate2({}), "-1");
    EXPECT_FALSE(IsHeld(lonely, TKRBId::OperationLock));
    EXPECT_FALSE(IsHeld(lonely, TKRBId::DeviceLock));
}

}  // namespace
}  // namespace krb::server::testing
