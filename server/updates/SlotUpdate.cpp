#include "updates/SlotUpdate.h"

#include <exception>
#include <map>
#include <mutex>
#include <variant>

#include "lab/ConfigPath.h"
#include "lab/ConfigurationLoader.h"
#include "lab/ContentsFile.h"
#include "lab/RecordChanges.h"
#include "lab/Unit.h"
#include "platform/profile_file.h"
#include "text/TextNumbers.h"
#include "updates/PlateUpdate.h"

namespace krb::server {
namespace {

constexpr const char* kCassetteSection = "CassettesConfiguration";
constexpr const char* kTableFlagKey = "UseCassConfTable";

// The controller keeps levels and pitch in 16-bit data-memory words; the bound also keeps
// one command from growing the contents file without limit.
constexpr std::int32_t kLargestGeometryValue = 65535;

std::optional<std::int32_t> GeometryValue(const std::string& text) {
    auto value = ParseInt32(text);
    if (!value || *value < 0 || *value > kLargestGeometryValue) return std::nullopt;
    return value;
}

// A default name follows its line's new number; a user name stays.
void Renumber(ContentsFields& fields, std::int32_t slot) {
    fields[kSlotNoField] = std::to_string(slot);
    std::string& name = fields[kUserIdField];
    if (name.starts_with("Plate ")) {
        name = DefaultLocationName(fields[kSlotNoField], true);
    } else if (name.starts_with("Location ")) {
        name = DefaultLocationName(fields[kSlotNoField], false);
    }
}

std::size_t CountCassetteLines(const std::vector<std::string>& lines,
                               const std::string& cassetteText) {
    std::size_t count = 0;
    for (const auto& line : lines) {
        if (SplitContentsLine(line)[kCassetteField] == cassetteText) ++count;
    }
    return count;
}

// Index of the line after which new locations of the cassette go: its last line, else the
// last line of a lower-numbered cassette; nullopt puts them first.
std::optional<std::size_t> InsertionLine(const std::vector<std::string>& lines,
                                         std::int32_t cassette) {
    const std::string cassetteText = std::to_string(cassette);
    std::optional<std::size_t> own;
    std::optional<std::size_t> preceding;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ContentsFields fields = SplitContentsLine(lines[i]);
        if (fields[kCassetteField] == cassetteText) {
            own = i;
        } else if (auto number = ParseInt32(fields[kCassetteField]); number && *number < cassette) {
            preceding = i;
        }
    }
    return own ? own : preceding;
}

class LineWriter {
  public:
    void Copy(ContentsFields fields) {
        Renumber(fields, ++slot_);
        lines_.push_back(JoinContentsLine(fields));
    }
    void AddEmptyLocation(const std::string& cassetteText, std::int32_t level,
                          const std::string& sector) {
        ContentsFields fields;
        fields[kSlotNoField] = std::to_string(++slot_);
        fields[kCassetteField] = cassetteText;
        fields[kLevelField] = std::to_string(level);
        fields[kPresentField] = "0";
        fields[kUserIdField] = DefaultLocationName(fields[kSlotNoField], false);
        fields[kSectorField] = sector;
        lines_.push_back(JoinContentsLine(fields));
    }
    std::vector<std::string> Take() { return std::move(lines_); }

  private:
    std::int32_t slot_ = 0;
    std::vector<std::string> lines_;
};

std::vector<std::string> GrownLines(const std::vector<std::string>& lines, std::int32_t cassette,
                                    std::int32_t existing, std::int32_t levels,
                                    const std::string& sector) {
    const auto after = InsertionLine(lines, cassette);
    LineWriter writer;
    auto addLocations = [&](const std::string& lineSector) {
        for (std::int32_t level = existing + 1; level <= levels; ++level) {
            writer.AddEmptyLocation(std::to_string(cassette), level, lineSector);
        }
    };
    if (!after) addLocations(sector);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ContentsFields fields = SplitContentsLine(lines[i]);
        writer.Copy(fields);
        if (after && i == *after) addLocations(existing > 0 ? fields[kSectorField] : sector);
    }
    return writer.Take();
}

