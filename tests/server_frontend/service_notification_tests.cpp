// Service listeners against stand-in units: the registration snapshot, the changes each tick
// reports, fan-out to every entry, and listeners that leave or stop reading. Ticks are driven
// by hand so that every line can be attributed to one tick.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "ServiceNotifier.h"
#include "UnitId.h"
#include "UnitMain.h"
#include "fake_library.h"
#include "frontend_support.h"
#include "support/lab_files.h"

namespace krb::server {
namespace {

using test_support::readLines;
using testing::TempFolder;

// --- stand-in units: what each controller answers, per port ---------------------------------

struct UnitAnswers {
    std::string Running = "0";
    std::string DoorFlag = "1";  // closed
    std::string ErrorFlag = "0";
    std::string ErrorCode = "0";
    bool Throws = false;         // the busy query raises
    bool HoldBusyQuery = false;  // the busy query waits until released
    bool HoldDoorQuery = false;  // the door query waits until released: a silent controller
    int BusyQueries = 0;
};

class StandInUnits {
  public:
    static StandInUnits& Instance() {
        static StandInUnits units;
        return units;
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        answers_.clear();
    }
    template <class Change>
    void Set(int port, Change change) {
        std::lock_guard lock(mutex_);
        change(answers_[std::to_string(port)]);
        changed_.notify_all();
    }
    int BusyQueries(int port) {
        std::lock_guard lock(mutex_);
        return answers_[std::to_string(port)].BusyQueries;
    }
    const char* Running(KRBText id) {
        std::unique_lock lock(mutex_);
        UnitAnswers& unit = answers_[id];
        ++unit.BusyQueries;
        changed_.wait(lock, [&] { return !unit.HoldBusyQuery; });
        if (unit.Throws) throw std::runtime_error("controller gone");
        return Text(unit.Running);
    }
    const char* Answer(KRBText id, std::string UnitAnswers::*field) {
        std::lock_guard lock(mutex_);
        return Text(answers_[id].*field);
    }
    const char* Door(KRBText id) {
        std::unique_lock lock(mutex_);
        UnitAnswers& unit = answers_[id];
        changed_.wait(lock, [&] { return !unit.HoldDoorQuery; });
        return Text(unit.DoorFlag);
    }

  private:
    static const char* Text(const std::string& value) {
        thread_local std::string slot;
        slot = value;
        return slot.c_str();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, UnitAnswers> answers_;
};

KRBText StandInRunning(KRBText id) { return StandInUnits::Instance().Running(id); }
KRBText StandInDoor(KRBText id) { return StandInUnits::Instance().Door(id); }
KRBText StandInErrorFlag(KRBText id) {
    return StandInUnits::Instance().Answer(id, &UnitAnswers::ErrorFlag);
}
KRBText StandInErrorCode(KRBText id) {
    return StandInUnits::Instance().Answer(id, &UnitAnswers::ErrorCode);
}

KRBText StandInConnect(KRBText) { return "1"; }

// Loading connects; then only the four queries of the poll answer, every other export is
// absent.
KRBExports StandInExports() {
    KRBExports exports;
    exports.KRBConnect = &StandInConnect;
    exports.KRBIsOperationRunning = &StandInRunning;
    exports.KRBReadUserDoorFlag = &StandInDoor;
    exports.KRBReadErrorFlag = &StandInErrorFlag;
    exports.KRBReadErrorCode = &StandInErrorCode;
    return exports;
}

// --- a listener: a plain socket that reads whole lines with a time limit ----------------------

class Listener {
  public:
    explicit Listener(int port, int receiveBuffer = 0)
        : fd_(test_support::ConnectLoopback(port, {.receiveBuffer = receiveBuffer})) {
        if (fd_ < 0) throw std::runtime_error("connect failed");
    }
    ~Listener() { Close(); }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void Send(const std::string& text) {
        if (!test_support::SendAll(fd_, text)) throw std::runtime_error("send failed");
    }
    // The next `count` lines (CR LF kept); fewer when the guard runs out or the server closed.
    std::vector<std::string> Lines(std::size_t count, int guardMs = 10000) {
        std::vector<std::string> lines;
        while (lines.size() < count) {
            const auto end = pending_.find("\r\n");
            if (end != std::string::npos) {
                lines.push_back(pending_.substr(0, end + 2));
                pending_.erase(0, end + 2);
                continue;
            }
            if (!Receive(guardMs)) break;
        }
        return lines;
    }
    // Whatever arrives within a short wait: "" when the server sent nothing.
    std::string Rest() {
        while (Receive(100)) {
        }
        return std::exchange(pending_, {});
    }
    bool ClosedByServer(int guardMs = 10000) {
        while (Receive(guardMs)) pending_.clear();
        return closed_;
    }

