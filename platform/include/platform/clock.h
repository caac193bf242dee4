#pragma once
// One clock for every pause, poll interval and read time-out of the system.
// Nominal milliseconds are multiplied by the time scale from KRB_TIME_SCALE
// (default 1.0), so tests and demos run faster with identical ordering.
#include <chrono>
#include <cstdint>

#include "platform/export.h"

namespace krb::platform {

KRB_PLATFORM_API double timeScale();
KRB_PLATFORM_API void setTimeScale(double scale);  // for tests and benchmarks

// Nominal milliseconds -> real duration under the current scale.
KRB_PLATFORM_API std::chrono::microseconds scaled(std::int64_t nominalMs);
KRB_PLATFORM_API void sleepMs(std::int64_t nominalMs);
// Nominal milliseconds -> whole real milliseconds, rounded up (at least 1 for a positive time).
KRB_PLATFORM_API long scaledWholeMs(std::int64_t nominalMs);

using SteadyTime = std::chrono::steady_clock::time_point;
KRB_PLATFORM_API SteadyTime now();

}  // namespace krb::platform
