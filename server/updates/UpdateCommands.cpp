// The plate and slot update commands behind HandleUpdatePlate and HandleUpdateSlot.
#include "updates/UpdateCommands.h"

#include "protocol/ServerCore.h"
#include "updates/PlateUpdate.h"
#include "updates/SlotUpdate.h"

namespace krb::server {
namespace {

ContentsField FieldChangedBy(TPlateUpdate form) {
    switch (form) {
        case TPlateUpdate::Name:
            return kUserIdField;
        case TPlateUpdate::PP:
            return kPresentField;
        case TPlateUpdate::BCR:
            return kBarcodeField;
        case TPlateUpdate::CheckDate:
            return kDateCheckField;
        case TPlateUpdate::LoadDate:
            return kDateLoadField;
        case TPlateUpdate::UnloadDate:
            return kDateUnloadField;
    }
    return kUserIdField;
}

}  // namespace

void InstallUpdateCommands(ServerCore& core) {
    TKRBManager& manager = core.Manager();
    core.SetPlateUpdater([&manager](TPlateUpdate form, const std::string& text) {
        return TKRBModifyPlate(manager).Update(FieldChangedBy(form), text);
    });
    core.SetSlotUpdater([&manager](TSlotUpdate form, const std::string& text) {
        TKRBModifySlot slot(manager);
        return form == TSlotUpdate::ZPitch ? slot.UpdateZPitch(text) : slot.UpdateLevels(text);
    });
}

}  // namespace krb::server
