// The export table: each export is one use of the frame.
#include "KRB_lib.h"

#include "ControllerRegisters.h"
#include "ExportFrame.h"
#include "PlateMoves.h"

using namespace krb;
using namespace krb::frame;

// One line per export, grouped as the catalogue groups them.
// clang-format off

// --- Connection and communication
KRBText KRBConnect(KRBText id) {
    return browserAnswer(&TResultSlots::ConnectText, "0",
                         [&](TKRB_Browser& b) { return b.Connect(arg(id)); });
}
void KRBDisconnect(KRBText id) {
    try { TKRB_Browser::Instance().Disconnect(arg(id)); } catch (...) {}
}
KRBText KRB2Activate(KRBText id) {
    return browserAnswer(&TResultSlots::ActivateText, "0",
                         [&](TKRB_Browser& b) { return b.Activate2(arg(id)); });
}
void KRB2Deactivate(KRBText id) { KRBDisconnect(id); }
KRBText KRBOpenCommunication(KRBText id) { return result(id, [](Unit& u) { return u.OpenCommunication(); }); }
KRBText KRBCloseCommunication(KRBText id) { return result(id, [](Unit& u) { return u.CloseCommunication(); }); }
void KRBSetWriteTimeout(KRBText id, KRBText ms) { act(id, [&](Unit& u) { u.SetWriteTimeout(arg(ms)); }); }

// --- Register access
KRBText KRBReadBackStr(KRBText id, KRBText cmd) { return result(id, [&](Unit& u) { return u.ReadBackStr(arg(cmd)).text(); }); }
KRBText KRBReadDM(KRBText id, KRBText a) { return result(id, [&](Unit& u) { return u.ReadDM(arg(a)); }); }
void KRBWriteDM(KRBText id, KRBText a, KRBText v) { act(id, [&](Unit& u) { u.WriteDM(arg(a), arg(v)); }); }
void KRBWriteTimer(KRBText id, KRBText t, KRBText v) { act(id, [&](Unit& u) { u.WriteTimer(arg(t), arg(v)); }); }
void KRBSetTimer(KRBText id, KRBText t, KRBText v) { act(id, [&](Unit& u) { u.SetTimer(arg(t), arg(v)); }); }
KRBText KRBReadTimer(KRBText id, KRBText t) { return result(id, [&](Unit& u) { return u.ReadTimer(arg(t)); }); }
KRBText KRB2GetSysStatus(KRBText id) {
    return answerIn(&TResultSlots::SysStatusText, id, "", [](Unit& u) { return u.ReadBackStr(controller::readWord(controller::word::kSystemStatus)).text(); });
}

// --- Unit state, initialisation and errors
KRBText KRBInitialize(KRBText id) { return result(id, [](Unit& u) { return u.Initialize(); }); }
void KRBReset(KRBText id) { act(id, [](Unit& u) { u.Reset(); }); }
KRBText KRB2Reset(KRBText id) { return answerIn(&TResultSlots::ResetText, id, "", [](Unit& u) { return u.Reset(); }); }
KRBText KRBSoftReset(KRBText id) { return answerIn(&TResultSlots::ResetText, id, "", [](Unit& u) { return u.SoftReset(); }); }
KRBText KRBSerialNumber(KRBText id) { return result(id, [](Unit& u) { return u.SerialNumber(); }); }
KRBText KRBReadFirmWareVersion(KRBText id) { return result(id, [](Unit& u) { return u.ReadFirmWareVersion(); }); }
KRBText KRBIsInitialized(KRBText id) { return result(id, [](Unit& u) { return u.IsInitialized(); }); }
KRBText KRBReadReadyFlag(KRBText id) { return result(id, [](Unit& u) { return u.ReadReadyFlag(); }); }
KRBText KRBReadErrorFlag(KRBText id) { return result(id, [](Unit& u) { return u.ReadErrorFlag(); }); }
KRBText KRBReadErrorCode(KRBText id) { return result(id, [](Unit& u) { return u.ReadErrorCode(); }); }
KRBText KRBReadErrorMessage(KRBText id) { return result(id, [](Unit& u) { return u.ReadErrorMessage(); }); }
KRBText KRBReadStatus(KRBText id) { return result(id, [](Unit& u) { return u.ReadStatus(); }); }
KRBText KRBIsOperationRunning(KRBText id) { return result(id, [](Unit& u) { return u.IsOperationRunning(); }); }

