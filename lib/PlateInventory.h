#pragma once
// Plate inventories: what every scan shares (settings, reading one position, the line
// formats, the file) and the short-format scan of all slots.
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "KRB_Class.h"

namespace krb {

// Taken at the start: a later start never changes a scan that is already running.
struct TInventorySettings {
    std::string FileName;
    bool Detect = false;
    bool Barcodes = false;
};

namespace inventory {

constexpr const char* kNoBarcode = "<null>";
// How the file carries what a scan could not read, so that the merge keeps the old record:
// a position that was not reached or whose detector gave no answer has the line
// "#unreadable,slot,level" instead of its record (three fields, which readers of the two
// record formats skip); a barcode the reader failed to give (not a missing label) is
// kUnreadBarcode in the record's barcode field.
constexpr const char* kUnreadablePosition = "#unreadable";
constexpr const char* kUnreadBarcode = "<unread>";

struct TPositionReading {
    bool Readable = true;
    bool Present = false;
    std::string Barcode = kNoBarcode;
};

struct TSlotPosition {
    int Slot = 0;
    int Level = 0;
};

// Detection and barcode reading at the position the handler stands at.
class TPositionReader {
  public:
    TPositionReader(TKRB_Class& unit, const TInventorySettings& settings,
                    std::string detectorCommand);
    // Reader height correction (long scans with detection): offset from DM27 when below 450.
    void EnableHeightCorrection();
    // A position the handler did not reach, or whose detector answered neither "1" nor "0",
    // is unreadable and remembered for the operator; so is a barcode the reader failed to give.
    TPositionReading Read(int slot, int level, bool reached);
    const std::vector<TSlotPosition>& Unreadable() const { return unreadable_; }

  private:
    std::optional<std::int64_t> correctHeight();
    [[nodiscard]] bool restoreHeight(std::int64_t height);
    std::string readBarcode(int slot, int level);
    TPositionReading unreadable(int slot, int level);

    TKRB_Class& unit_;
    bool detect_;
    bool barcodes_;
    std::string detectorCommand_;
    std::optional<std::int32_t> offset_;
    std::vector<TSlotPosition> unreadable_;
};

std::string shortLine(int slot, int level, const TPositionReading& reading);
std::string unreadableLine(int slot, int level);

struct TLongLineFields {
    std::string Sector, IdSys, Id;
    int LineNumber = 0, Slot = 0, Level = 0;
};
std::string longLine(const TPositionReading& reading, const TLongLineFields& fields);

// Scan mode on, confirmed by the controller; tried twice.
[[nodiscard]] bool enterScanMode(TKRB_Class& unit);
// The pitch (when the slot has one) and the level words, both acknowledged.
[[nodiscard]] bool levelWritten(TKRB_Class& unit, int level, int pitch);

// serial + "_" + letter + yy(mm)(dd) + counter + ".inv"; the first name with no such file.
std::string generatedFileName(const std::string& serial, const std::tm& date);

// All lines at once, CR LF each, through a temporary file renamed into place.
bool writeInventoryFile(const std::string& path, const std::vector<std::string>& lines);
void reportWriteFailure();
// One message per scan, naming the positions whose detector read neither "1" nor "0".
void reportUnreadablePositions(TKRB_Class& unit, const std::vector<TSlotPosition>& positions);
// Writes the file, clears Busy, then tells the operator what went wrong, if anything.
void finishScan(TKRB_Class& unit, const std::string& path, const std::vector<std::string>& lines,
                const std::vector<TSlotPosition>& unreadable);
void reportMoveError(TKRB_Class& unit);

// Runs a scan on a thread of its own. The start has claimed Busy; the scan clears it.
void startScanThread(TKRB_Class& unit, std::function<void()> scan);

}  // namespace inventory

// All slots, levels from the cassette table, short lines; a position the handler did not
// reach is unreadable and the scan goes on.
class InventoryThread {
  public:
    static void Start(UnitPtr unit, TInventorySettings settings);

  private:
    InventoryThread(UnitPtr unit, TInventorySettings settings)
        : unit_(std::move(unit)), settings_(std::move(settings)) {}
    void Execute();
    void scanSlot(int slot, bool scanMode, inventory::TPositionReader& reader,
                  std::vector<std::string>& lines);

    UnitPtr unit_;
    TInventorySettings settings_;
};

}  // namespace krb
