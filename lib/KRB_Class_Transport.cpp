// Plate transport: plain motions left to the completion watcher, composite moves that
// wait for their own motions, occupancy checks, the gate and the transfer stations.
//
// Busy is a test-and-set token: a motion claims it in one step, waiting up to 180 s for the
// unit to come free, so two callers can never start motions at the same moment. An operation
// clears Busy only when it claimed it itself.
#include <cstdlib>

#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "KRB_Class_Busy.h"
#include "platform/clock.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

namespace {

constexpr std::int64_t kBusyWaitMs = 180000;
constexpr int kErrorPollEvery = 6;
constexpr int kUntilIdleChecks = 1000;

std::string text(std::int64_t value) { return std::to_string(value); }

std::string presenceText(TSlotDetector detector) {
    switch (detector) {
        case TSlotDetector::Occupied:
            return "1";
        case TSlotDetector::Free:
            return "0";
        case TSlotDetector::Unreadable:
            break;
    }
    return "-1";
}

// Negative slot arguments address slot -s in the cassette table.
int absoluteSlot(std::int32_t slot) {
    std::int64_t absolute = std::llabs(static_cast<std::int64_t>(slot));
    return absolute < TKRB_Class::kSlotTableSize ? static_cast<int>(absolute) : 0;
}

}  // namespace

// --- the Busy token

bool TKRB_Class::tryClaimBusy() {
    bool expected = false;
    return Busy.compare_exchange_strong(expected, true);
}

bool TKRB_Class::claimBusyWithin(std::int64_t timeoutMs) {
    for (std::int64_t slept = 0;; slept += 10) {
        if (tryClaimBusy()) return true;
        if (slept >= timeoutMs) return false;
        sleepMs(10);
    }
}

bool TKRB_Class::claimBusyStepped() {
    if (tryClaimBusy()) return true;
    for (int pauseMs : {250, 500, 1000}) {
        sleepMs(pauseMs);
        if (tryClaimBusy()) return true;
    }
    return false;
}

bool TKRB_Class::claimBusyAfterPause(std::int64_t pauseMs) {
    if (tryClaimBusy()) return true;
    sleepMs(pauseMs);
    return tryClaimBusy();
}

bool TKRB_Class::idleAfterPause(std::int64_t pauseMs) const {
    if (!Busy) return true;
    sleepMs(pauseMs);
    return !Busy;
}

bool TKRB_Class::busyClearsStepped() {
    if (!Busy) return true;
    for (int pauseMs : {250, 500, 1000}) {
        sleepMs(pauseMs);
        if (!Busy) return true;
    }
    return false;
}

// --- plain motions

std::string TKRB_Class::LoadPlate(const std::string& slot, const std::string& level) {
    return StartHandlerMotion(slot, level, relay::kLoad);
}
std::string TKRB_Class::UnloadPlate(const std::string& slot, const std::string& level) {
    return StartHandlerMotion(slot, level, relay::kUnload);
}
std::string TKRB_Class::PickPlate(const std::string& slot, const std::string& level) {
    return StartHandlerMotion(slot, level, relay::kPick);
}
std::string TKRB_Class::PlacePlate(const std::string& slot, const std::string& level) {
    return StartHandlerMotion(slot, level, relay::kPlace);
}
std::string TKRB_Class::SetPlate() { return lastMotionPlate(relay::kSet); }
std::string TKRB_Class::GetPlate() { return lastMotionPlate(relay::kGet); }

std::string TKRB_Class::lastMotionPlate(int relay) {
    if (IsCascader) return StartHandlerMotion("0", "0", relay);
    std::int32_t slot = LastMotionSlot ? LastMotionSlot.load() : 1;
    std::int32_t level = LastMotionLevel ? LastMotionLevel.load() : 1;
    return StartHandlerMotion(text(slot), text(level), relay);
}

// "" when the motion may go on, else its refusal code.
std::string TKRB_Class::checkMotionArguments(std::int32_t slot, std::int32_t level) {
    if (!UseCassetteConfTable && (slot <= 0 || level <= 0) && !IsCascader) return "2";
    if (level <= 0 && !IsCascader) return "2";
    int levels = cassetteLevels(slot);
    if (level > 0 && levels != 0 && level > levels) return "2";
    if (DoorCount > 0 && !replyIs(readRelay(relay::kDoorClosed), "1")) return "3";
    return "";
}

