// Cascade manager. Decisions where the plan leaves a case open:
// - a cross move whose storage target is its own cascade transfer position ends there:
//   the plate has arrived, so no pick and place onto the same position;
// - two units that the cascade does not join (a unit without a role, say) are refused
//   with "4" before anything moves: the cascader cannot carry between them;
// - a cascader that cannot be positioned fails the move as its turn step ("7").
#include "PlateMoves.h"

#include "ControllerRegisters.h"
#include "platform/clock.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

namespace {

constexpr int kStation = 1, kStorage = 2, kHandler = 3, kCascadePosition = 4, kTubeStore = 5;
constexpr int kBaseTurn = 14, kExtTurn = 6;
constexpr int kBaseSideOfCascader = 2, kExtSideOfCascader = 1;

std::string text(int value) { return std::to_string(value); }
bool odd(int value) { return value % 2 != 0; }

bool parityFits(int cascadeSlot, TCascadeMngr::TSide side) {
    return side == TCascadeMngr::TSide::Base ? odd(cascadeSlot) : !odd(cascadeSlot);
}

bool hasStoragePosition(const TCascadeMngr::TMoveSide& side) {
    return side.Type != kStorage || (side.Slot != 0 && side.Level != 0);
}

// The plate of a storage side already stands at that side's cascade transfer position.
bool storedAtCascadePosition(const TCascadeMngr::TMoveSide& side) {
    return side.Type == kStorage && side.Slot == side.CascadeSlot &&
           side.Level == TCascadeMngr::LevelOfCode(side.CascadeCode);
}

}  // namespace

int TCascadeMngr::LevelOfCode(int code) {
    switch (code) {
        case 0:
        case 3:
            return 3;
        case 1:
            return 2;
        default:
            return 0;
    }
}

int TCascadeMngr::CarouselTurn(int cascadeSlot, TSide side) const {
    int size = side == TSide::Base ? BaseCarouselSize : ExtCarouselSize;
    int position = cascadeSlot + (side == TSide::Base ? kBaseTurn : kExtTurn);
    return position > size ? position - size : position;
}

TCascadeMngr::TRoles TCascadeMngr::findRoles() const {
    TRoles roles;
    for (const auto& unit : Browser.Units()) {
        if (unit->isBase()) roles.Base = unit;
        if (unit->isCascader()) roles.Cascader = unit;
        if (unit->isExt()) roles.Ext = unit;
    }
    return roles;
}

bool TCascadeMngr::bothIdle(const TKRB_Class& source, const TKRB_Class& target) const {
    auto idle = [&] {
        return source.IsOperationRunning() != "1" && target.IsOperationRunning() != "1";
    };
    if (idle()) return true;
    for (int pauseMs : {250, 250, 1000}) {
        sleepMs(pauseMs);
        if (idle()) return true;
    }
    return false;
}

std::string TCascadeMngr::MovePlate(const TMovePlateTexts& texts) {
    std::array<int, 12> numbers{};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        auto number = parseInt32(texts[i]);
        if (!number) return MoveResult = "2";
        numbers[i] = *number;
    }
    TMoveSide source{numbers[0], numbers[1], numbers[2], numbers[3], numbers[4], numbers[5], {}};
    TMoveSide target{numbers[6], numbers[7], numbers[8], numbers[9], numbers[10], numbers[11], {}};
    if (source.UnitId == 0 || target.UnitId == 0) return MoveResult = "3";
    for (TMoveSide* side : {&source, &target})
        if (side->Type == kStation || side->Type == kHandler || side->Type == kCascadePosition)
            side->Slot = side->Level = 0;

    TRoles roles = findRoles();
    bool crossUnit = source.UnitId != target.UnitId || source.Type == kCascadePosition ||
                     target.Type == kCascadePosition;
    if (!roles.Complete() && crossUnit) return MoveResult = "4";
    source.Unit = Browser.UnitFor(texts[0]);
    target.Unit = Browser.UnitFor(texts[6]);
    if (!source.Unit || !target.Unit) return MoveResult = "3";
    ExtCarouselSize = BaseCarouselSize = 20;
    if (!bothIdle(*source.Unit, *target.Unit)) return MoveResult = "0";
    return MoveResult = dispatch(source, target, roles);
}

