#pragma once
// The move list of a tube move file: commands, each a source rack and a target rack of the
// plate unit with the tube positions to move from the one to the other.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krb {

struct TTubePos {
    std::int32_t First = 0;  // coordinates of the tube in its rack
    std::int32_t Second = 0;
    std::int32_t Number = 0;  // the line's tube number
    std::string Text;         // the line's tube text, empty when absent
};

struct TMoveTubebyFile {
    std::int32_t Slot = 0;  // where the rack stands in the plate unit
    std::int32_t Level = 0;
    std::vector<TTubePos> Tubes;

    bool SamePlace(const TMoveTubebyFile& other) const {
        return Slot == other.Slot && Level == other.Level;
    }
};

struct TMoveTubeFileCommand {
    TMoveTubebyFile Source;
    TMoveTubebyFile Target;
};

using TMoveList = std::vector<TMoveTubeFileCommand>;

// The whole file or nothing: nullopt when any move line is malformed.
std::optional<TMoveList> ParseMoveList(std::string_view content);

// "" with the list filled, "-5" no such file, "-6" unreadable or malformed.
std::string ReadMoveListFile(const std::string& path, TMoveList& list);

// Tube coordinates the controller words can carry: 1 to 99.
inline bool IsTubeCoordinate(std::int64_t value) { return value >= 1 && value <= 99; }

// Controller words of tube coordinates: decimal digits read as hexadecimal digits.
// nullopt when the digits do not fit one word (four digits) or are not digits.
std::optional<std::int32_t> HexDigitsWord(std::string_view digits);
std::optional<std::int32_t> CoordinateWord(std::int32_t coordinate);          // 12 -> 0x12
std::optional<std::int32_t> PackedWord(std::int32_t high, std::int32_t low);  // 12, 3 -> 0x1203
std::optional<std::int32_t> PackedWord(std::int32_t high);                    // 12 -> 0x1200

}  // namespace krb
