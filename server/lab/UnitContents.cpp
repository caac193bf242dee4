// The unit's contents file upkeep: rebuild, refresh, and merging inventory scans.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

#include "lab/ConfigPath.h"
#include "lab/ContentsFile.h"
#include "lab/RecordChanges.h"
#include "lab/Unit.h"
#include "platform/clock.h"
#include "text/DateTimeText.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

constexpr const char* kNoInventoryFile = "E_Inventory File doesn't exist";
constexpr const char* kCommunicationError = "E_Communication Error";

// What the library writes for what a scan could not read: a position it did not reach or
// whose detector gave no answer is the line "#unreadable,cassette,level"; a barcode the
// reader failed to give is "<unread>". Files without them merge as they always did.
constexpr const char* kUnreadablePosition = "#unreadable";
constexpr const char* kUnreadBarcode = "<unread>";

// What the merge takes from one inventory line.
struct InventoryEntry {
    std::string barcode;
    bool present = false;
    std::string cassette;
    std::string level;
    bool readable = true;
    bool barcodeRead = true;
};

std::string WithoutNullBarcode(const std::string& barcode) {
    return barcode == "<null>" ? std::string() : barcode;
}

// Long lines (ten fields: barcode, -, sector, present, line, system, unit, slot, level, 0)
// and short lines (five fields: slot, level, 0, present, barcode). A line with another
// field count (a barcode holding ",", a truncated line) cannot be read by position and
// is left out.
std::optional<InventoryEntry> ParseInventoryLine(const std::string& line) {
    std::vector<std::string> fields = SplitAt(line, ',');
    if (fields.size() == 3 && fields[0] == kUnreadablePosition) {
        return InventoryEntry{"", false, fields[1], fields[2], false, false};
    }
    std::optional<InventoryEntry> entry;
    if (fields.size() == 10) {
        entry =
            InventoryEntry{WithoutNullBarcode(fields[0]), fields[3] == "1", fields[7], fields[8]};
    } else if (fields.size() == 5) {
        entry =
            InventoryEntry{WithoutNullBarcode(fields[4]), fields[3] == "1", fields[0], fields[1]};
    }
    if (entry && entry->barcode == kUnreadBarcode) entry->barcodeRead = false;
    return entry;
}

std::string TimeStampForFileName() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    long long ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%03lld", local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, ms);
    return stamp;
}

bool RemoveFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::remove(path, error);
}

}  // namespace

// Units may share a contents folder and start their scans in the same millisecond: the
// port and a number counted over the whole process keep every scan's file its own.
std::string TKRBId::NewInventoryFileName() const {
    static std::atomic<std::uint32_t> scans{0};
    return FolderOf(ContentsFile) + TimeStampForFileName() + "_" + std::to_string(ComPort) + "_" +
           std::to_string(++scans);
}

std::string TKRBId::InventoryPlateExport(bool detect, bool barcodes) {
    const auto held = Hold(OperationLock);
    const std::string file = NewInventoryFileName();
    return RunInventoryExport(file, Dll.Inventory2(ComPort, file, detect, barcodes), barcodes);
}

std::string TKRBId::PartitionInventoryPlateExport(const std::string& partition, bool detect,
                                                  bool barcodes) {
    const auto held = Hold(OperationLock);
    const std::string file = NewInventoryFileName();
    return RunInventoryExport(
        file, Dll.PartitionInventory2(ComPort, file, partition, detect, barcodes), barcodes);
}

std::string TKRBId::RunInventoryExport(const std::string& file, int startResult, bool barcodes) {
    std::string reply =
        startResult == 1 ? AwaitInventory(file, barcodes) : std::to_string(startResult);
    return reply + "\r\n";
}

// Polls the scan every second; every third busy answer also checks the error flag.
std::string TKRBId::AwaitInventory(const std::string& file, bool barcodes) {
    int failures = 0;
    int polls = 0;
    while (true) {
        platform::sleepMs(1000);
        ++polls;
        int running = Dll.IsOperationRunning(ComPort);
        if (running == -1) ++failures;
        if (running == 0) {
            platform::sleepMs(200);
            return MergeInventory(file, barcodes);
        }
        if (running == 1 && polls == 3) {
            platform::sleepMs(200);
            int error = Dll.ReadErrorFlag(ComPort);
            if (error == -1) ++failures;
            if (error == 1) return "E_#" + std::to_string(Dll.ReadErrorCode(ComPort));
            polls = 0;
        }
        if (failures >= 10) return "E_Communication Error";
    }
}