// --- Unit parameters and sensors
KRBText KRBReadActualSlotPosition(KRBText id) { return result(id, [](Unit& u) { return u.ReadActualSlotPosition(); }); }
KRBText KRBReadUserDoorFlag(KRBText id) { return result(id, [](Unit& u) { return u.ReadUserDoorFlag(); }); }
KRBText KRBReadMaxSlot(KRBText id) { return result(id, [](Unit& u) { return u.ReadMaxSlot(); }); }
KRBText KRBReadMaxLevel(KRBText id) { return result(id, [](Unit& u) { return u.ReadMaxLevel(); }); }
KRBText KRBReadBCRZOffset(KRBText id) { return result(id, [](Unit& u) { return u.ReadBCRZOffset(); }); }
void KRBSetBCRZOffset(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.SetBCRZOffset(arg(v)); }); }
KRBText KRBReadHandlerZPitch(KRBText id) { return result(id, [](Unit& u) { return u.ReadHandlerZPitch(); }); }
void KRBSetHandlerZPitch(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.SetHandlerZPitch(arg(v)); }); }
KRBText KRBSetPlateTraceOn(KRBText id) { return result(id, [](Unit& u) { return u.SetPlateTraceOn(); }); }
KRBText KRBSetPlateTraceOff(KRBText id) { return result(id, [](Unit& u) { return u.SetPlateTraceOff(); }); }
KRBText KRBReadPlateTrace(KRBText id) { return result(id, [](Unit& u) { return u.ReadPlateTrace(); }); }
void KRBSetPlateDetector(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetPlateDetector(arg(f)); }); }
void KRBSetPlateTStatDetector(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetPlateTStatDetector(arg(f)); }); }
void KRBSetPlateTStatDetector2(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetPlateTStatDetector2(arg(f)); }); }
void KRBSetPlateShovelDetector(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetPlateShovelDetector(arg(f)); }); }
KRBText KRBReadConfFile(KRBText id, KRBText file) { return result(id, [&](Unit& u) { return u.ReadConfFile(arg(file)); }); }
void KRBSetCassetteConfig(KRBText id, KRBText s, KRBText l, KRBText p) {
    act(id, [&](Unit& u) { u.SetCassetteConfig(arg(s), arg(l), arg(p)); });
}
KRBText KRBReadCassetteConfig(KRBText id, KRBText s) { return result(id, [&](Unit& u) { return u.ReadCassetteConfig(arg(s)); }); }
void KRBUseCassetteConfTable(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetUseCassetteConfTable(flagOn(f)); }); }
void KRBSetCarsOffSet(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.SetCarsOffSet(arg(v)); }); }
KRBText KRBLock(KRBText id) { return result(id, [](Unit& u) { return u.Lock(); }); }
KRBText KRBUnlock(KRBText id) { return result(id, [](Unit& u) { return u.Unlock(); }); }
KRBText KRBIslocked(KRBText id) { return result(id, [](Unit& u) { return u.Islocked(); }); }
void KRB2Lock(KRBText id, KRBText f) { act(id, [&](Unit& u) { flagOn(f) ? u.Lock() : u.Unlock(); }); }
KRBText KRBManualAccess(KRBText id, KRBText s) {
    return answerIn(&TResultSlots::ManualAccessText, id, "-1", [&](Unit& u) { return u.ManualAccess(arg(s)); });
}
void KRBBeeperOn(KRBText id) { act(id, [](Unit& u) { u.BeeperOn(); }); }
void KRBBeeperOff(KRBText id) { act(id, [](Unit& u) { u.BeeperOff(); }); }
void KRBSetDoors(KRBText id, KRBText n) { act(id, [&](Unit& u) { u.SetDoors(parseInt32(arg(n)).value_or(1)); }); }

// --- Unit state: waits
void KRBWaitForCompletion(KRBText id, KRBText ms) { act(id, [&](Unit& u) { u.WaitForCompletion(arg(ms)); }); }
KRBText KRBWaitForOperation(KRBText id) { return result(id, [](Unit& u) { return u.WaitForOperation(); }); }

