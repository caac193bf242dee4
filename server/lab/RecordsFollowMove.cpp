#include "lab/RecordsFollowMove.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lab/ContentsFile.h"
#include "lab/RecordChanges.h"
#include "lab/Unit.h"
#include "lab/UnitDirectory.h"
#include "text/DateTimeText.h"

namespace krb::server {
namespace {

constexpr std::int32_t kCascadePosition = 4;
constexpr std::size_t kTargetPortArgument = 5;

using Lines = std::vector<std::string>;

// The cascade roles as the library finds them: the last unit carrying each wins.
struct CascadeRoles {
    const TKRBId* Base = nullptr;
    const TKRBId* Cascader = nullptr;
    const TKRBId* Ext = nullptr;
    bool Complete() const { return Base && Cascader && Ext; }
};

CascadeRoles RolesOf(const UnitDirectory& directory) {
    CascadeRoles roles;
    for (const TKRBId* unit : directory.Units()) {
        if (unit->Base) roles.Base = unit;
        if (unit->Cascader) roles.Cascader = unit;
        if (unit->Ext) roles.Ext = unit;
    }
    return roles;
}

// The library's dispatch, first match wins.
TMoveRoute RouteOf(const TKRBId* from, const TKRBId* to, const TMoveEnd& source,
                   const TMoveEnd& target, const CascadeRoles& roles) {
    const bool crossUnit =
        from != to || source.Type == kCascadePosition || target.Type == kCascadePosition;
    if (!roles.Complete() && crossUnit) return TMoveRoute::None;
    auto baseOrExt = [&](const TKRBId* unit) { return unit == roles.Base || unit == roles.Ext; };
    if (roles.Cascader && from == roles.Cascader && baseOrExt(to)) return TMoveRoute::OutOfCascader;
    if (roles.Cascader && baseOrExt(from) && to == roles.Cascader) return TMoveRoute::IntoCascader;
    if (roles.Cascader &&
        ((from == roles.Base && to == roles.Ext) || (from == roles.Ext && to == roles.Base))) {
        return TMoveRoute::Cross;
    }
    if (roles.Base && from == roles.Base && to == roles.Base) return TMoveRoute::SingleUnit;
    if ((roles.Ext && from == roles.Ext && to == roles.Ext) || from == to) {
        return TMoveRoute::SingleUnit;
    }
    return TMoveRoute::None;
}

constexpr std::size_t kNoRecord = static_cast<std::size_t>(-1);

// The line at a place; kNoRecord when there is no place or no such line.
std::size_t FindRecord(const Lines& lines, const std::optional<TRecordPlace>& place) {
    if (!place) return kNoRecord;
    const std::string cassette = std::to_string(place->Cassette);
    const std::string level = std::to_string(place->Level);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ContentsFields fields = SplitContentsLine(lines[i]);
        if (fields[kCassetteField] == cassette && fields[kLevelField] == level) return i;
    }
    return kNoRecord;
}

bool HasDefaultName(const ContentsFields& fields) {
    return fields[kUserIdField].empty() || IsDefaultLocationName(fields[kUserIdField]);
}

// The plate arrives: with the record it left (barcode, name, dates), or as an unknown plate.
ContentsFields Filled(ContentsFields fields, const std::optional<ContentsFields>& carried,
                      const std::string& now) {
    const std::string& slot = fields[kSlotNoField];
    fields[kPresentField] = "1";
    fields[kDateLoadField] = now;
    if (!carried) {
        fields[kBarcodeField].clear();
        if (HasDefaultName(fields)) fields[kUserIdField] = DefaultLocationName(slot, true);
        return fields;
    }
    fields[kBarcodeField] = (*carried)[kBarcodeField];
    fields[kUserIdField] =
        HasDefaultName(*carried) ? DefaultLocationName(slot, true) : (*carried)[kUserIdField];
    fields[kDateCheckField] = (*carried)[kDateCheckField];
    fields[kDateUnloadField] = (*carried)[kDateUnloadField];
    return fields;
}

// A name the plate took along does not stay behind; one nobody else holds now does.
ContentsFields Emptied(ContentsFields fields, bool nameMoved, const std::string& now) {
    fields[kPresentField] = "0";
    fields[kBarcodeField].clear();
    if (nameMoved || HasDefaultName(fields)) {
        fields[kUserIdField] = DefaultLocationName(fields[kSlotNoField], false);
    }
    fields[kDateUnloadField] = now;
    return fields;
}

// One unit's contents file as loaded under its lock, and whether it was edited.
struct LoadedContents {
    TKRBId* Unit = nullptr;
    std::optional<Lines> Before;
    Lines After;
    bool Edited = false;

