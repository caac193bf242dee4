// Tube and vial transfers: the tube store's own moves and readings, and the plate unit's
// operations that bring its racks to the tube store's two plate positions and back.
//
// Kind 0 is the tube store's first plate position (relay::kTubeTransfer on the tube store),
// kind 1 its second (relay::kTubeStoreSecondPosition). On the plate unit relay::kTubeTransfer
// marks a transfer to or from the tube store.
#include <cstdio>
#include <optional>
#include <utility>

#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "KRB_Class_Busy.h"
#include "TubeMoveList.h"
#include "TubeRackInventory.h"
#include "platform/clock.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

namespace {

constexpr std::int64_t kOtherUnitWaitMs = 500;

std::string text(std::int64_t value) { return std::to_string(value); }

bool allDecimal(std::initializer_list<const std::string*> texts) {
    for (const auto* entry : texts)
        if (!isDecimal(*entry)) return false;
    return true;
}

// As the machine writes a fraction: up to 15 significant digits, no trailing zeros.
std::string progressText(std::size_t done, std::size_t total) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g",
                  static_cast<double>(done) * 100.0 / static_cast<double>(total));
    return buffer;
}

struct VialSpot {
    std::int32_t first = 0, second = 0;
};

}  // namespace

// --- tube store: readings and moves

std::string TKRB_Class::ReadVialBarcode(const std::string& first, const std::string& second,
                                        const std::string& mode) {
    if (!ReaderOpen) return "BCRError";
    if (!Initialized) return "InitError";
    auto x = parseInt32(first), y = parseInt32(second);
    if (!x || !y) return "BCRError";
    bool packed = mode == "1";
    auto wordX = packed ? PackedWord(*x) : CoordinateWord(*x);
    auto wordY = packed ? PackedWord(*y) : CoordinateWord(*y);
    if (!wordX || !wordY) return "BCRError";
    if (replyIs(readRelay(relay::kScanMode), "1") && !writeAccepted(setRelay(relay::kScanMode)))
        return "BCRError";
    if (!writeAccepted(writeWord(word::kTargetSlot, *wordX))) return "BCRError";
    sleepMs(200);
    if (!writeAccepted(writeWord(word::kTargetLevel, *wordY))) return "BCRError";
    if (!writeAccepted(setRelay(relay::kScanMode))) return "BCRError";
    // A tube not reached would give the barcode of another one.
    if (!motionCompleted()) {
        leaveScanMode();
        return "BCRError";
    }
    std::string code = ReadReaderQuick();
    LastBarcode.set(code);
    if (!writeAccepted(resetRelay(relay::kScanMode)) || !motionCompleted()) return "BCRError";
    return code.empty() ? "No Barcode" : code;
}

std::string TKRB_Class::MoveVial(const std::string& sourceKind, const std::string& sourceFirst,
                                 const std::string& sourceSecond, const std::string& targetKind,
                                 const std::string& targetFirst, const std::string& targetSecond,
                                 const std::string& number) {
    if (!Initialized) return "-1";
    TBusyToken busy(*this);
    if (!busy.claimStepped()) return "-2";
    if (!allDecimal({&sourceKind, &sourceFirst, &sourceSecond, &targetKind, &targetFirst,
                     &targetSecond, &number}))
        return "-3";
    VialSpot source{*parseInt32(sourceFirst), *parseInt32(sourceSecond)};
    VialSpot target{*parseInt32(targetFirst), *parseInt32(targetSecond)};
    // 0 is no position; above 99 the coordinate words cannot carry it.
    for (std::int32_t coordinate : {source.first, source.second, target.first, target.second})
        if (!IsTubeCoordinate(coordinate)) return "-3";

    // A coordinate the controller did not take stops the next motion from starting.
    bool coordinatesTaken = true;
    auto write = [&](int address, std::optional<std::int32_t> word) {
        coordinatesTaken = wordWritten(address, *word) && coordinatesTaken;
        sleepMs(100);
    };
    auto motion = [&](int relay) {
        bool taken = std::exchange(coordinatesTaken, true);
        return taken && motionEnded(setRelay(relay));
    };
    auto moveWithin = [&](int getRelay, int putRelay) -> std::string {
        write(0, CoordinateWord(source.first));
        write(5, CoordinateWord(source.second));
        if (!motion(getRelay)) return "-4";
        write(0, CoordinateWord(target.first));
        write(5, CoordinateWord(target.second));
        return motion(putRelay) ? "1" : "-5";
    };
    // Between the two plates one motion carries the tube: the high byte addresses the
    // second position, the low byte the first.
    std::int32_t from = *parseInt32(sourceKind), to = *parseInt32(targetKind);
    if (from == 0 && to == 0) return moveWithin(relay::kGet, relay::kSet);
    if (from == 1 && to == 1) return moveWithin(relay::kPick, relay::kPlace);
    if (from == 0 && to == 1) {
        write(0, PackedWord(target.first, source.first));
        write(5, PackedWord(target.second, source.second));
        return motion(relay::kLoad) ? "1" : "-6";
    }
    if (from == 1 && to == 0) {
        write(0, PackedWord(source.first, target.first));
        write(5, PackedWord(source.second, target.second));
        return motion(relay::kUnload) ? "1" : "-6";
    }
    return "1";
}