std::string TKRB_Class::StartHandlerMotion(const std::string& slotText,
                                           const std::string& levelText, int relay) {
    if (!Initialized) return "0";
    auto slot = parseInt32(slotText);
    auto level = parseInt32(levelText);
    if (!slot || !level) return "2";
    if (std::string refusal = checkMotionArguments(*slot, *level); !refusal.empty()) return refusal;
    LastMotionSlot = wireSlotOf(*slot);
    LastMotionLevel = *level;
    TBusyToken busy(*this);
    if (!busy.claimWithin(kBusyWaitMs)) return "4";
    // A target the controller did not take would send the handler to the last one.
    if (!startMotionAt(*slot, *level, relay)) return "0";
    busy.handToWatcher();
    StartCompletionWatch();
    return "1";
}

// Negative slots travel as slot + 65536.
std::int32_t TKRB_Class::wireSlotOf(std::int32_t slot) { return slot < 0 ? slot + 65536 : slot; }

// The target words and the start relay of one motion whose arguments were checked; false
// when a word was not taken, and then nothing was started.
bool TKRB_Class::startMotionAt(std::int32_t slot, std::int32_t level, int relay) {
    std::int32_t wireSlot = wireSlotOf(slot);
    if (!(IsCascader && wireSlot == 0) && !wordWritten(word::kTargetSlot, wireSlot)) return false;
    sleepMs(200);
    // A slot of 0 or below takes the pitch of slot -s, written only when that entry is set.
    if (UseCassetteConfTable && !writePitchOf(slot > 0 ? slot : absoluteSlot(slot))) return false;
    if (!(IsCascader && level == 0) && !wordWritten(word::kTargetLevel, level)) return false;
    // The start itself is judged by the completion watcher, which sees whether it ran.
    ReadBackStr(setRelay(relay)).outcomeNotNeeded();
    return true;
}

// --- waits

void TKRB_Class::WaitForCompletion(const std::string& timeoutMs) {
    auto limit = parseInt64(timeoutMs);
    if (!limit) return;
    for (std::int64_t slept = 0; Busy && slept < *limit; slept += 10) sleepMs(10);
}

bool TKRB_Class::errorPollRaised() {
    sleepMs(200);
    if (!replyIs(readRelay(relay::kError), "1")) return false;
    // Read for the controller's sake: the code is shown by ReadErrorCode, not here.
    ReadBackStr(readWord(word::kErrorCode)).outcomeNotNeeded();
    return true;
}

// Waits without limit while the controller answers; silence, an error or a closed port end it.
std::string TKRB_Class::WaitForOperation() {
    std::string result = "0";
    int silences = 0;
    for (int poll = 1; portOpen(); ++poll) {
        sleepMs(200);
        TExchange ready = ReadBackStr(readRelay(relay::kReady));
        if (ready.is("1")) {
            result = "1";
            break;
        }
        if (ready.failed()) ++silences;
        if (poll > 1 && (poll - 1) % kErrorPollEvery == 0 && errorPollRaised()) break;
        if (silences >= kSilentPollsBeforeGivingUp) break;
    }
    WaitResult.set(result);
    return result;
}

void TKRB_Class::WaitUntilIdle() {
    for (int check = 0; check < kUntilIdleChecks && IsOperationRunning() == "1"; ++check)
        sleepMs(10);
}

// --- composite moves

// True when the slot has no pitch of its own or the controller took it.
bool TKRB_Class::writePitchOf(std::int32_t slot) {
    int pitch = cassettePitch(slot);
    return pitch == 0 || wordWritten(word::kHandlerZPitch, pitch);
}

bool TKRB_Class::writeTarget(std::int32_t slot, std::int32_t level, bool pause) {
    if (!wordWritten(word::kTargetSlot, slot) || !writePitchOf(slot)) return false;
    if (pause) sleepMs(200);
    return wordWritten(word::kTargetLevel, level);
}

// The start's reply is not needed: the ready flag says whether the motion ran.
bool TKRB_Class::motionEnded(const std::string& startCommand) {
    ReadBackStr(startCommand).outcomeNotNeeded();
    return motionCompleted();
}

// The slot detector, in scan mode, at the target just written.
TSlotDetector TKRB_Class::scanSlotDetector() {
    if (!writeAccepted(setRelay(relay::kScanMode))) return TSlotDetector::Unreadable;
    sleepMs(150);
    TExchange reply = ReadBackStr(readRelay(relay::kSlotPlate));
    leaveScanMode();
    return slotDetectorReading(reply.text());
}

