#include "PlateInventory.h"

#include <filesystem>
#include <thread>

#include "BarcodeText.h"
#include "ControllerRegisters.h"
#include "platform/clock.h"
#include "platform/operator_message.h"
#include "platform/profile_file.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

namespace inventory {

namespace {
constexpr int kReferenceHeight = 500;
constexpr int kCorrectionLimit = 450;
constexpr std::size_t kPositionsListed = 20;  // a message box, not a file
}  // namespace

TPositionReader::TPositionReader(TKRB_Class& unit, const TInventorySettings& settings,
                                 std::string detectorCommand)
    : unit_(unit),
      detect_(settings.Detect),
      barcodes_(settings.Barcodes),
      detectorCommand_(std::move(detectorCommand)) {}

void TPositionReader::EnableHeightCorrection() {
    if (!detect_) return;
    auto offset = parseInt32(unit_.ReadBCRZOffset());
    if (offset && *offset < kCorrectionLimit) offset_ = offset;
}

// The reader's height before the correction, when it was corrected. The correction is not a
// condition of the reading: one the controller did not take leaves the reader where it stood.
std::optional<std::int64_t> TPositionReader::correctHeight() {
    if (!offset_) return std::nullopt;
    auto height = unit_.readWordAt(word::kBarcodeHeight).number();
    if (!height || !unit_.wordWritten(word::kBarcodeHeight, kReferenceHeight - *offset_ + *height))
        return std::nullopt;
    sleepMs(100);
    if (!unit_.motionCompleted()) return std::nullopt;
    return height;
}

bool TPositionReader::restoreHeight(std::int64_t height) {
    if (!unit_.wordWritten(word::kBarcodeHeight, height)) return false;
    sleepMs(100);
    return unit_.motionCompleted();
}

// No code with the reader's line up is a missing label; a failed reading or a line gone is a
// failure.
std::string TPositionReader::readBarcode(int slot, int level) {
    const std::string code = unit_.ReadSlotBarcode();
    const bool failed = code == barcode::kReaderFailed;
    if (!failed && !code.empty()) return code;
    if (!failed && unit_.barcodeLineUp()) return kNoBarcode;
    unreadable_.push_back({slot, level});
    return kUnreadBarcode;
}

TPositionReading TPositionReader::unreadable(int slot, int level) {
    unreadable_.push_back({slot, level});
    TPositionReading reading;
    reading.Readable = false;
    return reading;
}

TPositionReading TPositionReader::Read(int slot, int level, bool reached) {
    if (!reached) return unreadable(slot, level);
    TPositionReading reading;
    if (!detect_) {
        if (barcodes_) reading.Barcode = readBarcode(slot, level);
        return reading;
    }
    auto heightBefore = correctHeight();
    switch (slotDetectorReading(unit_.ReadBackStr(detectorCommand_).text())) {
        case TSlotDetector::Free:
            return reading;
        case TSlotDetector::Unreadable:
            return unreadable(slot, level);
        case TSlotDetector::Occupied:
            break;
    }
    reading.Present = true;
    if (!barcodes_) return reading;
    // A reader left at another height would read another plate's label, or none.
    if (heightBefore && !restoreHeight(*heightBefore)) {
        unreadable_.push_back({slot, level});
        reading.Barcode = kUnreadBarcode;
        return reading;
    }
    reading.Barcode = readBarcode(slot, level);
    return reading;
}

bool enterScanMode(TKRB_Class& unit) {
    return unit.writeAccepted(setRelay(relay::kScanMode)) ||
           unit.writeAccepted(setRelay(relay::kScanMode));
}

bool levelWritten(TKRB_Class& unit, int level, int pitch) {
    if (pitch != 0 && !unit.wordWritten(word::kHandlerZPitch, pitch)) return false;
    sleepMs(150);
    if (!unit.wordWritten(word::kTargetLevel, level)) return false;
    sleepMs(150);
    return true;
}

std::string unreadableLine(int slot, int level) {
    return std::string(kUnreadablePosition) + "," + std::to_string(slot) + "," +
           std::to_string(level);
}

std::string shortLine(int slot, int level, const TPositionReading& reading) {
    if (!reading.Readable) return unreadableLine(slot, level);
    return std::to_string(slot) + "," + std::to_string(level) + ",0," +
           (reading.Present ? "1" : "0") + "," + reading.Barcode;
}

std::string longLine(const TPositionReading& reading, const TLongLineFields& fields) {
    if (!reading.Readable) return unreadableLine(fields.Slot, fields.Level);
    return reading.Barcode + ",," + fields.Sector + "," + (reading.Present ? "1" : "0") + "," +
           std::to_string(fields.LineNumber) + "," + fields.IdSys + "," + fields.Id + "," +
           std::to_string(fields.Slot) + "," + std::to_string(fields.Level) + ",0";
}

namespace {
std::string twoDigits(int value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}
}  // namespace

// After counter 99 the letter advances; past Z the last candidate is taken.
std::string generatedFileName(const std::string& serial, const std::tm& date) {
    std::string day = std::to_string((date.tm_year + 1900) % 100) + twoDigits(date.tm_mon + 1) +
                      twoDigits(date.tm_mday);
    std::string name;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        for (int counter = 0; counter <= 99; ++counter) {
            name = serial + "_" + letter + day + twoDigits(counter) + ".inv";
            std::error_code error;
            if (!std::filesystem::exists(name, error)) return name;
        }
    return name;
}

bool writeInventoryFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string content;
    for (const auto& line : lines) content += line + "\r\n";
    return !path.empty() && platform::replaceFileWithoutFollowing(path, content);
}