std::string TKRB_Class::PlateFillTubes(const std::string& sourceKind, const std::string& targetKind,
                                       const std::string& wholeUnit) {
    if (!Initialized) return "-1";
    TBusyToken busy(*this);
    if (!busy.claimStepped()) return "-2";
    if (sourceKind == targetKind) return "-3";
    int relay = 0;
    if (sourceKind == "0" && targetKind == "1") relay = relay::kLoad;
    if (sourceKind == "1" && targetKind == "0") relay = relay::kUnload;
    if (relay == 0 || wholeUnit == "1") return "1";  // nothing to start
    // A size that cannot be read leaves nothing to fill: that is no success.
    auto slots = readWordAt(word::kSlotCount).number32();
    auto levels = readWordAt(word::kLevelCount).number32();
    if (!slots || !levels) return "-4";
    for (std::int32_t slot = 1; slot <= *slots; ++slot)
        for (std::int32_t level = 1; level <= *levels; ++level) {
            if (!wordWritten(word::kTargetSlot, slot)) return "-4";
            sleepMs(100);
            if (!wordWritten(word::kTargetLevel, level)) return "-4";
            sleepMs(100);
            if (!motionEnded(setRelay(relay))) return "-4";
        }
    return "1";
}

std::string TKRB_Class::GetPlateVerify(const std::string& slot, const std::string& level,
                                       const std::string& mode) {
    if (!Initialized) return "-1";
    if (!ReaderOpen || !isDecimal(slot) || !isDecimal(level)) return "-3";
    TBusyToken busy(*this);
    if (!busy.claimStepped()) return "";
    bool positionSet = writeAccepted(setRelay(relay::kPlateVerify));
    if (*parseInt32(slot) != 0 && *parseInt32(level) != 0) {
        positionSet = positionSet && writeAccepted(writeWord(word::kTargetSlot, slot)) &&
                      writeAccepted(writeWord(word::kTargetLevel, level));
        if (positionSet) positionSet = writeAccepted(setRelay(relay::kLoad));
    } else {
        // A word that cannot be read counts as no position.
        for (int address : {word::kTargetSlot, word::kTargetLevel})
            if (readWordAt(address).number().value_or(0) <= 0)
                positionSet = wordWritten(address, 1) && positionSet;
        if (positionSet) positionSet = writeAccepted(setRelay(relay::kGet));
    }
    if (!positionSet || !motionCompleted()) {
        busy.release();
        ReadBackStr(resetRelay(relay::kPlateVerify)).outcomeNotNeeded();  // already failing
        return "-3";
    }
    if (mode == "1" && !replyIs(readRelay(relay::kSlotPlate), "1")) return "No Plate";
    return ReadReaderQuick();
}

