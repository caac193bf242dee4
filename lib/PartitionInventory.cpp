#include "PartitionInventory.h"

namespace krb {

void TKRBInventoryPartitionTHR::Start(UnitPtr unit, TInventorySettings settings, int firstSlot,
                                      int lastSlot) {
    TKRB_Class& owner = *unit;
    inventory::startScanThread(
        owner, [scan = TLongFormatScan(std::move(unit), std::move(settings), firstSlot,
                                       lastSlot)]() mutable { scan.Run(); });
}

}  // namespace krb
