// Starts of the plate inventories, in the order of their checks, and the one-slot
// inventory that runs while the caller waits.
#include <ctime>

#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "KRB_Class_Busy.h"
#include "LongFormatInventory.h"
#include "PartitionInventory.h"
#include "PlateInventory.h"
#include "platform/clock.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

namespace {

constexpr std::int64_t kSlotInventoryBusyWaitMs = 180000;

bool flag(const std::string& text) { return text == "1"; }

std::tm today() {
    std::time_t now = std::time(nullptr);
    std::tm date{};
    localtime_r(&now, &date);
    return date;
}

}  // namespace

std::string TKRB_Class::InventoryFileNameFor(const std::string& requested) {
    if (!requested.empty()) return requested;
    return inventory::generatedFileName(SerialNumberCache.get(), today());
}

std::string TKRB_Class::InventoryCassets(const std::string& fileName, const std::string& detect,
                                         const std::string& barcodes) {
    if (!Initialized && !ReaderOpen) return "0";
    TInventorySettings settings{InventoryFileNameFor(fileName), flag(detect), flag(barcodes)};
    InventoryFile.set(settings.FileName);
    if (!claimBusyStepped()) return "2";
    InventoryThread::Start(shared_from_this(), settings);
    return "1";
}

std::string TKRB_Class::InventoryCassets2(const std::string& fileName, const std::string& detect,
                                          const std::string& barcodes) {
    if (!Initialized) return "0";
    TInventorySettings settings{InventoryFileNameFor(fileName), flag(detect), flag(barcodes)};
    InventoryFile.set(settings.FileName);
    if (settings.Barcodes && !ReaderOpen && !(IsCompSv && IsBCR)) return "3";
    if (!claimBusyStepped()) return "2";
    InventoryThread2::Start(shared_from_this(), settings);
    return "1";
}

// A tube store has no plate slots to scan: its whole-unit inventory is the vial inventory,
// the two flags being its two numbers, and the answer its start code.
std::string TKRB_Class::Inventory2(const std::string& fileName, const std::string& detect,
                                   const std::string& barcodes) {
    if (IsKVL) return VialsInventory(fileName, detect, barcodes);
    return InventoryCassets2(fileName, detect, barcodes);
}

std::string TKRB_Class::PartitionInventory2(const std::string& fileName, const std::string& sector,
                                            const std::string& detect,
                                            const std::string& barcodes) {
    if (!Initialized) return "0";
    auto slots = Sectors.SlotsOfName(sector);
    if (!slots) return "4";
    if (slots->first == 0 || slots->second == 0) return "5";
    TInventorySettings settings{InventoryFileNameFor(fileName), flag(detect), flag(barcodes)};
    InventoryFile.set(settings.FileName);
    if (settings.Barcodes && !ReaderOpen && !(IsCompSv && IsBCR)) return "3";
    if (!claimBusyStepped()) return "2";
    TKRBInventoryPartitionTHR::Start(shared_from_this(), settings, slots->first, slots->second);
    return "1";
}

// Slot and levels that are not numbers write nothing: "3", before anything moves.
std::string TKRB_Class::InventorySlot(const std::string& slotText,
                                      const std::string& firstLevelText,
                                      const std::string& lastLevelText, const std::string& fileName,
                                      const std::string& detect, const std::string& barcodes) {
    if (!Initialized && !ReaderOpen) return "0";
    std::string file = InventoryFileNameFor(fileName);
    TInventorySettings settings{file, flag(detect), flag(barcodes)};
    auto slot = parseInt32(slotText);
    auto firstLevel = parseInt32(firstLevelText);
    auto lastLevel = parseInt32(lastLevelText);
    if (!slot || !firstLevel || !lastLevel) return "3";
    TBusyToken busy(*this);
    if (!busy.claimWithin(kSlotInventoryBusyWaitMs)) return "2";
    int levels = cassetteLevels(*slot);
    if (levels != 0 && levels < *lastLevel) return "4";

    // The scans' own reading: the controller triggers the reader only when it gave nothing.
    inventory::TPositionReader reader(*this, settings, readRelay(relay::kSlotPlate));
    std::vector<std::string> lines;
    bool slotSet = inventory::enterScanMode(*this);
    sleepMs(150);
    slotSet = slotSet && wordWritten(word::kTargetSlot, *slot) && writePitchOf(*slot);
    for (int level = *firstLevel; level <= *lastLevel; ++level) {
        sleepMs(200);
        bool reached = slotSet && wordWritten(word::kTargetLevel, level) && motionCompleted();
        lines.push_back(inventory::shortLine(*slot, level, reader.Read(*slot, level, reached)));
    }
    leaveScanMode();
    busy.release();
    bool written = inventory::writeInventoryFile(file, lines);
    inventory::reportUnreadablePositions(*this, reader.Unreadable());
    // What was read is in the file; the positions that were not make it no plain success.
    return written && reader.Unreadable().empty() ? "1" : "3";
}

}  // namespace krb