// --- Climate and gassing
KRBText KRBReadActualTemperature(KRBText id) { return result(id, [](Unit& u) { return u.ReadActualTemperature(); }); }
KRBText KRBReadActualHumidity(KRBText id) { return result(id, [](Unit& u) { return u.ReadActualHumidity(); }); }
KRBText KRBReadActualCO2(KRBText id) { return result(id, [](Unit& u) { return u.ReadActualCO2(); }); }
KRBText KRBReadActualN2(KRBText id) { return result(id, [](Unit& u) { return u.ReadActualN2(); }); }
KRBText KRBReadActualO2(KRBText id) { return result(id, [](Unit& u) { return u.ReadActualO2(); }); }
KRBText KRBReadSetTemperature(KRBText id) { return result(id, [](Unit& u) { return u.ReadSetTemperature(); }); }
KRBText KRBReadSetHumidity(KRBText id) { return result(id, [](Unit& u) { return u.ReadSetHumidity(); }); }
KRBText KRBReadSetCO2(KRBText id) { return result(id, [](Unit& u) { return u.ReadSetCO2(); }); }
KRBText KRBReadSetN2(KRBText id) { return result(id, [](Unit& u) { return u.ReadSetN2(); }); }
KRBText KRBReadSetO2(KRBText id) { return result(id, [](Unit& u) { return u.ReadSetO2(); }); }
void KRBWriteSetTemperature(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.WriteSetTemperature(arg(v)); }); }
void KRBWriteSetHumidity(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.WriteSetHumidity(arg(v)); }); }
void KRBWriteSetCO2(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.WriteSetCO2(arg(v)); }); }
void KRBWriteSetN2(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.WriteSetN2(arg(v)); }); }
void KRBWriteSetO2(KRBText id, KRBText v) { act(id, [&](Unit& u) { u.WriteSetO2(arg(v)); }); }
KRBText KRB2ReadActualClimate(KRBText id) {
    return answerIn(&TResultSlots::ClimateText, id, "", [](Unit& u) { return u.ReadActualClimate2(); });
}
KRBText KRB2ReadSetClimate(KRBText id) {
    return answerIn(&TResultSlots::ClimateText, id, "", [](Unit& u) { return u.ReadSetClimate2(); });
}
void KRB2WriteSetClimate(KRBText id, KRBText t, KRBText h, KRBText co2, KRBText n2) {
    KRBWriteSetTemperature(id, t);
    KRBWriteSetHumidity(id, h);
    KRBWriteSetCO2(id, co2);
    KRBWriteSetN2(id, n2);
}

// --- Shaker
void KRBWriteShakerSpeed(KRBText id, KRBText s) { act(id, [&](Unit& u) { u.WriteShakerSpeed(arg(s)); }); }
void KRBActivateShaker(KRBText id) { act(id, [](Unit& u) { u.ActivateShaker(); }); }
void KRBDeactivateShaker(KRBText id) { act(id, [](Unit& u) { u.DeactivateShaker(); }); }
KRBText KRBReadShakerSpeed(KRBText id) { return result(id, [](Unit& u) { return u.ReadShakerSpeed(); }); }
void KRB2ActivateShaker(KRBText id, KRBText s) {
    act(id, [&](Unit& u) {
        u.WriteShakerSpeed(arg(s));
        u.ActivateShaker();
    });
}
KRBText KRB2ReadSetShakerSpeed(KRBText id) { return KRBReadShakerSpeed(id); }
void KRB2DeactivateShaker(KRBText id) { KRBDeactivateShaker(id); }