// Scan mode off is repeated once: a handler left in scan mode refuses the next motion.
void TKRB_Class::leaveScanMode() {
    if (!writeAccepted(resetRelay(relay::kScanMode)))
        ReadBackStr(resetRelay(relay::kScanMode)).outcomeNotNeeded();
}

// A target is free only when the detector said so; anything else takes the plate back.
bool TKRB_Class::targetMayBeTaken() {
    return CheckSlotPlate && scanSlotDetector() != TSlotDetector::Free;
}

// Only "0" refuses a pick: an unreadable source is picked as without a detector, since an
// empty slot gives the shovel nothing to collide with.
bool TKRB_Class::sourceFoundEmpty() {
    return CheckSlotPlate && scanSlotDetector() == TSlotDetector::Free;
}

// Slots and levels that are not numbers are refused before anything moves.
std::string TKRB_Class::ImportPlate(const std::string& slotText, const std::string& levelText) {
    if (!Initialized) return "0";
    auto slot = parseInt32(slotText);
    auto level = parseInt32(levelText);
    if (!slot || !level) return "2";
    TBusyToken busy(*this);
    if (!busy.claimWithin(kBusyWaitMs)) return "6";
    if (CheckTransferStation && ReadTransferStationDetector() == "0") return "2";
    if (!writeTarget(*slot, *level, true) || !motionEnded(setRelay(relay::kGet))) return "3";
    if (targetMayBeTaken()) return motionEnded(setRelay(relay::kSet)) ? "5" : "7";
    return motionEnded(setRelay(relay::kPlace)) ? "1" : "4";
}

std::string TKRB_Class::ExportPlate(const std::string& slotText, const std::string& levelText) {
    if (!Initialized) return "0";
    auto slot = parseInt32(slotText);
    auto level = parseInt32(levelText);
    if (!slot || !level) return "2";
    if (CheckTransferStation && ReadTransferStationDetector() == "1") return "5";
    TBusyToken busy(*this);
    if (!busy.claimWithin(kBusyWaitMs)) return "6";
    if (!writeTarget(*slot, *level, true)) return "3";
    if (sourceFoundEmpty()) return "2";
    if (!motionEnded(setRelay(relay::kPick))) return "3";
    return motionEnded(setRelay(relay::kSet)) ? "1" : "4";
}

std::string TKRB_Class::MovePlate(const std::string& sourceSlotText,
                                  const std::string& sourceLevelText,
                                  const std::string& targetSlotText,
                                  const std::string& targetLevelText) {
    if (!Initialized) return "0";
    auto sourceSlot = parseInt32(sourceSlotText);
    auto sourceLevel = parseInt32(sourceLevelText);
    auto targetSlot = parseInt32(targetSlotText);
    auto targetLevel = parseInt32(targetLevelText);
    if (!sourceSlot || !sourceLevel || !targetSlot || !targetLevel) return "2";
    TBusyToken busy(*this);
    if (!busy.claimWithin(kBusyWaitMs)) return "6";
    if (!writeTarget(*sourceSlot, *sourceLevel, true)) return "3";
    if (sourceFoundEmpty()) return "2";
    if (!motionEnded(setRelay(relay::kPick))) return "3";
    // A target that was not set or may be taken sends the plate back where it came from.
    if (!writeTarget(*targetSlot, *targetLevel, true) || targetMayBeTaken()) {
        bool back = writeTarget(*sourceSlot, *sourceLevel, false);
        return back && motionEnded(setRelay(relay::kPlace)) ? "5" : "6";
    }
    return motionEnded(setRelay(relay::kPlace)) ? "1" : "4";
}

// --- occupancy checks

// "1" a plate, "0" none, "-1" the detector could not be read: a lost read is not "none".
std::string TKRB_Class::finishPresenceScan(bool positioned) {
    TSlotDetector detector = positioned ? readSlotDetectorTried() : TSlotDetector::Unreadable;
    leaveScanMode();
    sleepMs(150);
    return presenceText(detector);
}

// Three tries, as for the other words read while the caller waits.
TSlotDetector TKRB_Class::readSlotDetectorTried() {
    TSlotDetector detector = TSlotDetector::Unreadable;
    for (int attempt = 0; attempt < 3 && detector == TSlotDetector::Unreadable; ++attempt)
        detector = slotDetectorReading(ReadBackStr(readRelay(relay::kSlotPlate)).text());
    return detector;
}

