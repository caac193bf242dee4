#pragma once
// What a service move did to the contents records, read from its arguments, the route the
// cascade takes and its result: the plate's record follows a delivered plate, and a failed
// move empties the source only when its failed step proves the plate had left it.
#include <cstdint>
#include <optional>

namespace krb::server {

// One end of a move as the move's arguments give it.
struct TMoveEnd {
    std::int32_t Type =
        0;  // 1 transfer station, 2 storage, 3 handler, 4 cascade position, 5 tube store
    std::int32_t Slot = 0;
    std::int32_t Level = 0;
    std::int32_t CascadeSlot = 0;
    std::int32_t CascadeCode = 0;
};

// The procedure the units' cascade roles choose for a move; None when no procedure moves
// between the two units.
enum class TMoveRoute { None, SingleUnit, Cross, IntoCascader, OutOfCascader };

struct TPlannedMove {
    TMoveEnd Source;
    TMoveEnd Target;
    TMoveRoute Route = TMoveRoute::None;
};

// Which unit of the move a failed step names.
enum class TMoveUnit { Other, Source, Target, Cascader };

struct TMoveResult {
    bool Delivered = false;
    TMoveUnit FailedOn = TMoveUnit::Other;  // for a failed step
    char Step = 0;                          // its digit; 0 when nothing was tried or it is unknown
};

// A record of a contents file: the line with this cassette and level fields.
struct TRecordPlace {
    std::int32_t Cassette = 0;
    std::int32_t Level = 0;
    bool operator==(const TRecordPlace&) const = default;
};

enum class TTargetFill { None, FromSource, UnknownPlate };

struct TRecordEdits {
    std::optional<TRecordPlace> EmptySource;  // in the source unit's file
    std::optional<TRecordPlace> FillTarget;   // in the target unit's file
    TTargetFill Fill = TTargetFill::None;
    bool operator==(const TRecordEdits&) const = default;
};

// The level a cascade code stands for at a unit's cascade transfer position (0: none).
std::int32_t LevelOfCascadeCode(std::int32_t code);

TRecordEdits RecordEditsOf(const TPlannedMove& move, const TMoveResult& result);

}  // namespace krb::server
