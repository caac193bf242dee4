#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace krb::platform {
namespace {

double scaleFromEnvironment() {
    const char* text = std::getenv("KRB_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value > 0.0) || value > 1000.0) return 1.0;
    return value;
}

std::atomic<double>& scaleCell() {
    static std::atomic<double> cell{scaleFromEnvironment()};
    return cell;
}

}  // namespace

double timeScale() { return scaleCell().load(); }

void setTimeScale(double scale) {
    if (scale > 0.0) scaleCell().store(scale);
}

std::chrono::microseconds scaled(std::int64_t nominalMs) {
    if (nominalMs <= 0) return std::chrono::microseconds(0);
    return std::chrono::microseconds(static_cast<std::int64_t>(nominalMs * 1000.0 * timeScale()));
}

long scaledWholeMs(std::int64_t nominalMs) {
    auto micros = scaled(nominalMs).count();
    return micros <= 0 ? 0 : std::max<long>(1, static_cast<long>((micros + 999) / 1000));
}

void sleepMs(std::int64_t nominalMs) {
    auto duration = scaled(nominalMs);
    if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

SteadyTime now() { return std::chrono::steady_clock::now(); }

}  // namespace krb::platform