std::string TKRB_Class::IsPlateAtLocation(const std::string& slotText,
                                          const std::string& levelText) {
    if (!Initialized) return "2";
    auto slot = parseInt32(slotText);
    auto level = parseInt32(levelText);
    if (!CheckSlotPlate || !slot || !level) return "0";
    TBusyToken busy(*this);
    busy.claimWithin(kBusyWaitMs);  // a motion that never ends does not keep the scan away
    bool positioned = writeAccepted(setRelay(relay::kScanMode));
    sleepMs(150);
    positioned = positioned && wordWritten(word::kTargetLevel, *level);
    sleepMs(200);
    positioned = positioned && writePitchOf(*slot) && wordWritten(word::kTargetSlot, *slot);
    positioned = positioned && motionCompleted();
    return finishPresenceScan(positioned);
}

// The barcode height offset when it is usable for the correction (a number below 450).
std::optional<std::int32_t> TKRB_Class::barcodeZOffset() {
    auto offset = parseInt32(ReadBCRZOffset());
    if (!offset || *offset >= 450) return std::nullopt;
    return offset;
}

// True when no correction was asked for or the reader stands at the corrected height.
bool TKRB_Class::correctBarcodeHeight(std::optional<std::int32_t> offset) {
    if (!offset) return true;
    auto height = readWordAt(word::kBarcodeHeight).number();
    if (!height || !wordWritten(word::kBarcodeHeight, BarcodeZReference + *height - *offset))
        return false;
    sleepMs(100);
    return motionCompleted();
}

std::string TKRB_Class::ServiceIsPlateAtLocation2(const std::string& slotText,
                                                  const std::string& levelText) {
    if (!Initialized) return "2";
    auto slot = parseInt32(slotText);
    auto level = parseInt32(levelText);
    if (!slot || !level) return "0";
    auto offset = barcodeZOffset();
    TBusyToken busy(*this);
    if (!busy.claimStepped()) return "3";
    bool positioned =
        writeAccepted(setRelay(relay::kScanMode)) && wordWritten(word::kTargetSlot, *slot);
    if (UseCassetteConfTable) {
        sleepMs(150);
        positioned = positioned && writePitchOf(*slot);
    }
    sleepMs(150);
    positioned = positioned && wordWritten(word::kTargetLevel, *level);
    sleepMs(200);
    positioned = positioned && motionCompleted();
    positioned = positioned && correctBarcodeHeight(offset);
    return finishPresenceScan(positioned);
}

// --- gate, transfer stations and swap

std::string TKRB_Class::Swap() {
    bool accepted = writeAccepted(setRelay(relay::kSwap));
    sleepMs(300);
    return accepted ? "1" : "0";
}

std::string TKRB_Class::SwapBack() {
    bool accepted = writeAccepted(resetRelay(relay::kSwap));
    sleepMs(300);
    return accepted ? "1" : "0";
}

// The controller's reply is the answer, "" when none came.
std::string TKRB_Class::OpenTransferGate() {
    return ReadBackStr(setRelay(relay::kOpenGate)).text();
}
std::string TKRB_Class::CloseTransferGate() {
    return ReadBackStr(setRelay(relay::kCloseGate)).text();
}

std::string TKRB_Class::CompleteTransferCommand(const std::string& closeGate) {
    TBusyToken busy(*this);
    busy.claimWithin(kBusyWaitMs);
    return motionEnded(closeGate == "1" ? setRelay(relay::kCloseGate)
                                        : setRelay(relay::kCompleteTransfer))
               ? "1"
               : "-1";
}

std::string TKRB_Class::AlternateXferStation(const std::string& station) {
    if (station == "1") return writeAccepted(resetRelay(relay::kTransferStationTwo)) ? "1" : "0";
    if (station == "2") return writeAccepted(setRelay(relay::kTransferStationTwo)) ? "1" : "0";
    return "0";
}

std::string TKRB_Class::ReadTransferStationDetector() {
    return CheckTransferStation ? ReadBackStr(readRelay(relay::kTransferStationPlate)).text() : "0";
}

std::string TKRB_Class::ReadTransferStation2Detector() {
    return CheckTransferStation2 ? ReadBackStr(readRelay(relay::kTransferStation2Plate)).text()
                                 : "0";
}

std::string TKRB_Class::ReadShovelDetector() {
    if (!CheckShovel) return "0";
    // Without the sensing the shovel relay is stale: no reply is the answer then.
    if (!writeAccepted(setRelay(relay::kSenseShovel))) return "";
    sleepMs(300);
    return ReadBackStr(readRelay(relay::kShovelPlate)).text();
}

}  // namespace krb
