#pragma once
// The text of /metrics: the controller links, the server's counters and the lab's state.
#include <chrono>
#include <string>

#include "web/LabSnapshot.h"

namespace krb::server::web {

// The controller port number in a library port name ("COM3", "\\.\COM12"); 0 when none.
int ComPortOf(const std::string& portName);

std::string MetricsPage(const LabSnapshot& snapshot, bool webListening);
// As above, with ages (door open, last answer) counted up to `now`.
std::string MetricsPage(const LabSnapshot& snapshot, bool webListening,
                        std::chrono::steady_clock::time_point now);

}  // namespace krb::server::web
