#pragma once
// Tests run at a tenth of real time unless the caller chose a scale.
#include <cstdlib>

#include "platform/clock.h"

namespace krb::test_support {

inline const bool kTimeScaleChosen = [] {
    if (std::getenv("KRB_TIME_SCALE") == nullptr) platform::setTimeScale(0.1);
    return true;
}();

// For tests whose outcome depends on a peer answering within a read window: a slower
// clock keeps them independent of the machine's load.
class ScopedTimeScale {
  public:
    explicit ScopedTimeScale(double scale) : previous_(platform::timeScale()) {
        platform::setTimeScale(scale);
    }
    ~ScopedTimeScale() { platform::setTimeScale(previous_); }
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

  private:
    double previous_;
};

}  // namespace krb::test_support
