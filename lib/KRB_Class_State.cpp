// Initialisation, reset, identity and state flags.
#include "ControllerErrors.h"
#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "KRB_Class_Busy.h"
#include "MotionWatcher.h"
#include "platform/clock.h"
#include "platform/operator_message.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

std::string TKRB_Class::Initialize() {
    TBusyToken busy(*this);
    busy.seize();
    if (replyIs(readRelay(relay::kLocksDoorBeforeInit), "1")) {
        // The lock's read-back judges the lock; a lock not seen set is not taken as set.
        ReadBackStr(setRelay(relay::kDoorLock)).outcomeNotNeeded();
        if (!replyIs(readRelay(relay::kDoorLock), "1")) return setUnitText("4");
    }
    // A transfer flag left over must not survive; the initialisation runs the same without it.
    ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();
    if (replyIs(readRelay(relay::kScanMode), "1")) {
        leaveScanMode();
        if (IsKVL) sleepMs(4000);
    }
    std::string result;
    if (replyIs(readRelay(relay::kReady), "1")) {
        result = RunInitialization();
    } else if (replyIs(readRelay(relay::kError), "1")) {
        // The code is read for the controller's sake; the ready read judges the clearing.
        ReadBackStr(readWord(word::kErrorCode)).outcomeNotNeeded();
        ReadBackStr(setRelay(relay::kClearError)).outcomeNotNeeded();
        sleepMs(200);
        result =
            replyIs(readRelay(relay::kReady), "1") ? RunInitialization() : PrepareInitialization();
    } else {
        result = PrepareInitialization();
    }
    if (result == "1") {
        Initialized = true;
        MaxSlot = parseInt32(ReadMaxSlot()).value_or(0);
        MaxLevel = parseInt32(ReadMaxLevel()).value_or(0);
        fillSerialNumberCache();
        if (!IsCascader && !IsKVL && firmwareHasCassetteTable()) LoadCassetteTable();
    } else {
        Initialized = false;
        MaxSlot = 0;
        MaxLevel = 0;
    }
    return setUnitText(result);
}

std::string TKRB_Class::PrepareInitialization() {
    if (replyIs(readRelay(relay::kDoorClosed), "1") && DoorCount > 0) return RunInitialization();
    ReadBackStr(setRelay(relay::kDoorLock)).outcomeNotNeeded();  // the ready read judges it
    if (replyIs(readRelay(relay::kReady), "1")) return RunInitialization();
    return "3";
}

// Referenced only when every axis said so: an axis whose relay could not be read may have
// lost its reference, and then the unit is initialised again rather than moved blind.
bool TKRB_Class::axesStillReferenced() {
    bool allSet = replyIs(readRelay(relay::kAxisReference), "1");
    if (!IsKVL) {
        for (int relay : relay::kOtherAxisReferences)
            allSet = replyIs(readRelay(relay), "1") && allSet;
    }
    return allSet;
}

// A unit that was power-cycled while its line was down has lost its references: nothing moves
// until it is initialised again.
void TKRB_Class::linkRestored() {
    if (!Initialized || axesStillReferenced()) return;
    Initialized = false;
    platform::noteOperatorEvent(
        "Unit " + std::to_string(PortNumber),
        "references lost while the line was down: initialise the unit again");
}

// Polls ready and error flags until one is raised; a closed port or a controller that stays
// silent ends the wait unready.
std::string TKRB_Class::pollUntilReadyOrError(bool& errorRaised) {
    errorRaised = false;
    for (int silences = 0; portOpen() && silences < kSilentPollsBeforeGivingUp;) {
        const TExchange readyReply = ReadBackStr(readRelay(relay::kReady));
        const bool ready = readyReply.is("1");
        if (readyReply.failed()) ++silences;
        if (replyIs(readRelay(relay::kError), "1")) {
            errorRaised = true;
            return "error";
        }
        if (ready) return "1";
    }
    return "2";
}

std::string TKRB_Class::RunInitialization() {
    if (axesStillReferenced()) return "1";
    sleepMs(200);
    // The starts and the clearing are judged by the flags polled after them; the error code
    // is read for the controller's sake.
    ReadBackStr(setRelay(relay::kStartInitialization)).outcomeNotNeeded();
    bool errorRaised = false;
    std::string outcome = pollUntilReadyOrError(errorRaised);
    if (!errorRaised) return outcome;
    ReadBackStr(readWord(word::kErrorCode)).outcomeNotNeeded();
    sleepMs(200);
    ReadBackStr(setRelay(relay::kClearError)).outcomeNotNeeded();
    sleepMs(200);
    ReadBackStr(setRelay(relay::kStartInitialization)).outcomeNotNeeded();
    sleepMs(200);
    outcome = pollUntilReadyOrError(errorRaised);
    if (errorRaised) {
        ReadBackStr(readWord(word::kErrorCode)).outcomeNotNeeded();
        return "2";
    }
    return outcome;
}