std::string TCascadeMngr::dispatch(TMoveSide& source, TMoveSide& target, const TRoles& roles) {
    const UnitPtr& from = source.Unit;
    const UnitPtr& to = target.Unit;
    auto isBaseOrExt = [&](const UnitPtr& unit) { return unit == roles.Base || unit == roles.Ext; };
    auto sideOf = [&](const UnitPtr& unit) {
        return unit == roles.Base ? TSide::Base : TSide::Ext;
    };
    if (roles.Cascader && from == roles.Cascader && isBaseOrExt(to))
        return exchangeOutOfCascader(target, *roles.Cascader, sideOf(to));
    if (roles.Cascader && isBaseOrExt(from) && to == roles.Cascader)
        return exchangeIntoCascader(source, target, *roles.Cascader, sideOf(from));
    if (roles.Cascader && from == roles.Base && to == roles.Ext)
        return crossMove(source, target, *roles.Cascader, TSide::Base);
    if (roles.Cascader && from == roles.Ext && to == roles.Base)
        return crossMove(source, target, *roles.Cascader, TSide::Ext);
    if (roles.Base && from == roles.Base && to == roles.Base)
        return singleUnitMove(source, target, TSide::Base);
    if ((roles.Ext && from == roles.Ext && to == roles.Ext) || from == to)
        return singleUnitMove(source, target, TSide::Ext);
    return "4";
}

// --- steps

bool TCascadeMngr::step(TKRB_Class& unit, const std::string& started, char digit) {
    if (started != "1" || unit.WaitForOperation() != "1") {
        MoveResult = text(unit.portNumber()) + digit;
        return false;
    }
    unit.WaitUntilIdle();
    return true;
}

bool TCascadeMngr::turnCarousel(TKRB_Class& unit, int cascadeSlot, TSide side) {
    // A turn whose target was not taken would wait for the last one's ready flag.
    bool targetSet = unit.wordWritten(word::kTargetSlot, CarouselTurn(cascadeSlot, side));
    return step(unit, targetSet ? "1" : "0", '7');
}

bool TCascadeMngr::positionCascader(TKRB_Class& cascader, int position) {
    if (cascader.readWordAt(word::kTargetSlot).number() == position) return true;
    bool targetSet = cascader.wordWritten(word::kTargetSlot, position);
    if (!step(cascader, targetSet ? "1" : "0", '7')) return false;
    sleepMs(100);
    return true;
}

std::string TCascadeMngr::outcome() const { return MoveResult.empty() ? "1" : MoveResult; }

// Type 1 by a load motion (exchanges) or through the handler (cross moves).
bool TCascadeMngr::bringToCascadePosition(const TMoveSide& source, bool viaLoad) {
    TKRB_Class& unit = *source.Unit;
    const std::string slot = text(source.CascadeSlot);
    const std::string level = text(LevelOfCode(source.CascadeCode));
    switch (source.Type) {
        case kStation:
            if (viaLoad) return step(unit, unit.LoadPlate(slot, level), '1');
            return step(unit, unit.GetPlate(), '6') &&
                   step(unit, unit.PlacePlate(slot, level), '4');
        case kStorage:
            if (storedAtCascadePosition(source)) return true;
            return step(unit, unit.PickPlate(text(source.Slot), text(source.Level)), '3') &&
                   step(unit, unit.PlacePlate(slot, level), '4');
        case kHandler:
            return step(unit, unit.PlacePlate(slot, level), '4');
        default:
            return true;
    }
}

