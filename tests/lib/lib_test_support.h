#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/controller_emulator.h"
#include "sim/port_directory.h"

namespace krb::test {

// Tests run the link at a tenth of real time unless the caller chose a scale.
inline const bool kTimeScaleChosen = [] {
    if (std::getenv("KRB_TIME_SCALE") == nullptr) platform::setTimeScale(0.1);
    return true;
}();

inline std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines,
                                                  const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& entry : lines)
        if (entry == line) return true;
    return false;
}

// A controller whose axes are referenced and which is ready: initialisation succeeds at once.
inline void makeReadyAndReferenced(sim::ControllerEmulator& controller) {
    auto& registers = controller.registers();
    for (int relay : {6500, 6501, 6502, 6503, 6505, 1915, 1811}) registers.setRelay(relay, true);
}

}  // namespace krb::test
