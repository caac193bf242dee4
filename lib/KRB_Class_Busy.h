#pragma once
// Busy as an owned token: whoever claimed it clears it on every way out,
// unless the motion was handed to the completion watcher.
#include <cstdint>

#include "KRB_Class.h"

namespace krb {

class TBusyToken {
  public:
    explicit TBusyToken(TKRB_Class& unit) : unit_(unit) {}
    ~TBusyToken() { release(); }
    TBusyToken(const TBusyToken&) = delete;
    TBusyToken& operator=(const TBusyToken&) = delete;

    bool claimWithin(std::int64_t timeoutMs) { return held_ = unit_.claimBusyWithin(timeoutMs); }
    bool claimStepped() { return held_ = unit_.claimBusyStepped(); }
    bool claimAfterPause(std::int64_t pauseMs) {
        return held_ = unit_.claimBusyAfterPause(pauseMs);
    }
    // Initialisation takes Busy whoever holds it: a unit must always be able to start over.
    void seize() {
        unit_.Busy = true;
        held_ = true;
    }
    void handToWatcher() { held_ = false; }
    void release() {
        if (held_) unit_.releaseBusy();
        held_ = false;
    }

  private:
    TKRB_Class& unit_;
    bool held_ = false;
};

}  // namespace krb