void reportWriteFailure() {
    platform::showOperatorMessage("Inventory Error!", "Error write to file!");
}

void reportUnreadablePositions(TKRB_Class& unit, const std::vector<TSlotPosition>& positions) {
    if (positions.empty()) return;
    std::string listed;
    for (std::size_t i = 0; i < positions.size() && i < kPositionsListed; ++i)
        listed += (i == 0 ? "" : ", ") + std::to_string(positions[i].Slot) + "/" +
                  std::to_string(positions[i].Level);
    if (positions.size() > kPositionsListed)
        listed += ", ... (" + std::to_string(positions.size()) + " positions)";
    platform::showOperatorMessage("Inventory Error", "Position not readable\r\rUnit ID:" +
                                                         unit.GetId() + "\r\rSlot/Level:" + listed);
}

// The file is in place before Busy clears: a caller that sees the scan ended finds it.
void finishScan(TKRB_Class& unit, const std::string& path, const std::vector<std::string>& lines,
                const std::vector<TSlotPosition>& unreadable) {
    bool written = writeInventoryFile(path, lines);
    unit.releaseBusy();
    if (!written) reportWriteFailure();
    reportUnreadablePositions(unit, unreadable);
}

void reportMoveError(TKRB_Class& unit) {
    platform::showOperatorMessage("Error", "Inventory Error\r\rUnit ID:" + unit.GetId() + "\r\r" +
                                               "Error Code:" + unit.ReadErrorCode());
}

void startScanThread(TKRB_Class& unit, std::function<void()> scan) {
    try {
        std::thread(std::move(scan)).detach();
    } catch (...) {
        unit.releaseBusy();
        throw;
    }
}

}  // namespace inventory

void InventoryThread::Start(UnitPtr unit, TInventorySettings settings) {
    TKRB_Class& owner = *unit;
    inventory::startScanThread(
        owner, [task = InventoryThread(std::move(unit), std::move(settings))]() mutable {
            task.Execute();
        });
}

// A slot word the controller did not take is written again before each of its levels.
void InventoryThread::scanSlot(int slot, bool scanMode, inventory::TPositionReader& reader,
                               std::vector<std::string>& lines) {
    bool slotSet = false;
    int levels = unit_->cassetteLevels(slot);
    if (levels == 0) levels = unit_->maxLevel();
    int pitch = unit_->cassettePitch(slot);
    for (int level = 1; level <= levels; ++level) {
        slotSet = slotSet || unit_->wordWritten(word::kTargetSlot, slot);
        bool reached = scanMode && slotSet && inventory::levelWritten(*unit_, level, pitch) &&
                       unit_->motionCompleted();
        lines.push_back(inventory::shortLine(slot, level, reader.Read(slot, level, reached)));
    }
}

void InventoryThread::Execute() {
    inventory::TPositionReader reader(*unit_, settings_, readRelay(relay::kWholeUnitScanDetector));
    std::vector<std::string> lines;
    bool scanMode = inventory::enterScanMode(*unit_);
    sleepMs(150);
    const int maxSlot = unit_->maxSlot();
    for (int slot = 1; slot <= maxSlot; ++slot) scanSlot(slot, scanMode, reader, lines);
    unit_->leaveScanMode();
    inventory::finishScan(*unit_, settings_.FileName, lines, reader.Unreadable());
}

}  // namespace krb