// --- Transfer station, gate and swap
KRBText KRBSwap(KRBText id) { return result(id, [](Unit& u) { return u.Swap(); }); }
KRBText KRBSwapBack(KRBText id) { return result(id, [](Unit& u) { return u.SwapBack(); }); }
KRBText KRB2Swap(KRBText id, KRBText d) {
    return answerIn(&TResultSlots::SwapText, id, "", [&](Unit& u) { return flagOn(d) ? u.Swap() : u.SwapBack(); });
}
void KRBOpenTransferGate(KRBText id) { act(id, [](Unit& u) { u.OpenTransferGate(); }); }
void KRBCloseTransferGate(KRBText id) { act(id, [](Unit& u) { u.CloseTransferGate(); }); }
KRBText KRBReadTransferStationDetector(KRBText id) { return result(id, [](Unit& u) { return u.ReadTransferStationDetector(); }); }
KRBText KRBReadTransferStation2Detector(KRBText id) { return result(id, [](Unit& u) { return u.ReadTransferStation2Detector(); }); }
KRBText KRBReadShovelDetector(KRBText id) { return result(id, [](Unit& u) { return u.ReadShovelDetector(); }); }
KRBText KRBAlternateXferStation(KRBText id, KRBText s) {
    return answerIn(&TResultSlots::XferStationText, id, "0", [&](Unit& u) { return u.AlternateXferStation(arg(s)); });
}
KRBText KRBCompleteTransferCommand(KRBText id, KRBText f) {
    return direct(id, "", [&](Unit& u) { return u.CompleteTransferCommand(arg(f)); });
}

// --- Plate transport
KRBText KRBLoadPlate(KRBText id, KRBText s, KRBText l) { return result(id, [&](Unit& u) { return u.LoadPlate(arg(s), arg(l)); }); }
KRBText KRBUnloadPlate(KRBText id, KRBText s, KRBText l) { return result(id, [&](Unit& u) { return u.UnloadPlate(arg(s), arg(l)); }); }
KRBText KRBSetPlate(KRBText id) { return result(id, [](Unit& u) { return u.SetPlate(); }); }
KRBText KRBGetPlate(KRBText id) { return result(id, [](Unit& u) { return u.GetPlate(); }); }
KRBText KRBPickPlate(KRBText id, KRBText s, KRBText l) { return result(id, [&](Unit& u) { return u.PickPlate(arg(s), arg(l)); }); }
KRBText KRBPlacePlate(KRBText id, KRBText s, KRBText l) { return result(id, [&](Unit& u) { return u.PlacePlate(arg(s), arg(l)); }); }
KRBText KRBImportPlate(KRBText id, KRBText s, KRBText l) { return result(id, [&](Unit& u) { return u.ImportPlate(arg(s), arg(l)); }); }
KRBText KRBExportPlate(KRBText id, KRBText s, KRBText l) { return result(id, [&](Unit& u) { return u.ExportPlate(arg(s), arg(l)); }); }
KRBText KRBMovePlate(KRBText id, KRBText s1, KRBText l1, KRBText s2, KRBText l2) {
    return result(id, [&](Unit& u) { return u.MovePlate(arg(s1), arg(l1), arg(s2), arg(l2)); });
}
KRBText KRBIsPlateAtLocation(KRBText id, KRBText s, KRBText l) {
    return result(id, [&](Unit& u) { return u.IsPlateAtLocation(arg(s), arg(l)); });
}
KRBText KRB2ServiceIsPlateAtLocation(KRBText id, KRBText s, KRBText l) {
    return result(id, [&](Unit& u) { return u.ServiceIsPlateAtLocation2(arg(s), arg(l)); });
}

// --- Barcode reader
KRBText KRBBCRPath(KRBText id, KRBText port) { return result(id, [&](Unit& u) { return u.BCRPath(arg(port)); }); }
void KRBCloseBCRSerial(KRBText id) { act(id, [](Unit& u) { u.CloseBCRSerial(); }); }
void KRB2CloseBCRSerial(KRBText id) { KRBCloseBCRSerial(id); }
KRBText KRBReadBarcode(KRBText id, KRBText s, KRBText l) { return result(id, [&](Unit& u) { return u.ReadBarcode(arg(s), arg(l)); }); }
KRBText KRB2ServiceReadBarcode(KRBText id, KRBText s, KRBText l) { return KRBReadBarcode(id, s, l); }
KRBText KRBReadBCR(KRBText id, KRBText ms) { return result(id, [&](Unit& u) { return u.ReadBCR(arg(ms)); }); }
void KRBSetIsBCR(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetIsBCR(arg(f)); }); }
KRBText KRBGetIsBCR(KRBText id) { return direct(id, "", [](Unit& u) { return u.GetIsBCR(); }); }
void KRBSetIsCompSv(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetIsCompSv(arg(f)); }); }

