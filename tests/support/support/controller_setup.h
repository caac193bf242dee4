#pragma once
// Helpers for tests that talk to a controller emulator and read its transcript.
#include <string>
#include <vector>

#include "sim/controller_emulator.h"

namespace krb::test_support {

// A controller whose axes are referenced and which is ready: initialisation succeeds at once.
inline void makeReadyAndReferenced(sim::ControllerEmulator& controller) {
    auto& registers = controller.registers();
    for (int relay : {6500, 6501, 6502, 6503, 6504, 6505, 1915, 1811})
        registers.setRelay(relay, true);
}

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

}  // namespace krb::test_support
