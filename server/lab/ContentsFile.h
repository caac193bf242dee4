#pragma once
// The contents file: one line per storage location, CR LF line ends, ten fields separated
// by "," without quoting; field 10 is everything after the ninth ",".
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

class TKRBId;

enum ContentsField : std::size_t {
    kSlotNoField,
    kCassetteField,
    kLevelField,
    kPresentField,
    kBarcodeField,
    kUserIdField,
    kSectorField,
    kDateCheckField,
    kDateLoadField,
    kDateUnloadField,
    kContentsFieldCount
};

using ContentsFields = std::array<std::string, kContentsFieldCount>;

// Missing fields are empty.
ContentsFields SplitContentsLine(std::string_view line);
std::string JoinContentsLine(const ContentsFields& fields);

// "Plate " + slot when a plate is present, "Location " + slot otherwise.
std::string DefaultLocationName(const std::string& slotText, bool present);
bool IsDefaultLocationName(std::string_view name);

// The whole file; nullopt when it cannot be read.
std::optional<std::string> LoadText(const std::string& path);
// Lines of a text file (CR LF, LF or CR ends); nullopt when it cannot be read.
std::optional<std::vector<std::string>> LoadTextLines(const std::string& path);
// Writes every line with CR LF, replacing the file atomically.
bool SaveTextLines(const std::string& path, const std::vector<std::string>& lines);

// One location as read from a contents file.
class TKRBPlate {
  public:
    std::int32_t SlotNo = 0;
    std::int32_t Cassette = 0;
    std::int32_t Level = 0;
    std::string PlateBCR;
    bool PP = false;
    std::string SectorName;
    std::string PlateUserId;
    double DateCheck = 0;
    double DateLoad = 0;
    double DateUnload = 0;
};

TKRBPlate PlateFromContentsLine(const ContentsFields& fields);
// Plates of the lines whose cassette field equals `cassetteText` exactly, in file order;
// empty when the unit has no contents file or it cannot be read.
std::vector<TKRBPlate> ReadPlates(const TKRBId& unit, const std::string& cassetteText);

}  // namespace krb::server