std::optional<std::vector<std::string>> ShrunkLines(const std::vector<std::string>& lines,
                                                    std::int32_t cassette, std::int32_t levels) {
    const std::string cassetteText = std::to_string(cassette);
    LineWriter writer;
    for (const auto& line : lines) {
        const ContentsFields fields = SplitContentsLine(line);
        if (fields[kCassetteField] == cassetteText) {
            auto level = ParseInt32(fields[kLevelField]);
            if (!level) return std::nullopt;
            if (*level > levels) continue;
        }
        writer.Copy(fields);
    }
    return writer.Take();
}

std::vector<std::string> WithoutBlankLines(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const auto& line : lines) {
        if (!line.empty()) kept.push_back(line);
    }
    return kept;
}

// The unit's locations once `changed` replaces the cassette of its number.
std::int64_t LocationsWith(const TKRBId& unit, const TKRBCassette& changed) {
    std::int64_t locations = 0;
    for (const auto& cassette : unit.Cassettes) {
        locations += cassette->Number == changed.Number ? changed.Levels : cassette->Levels;
    }
    return locations;
}

struct ContentsChange {
    std::vector<std::string> Lines;
    bool Changed = false;
    std::vector<std::string> Before;
};

std::string LocationKey(const ContentsFields& fields) {
    return fields[kCassetteField] + "/" + fields[kLevelField];
}

// A resize renumbers locations but keeps each one's cassette and level: the trail compares
// every location that is in both versions with itself, under its new number. Locations only
// in one version are empty (a removed level holding a plate refuses the resize).
std::vector<std::string> UnderNewNumbers(const std::vector<std::string>& before,
                                         const std::vector<std::string>& after) {
    std::map<std::string, std::string> numbers;
    for (const auto& line : after) {
        const ContentsFields fields = SplitContentsLine(line);
        numbers[LocationKey(fields)] = fields[kSlotNoField];
    }
    std::vector<std::string> renumbered;
    for (const auto& line : before) {
        ContentsFields fields = SplitContentsLine(line);
        const auto number = numbers.find(LocationKey(fields));
        if (number == numbers.end()) continue;
        fields[kSlotNoField] = number->second;
        renumbered.push_back(JoinContentsLine(fields));
    }
    return renumbered;
}

// The contents lines once the cassette has its new levels, or the result that refuses them.
std::variant<ContentsChange, std::int32_t> ResizedContents(const TKRBId& unit,
                                                           const TKRBCassette& changed) {
    if (unit.ContentsFile.empty() || !IsExistingFile(unit.ContentsFile)) {
        return TKRBModifySlot::kNoContentsFile;
    }
    auto lines = LoadTextLines(unit.ContentsFile);
    if (!lines) return TKRBModifySlot::kContentsFileFailed;
    if (HoldsPlateAboveLevel(*lines, changed.Number, changed.Levels)) {
        return TKRBModifySlot::kPlateAtRemovedLevel;
    }
    const TKRBSector* sector = unit.FindSectorOfCassette(changed.Number);
    auto resized = ResizeCassetteLines(*lines, changed.Number, changed.Levels,
                                       sector ? sector->Name : std::string());
    if (!resized) return TKRBModifySlot::kContentsFileFailed;
    const bool differs = *resized != *lines;
    return ContentsChange{std::move(*resized), differs, std::move(*lines)};
}

}  // namespace

std::optional<std::vector<std::string>> ResizeCassetteLines(const std::vector<std::string>& lines,
                                                            std::int32_t cassette,
                                                            std::int32_t levels,
                                                            const std::string& sector) {
    const std::vector<std::string> locations = WithoutBlankLines(lines);
    const auto existing =
        static_cast<std::int32_t>(CountCassetteLines(locations, std::to_string(cassette)));
    if (levels == existing) return lines;
    if (levels > existing) return GrownLines(locations, cassette, existing, levels, sector);
    return ShrunkLines(locations, cassette, levels);
}

