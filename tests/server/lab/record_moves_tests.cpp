#include <gtest/gtest.h>

#include "lab/RecordMoves.h"

namespace krb::server::testing {
namespace {

using Route = TMoveRoute;
using U = TMoveUnit;

constexpr TMoveEnd Station{1, 0, 0, 0, 0};
constexpr TMoveEnd Handler{3, 0, 0, 0, 0};
constexpr TMoveEnd TubeStore{5, 4, 2, 0, 0};
constexpr TMoveEnd Storage(std::int32_t slot, std::int32_t level, std::int32_t cascadeSlot = 0,
                           std::int32_t code = 0) {
    return {2, slot, level, cascadeSlot, code};
}
constexpr TMoveEnd Cascade(std::int32_t cascadeSlot, std::int32_t code) {
    return {4, 0, 0, cascadeSlot, code};
}

const TMoveResult Delivered{true, U::Other, 0};
TMoveResult FailedAt(TMoveUnit unit, char step) { return {false, unit, step}; }

TRecordEdits Moved(TRecordPlace from, TRecordPlace to) {
    return {from, to, TTargetFill::FromSource};
}
TRecordEdits Emptied(TRecordPlace from) { return {from, std::nullopt, TTargetFill::None}; }
TRecordEdits Arrived(TRecordPlace to) { return {std::nullopt, to, TTargetFill::UnknownPlate}; }
const TRecordEdits Kept{};

struct MoveCase {
    const char* name;
    TPlannedMove move;
    TMoveResult result;
    TRecordEdits expected;
};

TEST(RecordEditsOfMove, DeliveredPlatesTakeTheirRecordAlong) {
    const std::vector<MoveCase> cases = {
        {"same unit storage to storage",
         {Storage(5, 3), Storage(7, 1), Route::SingleUnit},
         Delivered,
         Moved({5, 3}, {7, 1})},
        {"same unit same position",
         {Storage(5, 3), Storage(5, 3), Route::SingleUnit},
         Delivered,
         Kept},
        {"same unit storage onto its cascade position",
         {Storage(7, 2), Cascade(7, 1), Route::SingleUnit},
         Delivered,
         Kept},
        {"same unit storage to cascade position",
         {Storage(5, 3), Cascade(7, 0), Route::SingleUnit},
         Delivered,
         Moved({5, 3}, {7, 3})},
        {"same unit cascade position to cascade position",
         {Cascade(7, 0), Cascade(9, 1), Route::SingleUnit},
         Delivered,
         Kept},
        {"base to extension",
         {Storage(5, 3, 7, 0), Storage(12, 4, 14, 1), Route::Cross},
         Delivered,
         Moved({5, 3}, {12, 4})},
        {"extension to base onto the cascade position",
         {Storage(12, 4, 14, 1), Cascade(7, 3), Route::Cross},
         Delivered,
         Moved({12, 4}, {7, 3})},
        {"cascade code without a level",
         {Storage(5, 3, 7, 2), Cascade(14, 2), Route::Cross},
         Delivered,
         Emptied({5, 3})},
        {"into the cascader: its handler holds the plate",
         {Storage(5, 3, 7, 0), Storage(9, 9), Route::IntoCascader},
         Delivered,
         Emptied({5, 3})},
        {"out of the cascader: barcode unknown",
         {Storage(9, 9), Storage(12, 4, 14, 1), Route::OutOfCascader},
         Delivered,
         Arrived({12, 4})},
        {"from the transfer station",
         {Station, Storage(5, 3), Route::SingleUnit},
         Delivered,
         Arrived({5, 3})},
        {"to the transfer station",
         {Storage(5, 3), Station, Route::SingleUnit},
         Delivered,
         Emptied({5, 3})},
        {"from the handler",
         {Handler, Storage(5, 3), Route::SingleUnit},
         Delivered,
         Arrived({5, 3})},
        {"onto the handler",
         {Storage(5, 3), Handler, Route::SingleUnit},
         Delivered,
         Emptied({5, 3})},
        {"station to station", {Station, Station, Route::SingleUnit}, Delivered, Kept},
        {"tube store source", {TubeStore, Storage(5, 3), Route::SingleUnit}, Delivered, Kept},
        {"tube store target", {Storage(5, 3), TubeStore, Route::Cross}, Delivered, Kept},
        {"no route between the units",
         {Storage(5, 3), Storage(7, 1), Route::None},
         Delivered,
         Kept},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RecordEditsOf(c.move, c.result), c.expected);
    }
}

TEST(RecordEditsOfMove, FailedMovesEmptyTheSourceOnlyWhenThePlateLeftIt) {
    const TPlannedMove single{Storage(5, 3), Storage(7, 1), Route::SingleUnit};
    const TPlannedMove toCascade{Storage(5, 3), Cascade(9, 0), Route::SingleUnit};
    const TPlannedMove startsAtTarget{Storage(9, 3), Cascade(9, 0), Route::SingleUnit};
    const TPlannedMove fromCascade{Cascade(7, 1), Station, Route::SingleUnit};
    const TPlannedMove unload{Storage(5, 3), Station, Route::SingleUnit};
    const TPlannedMove cross{Storage(5, 3, 7, 0), Storage(12, 4, 14, 1), Route::Cross};
    const TPlannedMove crossFromCascade{Cascade(7, 0), Storage(12, 4, 14, 1), Route::Cross};
    const TPlannedMove crossStoredThere{Storage(7, 3, 7, 0), Storage(12, 4, 14, 1), Route::Cross};
    const TPlannedMove into{Storage(5, 3, 7, 0), Storage(0, 0), Route::IntoCascader};
    const TPlannedMove intoFromCascade{Cascade(7, 0), Storage(0, 0), Route::IntoCascader};
    const TPlannedMove outOf{Handler, Storage(12, 4, 14, 1), Route::OutOfCascader};
    const std::vector<MoveCase> cases = {
        {"refused before anything moved", single, FailedAt(U::Other, 0), Kept},
        {"step on a unit the move does not name", single, FailedAt(U::Other, '4'), Kept},
        {"single: pick", single, FailedAt(U::Source, '3'), Kept},
        {"single: place", single, FailedAt(U::Source, '4'), Emptied({5, 3})},
        {"single: unload", unload, FailedAt(U::Source, '2'), Kept},
        {"single: place at cascade position", toCascade, FailedAt(U::Source, '4'), Emptied({5, 3})},
        {"single: turn after place", toCascade, FailedAt(U::Source, '7'), Emptied({5, 3})},
        {"single: turn with the pick skipped", startsAtTarget, FailedAt(U::Source, '7'), Kept},
        {"single: pick at cascade position", fromCascade, FailedAt(U::Source, '3'), Kept},
        {"single: set after a pick at cascade position", fromCascade, FailedAt(U::Source, '5'),
         Emptied({7, 2})},
        {"cross: positioning the cascader", cross, FailedAt(U::Cascader, '7'), Kept},
        {"cross: source pick", cross, FailedAt(U::Source, '3'), Kept},
        {"cross: source place", cross, FailedAt(U::Source, '4'), Emptied({5, 3})},
        {"cross: source turn", cross, FailedAt(U::Source, '7'), Emptied({5, 3})},
        {"cross: target turn", cross, FailedAt(U::Target, '7'), Emptied({5, 3})},
        {"cross: cascader load", cross, FailedAt(U::Cascader, '1'), Emptied({5, 3})},
        {"cross: cascader pick", cross, FailedAt(U::Cascader, '3'), Emptied({5, 3})},
        {"cross: cascader place", cross, FailedAt(U::Cascader, '4'), Emptied({5, 3})},
        {"cross: target pick", cross, FailedAt(U::Target, '3'), Emptied({5, 3})},
        {"cross: target place", cross, FailedAt(U::Target, '4'), Emptied({5, 3})},
        {"cross from cascade position: source turn", crossFromCascade, FailedAt(U::Source, '7'),
         Kept},
        {"cross from cascade position: cascader pick", crossFromCascade, FailedAt(U::Cascader, '3'),
         Kept},
        {"cross from cascade position: cascader place", crossFromCascade,
         FailedAt(U::Cascader, '4'), Emptied({7, 3})},
        {"cross from cascade position: target unload", crossFromCascade, FailedAt(U::Target, '2'),
         Emptied({7, 3})},
        {"cross stored at the cascade position: target turn", crossStoredThere,
         FailedAt(U::Target, '7'), Kept},
        {"cross stored at the cascade position: cascader place", crossStoredThere,
         FailedAt(U::Cascader, '4'), Emptied({7, 3})},
        {"into: source pick", into, FailedAt(U::Source, '3'), Kept},
        {"into: source turn", into, FailedAt(U::Source, '7'), Emptied({5, 3})},
        {"into: cascader pick", into, FailedAt(U::Cascader, '3'), Emptied({5, 3})},
        {"into from cascade position: cascader pick", intoFromCascade, FailedAt(U::Cascader, '3'),
         Kept},
        {"out of: target place", outOf, FailedAt(U::Target, '4'), Kept},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RecordEditsOf(c.move, c.result), c.expected);
    }
}

}  // namespace
}  // namespace krb::server::testing
