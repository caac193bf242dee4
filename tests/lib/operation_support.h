#pragma once
// A unit object on the controller emulator, with just enough physics for the operations:
// motions that end after a number of ready polls or raise the error flag, and a scripted
// slot detector.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "KRB_Class.h"
#include "lib_test_support.h"

namespace krb::test {

class MotionModel : public sim::UnitModel {
  public:
    std::optional<std::string> handle(const sim::Command& command,
                                      sim::RegisterStore& registers) override {
        std::lock_guard guard(mutex_);
        using Kind = sim::Command::Kind;
        if (command.kind == Kind::SetRelay && isMotion(command.address))
            start(command.address, registers);
        if (command.kind == Kind::ReadRelay && command.address == 1915) advance(registers);
        if (command.kind == Kind::ReadRelay && command.address == 1808 && !detector_.empty()) {
            std::string reply = detector_.front();
            detector_.pop_front();
            return reply;
        }
        return std::nullopt;
    }

    void setPollsPerMotion(int polls) {
        std::lock_guard guard(mutex_);
        pollsPerMotion_ = polls;
    }
    void failMotion(int relay) {
        std::lock_guard guard(mutex_);
        failing_.insert(relay);
    }
    void queueDetector(std::vector<std::string> replies) {
        std::lock_guard guard(mutex_);
        detector_.assign(replies.begin(), replies.end());
    }

  private:
    static bool isMotion(int relay) { return (relay >= 1902 && relay <= 1909) || relay == 1710; }

    void start(int relay, sim::RegisterStore& registers) {
        if (failing_.count(relay)) {
            registers.setRelay(1915, false);
            registers.setRelay(1814, true);
            remaining_ = -1;
            return;
        }
        remaining_ = pollsPerMotion_;
        registers.setRelay(1915, remaining_ == 0);
    }

    void advance(sim::RegisterStore& registers) {
        if (remaining_ > 0 && --remaining_ == 0) registers.setRelay(1915, true);
    }

    std::mutex mutex_;
    int pollsPerMotion_ = 0;
    int remaining_ = 0;
    std::set<int> failing_;
    std::deque<std::string> detector_;
};

class UnitOnEmulator : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.setModel(model);
        makeReadyAndReferenced(controller);
        unit->SetPortName("COM7");
        ASSERT_EQ(unit->OpenPort(), "1");
        unit->markInitialized(true);
    }
    void TearDown() override { unit->Disconnect(); }

    std::vector<std::string> linesAfter(const std::function<void()>& action) {
        controller.clearTranscript();
        action();
        return controller.lines();
    }

    bool busyClearsWithin(std::chrono::milliseconds limit) {
        return eventually([&] { return !unit->busy(); }, limit);
    }

    // Lines sent before the watcher's first ready poll.
    std::vector<std::string> untilStart(const std::vector<std::string>& lines) {
        std::vector<std::string> head;
        for (const auto& line : lines) {
            head.push_back(line);
            if (line.rfind("ST 19", 0) == 0) break;
        }
        return head;
    }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 7};
    std::shared_ptr<MotionModel> model = std::make_shared<MotionModel>();
    std::shared_ptr<TKRB_Class> unit = std::make_shared<TKRB_Class>();
};

using Lines = std::vector<std::string>;

}  // namespace krb::test
