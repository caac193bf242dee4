#include "LongFormatInventory.h"

#include "ControllerRegisters.h"
#include "platform/clock.h"

namespace krb {

using namespace controller;

using platform::sleepMs;

TLongFormatScan::TLongFormatScan(UnitPtr unit, TInventorySettings settings, int firstSlot,
                                 int lastSlot)
    : unit_(std::move(unit)),
      settings_(std::move(settings)),
      firstSlot_(firstSlot),
      lastSlot_(lastSlot),
      id_(unit_->GetId()),
      idSys_(unit_->GetIdSys()) {}

// The cassette table and the maximum level are read anew for every slot.
int TLongFormatScan::levelsOf(int slot) const {
    int levels = unit_->usesCassetteTable() ? unit_->cassetteLevels(slot) : 0;
    return levels != 0 ? levels : unit_->maxLevel();
}

int TLongFormatScan::pitchOf(int slot) const {
    return unit_->usesCassetteTable() ? unit_->cassettePitch(slot) : 0;
}

// A slot word the controller did not take is written again before each of its levels.
bool TLongFormatScan::scanSlot(int slot, inventory::TPositionReader& reader) {
    bool slotSet = false;
    const int levels = levelsOf(slot);
    const int pitch = pitchOf(slot);
    for (int level = 1; level <= levels; ++level) {
        slotSet = slotSet || unit_->wordWritten(word::kTargetSlot, slot);
        bool targetSet = slotSet && inventory::levelWritten(*unit_, level, pitch);
        if (targetSet && !unit_->motionCompleted()) return false;
        inventory::TPositionReading reading = reader.Read(slot, level, targetSet);
        inventory::TLongLineFields fields{unit_->ReadSectorName(slot),         idSys_, id_,
                                          static_cast<int>(lines_.size()) + 1, slot,   level};
        lines_.push_back(inventory::longLine(reading, fields));
    }
    return true;
}

void TLongFormatScan::Run() {
    inventory::TPositionReader reader(*unit_, settings_, readRelay(relay::kSlotPlate));
    // A controller that does not take scan mode is not answering: nothing could be read.
    if (!inventory::enterScanMode(*unit_)) return abandon();
    sleepMs(150);
    reader.EnableHeightCorrection();
    for (int slot = firstSlot_; slot <= lastSlot_; ++slot)
        if (!scanSlot(slot, reader)) return abandon();
    unit_->leaveScanMode();
    inventory::finishScan(*unit_, settings_.FileName, lines_, reader.Unreadable());
}

// No file: the merge answers that none exists, and every record stays.
void TLongFormatScan::abandon() {
    inventory::reportMoveError(*unit_);
    // Scan mode off before Busy lets another motion in.
    unit_->leaveScanMode();
    unit_->releaseBusy();
}

void InventoryThread2::Start(UnitPtr unit, TInventorySettings settings) {
    TKRB_Class& owner = *unit;
    const int maxSlot = owner.maxSlot();
    inventory::startScanThread(owner,
                               [scan = TLongFormatScan(std::move(unit), std::move(settings), 1,
                                                       maxSlot)]() mutable { scan.Run(); });
}

}  // namespace krb