bool TCascadeMngr::deliverFromCascadePosition(const TMoveSide& target) {
    TKRB_Class& unit = *target.Unit;
    const std::string slot = text(target.CascadeSlot);
    const std::string level = text(LevelOfCode(target.CascadeCode));
    switch (target.Type) {
        case kStation:
            return step(unit, unit.UnloadPlate(slot, level), '2');
        case kStorage:
            if (storedAtCascadePosition(target)) return true;
            return step(unit, unit.PickPlate(slot, level), '3') &&
                   step(unit, unit.PlacePlate(text(target.Slot), text(target.Level)), '4');
        case kHandler:
            return step(unit, unit.PickPlate(slot, level), '3');
        default:
            return true;
    }
}

// --- procedures

std::string TCascadeMngr::singleUnitMove(TMoveSide& source, TMoveSide& target, TSide side) {
    if (source.Type == target.Type && source.Type != kStorage) return "1";
    if (source.Type == kStorage && target.Type == kStorage) {
        if (source.Slot == target.Slot && source.Level == target.Level) return "1";
        source.CascadeSlot = target.CascadeSlot = 0;
    }
    if (source.Type == kCascadePosition && !parityFits(source.CascadeSlot, side)) return "6";
    if (target.Type == kCascadePosition && !parityFits(target.CascadeSlot, side)) return "7";

    TKRB_Class& unit = *source.Unit;
    const int targetCascadeLevel = LevelOfCode(target.CascadeCode);
    const bool alreadyThere = target.Type == kCascadePosition && source.Type == kStorage &&
                              source.Slot == target.CascadeSlot &&
                              source.Level == targetCascadeLevel;
    switch (source.Type) {
        case kStation:
            if (target.Type == kStorage)
                return step(unit, unit.LoadPlate(text(target.Slot), text(target.Level)), '1')
                           ? "1"
                           : outcome();
            if (!step(unit, unit.GetPlate(), '6')) return outcome();
            break;
        case kStorage:
            if (target.Type == kStation)
                return step(unit, unit.UnloadPlate(text(source.Slot), text(source.Level)), '2')
                           ? "1"
                           : outcome();
            if (!alreadyThere &&
                !step(unit, unit.PickPlate(text(source.Slot), text(source.Level)), '3'))
                return outcome();
            break;
        case kCascadePosition:
            if (!step(
                    unit,
                    unit.PickPlate(text(source.CascadeSlot), text(LevelOfCode(source.CascadeCode))),
                    '3'))
                return outcome();
            break;
        default:
            break;
    }
    switch (target.Type) {
        case kStation:
            return step(unit, unit.SetPlate(), '5') ? "1" : outcome();
        case kStorage:
            return step(unit, unit.PlacePlate(text(target.Slot), text(target.Level)), '4')
                       ? "1"
                       : outcome();
        case kCascadePosition:
            if (!alreadyThere &&
                !step(unit, unit.PlacePlate(text(target.CascadeSlot), text(targetCascadeLevel)),
                      '4'))
                return outcome();
            return turnCarousel(unit, target.CascadeSlot, side) ? "1" : outcome();
        default:
            return "1";
    }
}

