#include "UnitPlateTubeInventory.h"

#include <thread>

#include "ControllerRegisters.h"
#include "Inv_thread.h"
#include "KRB_Class.h"
#include "UnitClasses.h"
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
    RowCount = parseInt32(Unit->ReadBackStr(readWord(word::kSlotCount))).value_or(0);
    ColumnCount = parseInt32(Unit->ReadBackStr(readWord(word::kLevelCount))).value_or(0);
    if (Unit->ReadBackStr(readRelay(relay::kScanMode)) == "1")
        Unit->ReadBackStr(resetRelay(relay::kScanMode));
    if (!inventory::writeInventoryFile(FileName, ScanRows())) inventory::reportWriteFailure();
    Unit->releaseBusy();
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

void TKVLPlateTubeInventory::ScanRow(std::int32_t row, std::vector<std::string>& lines) {
    Unit->ReadBackStr(writeWord(word::kTargetSlot, CoordinateInMode(Mode, row)));
    for (std::int32_t column = 1; column <= ColumnCount; ++column) {
        std::int32_t coordinate = CoordinateInMode(Mode, column);
        if (coordinate < 0) break;
        sleepMs(150);
        Unit->ReadBackStr(writeWord(word::kTargetLevel, coordinate));
        if (column == 1) Unit->ReadBackStr(setRelay(relay::kScanMode));
        Unit->WaitForOperation();
        lines.push_back(Line(Mode, row, column, Unit->ReadReaderQuick()));
    }
    Unit->ReadBackStr(resetRelay(relay::kScanMode));
    Unit->WaitForOperation();
}

}  // namespace krb
