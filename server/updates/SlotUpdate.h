#pragma once
// TKRBModifySlot: changes a cassette's level pitch or number of levels everywhere it is
// recorded: the unit, the unit file's [CassettesConfiguration], for the levels the unit's
// contents file, and last the model. Everything that can refuse the change is checked before
// the first step; a step that fails leaves the model as it was, so the same command repeated
// does the steps again (each one gives the same result when done twice) and completes it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace krb::server {

class TKRBManager;
class TKRBId;
class TKRBCassette;

class TKRBModifySlot {
  public:
    static constexpr std::int32_t kDone = 1;
    static constexpr std::int32_t kNotFound = -1;  // unit, cassette or number
    static constexpr std::int32_t kUnitCallFailed = -2;
    static constexpr std::int32_t kUnitFileFailed = -4;
    static constexpr std::int32_t kNoContentsFile = -5;
    static constexpr std::int32_t kContentsFileFailed = -6;
    static constexpr std::int32_t kPlateAtRemovedLevel = -7;

    // No unit holds more locations than this, so that no command can grow its contents file
    // and views without bound.
    static constexpr std::int64_t kMaxUnitLocations = 20000;

    explicit TKRBModifySlot(TKRBManager& manager) : Manager(manager) {}

    std::int32_t UpdateZPitch(const std::string& text);
    std::int32_t UpdateLevels(const std::string& text);

    TKRBManager& Manager;

  private:
    struct Target {
        TKRBId* Unit;
        TKRBCassette* Cassette;
        std::int32_t Value;
    };
    std::optional<Target> FindTarget(const std::string& text) const;
    static std::int32_t ApplyToUnit(TKRBId& unit, const TKRBCassette& changed);
};

// The [CassettesConfiguration] section rewritten from the unit's cassettes, `changed` standing
// in for the cassette of its number: the table flag kept, then one key per cassette with
// levels, pitch and type, the whole file replaced at once. false when it was not written.
bool RewriteCassetteSection(const TKRBId& unit, const TKRBCassette& changed);

// Whether a line of cassette `cassette` above level `levels` records a plate (present or a
// barcode).
bool HoldsPlateAboveLevel(const std::vector<std::string>& lines, std::int32_t cassette,
                          std::int32_t levels);

// The unit's contents lines after cassette `cassette` got `levels` levels: its lines beyond
// the new count left out, or new empty locations added after its last line (after the
// preceding cassette's lines when it has none); every line renumbered, default names with
// it. nullopt when a line of the cassette has a level that is no number. `sector` names the
// sector of added lines when the cassette has no line to take it from.
std::optional<std::vector<std::string>> ResizeCassetteLines(const std::vector<std::string>& lines,
                                                            std::int32_t cassette,
                                                            std::int32_t levels,
                                                            const std::string& sector);

}  // namespace krb::server
