// KRBMovePlate at real time against the emulator with motions that end at once, divided by
// the floor of its fixed pauses and exchanges. Without detectors a move is:
//   WR DM0, WR DM5 (source) + 200 ms pause, ST 1908, WaitForOperation (200 ms + RD 1915),
//   WR DM0, WR DM5 (target) + 200 ms pause, ST 1909, WaitForOperation (200 ms + RD 1915)
// = 8 exchanges x (ExchangeDelay 200 + 60 ms pause + 55 ms read window) + 4 x 200 ms.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "KRB_lib.h"
#include "platform/clock.h"
#include "sim/controller_emulator.h"
#include "sim/port_directory.h"
#include "support/controller_setup.h"

namespace {

// Relay 1915 reads "1" the moment a motion is started: the motion takes no time.
class InstantMotions : public krb::sim::UnitModel {
  public:
    std::optional<std::string> handle(const krb::sim::Command& command,
                                      krb::sim::RegisterStore& registers) override {
        if (command.kind == krb::sim::Command::Kind::SetRelay) registers.setRelay(1915, true);
        return std::nullopt;
    }
};

constexpr int kMoves = 10;
constexpr double kExchangeMs = 200 + 60 + 55;
constexpr int kExchangesPerMove = 8;
constexpr double kPausesPerMoveMs = 2 * 200 + 2 * 200;  // target pauses + first wait polls

}  // namespace

int main() {
    krb::platform::setTimeScale(1.0);
    krb::sim::PortDirectory ports;
    krb::sim::ControllerEmulator controller(ports, 9);
    controller.setModel(std::make_shared<InstantMotions>());
    krb::test_support::makeReadyAndReferenced(controller);
    if (std::string(KRBConnect("9")) != "1" || std::string(KRBInitialize("9")) != "1") {
        std::fprintf(stderr, "cannot open or initialise the emulated unit\n");
        return 1;
    }
    int wrong = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kMoves; ++i)
        if (std::string(KRBMovePlate("9", "1", "1", "2", "1")) != "1") ++wrong;
    double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    KRBDisconnect("9");
    double floorPerMoveMs = kExchangesPerMove * kExchangeMs + kPausesPerMoveMs;
    double floorMs = kMoves * floorPerMoveMs;
    std::printf(
        "move: %d moves, wall %.1f ms, floor %.1f ms (%d exchanges x %.0f ms + %.0f ms pauses "
        "per move), ratio %.4f (target <= 1.05)%s\n",
        kMoves, wallMs, floorMs, kExchangesPerMove, kExchangeMs, kPausesPerMoveMs, wallMs / floorMs,
        wrong ? ", WRONG RESULTS" : "");
    return wrong ? 1 : 0;
}
