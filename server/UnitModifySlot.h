#pragma once
// TKRBModifySlot: changes a cassette's level pitch or number of levels everywhere it is
// recorded: the model, the unit, the unit file's [CassettesConfiguration] and, for the
// levels, the unit's contents file. The steps are done one after the other and are not
// undone when a later one fails; the result names the step that failed.
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
    static std::int32_t ApplyToUnit(TKRBId& unit, const TKRBCassette& cassette);
};

// The [CassettesConfiguration] section rewritten from the unit's cassettes: the table flag
// kept, then one key per cassette with levels, pitch and type. false when a write failed.
bool RewriteCassetteSection(const TKRBId& unit);

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
