// Service listeners: the registration snapshot, fan-out to every entry, and listeners that
// leave or stop reading.
#include <gtest/gtest.h>

#include <algorithm>

#include "service_notification_support.h"

namespace krb::server::service_test {
namespace {

TEST_F(ServiceNotificationTest, SnapshotListsEveryUnitInOrderAndChangesNoFlag) {
    struct Case {
        const char* name;
        bool activated;
        UnitAnswers u1;
        std::vector<std::string> expected;  // U1's lines; U2 (inactive, idle) follows
    };
    const std::vector<Case> cases = {
        {"active, idle, closed, no error",
         true,
         {},
         {"I_DeviceNotBisy(U1)", "I_DeviceActivated(U1)", "I_DoorClosed(U1)", "I_E#0(U1)"}},
        {"active, busy, open, error",
         true,
         {.Running = "1", .DoorFlag = "0", .ErrorFlag = "1", .ErrorCode = "4611"},
         {"I_DeviceBisy(U1)", "I_DeviceActivated(U1)", "I_DoorOpened(U1)", "I_E#4611(U1)"}},
        {"inactive: no door or error",
         false,
         {.Running = "1"},
         {"I_DeviceBisy(U1)", "I_DeviceDeactivated(U1)"}},
        {"failed queries send nothing",
         true,
         {.Running = "-1", .DoorFlag = "x", .ErrorFlag = ""},
         {"I_DeviceActivated(U1)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Answers(1, [&](UnitAnswers& a) { a = c.u1; });
        Unit("U1").Activated = c.activated;
        Listener listener(Port());
        listener.Send("KRBServiceSocket\r\n");
        std::vector<std::string> expected;
        for (const auto& line : c.expected) expected.push_back(Line(line));
        expected.push_back(Line("I_DeviceNotBisy(U2)"));
        expected.push_back(Line("I_DeviceDeactivated(U2)"));
        EXPECT_EQ(listener.Lines(expected.size()), expected);
        EXPECT_EQ(listener.Rest(), "");
        EXPECT_FALSE(Unit("U1").Busy);
        EXPECT_FALSE(Unit("U1").DoorOpened);
        EXPECT_FALSE(Unit("U1").Error);
        EXPECT_FALSE(Unit("U1").ActivationReported);
    }
}

TEST_F(ServiceNotificationTest, ASnapshotThatRaisesIsLoggedAndSendsWhatWasGathered) {
    Answers(2, [](UnitAnswers& a) { a.Throws = true; });
    Listener listener(Port());
    listener.Send("KRBServiceSocket\r\n");
    EXPECT_EQ(listener.Lines(2), (std::vector<std::string>{Line("I_DeviceNotBisy(U1)"),
                                                           Line("I_DeviceDeactivated(U1)")}));
    EXPECT_EQ(Entries(), 1u);
    // The connect line may follow it: it waits for the reverse lookup.
    const auto log = Log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.find(";Error=std::runtime_error,Message=controller gone;RH=") !=
               std::string::npos;
    }));
}

TEST_F(ServiceNotificationTest, OtherServiceTextsAreIgnored) {
    Listener listener(Port());
    for (const char* text : {"KRBServiceSocke\r\n", "KRBService\r\n", "KRBServicesocket\r\n"}) {
        listener.Send(text);
        frontend_testing::Pause();
    }
    EXPECT_EQ(listener.Rest(), "");
    EXPECT_EQ(Entries(), 0u);
}

TEST_F(ServiceNotificationTest, EveryEntryReceivesEveryLineUntilItsConnectionCloses) {
    Listener once(Port());
    Listener twice(Port());
    Register(once, 4);
    Register(twice, 4);
    Register(twice, 4);  // a second snapshot, and a second entry
    Answers(1, [](UnitAnswers& a) { a.Running = "1"; });
    Tick();
    const std::string busy = Line("I_DeviceBisy(U1)");
    EXPECT_EQ(once.Lines(1), std::vector<std::string>{busy});
    EXPECT_EQ(twice.Lines(2), (std::vector<std::string>{busy, busy}));
    EXPECT_EQ(once.Rest() + twice.Rest(), "");

    twice.Close();
    frontend_testing::Pause();
    Answers(1, [](UnitAnswers& a) { a.Running = "0"; });
    Tick();
    EXPECT_EQ(once.Lines(1), std::vector<std::string>{Line("I_DeviceNotBisy(U1)")});
    EXPECT_EQ(once.Rest(), "");
    // The disconnect removed one of its two entries; the other went at the next sending.
    EXPECT_EQ(Entries(), 1u);
}

// A listener that registers between a deactivation and the next tick is told the state; the
// listeners that were told "activated" still learn of the change.
TEST_F(ServiceNotificationTest, DeactivationReachesEarlierListenersAfterALaterRegistration) {
    Listener early(Port());
    Register(early, 4);
    Unit("U1").Activated = true;
    Tick();
    EXPECT_EQ(early.Lines(1), std::vector<std::string>{Line("I_DeviceActivated(U1)")});

    Unit("U1").Activated = false;
    Listener late(Port());
    late.Send("KRBServiceSocket\r\n");
    EXPECT_EQ(late.Lines(2), (std::vector<std::string>{Line("I_DeviceNotBisy(U1)"),
                                                       Line("I_DeviceDeactivated(U1)")}));
    late.Lines(2);  // U2
    Tick();
    EXPECT_EQ(early.Lines(1), std::vector<std::string>{Line("I_DeviceDeActivated(U1)")});
    EXPECT_EQ(late.Lines(1), std::vector<std::string>{Line("I_DeviceDeActivated(U1)")});
}

// A listener that stops reading fills its socket and then its queue; past the bound it is
// dropped, and the listener that reads receives every line meanwhile.
TEST_F(ServiceNotificationTest, AListenerThatStopsReadingIsDroppedAndOthersKeepReceiving) {
    // Lines of 64 KiB fill the socket buffers in a few ticks.
    const std::string longId(64 * 1024, 'L');
    TKRBId wide(longId, 9, "S", "", Unit("U1").Dll);
    core_.Invoke([&] {
        core_.TcpBrowser().AddUnit(&wide);
        return 0;
    });
    Listener stalled(Port(), 1024);
    Listener reading(Port());
    Register(stalled, 6);
    Register(reading, 6);
    bool dropped = false;
    for (int tick = 0; tick < 200 && !dropped; ++tick) {
        Answers(9, [&](UnitAnswers& a) { a.Running = tick % 2 == 0 ? "1" : "0"; });
        Tick();
        const std::string expected =
            (tick % 2 == 0 ? "I_DeviceBisy(" : "I_DeviceNotBisy(") + longId + ")\r\n";
        ASSERT_EQ(reading.Lines(1), std::vector<std::string>{expected}) << "tick " << tick;
        dropped = Entries() == 1;
    }
    EXPECT_TRUE(dropped);
    const auto log = Log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.find(";Error=SlowServiceListener,Message=8 notification lines pending;RH=") !=
               std::string::npos;
    }));
    EXPECT_TRUE(stalled.ClosedByServer());
    core_.Invoke([&] {  // the unit must not outlive the test
        notifier_.reset();
        core_.SetServiceRegistration({});
        return 0;
    });
}