  private:
    bool Receive(int waitMs) {
        pollfd ready{fd_, POLLIN, 0};
        if (closed_ || ::poll(&ready, 1, waitMs) <= 0) return false;
        char buffer[65536];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    int fd_ = -1;
    bool closed_ = false;
    std::string pending_;
};

std::string Line(const std::string& text) { return text + "\r\n"; }

// --- the server: stand-in units U1.., a notifier whose timer never fires by itself ------------

class ServiceNotificationTest : public ::testing::Test {
  protected:
    static constexpr int kUnits = 2;
    static constexpr std::size_t kMaxPendingLines = 8;

    ServiceNotificationTest() {
        StandInUnits::Instance().Reset();
        test_support::LabFiles files(folder_.path(), "S");
        for (int n = 1; n <= kUnits; ++n) {
            const std::string id = "U" + std::to_string(n);
            files.AddUnit(n, id,
                          "[Contents]\r\nFileName=" + id +
                              ".txt\r\n[CassettesConfiguration]\r\n1-2=3,25,1\r\n");
        }
        const std::string config = files.WriteConfiguration(0, "LogFile=server.log\r\n");
        core_.Invoke([&] { return core_.FormShow({config, "start"}); });
        notifier_ = core_.Invoke([&] {
            return InstallServiceNotifier(
                core_, {.IntervalMs = 1'000'000'000, .MaxPendingLines = kMaxPendingLines});
        });
    }
    ~ServiceNotificationTest() override { server_.Stop(); }

    int Port() { return core_.State().LocalPort; }
    TKRBId& Unit(const std::string& id) { return *core_.TcpBrowser().FindUnitById(id); }
    template <class Change>
    void Answers(int port, Change change) {
        StandInUnits::Instance().Set(port, change);
    }
    std::size_t Entries() {
        return core_.Invoke([&] { return core_.ServiceSockets().size(); });
    }
    // One tick, returning once every poll it started has ended and sent its lines.
    void Tick() {
        StartTick();
        WaitForPolls();
    }
    void StartTick() {
        core_.Invoke([&] {
            notifier_->ServerTimerTimer();
            return 0;
        });
    }
    void WaitForPolls() {
        while (core_.Invoke([&] { return notifier_->PollsInFlight(); }) > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    void FourTicks() {
        for (int i = 0; i < 4; ++i) Tick();
    }
    // Registers and reads the snapshot (two lines for an inactive unit, four for an active one).
    void Register(Listener& listener, std::size_t snapshotLines) {
        const std::size_t before = Entries();
        listener.Send("KRBServiceSocket\r\n");
        ASSERT_EQ(listener.Lines(snapshotLines).size(), snapshotLines);
        ASSERT_EQ(Entries(), before + 1);
    }
    std::vector<std::string> Log() { return readLines((folder_.path() / "server.log").string()); }

    TempFolder folder_;
    test_support::RunningServer server_{StandInExports()};
    ServerCore& core_ = server_.Core();
    std::shared_ptr<ServiceNotifier> notifier_;
};

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

}  // namespace
}  // namespace krb::server
