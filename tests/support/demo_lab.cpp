#include "support/demo_lab.h"

#include <vector>

#include "sim/lab_config.h"
#include "support/lab_files.h"

namespace krb::test_support {

std::unique_ptr<sim::VirtualLab> makeDemoLab(const sim::MotionTimes& times) {
    sim::LabConfig config = sim::loadLabConfig(demoLabFile("DriverConfig.lni"));
    std::vector<int> ports;
    for (const auto& unit : config.units) ports.push_back(unit.com);
    sim::SimSettings settings = sim::loadSimFile(demoLabFile("Simulation.lni"), ports);
    settings.times = times;
    return std::make_unique<sim::VirtualLab>(std::move(config), std::move(settings));
}

std::string controlRefusal(sim::VirtualLab& lab, const std::string& line) {
    const auto reply = lab.control(line);
    if (reply.empty()) return line + ": no reply";
    if (reply.back().rfind("OK", 0) != 0) return line + ": " + reply.back();
    return {};
}

}  // namespace krb::test_support
