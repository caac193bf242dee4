#include "Inv_thread2.h"

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

bool TLongFormatScan::scanSlot(int slot, inventory::TPositionReader& reader) {
    unit_->ReadBackStr(writeWord(word::kTargetSlot, slot));
    const int levels = levelsOf(slot);
    const int pitch = pitchOf(slot);
    for (int level = 1; level <= levels; ++level) {
        sleepMs(150);
        if (pitch != 0) {
            unit_->ReadBackStr(writeWord(word::kHandlerZPitch, pitch));
            sleepMs(150);
        }
        unit_->ReadBackStr(writeWord(word::kTargetLevel, level));
        if (unit_->WaitForOperation() != "1") return false;
        inventory::TPositionReading reading = reader.Read(slot, level);
        inventory::TLongLineFields fields{unit_->ReadSectorName(slot),         idSys_, id_,
                                          static_cast<int>(lines_.size()) + 1, slot,   level};
        lines_.push_back(inventory::longLine(reading, fields));
    }
    return true;
}

void TLongFormatScan::Run() {
    inventory::TPositionReader reader(*unit_, settings_, readRelay(relay::kSlotPlate));
    unit_->ReadBackStr(setRelay(relay::kScanMode));
    sleepMs(150);
    reader.EnableHeightCorrection();
    for (int slot = firstSlot_; slot <= lastSlot_; ++slot) {
        if (scanSlot(slot, reader)) continue;
        inventory::reportMoveError(*unit_);
        // Scan mode off before Busy lets another motion in.
        unit_->ReadBackStr(resetRelay(relay::kScanMode));
        unit_->releaseBusy();
        return;
    }
    unit_->ReadBackStr(resetRelay(relay::kScanMode));
    inventory::finishScan(*unit_, settings_.FileName, lines_, reader.Unreadable());
}

void InventoryThread2::Start(UnitPtr unit, TInventorySettings settings) {
    TKRB_Class& owner = *unit;
    const int maxSlot = owner.maxSlot();
    inventory::startScanThread(owner,
                               [scan = TLongFormatScan(std::move(unit), std::move(settings), 1,
                                                       maxSlot)]() mutable { scan.Run(); });
}

}  // namespace krb