std::string TKRB_Class::VialsInventory(const std::string& fileName, const std::string& mode,
                                       const std::string& /*number*/) {
    if (!Initialized) return "-1";
    std::string name = InventoryFileNameFor(fileName);
    InventoryFile.set(name);
    if (!ReaderOpen) return "-3";
    if (!claimBusyStepped()) return "-2";
    // Busy is set before "1" goes back: a caller polling at once sees the scan running.
    TKVLPlateTubeInventory::Start(shared_from_this(), name, parseInt32(mode).value_or(0));
    return "1";
}

std::string TKRB_Class::GetTubeProgress() const { return TubeProgress.get(); }
void TKRB_Class::SetTubeProgress(const std::string& progress) { TubeProgress.set(progress); }

// --- plate unit with the tube store

namespace {

// "1" when the tube inventory ran and left no error, else the interim failure code.
std::string tubeInventoryOn(TKRB_Class& tubeStore, const std::string& fileName,
                            const std::string& mode, const std::string& number) {
    std::string started = tubeStore.VialsInventory(fileName, mode, number);
    if (started == "-1") return "-3";
    if (started == "-2") return "-4";
    if (started != "1") return "-7";
    while (tubeStore.busy()) sleepMs(200);
    if (!tubeStore.replyIs(readRelay(relay::kError), "0")) return "-8";
    return tubeStore.lastScanComplete() ? "1" : "-8";
}

}  // namespace

std::string TKRB_Class::VialInventory2(TKRB_Class& tubeStore, const std::string& fileName,
                                       const std::string& slot, const std::string& level,
                                       const std::string& mode, const std::string& number) {
    if (!Initialized) return "-1";
    TBusyToken busy(*this);
    if (!busy.claimWithin(kOtherUnitWaitMs)) return "-2";
    if (!tubeStore.Initialized) return "-3";
    if (!tubeStore.idleAfterPause(kOtherUnitWaitMs)) return "-4";
    if (!allDecimal({&slot, &level, &mode, &number})) return "-5";
    auto plateMotion = [&](int relay) {
        if (!writeAccepted(setRelay(relay::kTubeTransfer))) return false;
        if (!writeAccepted(writeWord(word::kTargetSlot, slot))) return false;
        sleepMs(100);
        if (!writeAccepted(writeWord(word::kTargetLevel, level))) return false;
        sleepMs(100);
        return motionEnded(setRelay(relay));
    };
    // The transfer flag's reset is the end of each step; the step's motion decided its outcome.
    bool broughtOut = plateMotion(relay::kUnload);
    ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();
    if (!broughtOut) return "-6";
    std::string interim = tubeInventoryOn(tubeStore, fileName, mode, number);
    bool takenBack = plateMotion(relay::kLoad);
    ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();
    if (!takenBack) return interim == "-8" ? "-9" : "-10";
    // A tube inventory that did not run or ended in an error is not reported as success.
    return interim;
}

