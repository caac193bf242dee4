#pragma once
// One clock for every pause, poll interval and read time-out of the system.
// Nominal milliseconds are multiplied by the time scale from KRB_TIME_SCALE
// (default 1.0), so tests and demos run faster with identical ordering.
#include <chrono>
#include <cstdint>

namespace krb::platform {

double timeScale();
void setTimeScale(double scale);  // for tests and benchmarks

// Nominal milliseconds -> real duration under the current scale.
std::chrono::microseconds scaled(std::int64_t nominalMs);
void sleepMs(std::int64_t nominalMs);
// Nominal milliseconds -> whole real milliseconds, rounded up (at least 1 for a positive time).
long scaledWholeMs(std::int64_t nominalMs);

using SteadyTime = std::chrono::steady_clock::time_point;
SteadyTime now();

}  // namespace krb::platform