std::string TKRBId::MergeInventory(const std::string& inventoryFile, bool barcodes) {
    if (!IsExistingFile(inventoryFile)) return kNoInventoryFile;
    const auto held = Hold(ContentsLock);
    auto contents = LoadTextLines(ContentsFile);
    if (ContentsFile.empty() || !contents) {
        throw TContentsFileError("contents file cannot be read: " + ContentsFile);
    }
    auto inventory = LoadTextLines(inventoryFile);
    if (!inventory) throw TContentsFileError("inventory file cannot be read: " + inventoryFile);

    const std::vector<std::string> before = *contents;
    const std::string checked = CurrentDateTimeText();
    bool somethingUnread = false;
    for (const auto& inventoryLine : *inventory) {
        auto entry = ParseInventoryLine(inventoryLine);
        if (!entry) continue;
        somethingUnread = somethingUnread || !entry->readable || !entry->barcodeRead;
        // An unreadable position keeps its record as it was, date of check included.
        if (!entry->readable) continue;
        for (auto& line : *contents) {
            ContentsFields fields = SplitContentsLine(line);
            if (fields[kCassetteField] != entry->cassette || fields[kLevelField] != entry->level) {
                continue;
            }
            const std::string& slot = fields[kSlotNoField];
            fields[kPresentField] = entry->present ? "1" : "0";
            if (barcodes && entry->barcodeRead) fields[kBarcodeField] = entry->barcode;
            if (!entry->present) {
                fields[kUserIdField] = DefaultLocationName(slot, false);
            } else if (fields[kUserIdField] == DefaultLocationName(slot, false)) {
                fields[kUserIdField] = DefaultLocationName(slot, true);
            }
            if (auto number = ParseInt32(fields[kCassetteField])) {
                for (const auto& sector : Sectors) {
                    if (!sector->Name.empty() && sector->RangeHolds(*number)) {
                        fields[kSectorField] = sector->Name;
                        break;
                    }
                }
            }
            fields[kDateCheckField] = checked;
            line = JoinContentsLine(fields);
        }
    }
    // Saved before the scan result is removed, so a failed save loses nothing.
    if (!SaveTextLines(ContentsFile, *contents)) {
        throw TContentsFileError("contents file cannot be saved: " + ContentsFile);
    }
    ReportRecordChanges(UnitId, before, *contents, history::ChangeCause::Inventory);
    RemoveFile(inventoryFile);
    // What was read is merged; what was not makes the scan no plain success.
    return somethingUnread ? kCommunicationError : "1";
}

// Default names for unnamed locations and the sector of each cassette. Lines whose
// cassette is no number are left as they are.
bool TKRBId::RefreshLines(std::vector<std::string>& lines) const {
    bool changed = false;
    for (auto& line : lines) {
        ContentsFields fields = SplitContentsLine(line);
        auto cassette = ParseInt32(fields[kCassetteField]);
        if (!cassette) continue;
        bool lineChanged = false;
        if (fields[kUserIdField].empty()) {
            fields[kUserIdField] =
                DefaultLocationName(fields[kSlotNoField], fields[kPresentField] == "1");
            lineChanged = true;
        }
        const TKRBSector* sector = FindSectorOfCassette(*cassette);
        if (sector && sector->Name != fields[kSectorField]) {
            fields[kSectorField] = sector->Name;
            lineChanged = true;
        }
        if (lineChanged) {
            line = JoinContentsLine(fields);
            changed = true;
        }
    }
    return changed;
}

void TKRBId::RefreshContents() {
    if (ContentsFile.empty()) return;
    const auto held = Hold(ContentsLock);
    auto lines = LoadTextLines(ContentsFile);
    if (lines && RefreshLines(*lines)) SaveTextLines(ContentsFile, *lines);
}

std::int32_t TKRBId::ClearHistory() {
    if (ContentsFile.empty()) return -1;
    try {
        const auto held = Hold(ContentsLock);
        std::vector<std::string> lines;
        int slot = 1;
        for (const auto& cassette : Cassettes) {
            const TKRBSector* sector = FindSectorOfCassette(cassette->Number);
            for (int level = 1; level <= cassette->Levels; ++level) {
                ContentsFields fields;
                fields[kSlotNoField] = std::to_string(slot++);
                fields[kCassetteField] = std::to_string(cassette->Number);
                fields[kLevelField] = std::to_string(level);
                fields[kSectorField] = sector ? sector->Name : std::string();
                lines.push_back(JoinContentsLine(fields));
            }
        }
        RefreshLines(lines);
        const auto before = LoadTextLines(ContentsFile);
        if (!SaveTextLines(ContentsFile, lines)) return -1;
        ReportRecordChanges(UnitId, before.value_or(std::vector<std::string>{}), lines,
                            history::ChangeCause::ClearHistory);
        return 1;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace krb::server
