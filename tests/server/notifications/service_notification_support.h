#pragma once
// Service listeners against stand-in units: what each stand-in controller answers, a listener
// that reads whole lines, and a server whose notifier ticks only when a test drives it.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_library.h"
#include "frontend_support.h"
#include "lab/Unit.h"
#include "notifications/ServiceNotifier.h"
#include "protocol/ServerCore.h"
#include "support/lab_files.h"

namespace krb::server::service_test {

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

inline KRBText StandInRunning(KRBText id) { return StandInUnits::Instance().Running(id); }
inline KRBText StandInDoor(KRBText id) { return StandInUnits::Instance().Door(id); }
inline KRBText StandInErrorFlag(KRBText id) {
    return StandInUnits::Instance().Answer(id, &UnitAnswers::ErrorFlag);
}
inline KRBText StandInErrorCode(KRBText id) {
    return StandInUnits::Instance().Answer(id, &UnitAnswers::ErrorCode);
}

inline KRBText StandInConnect(KRBText) { return "1"; }

// Loading connects; then only the four queries of the poll answer, every other export is
// absent.
inline KRBExports StandInExports() {
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

inline std::string Line(const std::string& text) { return text + "\r\n"; }

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

}  // namespace krb::server::service_test
