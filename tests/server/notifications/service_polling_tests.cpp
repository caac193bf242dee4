// The changes each tick reports, and units whose controllers answer late, raise or stay
// silent. Ticks are driven by hand so that every line can be attributed to one tick.
#include <gtest/gtest.h>

#include <algorithm>

#include "service_notification_support.h"

namespace krb::server::service_test {
namespace {

// Each step changes the stand-in answers (or the unit's activation), runs `ticks` ticks and
// lists what a listener receives.
TEST_F(ServiceNotificationTest, TicksReportOnlyChangesOfThePolledState) {
    struct Step {
        const char* name;
        std::function<void(UnitAnswers&, TKRBId&)> change;
        int ticks;
        std::vector<std::string> expected;
    };
    const std::vector<Step> steps = {
        {"busy", [](UnitAnswers& a, TKRBId&) { a.Running = "1"; }, 1, {"I_DeviceBisy(U1)"}},
        {"still busy", [](UnitAnswers&, TKRBId&) {}, 1, {}},
        {"failed query keeps busy", [](UnitAnswers& a, TKRBId&) { a.Running = "-1"; }, 1, {}},
        {"idle", [](UnitAnswers& a, TKRBId&) { a.Running = "0"; }, 1, {"I_DeviceNotBisy(U1)"}},
        {"inactive unit: no door poll", [](UnitAnswers& a, TKRBId&) { a.DoorFlag = "0"; }, 4, {}},
        {"activated, and its open door on the fourth tick",
         [](UnitAnswers&, TKRBId& u) { u.Activated = true; },
         4,
         {"I_DeviceActivated(U1)", "I_DoorOpened(U1)"}},
        {"door closed, error: busy at once, door and error later",
         [](UnitAnswers& a, TKRBId&) {
             a.DoorFlag = "1";
             a.ErrorFlag = "1";
             a.ErrorCode = "29200";
             a.Running = "1";
         },
         4,
         {"I_DeviceBisy(U1)", "I_DoorClosed(U1)", "I_E#29200(U1)"}},
        {"error stays", [](UnitAnswers&, TKRBId&) {}, 4, {}},
        {"error cleared", [](UnitAnswers& a, TKRBId&) { a.ErrorFlag = "0"; }, 4, {"I_E#0(U1)"}},
        {"raised", [](UnitAnswers& a, TKRBId&) { a.ErrorFlag = "1"; }, 2, {}},
        {"and cleared before the next poll",
         [](UnitAnswers& a, TKRBId&) { a.ErrorFlag = "0"; },
         2,
         {}},
        {"code that is not a number",
         [](UnitAnswers& a, TKRBId&) {
             a.ErrorFlag = "1";
             a.ErrorCode = "abc";
         },
         4,
         {"I_E#-1(U1)"}},
        {"deactivated: capital A at the next tick",
         [](UnitAnswers&, TKRBId& u) { u.Activated = false; },
         1,
         {"I_DeviceDeActivated(U1)"}},
    };
    Listener listener(Port());
    Register(listener, 4);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        Answers(1, [&](UnitAnswers& a) { step.change(a, Unit("U1")); });
        for (int i = 0; i < step.ticks; ++i) Tick();
        std::vector<std::string> expected;
        for (const auto& line : step.expected) expected.push_back(Line(line));
        EXPECT_EQ(listener.Lines(expected.size(), 2000), expected);
        EXPECT_EQ(listener.Rest(), "");
    }
    EXPECT_EQ(Unit("U1").ErrorCode, -1);  // the binding's failure value for "abc"
    EXPECT_TRUE(Unit("U1").Error);
}

// A controller that takes its time holds its unit's poll, never the loop: the next tick is
// taken at once and skips every unit still polled.
TEST_F(ServiceNotificationTest, AUnitStillBeingPolledIsSkippedAndTheLoopGoesOn) {
    Listener listener(Port());
    Register(listener, 4);
    Answers(1, [](UnitAnswers& a) {
        a.Running = "1";
        a.HoldBusyQuery = true;
    });
    Answers(2, [](UnitAnswers& a) { a.Running = "1"; });
    const int u1Before = StandInUnits::Instance().BusyQueries(1);
    StartTick();
    // U2 is polled and reported while U1's query still hangs.
    EXPECT_EQ(listener.Lines(1), std::vector<std::string>{Line("I_DeviceBisy(U2)")});
    StartTick();
    EXPECT_GE(core_.Invoke([&] { return notifier_->PollsInFlight(); }), 1u);

    Answers(1, [](UnitAnswers& a) { a.HoldBusyQuery = false; });
    WaitForPolls();
    EXPECT_EQ(listener.Lines(1), std::vector<std::string>{Line("I_DeviceBisy(U1)")});
    EXPECT_EQ(listener.Rest(), "");
    EXPECT_EQ(StandInUnits::Instance().BusyQueries(1), u1Before + 1);
}

// More silent controllers than a fixed set of poll threads would have: the unit behind them
// is polled on its own and its lines come on time, busy every tick and its door at the fourth.
TEST_F(ServiceNotificationTest, SilentControllersDelayOnlyTheirOwnUnitsLines) {
    constexpr int kSilent = 5;
    Listener listener(Port());
    Register(listener, 4);  // before the units come: their snapshot would pass the bound
    std::vector<std::unique_ptr<TKRBId>> silent;
    for (int n = 0; n < kSilent; ++n) {
        silent.push_back(
            std::make_unique<TKRBId>("S" + std::to_string(n), 20 + n, "S", "", Unit("U1").Dll));
    }
    TKRBId answering("A", 30, "S", "", Unit("U1").Dll);
    core_.Invoke([&] {  // the silent units come first, in the order of polling
        for (auto& unit : silent) core_.TcpBrowser().AddUnit(unit.get());
        core_.TcpBrowser().AddUnit(&answering);
        return 0;
    });
    for (auto& unit : silent) {
        Answers(unit->ComPort, [](UnitAnswers& a) { a.HoldDoorQuery = true; });
        unit->Activated = true;
    }
    answering.Activated = true;
    Answers(30, [](UnitAnswers& a) { a.DoorFlag = "0"; });
    std::vector<std::string> expected;
    for (auto& unit : silent) expected.push_back(Line("I_DeviceActivated(" + unit->UnitId + ")"));
    expected.push_back(Line("I_DeviceActivated(A)"));
    for (int tick = 1; tick <= 3; ++tick) Tick();
    StartTick();  // the door tick: the silent controllers hold their polls from now on
    auto activated = listener.Lines(expected.size());
    std::sort(activated.begin(), activated.end());  // each unit on its own: any order among units
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(activated, expected);
    EXPECT_EQ(listener.Lines(1), std::vector<std::string>{Line("I_DoorOpened(A)")});
    Answers(30, [](UnitAnswers& a) { a.Running = "1"; });
    StartTick();
    EXPECT_EQ(listener.Lines(1), std::vector<std::string>{Line("I_DeviceBisy(A)")});

    for (auto& unit : silent) {
        Answers(unit->ComPort, [](UnitAnswers& a) {
            a.HoldDoorQuery = false;
            a.DoorFlag = "0";
        });
    }
    WaitForPolls();
    expected.clear();
    for (auto& unit : silent) expected.push_back(Line("I_DoorOpened(" + unit->UnitId + ")"));
    auto late = listener.Lines(expected.size());
    std::sort(late.begin(), late.end());
    EXPECT_EQ(late, expected);
    core_.Invoke([&] {  // the units must not outlive the test
        notifier_.reset();
        core_.SetServiceRegistration({});
        return 0;
    });
}

// A raising poll is logged and ends that unit's poll; its door and error poll comes at its
// next tick, and the other units are polled as usual.
TEST_F(ServiceNotificationTest, APollThatRaisesIsLoggedAndRetriedAtTheNextTick) {
    Listener listener(Port());
    Register(listener, 4);
    Unit("U1").Activated = true;
    Tick();
    listener.Lines(1);  // activated
    Answers(1, [](UnitAnswers& a) {
        a.Throws = true;
        a.DoorFlag = "0";
    });
    Answers(2, [](UnitAnswers& a) { a.Running = "1"; });
    for (int i = 0; i < 3; ++i) Tick();  // the third is a door and error tick
    EXPECT_EQ(listener.Lines(1), std::vector<std::string>{Line("I_DeviceBisy(U2)")});
    EXPECT_EQ(listener.Rest(), "");
    const auto log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find(";Error=std::runtime_error,Message=controller gone;Service Port "
                              "Timer"),
              std::string::npos)
        << log.back();

    Answers(1, [](UnitAnswers& a) { a.Throws = false; });
    Tick();
    EXPECT_EQ(listener.Lines(1), std::vector<std::string>{Line("I_DoorOpened(U1)")});
}

}  // namespace
}  // namespace krb::server::service_test