// --- Unit roles
void KRBSetCascader(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetCascader(flagNotZero(f)); }); }
void KRBSetBase(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetBase(flagNotZero(f)); }); }
void KRBSetExt(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetExt(flagNotZero(f)); }); }
KRBText KRBIsCascader(KRBText id) {
    return answerIn(&TResultSlots::CascaderText, id, "", [](Unit& u) { return u.IsCascaderText(); });
}
KRBText KRBIsBase(KRBText id) { return answerIn(&TResultSlots::BaseText, id, "", [](Unit& u) { return u.IsBaseText(); }); }
KRBText KRBIsExt(KRBText id) { return answerIn(&TResultSlots::ExtText, id, "", [](Unit& u) { return u.IsExtText(); }); }
void KRBSetKVL(KRBText id, KRBText f) { act(id, [&](Unit& u) { u.SetKVL(flagOn(f)); }); }

// --- Sectors and unit identity
// First and last slot are converted here: a text that is not a number stores nothing.
static void defineSector(Unit& u, KRBText first, KRBText last, KRBText name) {
    auto firstSlot = parseInt32(arg(first));
    auto lastSlot = parseInt32(arg(last));
    if (firstSlot && lastSlot) u.SetSector(*firstSlot, *lastSlot, arg(name));
}
void KRBSetSector(KRBText id, KRBText f, KRBText l, KRBText n) { act(id, [&](Unit& u) { defineSector(u, f, l, n); }); }
void KRB2DefineSector(KRBText id, KRBText f, KRBText l, KRBText n) { KRBSetSector(id, f, l, n); }
void KRBDeleteSectors(KRBText id) { act(id, [](Unit& u) { u.DeleteSectors(); }); }
KRBText KRBReadSectorName(KRBText id, KRBText s) {
    return result(id, [&](Unit& u) {
        auto slot = parseInt32(arg(s));
        return slot ? u.ReadSectorName(*slot) : std::string();
    });
}
KRBText KRBReadSectorSlot(KRBText id, KRBText n) { return result(id, [&](Unit& u) { return u.ReadSectorSlot(arg(n)); }); }
void KRBSetId(KRBText id, KRBText text) { act(id, [&](Unit& u) { u.SetId(arg(text)); }); }
KRBText KRBGetId(KRBText id) { return result(id, [](Unit& u) { return u.GetId(); }); }
void KRBSetIdSys(KRBText id, KRBText text) { act(id, [&](Unit& u) { u.SetIdSys(arg(text)); }); }
KRBText KRBGetIdSys(KRBText id) { return result(id, [](Unit& u) { return u.GetIdSys(); }); }