// With the one worker held by a silent controller, registrations wait for it and share the
// unit's next query; none is sent short, and one beyond the bound closes its listener.
TEST_F(ServiceNotificationTest, RegistrationsWithoutAWorkerWaitShareQueriesAndGetWholeSnapshots) {
    core_.Invoke([&] {
        notifier_ = InstallServiceNotifier(
            core_, {.IntervalMs = 1'000'000'000, .MaxWorkers = 1, .MaxSnapshotsInProgress = 3});
        return 0;
    });
    Answers(1, [](UnitAnswers& a) { a.HoldBusyQuery = true; });
    std::vector<std::unique_ptr<Listener>> listeners;
    for (int i = 0; i < 3; ++i) {
        listeners.push_back(std::make_unique<Listener>(Port()));
        listeners.back()->Send("KRBServiceSocket\r\n");
        while (Entries() < listeners.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(core_.Invoke([&] { return notifier_->SnapshotsInProgress(); }), 3u);
    Listener refused(Port());
    refused.Send("KRBServiceSocket\r\n");
    EXPECT_TRUE(refused.ClosedByServer());
    Answers(1, [](UnitAnswers& a) { a.HoldBusyQuery = false; });
    const std::vector<std::string> snapshot{
        Line("I_DeviceNotBisy(U1)"), Line("I_DeviceDeactivated(U1)"), Line("I_DeviceNotBisy(U2)"),
        Line("I_DeviceDeactivated(U2)")};
    for (auto& listener : listeners) EXPECT_EQ(listener->Lines(snapshot.size()), snapshot);
    EXPECT_EQ(StandInUnits::Instance().BusyQueries(1), 2);  // the first, then one for the rest
    EXPECT_EQ(core_.Invoke([&] { return notifier_->SnapshotsInProgress(); }), 0u);
    const auto log = Log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.find(";Error=ServiceSnapshotRefused,Message=3 snapshots in progress;RH=") !=
               std::string::npos;
    }));
}

}  // namespace
}  // namespace krb::server::service_test
