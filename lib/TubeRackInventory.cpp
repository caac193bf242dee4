#include "TubeRackInventory.h"

#include <thread>

#include "BarcodeText.h"
#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "PlateInventory.h"
#include "TubeMoveList.h"
#include "platform/clock.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

void TKVLPlateTubeInventory::Start(std::shared_ptr<TKRB_Class> unit, std::string fileName,
                                   std::int32_t mode) {
    TKRB_Class& owner = *unit;
    inventory::startScanThread(owner,
                               [task = TKVLPlateTubeInventory(std::move(unit), std::move(fileName),
                                                              mode)]() mutable { task.Execute(); });
}

std::string TKVLPlateTubeInventory::Line(std::int32_t mode, std::int32_t first, std::int32_t second,
                                         const std::string& barcode) {
    return std::to_string(mode) + "," + std::to_string(first) + "," + std::to_string(second) + "," +
           (barcode.empty() ? inventory::kNoBarcode : barcode);
}

std::int32_t TKVLPlateTubeInventory::CoordinateInMode(std::int32_t mode, std::int32_t coordinate) {
    auto word = mode == 1 ? PackedWord(coordinate) : CoordinateWord(coordinate);
    return word.value_or(-1);
}

void TKVLPlateTubeInventory::Execute() {
    sleepMs(150);
    // A rack size that cannot be read scans nothing, and the scan is no success.
    auto rows = Unit->readWordAt(word::kSlotCount).number32();
    auto columns = Unit->readWordAt(word::kLevelCount).number32();
    if (!rows || !columns) Unreadable.push_back({0, 0});
    RowCount = rows.value_or(0);
    ColumnCount = columns.value_or(0);
    if (Unit->replyIs(readRelay(relay::kScanMode), "1")) Unit->leaveScanMode();
    std::vector<std::string> lines = ScanRows();
    bool written = inventory::writeInventoryFile(FileName, lines);
    Unit->noteScanComplete(written && Unreadable.empty());
    Unit->releaseBusy();
    if (!written) inventory::reportWriteFailure();
    inventory::reportUnreadablePositions(*Unit, Unreadable);
}

std::vector<std::string> TKVLPlateTubeInventory::ScanRows() {
    std::vector<std::string> lines;
    for (std::int32_t row = 1; row <= RowCount && Unit->portOpen(); ++row) {
        // A rack larger than the coordinate words can address ends the scan there.
        if (CoordinateInMode(Mode, row) < 0) break;
        ScanRow(row, lines);
    }
    return lines;
}

// A tube position not reached, or whose reader's line is gone, gets the unread marker as its
// barcode: the caller keeps what it knew of that tube.
void TKVLPlateTubeInventory::ScanRow(std::int32_t row, std::vector<std::string>& lines) {
    bool rowSet = false;
    bool scanMode = false;
    for (std::int32_t column = 1; column <= ColumnCount; ++column) {
        std::int32_t coordinate = CoordinateInMode(Mode, column);
        if (coordinate < 0) break;
        rowSet = rowSet || Unit->wordWritten(word::kTargetSlot, CoordinateInMode(Mode, row));
        sleepMs(150);
        bool reached = rowSet && Unit->wordWritten(word::kTargetLevel, coordinate);
        scanMode = scanMode || (reached && Unit->writeAccepted(setRelay(relay::kScanMode)));
        reached = reached && scanMode && Unit->motionCompleted();
        std::string code = reached ? Unit->ReadReaderQuick() : std::string();
        if (!reached || code == barcode::kReaderFailed || (code.empty() && !Unit->readerOpen())) {
            Unreadable.push_back({row, column});
            code = inventory::kUnreadBarcode;
        }
        lines.push_back(Line(Mode, row, column, code));
    }
    Unit->leaveScanMode();
    // Each position of the next row waits for its own motion: this wait decides no line.
    static_cast<void>(Unit->motionCompleted());
}

}  // namespace krb
