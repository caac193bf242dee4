#include "frontend_support.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace krb::server::frontend_testing {
namespace {

// COM numbers are not reused within one run: the library keeps its registry for the process.
int NextComPort() {
    static std::atomic<int> next{40};
    return next++;
}

}  // namespace

EmulatedLab::EmulatedLab(int units, bool withLog) : test_support::EmulatedLab("krb_frontend") {
    for (int i = 0; i < units; ++i) {
        const std::string id = "U" + std::to_string(i + 1);
        AddUnit(
            NextComPort(), id,
            "[Contents]\r\nFileName=" + id + ".txt\r\n[CassettesConfiguration]\r\n1-2=3,25,1\r\n");
    }
    WriteConfiguration(withLog);
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

}  // namespace krb::server::frontend_testing
