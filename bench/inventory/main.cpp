// Wall time of a full long-format inventory (detection, relayed barcodes, reader height
// correction) of a 10-slot, 10-level unit at real time with zero-duration motions, divided
// by the floor of its fixed pauses and exchanges. The floor is counted from what the
// controller received: every command costs ExchangeDelay + 60 ms pause + 55 ms read window;
// every ready poll a 200 ms pause; every position 150 ms; every reader height write 100 ms;
// every relayed barcode 300 ms + one 55 ms read; the scan's start 150 ms.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "KRB_lib.h"
#include "platform/clock.h"
#include "sim/controller_emulator.h"
#include "sim/port_directory.h"
#include "support/controller_setup.h"

namespace {

constexpr int kSlots = 10, kLevels = 10;

// Plates on every other position, each labelled; scan mode reads them at DM0/DM5.
class ScanWorld : public krb::sim::UnitModel {
  public:
    std::optional<std::string> handle(const krb::sim::Command& command,
                                      krb::sim::RegisterStore& registers) override {
        int slot = registers.dm(0), level = registers.dm(5);
        bool plate = registers.relay(1910) && (slot + level) % 2 == 0;
        if (command.kind == krb::sim::Command::Kind::ReadRelay && command.address == 1808)
            return plate ? "1" : "0";
        if (command.raw == "ST 1712" && plate)
            return "OK\x02P" + std::to_string(slot * 100 + level) + "\x03";
        return std::nullopt;
    }
};

std::size_t count(const std::vector<std::string>& lines, const std::string& prefix) {
    std::size_t n = 0;
    for (const auto& line : lines) n += line.rfind(prefix, 0) == 0;
    return n;
}

}  // namespace

int main() {
    krb::platform::setTimeScale(1.0);
    krb::sim::PortDirectory ports;
    krb::sim::ControllerEmulator controller(ports, 9);
    controller.setModel(std::make_shared<ScanWorld>());
    auto& registers = controller.registers();
    krb::test_support::makeReadyAndReferenced(controller);
    registers.setDm(29, kSlots);
    registers.setDm(25, kLevels);
    registers.setDm(27, 400);
    registers.setDm(6, 30);
    if (std::string(KRB2Activate("9")) != "1") {
        std::fprintf(stderr, "cannot activate the emulated unit\n");
        return 1;
    }
    KRBSetIsCompSv("9", "1");
    KRBSetIsBCR("9", "1");
    std::string file = (std::filesystem::temp_directory_path() / "bench_inventory.inv").string();
    controller.clearTranscript();

    auto start = std::chrono::steady_clock::now();
    if (std::string(KRB2Inventory("9", file.c_str(), "1", "1")) != "1") {
        std::fprintf(stderr, "inventory did not start\n");
        return 1;
    }
    while (std::string(KRBIsOperationRunning("9")) == "1")
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    auto lines = controller.lines();
    const double exchangeMs = 200 + 60 + 55;
    std::size_t positions = count(lines, "WR DM5 ");
    std::size_t readyPolls = count(lines, "RD 1915");
    std::size_t heightWrites = count(lines, "WR DM6 ");
    std::size_t barcodes = count(lines, "ST 1712");
    double floorMs = 150 + lines.size() * exchangeMs + readyPolls * 200.0 + positions * 150.0 +
                     heightWrites * 100.0 + barcodes * (300.0 + 55.0);
    bool complete = positions == kSlots * kLevels && std::filesystem::exists(file);
    std::filesystem::remove(file);
    KRBDisconnect("9");
    std::printf(
        "inventory: %zu positions, %zu exchanges, %zu ready polls, %zu height writes, "
        "%zu barcodes; wall %.1f ms, floor %.1f ms, ratio %.4f (target <= 1.05)%s\n",
        positions, lines.size(), readyPolls, heightWrites, barcodes, wallMs, floorMs,
        wallMs / floorMs, complete ? "" : ", INCOMPLETE SCAN");
    return complete ? 0 : 1;
}
