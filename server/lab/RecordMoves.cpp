#include "lab/RecordMoves.h"

#include <string_view>

namespace krb::server {
namespace {

constexpr std::int32_t kStation = 1, kStorage = 2, kCascadePosition = 4, kTubeStore = 5;

std::optional<TRecordPlace> PlaceOf(const TMoveEnd& end) {
    TRecordPlace place;
    if (end.Type == kStorage) {
        place = {end.Slot, end.Level};
    } else if (end.Type == kCascadePosition) {
        place = {end.CascadeSlot, LevelOfCascadeCode(end.CascadeCode)};
    } else {
        return std::nullopt;
    }
    if (place.Cassette == 0 || place.Level == 0) return std::nullopt;
    return place;
}

// A plate handed into the cascader sits on its handler; one taken out of it came from there.
std::optional<TRecordPlace> SourcePlace(const TPlannedMove& move) {
    if (move.Route == TMoveRoute::OutOfCascader) return std::nullopt;
    return PlaceOf(move.Source);
}

std::optional<TRecordPlace> TargetPlace(const TPlannedMove& move) {
    if (move.Route == TMoveRoute::IntoCascader) return std::nullopt;
    return PlaceOf(move.Target);
}

bool StoredAtOwnCascadePosition(const TMoveEnd& end) {
    return end.Type == kStorage && end.Slot == end.CascadeSlot &&
           end.Level == LevelOfCascadeCode(end.CascadeCode);
}

// Where the single-unit move finds the plate already standing at its target.
bool SingleMoveStartsAtTarget(const TPlannedMove& move) {
    return move.Target.Type == kCascadePosition && move.Source.Type == kStorage &&
           move.Source.Slot == move.Target.CascadeSlot &&
           move.Source.Level == LevelOfCascadeCode(move.Target.CascadeCode);
}

// The source unit's handler took the plate from its record's position.
bool PickedFromSource(const TPlannedMove& move) {
    if (move.Route == TMoveRoute::SingleUnit) {
        return move.Source.Type == kCascadePosition ||
               (move.Source.Type == kStorage && move.Target.Type != kStation &&
                !SingleMoveStartsAtTarget(move));
    }
    return move.Source.Type == kStorage && !StoredAtOwnCascadePosition(move.Source);
}

bool Is(const TMoveResult& result, TMoveUnit unit, std::string_view steps) {
    return result.FailedOn == unit && steps.find(result.Step) != std::string_view::npos;
}

// Steps that fail after the source's handler took the plate (place, set, turns, the cascader
// carrying) leave it on a handler or at a cascade transfer position.
bool FailedAfterPick(const TPlannedMove& move, const TMoveResult& result) {
    switch (move.Route) {
        case TMoveRoute::SingleUnit:
            return Is(result, TMoveUnit::Source, "457");
        case TMoveRoute::Cross:
            return Is(result, TMoveUnit::Source, "47") || Is(result, TMoveUnit::Target, "7") ||
                   Is(result, TMoveUnit::Cascader, "123");
        case TMoveRoute::IntoCascader:
            return Is(result, TMoveUnit::Source, "47") || Is(result, TMoveUnit::Cascader, "3");
        default:
            return false;
    }
}

// Steps that fail after the cascader took the plate from the source's transfer position.
bool FailedAfterCarry(const TPlannedMove& move, const TMoveResult& result) {
    return move.Route == TMoveRoute::Cross &&
           (Is(result, TMoveUnit::Cascader, "4") || Is(result, TMoveUnit::Target, "234"));
}

bool PlateLeftSource(const TPlannedMove& move, const TMoveResult& result) {
    return FailedAfterCarry(move, result) ||
           (PickedFromSource(move) && FailedAfterPick(move, result));
}

bool NothingMoves(const TPlannedMove& move) {
    if (move.Route == TMoveRoute::None) return true;
    if (move.Source.Type == kTubeStore || move.Target.Type == kTubeStore) return true;
    if (move.Route != TMoveRoute::SingleUnit) return false;
    if (move.Source.Type == move.Target.Type && move.Source.Type != kStorage) return true;
    const auto source = SourcePlace(move);
    return source && source == TargetPlace(move);
}

TRecordEdits DeliveredEdits(const TPlannedMove& move) {
    TRecordEdits edits;
    edits.EmptySource = SourcePlace(move);
    edits.FillTarget = TargetPlace(move);
    if (edits.FillTarget) {
        edits.Fill = edits.EmptySource ? TTargetFill::FromSource : TTargetFill::UnknownPlate;
    }
    return edits;
}

}  // namespace

std::int32_t LevelOfCascadeCode(std::int32_t code) {
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

TRecordEdits RecordEditsOf(const TPlannedMove& move, const TMoveResult& result) {
    if (NothingMoves(move)) return {};
    if (result.Delivered) return DeliveredEdits(move);
    TRecordEdits edits;
    if (PlateLeftSource(move, result)) edits.EmptySource = SourcePlace(move);
    return edits;
}

}  // namespace krb::server