    bool Save(history::ChangeCause cause) const {
        if (!Edited) return true;
        if (!SaveTextLines(Unit->ContentsFile, After)) return false;
        ReportRecordChanges(Unit->UnitId, *Before, After, cause);
        return true;
    }
};

LoadedContents Load(TKRBId& unit) {
    LoadedContents contents{&unit, std::nullopt, {}, false};
    if (!unit.ContentsFile.empty()) contents.Before = LoadTextLines(unit.ContentsFile);
    if (contents.Before) contents.After = *contents.Before;
    return contents;
}

void ApplyEdits(TKRBId& source, TKRBId& target, const TRecordEdits& edits,
                history::ChangeCause cause) {
    // Two units' locks, always in the same order.
    TKRBId* first = std::less<TKRBId*>()(&source, &target) ? &source : &target;
    TKRBId* second = first == &source ? &target : &source;
    const auto firstHeld = first->Hold(TKRBId::ContentsLock);
    const auto secondHeld = second->Hold(TKRBId::ContentsLock);

    const bool oneFile = source.ContentsFile == target.ContentsFile;
    LoadedContents from = Load(source);
    LoadedContents to = oneFile ? LoadedContents{} : Load(target);
    LoadedContents& targetFile = oneFile ? from : to;
    // A record the plate should reach that cannot be read keeps the plate at its source.
    const bool targetUnreadable =
        edits.FillTarget && !target.ContentsFile.empty() && !targetFile.Before;
    if (!from.Before || targetUnreadable) return;

    const std::string now = CurrentDateTimeText();
    const std::size_t sourceIndex = FindRecord(from.After, edits.EmptySource);
    const std::size_t targetIndex =
        targetFile.Before ? FindRecord(targetFile.After, edits.FillTarget) : kNoRecord;
    std::optional<ContentsFields> carried;
    if (sourceIndex != kNoRecord && edits.Fill == TTargetFill::FromSource) {
        carried = SplitContentsLine(from.After[sourceIndex]);
    }
    if (targetIndex != kNoRecord) {
        auto& line = targetFile.After[targetIndex];
        line = JoinContentsLine(Filled(SplitContentsLine(line), carried, now));
        targetFile.Edited = true;
    }
    if (sourceIndex != kNoRecord) {
        auto& line = from.After[sourceIndex];
        const bool nameMoved = carried && targetIndex != kNoRecord;
        line = JoinContentsLine(Emptied(SplitContentsLine(line), nameMoved, now));
        from.Edited = true;
    }
    // Target first: a crash between the two saves shows the plate twice, never nowhere.
    if (!oneFile && !to.Save(cause)) return;
    from.Save(cause);
}

}  // namespace

TPlannedMove PlanOfMove(const TKRBId& source, const TKRBId& target,
                        const std::array<std::int32_t, 11>& a, const UnitDirectory& directory) {
    TPlannedMove move;
    move.Source = {a[0], a[1], a[2], a[3], a[4]};
    move.Target = {a[6], a[7], a[8], a[9], a[10]};
    move.Route = RouteOf(&source, &target, move.Source, move.Target, RolesOf(directory));
    return move;
}

TMoveResult ResultOfMove(std::int32_t result, const TKRBId& source, const TKRBId& target,
                         const UnitDirectory& directory) {
    if (result == 1) return {true, TMoveUnit::Other, 0};
    const auto step = FailedStepOf(result, &directory);
    if (!step || step->Unit == nullptr) return {};
    TMoveUnit unit = TMoveUnit::Other;
    if (step->Unit == &source) {
        unit = TMoveUnit::Source;
    } else if (step->Unit == &target) {
        unit = TMoveUnit::Target;
    } else if (step->Unit == RolesOf(directory).Cascader) {
        unit = TMoveUnit::Cascader;
    }
    return {false, unit, step->Step};
}

void RecordsFollowMove(TKRBId& source, const std::array<std::int32_t, 11>& arguments,
                       std::int32_t result) {
    if (!source.RecordsFollowMoves || source.TcpBrowser == nullptr) return;
    const UnitDirectory& directory = *source.TcpBrowser;
    const std::int32_t targetPort = arguments[kTargetPortArgument];
    TKRBId* target = targetPort == source.ComPort ? &source : directory.FindUnitByPort(targetPort);
    if (target == nullptr) return;
    const TRecordEdits edits = RecordEditsOf(PlanOfMove(source, *target, arguments, directory),
                                             ResultOfMove(result, source, *target, directory));
    if (!edits.EmptySource && !edits.FillTarget) return;
    ApplyEdits(source, *target, edits,
               result == 1 ? history::ChangeCause::Move : history::ChangeCause::FailedMove);
}

}  // namespace krb::server