std::string TKRB_Class::MoveTubeExt(TKRB_Class& tubeStore,
                                    const std::vector<std::string>& arguments) {
    TBusyToken busy(*this);
    if (!busy.claimWithin(kOtherUnitWaitMs)) return "-1";
    if (!tubeStore.idleAfterPause(kOtherUnitWaitMs)) return "-1";
    if (!Initialized) return "-3";
    if (arguments.size() != 11) return "-5";
    for (const auto& argument : arguments)
        if (!isDecimal(argument)) return "-5";
    const auto& a = arguments;  // a[0] is argument 1
    if (a[0] != "2" || a[5] != "2") return "1";
    // Tubes that cannot be moved are refused before any plate leaves the unit.
    for (std::size_t index : {3u, 4u, 8u, 9u})
        if (!IsTubeCoordinate(*parseInt32(a[index]))) return "-" + tubeStore.GetId() + ";-3";

    auto failed = [&](const std::string& code) {
        busy.release();
        ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();  // already failing
        return "-" + GetId() + ";" + code;
    };
    // "" when the plate moved, else the failure digit.
    auto plateStep = [&](const std::string& slot, const std::string& level, int relay) {
        if (SendHandlerMotion(slot, level, relay) != "1") return std::string("2");
        return motionCompleted() ? std::string() : std::string("1");
    };
    // The transfer roles must be set before a plate moves: without them it would go to a slot.
    auto roleSet = [](TKRB_Class& unit, int relay) { return unit.writeAccepted(setRelay(relay)); };
    bool twoPlates = a[1] != a[6] || a[2] != a[7];
    if (!roleSet(*this, relay::kTubeTransfer) || !roleSet(tubeStore, relay::kTubeTransfer))
        return failed("2");
    if (auto digit = plateStep(a[1], a[2], relay::kUnload); !digit.empty()) return failed(digit);
    if (twoPlates) {
        if (!roleSet(tubeStore, relay::kTubeStoreSecondPosition)) return failed("2");
        if (auto digit = plateStep(a[6], a[7], relay::kUnload); !digit.empty())
            return failed(digit);
    }
    std::string moved =
        tubeStore.MoveVial("0", a[3], a[4], twoPlates ? "1" : "0", a[8], a[9], a[10]);
    if (moved != "1") {
        busy.release();
        ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();  // already failing
        return "-" + tubeStore.GetId() + ";" + moved;
    }
    if (!roleSet(tubeStore, relay::kTubeTransfer)) return failed("2");
    sleepMs(200);
    if (auto digit = plateStep(a[1], a[2], relay::kLoad); !digit.empty()) return failed(digit);
    if (twoPlates) {
        if (!roleSet(tubeStore, relay::kTubeStoreSecondPosition)) return failed("2");
        sleepMs(200);
        if (auto digit = plateStep(a[6], a[7], relay::kLoad); !digit.empty()) return failed(digit);
    }
    // Both plates are back: the flag's reset ends the transfer whatever its reply.
    ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();
    return "1";
}

// --- move lists

namespace {

using Rack = TMoveTubebyFile;

// Which racks of the plate unit stand at the tube store's two plate positions.
//
// Plan between commands, so that only the plates needed move:
// - a plate at a position that the next command does not use is taken back first ("55");
// - a plate that already stands at either position stays there: the tube moves take their
//   kinds from where the plates stand (source at the first position: 0 -> 1, at the second:
//   1 -> 0), so two plates that changed roles are never exchanged;
// - a missing plate is brought out to the first free position ("56"; "57" when it is the
//   target plate going to the second position);
// - a command within one plate moves its tubes as 0 -> 0, so its plate must stand at the
//   first position: when it stands at the second one it is carried across by the handler
//   (get "12", set "11");
// - after the last command every plate still out is taken back ("55").
class TubeStorePositions {
  public:
    TubeStorePositions(TKRB_Class& plateUnit, TKRB_Class& tubeStore)
        : plateUnit_(plateUnit), tubeStore_(tubeStore) {}

    // "" when the command's plates stand ready, else the failure code.
    std::string Prepare(const TMoveTubeFileCommand& command) {
        const Rack& source = command.Source;
        const Rack& target = command.Target;
        for (int position : {0, 1})
            if (at_[position] && !at_[position]->SamePlace(source) &&
                !at_[position]->SamePlace(target) && !TakeBack(position))
                return "55";
        if (source.SamePlace(target)) return PrepareSinglePlate(source);
        for (const Rack* rack : {&source, &target}) {
            if (PositionOf(*rack)) continue;
            int position = at_[0] ? 1 : 0;
            if (!BringOut(position, *rack)) return position == 1 && rack == &target ? "57" : "56";
        }
        return "";
    }

    // The tube move kinds of the command: source position, target position.
    std::pair<int, int> Kinds(const TMoveTubeFileCommand& command) const {
        return {*PositionOf(command.Source), *PositionOf(command.Target)};
    }

    std::string TakeAllBack() {
        for (int position : {0, 1})
            if (at_[position] && !TakeBack(position)) return "55";
        return "";
    }

  private:
    std::string PrepareSinglePlate(const Rack& rack) {
        auto position = PositionOf(rack);
        if (position == 0) return "";
        if (position == 1) return CarryToFirstPosition();
        return BringOut(0, rack) ? "" : "56";
    }

