#include "MotionWatcher.h"

#include <thread>

#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "platform/clock.h"

namespace krb {

using namespace controller;

void KRB_Init_Thread::Start(std::shared_ptr<TKRB_Class> unit) {
    std::thread([watcher = KRB_Init_Thread(std::move(unit))]() mutable {
        watcher.Execute();
    }).detach();
}

// Ends when the motion ends, when the controller reports an error, when it stays silent, or
// when the unit's port is closed (a disconnected unit is never polled for ever).
void KRB_Init_Thread::Execute() {
    int countedPolls = 0;
    int silences = 0;
    while (unit_->portOpen() && silences < kSilentPollsBeforeGivingUp) {
        platform::sleepMs(250);
        if (unit_->linkIdle()) {
            const TExchange ready = unit_->ReadBackStr(readRelay(relay::kReady));
            if (ready.is("1")) break;
            if (ready.failed()) ++silences;
            ++countedPolls;
        }
        if (countedPolls >= 10) {
            countedPolls = 0;
            platform::sleepMs(250);
            if (unit_->linkIdle() && errorRaised()) break;
        }
    }
    unit_->releaseBusy();
}

bool KRB_Init_Thread::errorRaised() {
    if (!unit_->replyIs(readRelay(relay::kError), "1")) return false;
    // Read for the controller's sake: the code is shown by ReadErrorCode.
    unit_->ReadBackStr(readWord(word::kErrorCode)).outcomeNotNeeded();
    return true;
}

}  // namespace krb
