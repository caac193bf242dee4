// Wall time of 100 data-word reads at real time against the emulator, divided by the
// floor the exchange cannot go below: 100 x (ExchangeDelay + 60 ms pause + 55 ms read window).
#include <chrono>
#include <cstdio>
#include <string>

#include "KRB_lib.h"
#include "platform/clock.h"
#include "sim/controller_emulator.h"
#include "sim/port_directory.h"

int main() {
    krb::platform::setTimeScale(1.0);
    constexpr int kReads = 100;
    constexpr double kExchangeDelayMs = 200, kPauseMs = 60, kReadWindowMs = 55;
    krb::sim::PortDirectory ports;
    krb::sim::ControllerEmulator controller(ports, 9);
    controller.registers().setDm(200, 4711);
    if (std::string(KRBConnect("9")) != "1") {
        std::fprintf(stderr, "cannot open the emulator's port\n");
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    int wrong = 0;
    for (int i = 0; i < kReads; ++i)
        if (std::string(KRBReadDM("9", "200")) != "4711") ++wrong;
    double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    KRBDisconnect("9");
    double floorMs = kReads * (kExchangeDelayMs + kPauseMs + kReadWindowMs);
    std::printf("exchange: %d reads, wall %.1f ms, floor %.1f ms, ratio %.4f (target <= 1.03)%s\n",
                kReads, wallMs, floorMs, wallMs / floorMs, wrong ? ", WRONG REPLIES" : "");
    return wrong ? 1 : 0;
}
