#pragma once
// The demo lab (examples/demo-lab) on the simulator, in-process.
#include <memory>
#include <string>

#include "sim/unit_model_base.h"
#include "sim/virtual_lab.h"

namespace krb::test_support {

// The demo lab's configuration and simulation files, with motions of the given nominal times.
std::unique_ptr<sim::VirtualLab> makeDemoLab(const sim::MotionTimes& times);

// One line of the simulator's control protocol: empty when it answered "OK", else the
// line and what it said.
std::string controlRefusal(sim::VirtualLab& lab, const std::string& line);

}  // namespace krb::test_support
