#pragma once
// Long-format plate inventory: every slot of a range, one ten-field line per position.
// A motion that does not end, or a scan mode the controller does not take, aborts the scan,
// tells the operator and writes no file; a position whose words the controller did not take
// is unreadable and the scan goes on.
#include <string>
#include <vector>

#include "PlateInventory.h"

namespace krb {

class TLongFormatScan {
  public:
    TLongFormatScan(UnitPtr unit, TInventorySettings settings, int firstSlot, int lastSlot);
    // Scans, clears Busy and writes the file (or reports why not).
    void Run();

  private:
    bool scanSlot(int slot, inventory::TPositionReader& reader);
    void abandon();
    int levelsOf(int slot) const;
    int pitchOf(int slot) const;

    UnitPtr unit_;
    TInventorySettings settings_;
    int firstSlot_;
    int lastSlot_;
    std::string id_, idSys_;
    std::vector<std::string> lines_;
};

// All slots of the unit.
class InventoryThread2 {
  public:
    static void Start(UnitPtr unit, TInventorySettings settings);
};

}  // namespace krb