// --- Tubes and vials
// The plate unit's tube operations look the tube store up on every call.
template <class Operation>
static std::string withTubeStore(Unit& u, const char* none, const char* notReady, Operation op) {
    UnitPtr tubeStore = TKRB_Browser::Instance().TubeStore();
    if (!tubeStore) return none;
    if (notReady && !tubeStore->initialized()) return notReady;
    return op(u, *tubeStore);
}
KRBText KVLReadVialBarcode(KRBText id, KRBText x, KRBText y, KRBText mode, KRBText) {
    return direct(id, "BCRError", [&](Unit& u) { return u.ReadVialBarcode(arg(x), arg(y), arg(mode)); });
}
KRBText KVLVialsInventory(KRBText id, KRBText file, KRBText mode, KRBText n) {
    return direct(id, "", [&](Unit& u) { return u.VialsInventory(arg(file), arg(mode), arg(n)); });
}
KRBText KRBPlateFillTubes(KRBText id, KRBText from, KRBText to, KRBText whole) {
    return direct(id, "", [&](Unit& u) { return u.PlateFillTubes(arg(from), arg(to), arg(whole)); });
}
KRBText KVLMoveVial(KRBText id, KRBText sk, KRBText s1, KRBText s2, KRBText tk, KRBText t1, KRBText t2, KRBText n) {
    return direct(id, "", [&](Unit& u) { return u.MoveVial(arg(sk), arg(s1), arg(s2), arg(tk), arg(t1), arg(t2), arg(n)); });
}
KRBText KRBGetPlateVerify(KRBText id, KRBText s, KRBText l, KRBText check) {
    return direct(id, "", [&](Unit& u) { return u.GetPlateVerify(arg(s), arg(l), arg(check)); });
}
KRBText KVL2Inventory(KRBText id, KRBText file, KRBText s, KRBText l, KRBText mode, KRBText n) {
    return direct(id, "", [&](Unit& u) {
        return withTubeStore(u, "-5", nullptr, [&](Unit& p, Unit& t) {
            return p.VialInventory2(t, arg(file), arg(s), arg(l), arg(mode), arg(n));
        });
    });
}
KRBText KVLMoveVialWithFile(KRBText id, KRBText file) {
    return direct(id, "", [&](Unit& u) {
        return withTubeStore(u, "-2", "-4", [&](Unit& p, Unit& t) { return p.MoveVialWithFile(t, arg(file)); });
    });
}
KRBText KRBMoveTubeExt(KRBText id, KRBText sk, KRBText ss, KRBText sl, KRBText s1, KRBText s2, KRBText tk,
                       KRBText ts, KRBText tl, KRBText t1, KRBText t2, KRBText n) {
    std::vector<std::string> texts{arg(sk), arg(ss), arg(sl), arg(s1), arg(s2), arg(tk),
                                   arg(ts), arg(tl), arg(t1), arg(t2), arg(n)};
    return direct(id, "", [&](Unit& u) {
        return withTubeStore(u, "-2", "-4", [&](Unit& p, Unit& t) { return p.MoveTubeExt(t, texts); });
    });
}
KRBText KVLGetTubeProgress(KRBText id) { return direct(id, "", [](Unit& u) { return u.GetTubeProgress(); }); }

// --- Inventory
KRBText KRBInventoryCassets(KRBText id, KRBText f, KRBText d, KRBText b) {
    return result(id, [&](Unit& u) { return u.InventoryCassets(arg(f), arg(d), arg(b)); });
}
KRBText KRBInventoryCassets2(KRBText id, KRBText f, KRBText d, KRBText b) {
    return result(id, [&](Unit& u) { return u.InventoryCassets2(arg(f), arg(d), arg(b)); });
}
KRBText KRB2Inventory(KRBText id, KRBText f, KRBText d, KRBText b) {
    return result(id, [&](Unit& u) { return u.Inventory2(arg(f), arg(d), arg(b)); });
}
KRBText KRB2PartitionInventory(KRBText id, KRBText f, KRBText sector, KRBText d, KRBText b) {
    return result(id, [&](Unit& u) { return u.PartitionInventory2(arg(f), arg(sector), arg(d), arg(b)); });
}
KRBText KRBInventorySlot(KRBText id, KRBText s, KRBText first, KRBText last, KRBText f, KRBText d, KRBText b) {
    return result(id, [&](Unit& u) { return u.InventorySlot(arg(s), arg(first), arg(last), arg(f), arg(d), arg(b)); });
}

// --- Cascade
static const char* movePlate2(const TMovePlateTexts& texts) {
    return browserAnswer(&TResultSlots::MovePlateText, "-4", [&](TKRB_Browser& b) { return MovePlate2(b, texts); });
}
KRBText KRBMovePlate2(KRBText id, KRBText a1, KRBText a2, KRBText a3, KRBText a4, KRBText a5, KRBText a6,
                      KRBText a7, KRBText a8, KRBText a9, KRBText a10, KRBText a11) {
    return movePlate2({arg(id), arg(a1), arg(a2), arg(a3), arg(a4), arg(a5), arg(a6), arg(a7), arg(a8),
                       arg(a9), arg(a10), arg(a11)});
}
KRBText KRB2ServiceMovePlate(KRBText id, KRBText a1, KRBText a2, KRBText a3, KRBText a4, KRBText a5,
                             KRBText a6, KRBText a7, KRBText a8, KRBText a9, KRBText a10, KRBText a11) {
    return KRBMovePlate2(id, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11);
}
// clang-format on