    std::string CarryToFirstPosition() {
        Rack rack = *at_[1];
        if (!PlateStep(1, rack, relay::kGet)) return "12";
        at_[1].reset();
        if (!PlateStep(0, rack, relay::kSet)) return "11";
        at_[0] = rack;
        return "";
    }

    bool BringOut(int position, const Rack& rack) {
        if (!PlateStep(position, rack, relay::kUnload)) return false;
        at_[position] = Rack{rack.Slot, rack.Level, {}};
        return true;
    }

    bool TakeBack(int position) {
        if (!PlateStep(position, *at_[position], relay::kLoad)) return false;
        at_[position].reset();
        return true;
    }

    std::optional<int> PositionOf(const Rack& rack) const {
        for (int position : {0, 1})
            if (at_[position] && at_[position]->SamePlace(rack)) return position;
        return std::nullopt;
    }

    bool PlateStep(int position, const Rack& rack, int relay) {
        if (!tubeStore_.writeAccepted(position == 0 ? setRelay(relay::kTubeTransfer)
                                                    : setRelay(relay::kTubeStoreSecondPosition)))
            return false;
        if (!plateUnit_.wordWritten(word::kTargetSlot, rack.Slot)) return false;
        sleepMs(150);
        if (!plateUnit_.wordWritten(word::kTargetLevel, rack.Level)) return false;
        sleepMs(150);
        if (!plateUnit_.writeAccepted(setRelay(relay::kTubeTransfer))) return false;
        // The start is judged by the ready flag.
        plateUnit_.ReadBackStr(setRelay(relay)).outcomeNotNeeded();
        return plateUnit_.motionCompleted();
    }

    TKRB_Class& plateUnit_;
    TKRB_Class& tubeStore_;
    std::optional<Rack> at_[2];
};

std::string vialMoveFailure(const std::string& code) {
    if (code == "-4") return "-13";
    if (code == "-5") return "-14";
    if (code == "-6") return "-15";
    return "-16";
}

std::string moveTubesOf(TKRB_Class& tubeStore, const TMoveTubeFileCommand& command,
                        std::pair<int, int> kinds) {
    for (std::size_t index = 0; index < command.Source.Tubes.size(); ++index) {
        const TTubePos& from = command.Source.Tubes[index];
        const TTubePos& to = command.Target.Tubes[index];
        std::string code = tubeStore.MoveVial(text(kinds.first), text(from.First),
                                              text(from.Second), text(kinds.second), text(to.First),
                                              text(to.Second), text(from.Number));
        if (code != "1") return vialMoveFailure(code);
    }
    return "";
}

}  // namespace

std::string TKRB_Class::MoveVialWithFile(TKRB_Class& tubeStore, const std::string& fileName) {
    // The whole file is read and checked before anything moves.
    TMoveList list;
    if (std::string refused = ReadMoveListFile(fileName, list); !refused.empty()) return refused;
    TBusyToken busy(*this);
    if (!busy.claimWithin(kOtherUnitWaitMs)) return "-1";
    if (!tubeStore.idleAfterPause(kOtherUnitWaitMs)) return "-1";
    if (!Initialized) return "-3";

    auto finish = [&](const std::string& code) {
        SetTubeProgress("");
        return code;
    };
    TubeStorePositions positions(*this, tubeStore);
    for (std::size_t index = 0; index < list.size(); ++index) {
        SetTubeProgress(progressText(index, list.size()));
        const TMoveTubeFileCommand& command = list[index];
        if (std::string failed = positions.Prepare(command); !failed.empty()) return finish(failed);
        // Each tube move sets the flag again before it needs it.
        ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();
        if (std::string failed = moveTubesOf(tubeStore, command, positions.Kinds(command));
            !failed.empty())
            return finish(failed);
    }
    if (std::string failed = positions.TakeAllBack(); !failed.empty()) return finish(failed);
    ReadBackStr(resetRelay(relay::kTubeTransfer)).outcomeNotNeeded();  // every plate is back
    return finish("1");
}

}  // namespace krb
