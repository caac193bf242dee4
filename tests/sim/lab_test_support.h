#pragma once
// The demo lab with short motion times, and a register-level client for one of its units.
#include <chrono>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "serial_client.h"
#include "sim/unit_model_base.h"
#include "sim/virtual_lab.h"
#include "support/demo_lab.h"
#include "support/lab_files.h"

namespace krb::sim::testing {

using test_support::demoLabFile;

inline MotionTimes fastTimes() {
    MotionTimes times;
    times.motion = 200;
    times.init = 300;
    times.turn = 50;
    times.position = 20;
    times.gate = 50;
    times.reader = 20;
    return times;
}

inline std::unique_ptr<VirtualLab> makeDemoLab() {
    platform::setTimeScale(0.1);
    return test_support::makeDemoLab(fastTimes());
}

// Register commands to one unit of a lab, with the waits a caller needs.
class UnitLink {
  public:
    UnitLink(VirtualLab& lab, int com)
        : lab_(lab), com_(com), client_(lab.portDirectory() + "/COM" + std::to_string(com)) {}

    std::string operator()(const std::string& command) { return client_.exchange(command); }
    SerialClient& client() { return client_; }

    // Every command answered "OK".
    bool send(std::initializer_list<std::string> commands) {
        bool allOk = true;
        for (const auto& command : commands) allOk = client_.exchange(command) == "OK" && allOk;
        return allOk;
    }
    bool waitIdle() { return lab_.model(com_).waitUntilIdle(std::chrono::seconds(10)); }
    void initialise() {
        send({"ST 1801"});
        waitIdle();
        send({"ST 1701"});
    }
    // Target, start relay, wait: true when the motion ended without an error.
    bool motion(int slot, int level, int relay) {
        send({"WR DM0 " + std::to_string(slot), "WR DM5 " + std::to_string(level),
              "ST " + std::to_string(relay)});
        waitIdle();
        return client_.exchange("RD 1814") == "0";
    }

  private:
    VirtualLab& lab_;
    int com_;
    SerialClient client_;
};

inline std::string where(VirtualLab& lab, const std::string& barcode) {
    auto reply = lab.control("WHERE " + barcode);
    return reply.size() == 2 ? reply.front() : reply.back();
}

}  // namespace krb::sim::testing