bool TKRB_Class::firmwareHasCassetteTable() {
    std::string version = ReadFirmWareVersion();
    if (version.size() < 2) return false;
    char first = version[0];
    char second = version[1];
    bool secondIsDigit = second >= '0' && second <= '9';
    if (first == '7') return secondIsDigit && second >= '1';
    return first >= '8' && first <= '9';
}

void TKRB_Class::LoadCassetteTable() {
    const std::int32_t rememberedDelay = Link.swapExchangeDelay(1);
    auto slots = readWordAt(word::kSlotCount).number32();
    std::int32_t pitch = 0;
    for (int slot = 1; slots && slot <= *slots; ++slot) {
        auto descriptor = readWordAt(word::kSlotDescriptor + slot).number32();
        if (!descriptor) break;
        int type = (*descriptor >> 8) & 0xFF;
        int levels = *descriptor & 0xFF;
        if (type <= 20) {
            auto typePitch = readWordAt(word::kCassetteTypePitch + type).number32();
            if (!typePitch) break;
            pitch = *typePitch;
        }
        if (slot < kSlotTableSize) {
            if (levels > 0) CassetteLevels[slot] = levels;
            CassettePitch[slot] = pitch;
        }
    }
    Link.setExchangeDelay(rememberedDelay);
}

std::string TKRB_Class::Reset() {
    bool accepted = writeAccepted(setRelay(relay::kClearError));
    Initialized = false;
    return setUnitText(accepted ? "1" : "0");
}

std::string TKRB_Class::SoftReset() {
    return setUnitText(writeAccepted(setRelay(relay::kSoftReset)) ? "1" : "0");
}

std::string TKRB_Class::identityWord(const std::string& command) {
    std::string reply = ReadBackStr(command).text();
    if (!reply.empty() && reply[0] == '0') reply.erase(0, 1);
    return setUnitText(reply);
}

std::string TKRB_Class::SerialNumber() { return identityWord(readWord(word::kSerialNumber)); }
std::string TKRB_Class::ReadFirmWareVersion() {
    return identityWord(readWord(word::kFirmwareVersion));
}

// Asks the controller only while the cache is empty; the first answer stored stays.
void TKRB_Class::fillSerialNumberCache() {
    if (!SerialNumberCache.get().empty()) return;
    std::string serial = SerialNumber();
    SerialNumberCache.with([&](std::string& cache) {
        if (cache.empty()) cache = serial;
    });
}

std::string TKRB_Class::ReadReadyFlag() {
    return setUnitText(ReadBackStr(readRelay(relay::kReady)).text());
}
std::string TKRB_Class::ReadErrorFlag() {
    return setUnitText(ReadBackStr(readRelay(relay::kError)).text());
}
std::string TKRB_Class::ReadUserDoorFlag() {
    return setUnitText(ReadBackStr(readRelay(relay::kDoorClosed)).text());
}

// The flag and status reads hand the reply on: "" tells the caller that none came.
std::string TKRB_Class::ReadStatus() {
    std::string reply = ReadBackStr(readWord(word::kErrorCode)).text();
    return setUnitText(reply == "00000" ? "0" : reply);
}

std::string TKRB_Class::ReadErrorCode() {
    if (replyIs(readRelay(relay::kError), "0")) return setUnitText("0");
    return ReadStatus();
}

std::string TKRB_Class::ReadErrorMessage() {
    if (!replyIs(readRelay(relay::kError), "1")) return setUnitText("No Error");
    auto code = readWordAt(word::kErrorCode).number();
    if (!code) return setUnitText("");
    return setUnitText(decodeErrorCode(*code));
}

std::string TKRB_Class::ReadActualSlotPosition() { return ReadDMWord(readWord(word::kActualSlot)); }
std::string TKRB_Class::ReadMaxSlot() { return ReadDMWord(readWord(word::kSlotCount)); }
std::string TKRB_Class::ReadMaxLevel() { return ReadDMWord(readWord(word::kLevelCount)); }
std::string TKRB_Class::IsInitialized() const { return Initialized ? "1" : "0"; }
std::string TKRB_Class::IsOperationRunning() const { return Busy ? "1" : "0"; }

void TKRB_Class::StartCompletionWatch() { KRB_Init_Thread::Start(shared_from_this()); }

}  // namespace krb
