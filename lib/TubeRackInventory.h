#pragma once
// Tube inventory of the rack in front of the tube store's handler: one line per tube
// position with the barcode read there, written to the inventory file at the end.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PlateInventory.h"

namespace krb {

class TKRB_Class;

class TKVLPlateTubeInventory {
  public:
    // The caller has claimed the unit's Busy; the task clears it once its file is written.
    static void Start(std::shared_ptr<TKRB_Class> unit, std::string fileName, std::int32_t mode);

    // "mode,first,second,barcode"; the file ends every line with CR LF.
    static std::string Line(std::int32_t mode, std::int32_t first, std::int32_t second,
                            const std::string& barcode);
    // The word a coordinate is written as: mode 1 packed (9 -> 0x900), else its digits (9 -> 9).
    static std::int32_t CoordinateInMode(std::int32_t mode, std::int32_t coordinate);

  private:
    TKVLPlateTubeInventory(std::shared_ptr<TKRB_Class> unit, std::string fileName,
                           std::int32_t mode)
        : Unit(std::move(unit)), FileName(std::move(fileName)), Mode(mode) {}
    void Execute();
    std::vector<std::string> ScanRows();
    void ScanRow(std::int32_t row, std::vector<std::string>& lines);

    std::shared_ptr<TKRB_Class> Unit;
    std::string FileName;
    std::int32_t Mode = 0;
    std::int32_t RowCount = 0;
    std::int32_t ColumnCount = 0;
    std::vector<inventory::TSlotPosition> Unreadable;
};

}  // namespace krb
