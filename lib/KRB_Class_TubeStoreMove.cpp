// Plates between a plate store and the two plate positions of the tube store, and the
// bare handler motion that such transfers (and the tube moves) are built from.
#include <cstdlib>
#include <utility>

#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "KRB_Class_Busy.h"
#include "platform/clock.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

namespace {

constexpr int kTubeStoreType = 5;
constexpr std::int64_t kOtherUnitWaitMs = 500;

// One plate transfer: P's Busy is held, P's tube-transfer relay marks the transfer; the
// first failed step's digit is kept.
class TTubeStoreTransfer {
  public:
    TTubeStoreTransfer(TKRB_Class& plateStore, TKRB_Class& tubeStore)
        : p_(plateStore), t_(tubeStore) {}

    void selectPosition(std::int32_t position) {
        setUp(t_.writeAccepted(position == 0 ? setRelay(relay::kTubeTransfer)
                                             : setRelay(relay::kTubeStoreSecondPosition)));
    }
    // A get or set motion starts from the handler's last target: never from 0.
    void targetAtLeastOne() {
        for (int address : {word::kTargetSlot, word::kTargetLevel}) {
            auto target = p_.readWordAt(address).number();
            if (!target) setUp(false);
            if (target == 0) setUp(p_.wordWritten(address, 1));
        }
    }
    // A set-up step the controller did not take fails the motion that needs it.
    bool motion(int startRelay, char digit) {
        if (failed()) return false;
        if (!std::exchange(setUpTaken_, true)) return fail(digit);
        p_.ReadBackStr(setRelay(startRelay)).outcomeNotNeeded();  // the ready flag judges it
        return waited(digit);
    }
    bool handlerMotion(std::int32_t slot, std::int32_t level, int relay, char digit) {
        if (failed()) return false;
        if (!std::exchange(setUpTaken_, true)) return fail(digit);
        if (p_.SendHandlerMotion(std::to_string(slot), std::to_string(level), relay) != "1")
            return fail(digit);
        return waited(digit);
    }
    // Types on the plate store: 1 transfer station, 2 slot and level, 3 handler.
    void bringIn(std::int32_t sourceType, std::int32_t slot, std::int32_t level) {
        if (sourceType == 2) {
            handlerMotion(slot, level, relay::kUnload, '2');
        } else if (sourceType == 1) {
            targetAtLeastOne();
            transferMark(false);
            if (motion(relay::kGet, '6')) {
                transferMark(true);
                motion(relay::kSet, '5');
            }
        } else if (sourceType == 3) {
            motion(relay::kSet, '5');
        }
    }
    void takeOut(std::int32_t targetType, std::int32_t slot, std::int32_t level) {
        if (targetType == 2) {
            handlerMotion(slot, level, relay::kLoad, '1');
        } else if (targetType == 1) {
            targetAtLeastOne();
            if (motion(relay::kGet, '6')) {
                transferMark(false);
                motion(relay::kSet, '5');
            }
        } else if (targetType == 3) {
            motion(relay::kGet, '6');
        }
    }
    void betweenPositions(std::int32_t from, std::int32_t to) {
        targetAtLeastOne();
        selectPosition(from);
        if (motion(relay::kGet, '6')) {
            selectPosition(to);
            motion(relay::kSet, '5');
        }
    }
    void transferMark(bool on) {
        setUp(p_.writeAccepted(on ? setRelay(relay::kTubeTransfer)
                                  : resetRelay(relay::kTubeTransfer)));
    }
    bool failed() const { return digit_ != 0; }
    std::string result() const { return failed() ? std::to_string(p_.portNumber()) + digit_ : "1"; }

  private:
    void setUp(bool taken) { setUpTaken_ = taken && setUpTaken_; }
    bool waited(char digit) { return p_.motionCompleted() || fail(digit); }
    bool fail(char digit) {
        digit_ = digit;
        return false;
    }

    TKRB_Class& p_;
    TKRB_Class& t_;
    char digit_ = 0;
    bool setUpTaken_ = true;
};

}  // namespace

std::string TKRB_Class::SendHandlerMotion(const std::string& slotText, const std::string& levelText,
                                          int relay) {
    auto slot = parseInt32(slotText);
    auto level = parseInt32(levelText);
    if (!slot || !level) return "2";
    if (std::string refusal = checkMotionArguments(*slot, *level); !refusal.empty()) return refusal;
    return startMotionAt(*slot, *level, relay) ? "1" : "0";
}

std::string TKRB_Class::TubeStorePlateMove(
    TKRB_Class& tubeStore, const std::string& sourceTypeText, const std::string& sourceSlotText,
    const std::string& sourceLevelText, const std::string& sourcePositionText,
    const std::string& targetTypeText, const std::string& targetSlotText,
    const std::string& targetLevelText, const std::string& targetPositionText) {
    TBusyToken busy(*this);
    if (!busy.claimAfterPause(kOtherUnitWaitMs)) return "-1";
    if (!tubeStore.idleAfterPause(kOtherUnitWaitMs)) return "-1";
    if (!Initialized) return "-3";
    auto sourceType = parseInt32(sourceTypeText), sourceSlot = parseInt32(sourceSlotText),
         sourceLevel = parseInt32(sourceLevelText), sourcePosition = parseInt32(sourcePositionText),
         targetType = parseInt32(targetTypeText), targetSlot = parseInt32(targetSlotText),
         targetLevel = parseInt32(targetLevelText), targetPosition = parseInt32(targetPositionText);
    if (!sourceType || !sourceSlot || !sourceLevel || !sourcePosition || !targetType ||
        !targetSlot || !targetLevel || !targetPosition)
        return "-2";

    TTubeStoreTransfer transfer(*this, tubeStore);
    transfer.transferMark(true);
    if (*sourceType == *targetType && *sourcePosition == *targetPosition) {
        // nothing to move
    } else if (*sourceType == *targetType) {
        transfer.betweenPositions(*sourcePosition, *targetPosition);
    } else if (*targetType == kTubeStoreType) {
        transfer.selectPosition(*targetPosition);
        transfer.bringIn(*sourceType, *sourceSlot, *sourceLevel);
    } else if (*sourceType == kTubeStoreType) {
        transfer.selectPosition(*sourcePosition);
        transfer.transferMark(true);
        transfer.takeOut(*targetType, *targetSlot, *targetLevel);
    }
    transfer.transferMark(false);
    return transfer.result();
}

}  // namespace krb