std::string TCascadeMngr::crossMove(const TMoveSide& source, const TMoveSide& target,
                                    TKRB_Class& cascader, TSide sourceSide) {
    const bool baseToExt = sourceSide == TSide::Base;
    const TSide targetSide = baseToExt ? TSide::Ext : TSide::Base;
    if (source.CascadeSlot == 0 || target.CascadeSlot == 0) return "5";
    const TMoveSide& baseSide = baseToExt ? source : target;
    const TMoveSide& extSide = baseToExt ? target : source;
    if (!parityFits(baseSide.CascadeSlot, TSide::Base)) return baseToExt ? "6" : "7";
    if (!parityFits(extSide.CascadeSlot, TSide::Ext)) return baseToExt ? "7" : "6";
    if (!hasStoragePosition(source)) return "8";
    if (!hasStoragePosition(target)) return "9";

    const int carrierSource = baseToExt ? kBaseSideOfCascader : kExtSideOfCascader;
    const int carrierTarget = baseToExt ? kExtSideOfCascader : kBaseSideOfCascader;
    if (!positionCascader(cascader, carrierSource)) return outcome();
    if (source.Type == kCascadePosition) {
        if (!positionCascader(cascader, carrierTarget)) return outcome();
    } else if (!bringToCascadePosition(source, false)) {
        return outcome();
    }
    if (!turnCarousel(*source.Unit, source.CascadeSlot, sourceSide)) return outcome();
    if (!turnCarousel(*target.Unit, target.CascadeSlot, targetSide)) return outcome();

    bool carried;
    if (source.CascadeCode == target.CascadeCode) {
        const std::string code = text(source.CascadeCode);
        carried = baseToExt ? step(cascader, cascader.LoadPlate(text(carrierSource), code), '1')
                            : step(cascader, cascader.UnloadPlate(text(carrierSource), code), '2');
    } else {
        carried =
            step(cascader, cascader.PickPlate(text(carrierSource), text(source.CascadeCode)),
                 '3') &&
            step(cascader, cascader.PlacePlate(text(carrierTarget), text(target.CascadeCode)), '4');
    }
    if (!carried) return outcome();
    if (target.Type != kCascadePosition &&
        !turnCarousel(*target.Unit, target.CascadeSlot, targetSide))
        return outcome();
    return deliverFromCascadePosition(target) ? "1" : outcome();
}

std::string TCascadeMngr::exchangeIntoCascader(const TMoveSide& source, const TMoveSide& target,
                                               TKRB_Class& cascader, TSide side) {
    if (source.Type < kStation || source.Type > kCascadePosition) return "8";
    if (source.CascadeSlot == 0 || !parityFits(source.CascadeSlot, side)) return "6";
    if (!hasStoragePosition(source)) return "8";
    if (!bringToCascadePosition(source, true)) return outcome();
    if (!turnCarousel(*source.Unit, source.CascadeSlot, side)) return outcome();
    const int carrierSide = side == TSide::Base ? kBaseSideOfCascader : kExtSideOfCascader;
    return step(cascader, cascader.PickPlate(text(carrierSide), text(target.CascadeCode)), '3')
               ? "1"
               : outcome();
}

std::string TCascadeMngr::exchangeOutOfCascader(const TMoveSide& target, TKRB_Class& cascader,
                                                TSide side) {
    if (target.Type < kStation || target.Type > kCascadePosition) return "9";
    if (target.CascadeSlot == 0) return "7";
    if (!parityFits(target.CascadeSlot, side)) return "6";
    if (!hasStoragePosition(target)) return "8";
    if (!turnCarousel(*target.Unit, target.CascadeSlot, side)) return outcome();
    const int carrierSide = side == TSide::Base ? kBaseSideOfCascader : kExtSideOfCascader;
    if (!step(cascader, cascader.PlacePlate(text(carrierSide), text(target.CascadeCode)), '4'))
        return outcome();
    return deliverFromCascadePosition(target) ? "1" : outcome();
}

// --- entry

std::string MovePlate2(TKRB_Browser& browser, const TMovePlateTexts& texts) {
    const std::string tubeStoreType = text(kTubeStore);
    if (texts[1] == tubeStoreType || texts[7] == tubeStoreType) {
        UnitPtr source = browser.UnitFor(texts[0]);
        if (!source) return "-4";
        UnitPtr tubeStore;
        for (const auto& unit : browser.Units())
            if (unit->isTubeStore()) {
                tubeStore = unit;
                break;
            }
        if (!tubeStore) return "-4";
        if (!tubeStore->initialized()) return "-3";
        return source->TubeStorePlateMove(*tubeStore, texts[1], texts[2], texts[3], texts[4],
                                          texts[7], texts[8], texts[9], texts[10]);
    }
    TCascadeMngr manager(browser);
    return manager.MovePlate(texts);
}

}  // namespace krb