bool HoldsPlateAboveLevel(const std::vector<std::string>& lines, std::int32_t cassette,
                          std::int32_t levels) {
    const std::string cassetteText = std::to_string(cassette);
    for (const auto& line : lines) {
        const ContentsFields fields = SplitContentsLine(line);
        if (fields[kCassetteField] != cassetteText) continue;
        const auto level = ParseInt32(fields[kLevelField]);
        if (level && *level > levels &&
            (fields[kPresentField] == "1" || !fields[kBarcodeField].empty())) {
            return true;
        }
    }
    return false;
}

bool RewriteCassetteSection(const TKRBId& unit, const TKRBCassette& changed) {
    platform::ProfileFile file(unit.ConfigFile);
    if (!IsExistingFile(unit.ConfigFile)) return false;
    const bool useTable = file.findString(kCassetteSection, kTableFlagKey) == "1";
    std::vector<std::string> entries{std::string(kTableFlagKey) + "=" + (useTable ? "1" : "0")};
    for (const auto& cassette : unit.Cassettes) {
        const TKRBCassette& shown = cassette->Number == changed.Number ? changed : *cassette;
        entries.push_back(std::to_string(shown.Number) + "=" + std::to_string(shown.Levels) + "," +
                          std::to_string(shown.ZPitch) + "," + std::to_string(shown.Type));
    }
    return file.replaceSection(kCassetteSection, entries);
}

std::optional<TKRBModifySlot::Target> TKRBModifySlot::FindTarget(const std::string& text) const {
    auto arguments = SplitUpdateArguments(text);
    if (!arguments) return std::nullopt;
    TKRBId* unit = Manager.Lab().FindUnit(arguments->UnitId);
    auto number = ParseInt32(arguments->Number);
    auto value = GeometryValue(arguments->Value);
    if (unit == nullptr || !number || !value) return std::nullopt;
    TKRBCassette* cassette = unit->FindCassette(*number);
    if (cassette == nullptr) return std::nullopt;
    return Target{unit, cassette, *value};
}

std::int32_t TKRBModifySlot::ApplyToUnit(TKRBId& unit, const TKRBCassette& changed) {
    try {
        unit.Dll.SetCassetteConfig(unit.ComPort, changed.Number, changed.Levels, changed.ZPitch);
    } catch (const std::exception&) {
        return kUnitCallFailed;
    }
    return RewriteCassetteSection(unit, changed) ? kDone : kUnitFileFailed;
}

std::int32_t TKRBModifySlot::UpdateZPitch(const std::string& text) {
    auto target = FindTarget(text);
    if (!target) return kNotFound;
    TKRBCassette& cassette = *target->Cassette;
    if (cassette.ZPitch == target->Value) return kDone;
    const TKRBCassette changed(cassette.Number, cassette.Levels, target->Value, cassette.Type,
                               target->Unit);
    if (auto result = ApplyToUnit(*target->Unit, changed); result != kDone) return result;
    cassette.ZPitch = target->Value;
    return kDone;
}

std::int32_t TKRBModifySlot::UpdateLevels(const std::string& text) {
    auto target = FindTarget(text);
    if (!target) return kNotFound;
    TKRBId& unit = *target->Unit;
    TKRBCassette& cassette = *target->Cassette;
    if (cassette.Levels == target->Value) return kDone;
    const TKRBCassette changed(cassette.Number, target->Value, cassette.ZPitch, cassette.Type,
                               &unit);
    if (LocationsWith(unit, changed) > kMaxUnitLocations) return kNotFound;
    // Held to the end: whoever reads the contents file under it sees the model that matches.
    const auto held = unit.Hold(TKRBId::ContentsLock);
    auto resized = ResizedContents(unit, changed);
    if (const auto* refused = std::get_if<std::int32_t>(&resized)) return *refused;
    if (auto result = ApplyToUnit(unit, changed); result != kDone) return result;
    const auto& contents = std::get<ContentsChange>(resized);
    if (contents.Changed) {
        if (!SaveTextLines(unit.ContentsFile, contents.Lines)) return kContentsFileFailed;
        ReportRecordChanges(unit.UnitId, UnderNewNumbers(contents.Before, contents.Lines),
                            contents.Lines, history::ChangeCause::Update);
    }
    cassette.Levels = target->Value;
    return kDone;
}

}  // namespace krb::server
