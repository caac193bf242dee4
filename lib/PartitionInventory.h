#pragma once
// Long-format plate inventory of the slots of one sector.
#include "LongFormatInventory.h"

namespace krb {

class TKRBInventoryPartitionTHR {
  public:
    // File name, both flags and the sector's slots are copies: the sector list may change.
    static void Start(UnitPtr unit, TInventorySettings settings, int firstSlot, int lastSlot);
};

}  // namespace krb
