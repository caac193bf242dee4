/* KRB_lib: flat interface to the plate storage units.
 * Every function takes the unit ID (the controller's serial port number as decimal text)
 * first; every further argument is a zero-terminated text. A returned text belongs to the
 * library and stays valid until the next call of the same thread that writes the same result
 * slot: copy it at once and never free it. */
#ifndef KRB_LIB_H
#define KRB_LIB_H

#if defined(__GNUC__)
#define KRB_API __attribute__((visibility("default")))
#else
#define KRB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef const char* KRBText;

/* Connection and communication */
KRB_API KRBText KRBConnect(KRBText id);
KRB_API void KRBDisconnect(KRBText id);
KRB_API KRBText KRB2Activate(KRBText id);
KRB_API void KRB2Deactivate(KRBText id);
KRB_API KRBText KRBOpenCommunication(KRBText id);
KRB_API KRBText KRBCloseCommunication(KRBText id);
KRB_API void KRBSetWriteTimeout(KRBText id, KRBText delayMs);
KRB_API void KRBCloseBCRSerial(KRBText id);
KRB_API void KRB2CloseBCRSerial(KRBText id);

/* Register access */
KRB_API KRBText KRBReadBackStr(KRBText id, KRBText command);
KRB_API KRBText KRBReadDM(KRBText id, KRBText address);
KRB_API void KRBWriteDM(KRBText id, KRBText address, KRBText value);
KRB_API void KRBWriteTimer(KRBText id, KRBText timer, KRBText value);
KRB_API void KRBSetTimer(KRBText id, KRBText timer, KRBText value);
KRB_API KRBText KRBReadTimer(KRBText id, KRBText timer);
KRB_API KRBText KRB2GetSysStatus(KRBText id);

/* Unit state, initialisation and errors */
KRB_API KRBText KRBInitialize(KRBText id);
KRB_API void KRBReset(KRBText id);
KRB_API KRBText KRB2Reset(KRBText id);
KRB_API KRBText KRBSoftReset(KRBText id);
KRB_API KRBText KRBSerialNumber(KRBText id);
KRB_API KRBText KRBReadFirmWareVersion(KRBText id);
KRB_API KRBText KRBIsInitialized(KRBText id);
KRB_API KRBText KRBReadReadyFlag(KRBText id);
KRB_API KRBText KRBReadErrorFlag(KRBText id);
KRB_API KRBText KRBReadErrorCode(KRBText id);
KRB_API KRBText KRBReadErrorMessage(KRBText id);
KRB_API KRBText KRBReadStatus(KRBText id);
KRB_API KRBText KRBIsOperationRunning(KRBText id);
KRB_API void KRBWaitForCompletion(KRBText id, KRBText timeoutMs);
KRB_API KRBText KRBWaitForOperation(KRBText id);

/* Climate and gassing */
KRB_API KRBText KRBReadActualTemperature(KRBText id);
KRB_API KRBText KRBReadActualHumidity(KRBText id);
KRB_API KRBText KRBReadActualCO2(KRBText id);
KRB_API KRBText KRBReadActualN2(KRBText id);
KRB_API KRBText KRBReadActualO2(KRBText id);
KRB_API KRBText KRBReadSetTemperature(KRBText id);
KRB_API KRBText KRBReadSetHumidity(KRBText id);
KRB_API KRBText KRBReadSetCO2(KRBText id);
KRB_API KRBText KRBReadSetN2(KRBText id);
KRB_API KRBText KRBReadSetO2(KRBText id);
KRB_API void KRBWriteSetTemperature(KRBText id, KRBText value);
KRB_API void KRBWriteSetHumidity(KRBText id, KRBText value);
KRB_API void KRBWriteSetCO2(KRBText id, KRBText value);
KRB_API void KRBWriteSetN2(KRBText id, KRBText value);
KRB_API void KRBWriteSetO2(KRBText id, KRBText value);
KRB_API KRBText KRB2ReadActualClimate(KRBText id);
KRB_API KRBText KRB2ReadSetClimate(KRBText id);
KRB_API void KRB2WriteSetClimate(KRBText id, KRBText temperature, KRBText humidity, KRBText co2,
                                 KRBText n2);

/* Shaker */
KRB_API void KRBWriteShakerSpeed(KRBText id, KRBText speed);
KRB_API void KRBActivateShaker(KRBText id);
KRB_API void KRBDeactivateShaker(KRBText id);
KRB_API KRBText KRBReadShakerSpeed(KRBText id);
KRB_API void KRB2ActivateShaker(KRBText id, KRBText speed);
KRB_API KRBText KRB2ReadSetShakerSpeed(KRBText id);
KRB_API void KRB2DeactivateShaker(KRBText id);

/* Transfer station, gate and swap */
KRB_API KRBText KRBSwap(KRBText id);
KRB_API KRBText KRBSwapBack(KRBText id);
KRB_API KRBText KRB2Swap(KRBText id, KRBText direction);
KRB_API void KRBOpenTransferGate(KRBText id);
KRB_API void KRBCloseTransferGate(KRBText id);
KRB_API KRBText KRBReadTransferStationDetector(KRBText id);
KRB_API KRBText KRBReadTransferStation2Detector(KRBText id);
KRB_API KRBText KRBReadShovelDetector(KRBText id);
KRB_API KRBText KRBAlternateXferStation(KRBText id, KRBText station);
KRB_API KRBText KRBCompleteTransferCommand(KRBText id, KRBText closeGate);

/* Plate transport */
KRB_API KRBText KRBLoadPlate(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRBUnloadPlate(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRBSetPlate(KRBText id);
KRB_API KRBText KRBGetPlate(KRBText id);
KRB_API KRBText KRBPickPlate(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRBPlacePlate(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRBImportPlate(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRBExportPlate(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRBMovePlate(KRBText id, KRBText sourceSlot, KRBText sourceLevel,
                             KRBText targetSlot, KRBText targetLevel);
KRB_API KRBText KRBIsPlateAtLocation(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRB2ServiceIsPlateAtLocation(KRBText id, KRBText slot, KRBText level);
/* id is the source unit; types: 1 transfer station, 2 slot and level, 3 handler,
 * 4 cascade transfer position (cascade slot and code), 5 tube store. */
KRB_API KRBText KRBMovePlate2(KRBText id, KRBText sourceType, KRBText sourceSlot,
                              KRBText sourceLevel, KRBText sourceCascadeSlot,
                              KRBText sourceCascadeCode, KRBText targetUnit, KRBText targetType,
                              KRBText targetSlot, KRBText targetLevel, KRBText targetCascadeSlot,
                              KRBText targetCascadeCode);
KRB_API KRBText KRB2ServiceMovePlate(KRBText id, KRBText sourceType, KRBText sourceSlot,
                                     KRBText sourceLevel, KRBText sourceCascadeSlot,
                                     KRBText sourceCascadeCode, KRBText targetUnit,
                                     KRBText targetType, KRBText targetSlot, KRBText targetLevel,
                                     KRBText targetCascadeSlot, KRBText targetCascadeCode);

/* Barcode reader */
KRB_API KRBText KRBBCRPath(KRBText id, KRBText readerPort);
KRB_API KRBText KRBReadBarcode(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRB2ServiceReadBarcode(KRBText id, KRBText slot, KRBText level);
KRB_API KRBText KRBReadBCR(KRBText id, KRBText waitMs);
KRB_API void KRBSetIsBCR(KRBText id, KRBText flag);
KRB_API KRBText KRBGetIsBCR(KRBText id);
KRB_API void KRBSetIsCompSv(KRBText id, KRBText flag);

/* Unit parameters and sensors */
KRB_API KRBText KRBReadActualSlotPosition(KRBText id);
KRB_API KRBText KRBReadUserDoorFlag(KRBText id);
KRB_API KRBText KRBSetPlateTraceOn(KRBText id);
KRB_API KRBText KRBSetPlateTraceOff(KRBText id);
KRB_API KRBText KRBReadPlateTrace(KRBText id);
KRB_API KRBText KRBReadMaxSlot(KRBText id);
KRB_API KRBText KRBReadMaxLevel(KRBText id);
KRB_API KRBText KRBReadBCRZOffset(KRBText id);
KRB_API void KRBSetBCRZOffset(KRBText id, KRBText value);
KRB_API KRBText KRBReadHandlerZPitch(KRBText id);
KRB_API void KRBSetHandlerZPitch(KRBText id, KRBText value);
KRB_API void KRBSetPlateDetector(KRBText id, KRBText flag);
KRB_API void KRBSetPlateTStatDetector(KRBText id, KRBText flag);
KRB_API void KRBSetPlateTStatDetector2(KRBText id, KRBText flag);
KRB_API void KRBSetPlateShovelDetector(KRBText id, KRBText flag);
KRB_API KRBText KRBReadConfFile(KRBText id, KRBText fileName);
KRB_API void KRBSetCassetteConfig(KRBText id, KRBText cassette, KRBText levels, KRBText pitch);
KRB_API KRBText KRBReadCassetteConfig(KRBText id, KRBText cassette);
KRB_API void KRBUseCassetteConfTable(KRBText id, KRBText flag);
KRB_API void KRBSetCarsOffSet(KRBText id, KRBText value);
KRB_API KRBText KRBLock(KRBText id);
KRB_API KRBText KRBUnlock(KRBText id);
KRB_API KRBText KRBIslocked(KRBText id);
KRB_API void KRB2Lock(KRBText id, KRBText flag);
KRB_API KRBText KRBManualAccess(KRBText id, KRBText slot);
KRB_API void KRBBeeperOn(KRBText id);
KRB_API void KRBBeeperOff(KRBText id);
KRB_API void KRBSetDoors(KRBText id, KRBText doors);

/* Unit roles */
KRB_API void KRBSetCascader(KRBText id, KRBText flag);
KRB_API void KRBSetBase(KRBText id, KRBText flag);
KRB_API void KRBSetExt(KRBText id, KRBText flag);
KRB_API KRBText KRBIsCascader(KRBText id);
KRB_API KRBText KRBIsBase(KRBText id);
KRB_API KRBText KRBIsExt(KRBText id);
KRB_API void KRBSetKVL(KRBText id, KRBText flag);

/* Sectors and unit identity */
KRB_API void KRBSetSector(KRBText id, KRBText firstSlot, KRBText lastSlot, KRBText name);
KRB_API void KRB2DefineSector(KRBText id, KRBText firstSlot, KRBText lastSlot, KRBText name);
KRB_API void KRBDeleteSectors(KRBText id);
KRB_API KRBText KRBReadSectorName(KRBText id, KRBText slot);
KRB_API KRBText KRBReadSectorSlot(KRBText id, KRBText name);
KRB_API void KRBSetId(KRBText id, KRBText identity);
KRB_API KRBText KRBGetId(KRBText id);
KRB_API void KRBSetIdSys(KRBText id, KRBText identity);
KRB_API KRBText KRBGetIdSys(KRBText id);

/* Inventory */
KRB_API KRBText KRBInventoryCassets(KRBText id, KRBText fileName, KRBText detect, KRBText barcodes);
KRB_API KRBText KRBInventoryCassets2(KRBText id, KRBText fileName, KRBText detect,
                                     KRBText barcodes);
KRB_API KRBText KRB2Inventory(KRBText id, KRBText fileName, KRBText detect, KRBText barcodes);
KRB_API KRBText KRB2PartitionInventory(KRBText id, KRBText fileName, KRBText sector, KRBText detect,
                                       KRBText barcodes);
KRB_API KRBText KRBInventorySlot(KRBText id, KRBText slot, KRBText firstLevel, KRBText lastLevel,
                                 KRBText fileName, KRBText detect, KRBText barcodes);

/* Tubes and vials */
KRB_API KRBText KVLReadVialBarcode(KRBText id, KRBText first, KRBText second, KRBText mode,
                                   KRBText unused);
KRB_API KRBText KVLVialsInventory(KRBText id, KRBText fileName, KRBText mode, KRBText unused);
KRB_API KRBText KRBPlateFillTubes(KRBText id, KRBText sourceKind, KRBText targetKind,
                                  KRBText wholeUnit);
KRB_API KRBText KVLMoveVial(KRBText id, KRBText sourceKind, KRBText sourceFirst,
                            KRBText sourceSecond, KRBText targetKind, KRBText targetFirst,
                            KRBText targetSecond, KRBText number);
KRB_API KRBText KRBGetPlateVerify(KRBText id, KRBText slot, KRBText level, KRBText check);
KRB_API KRBText KVL2Inventory(KRBText id, KRBText fileName, KRBText slot, KRBText level,
                              KRBText mode, KRBText unused);
KRB_API KRBText KVLMoveVialWithFile(KRBText id, KRBText fileName);
KRB_API KRBText KRBMoveTubeExt(KRBText id, KRBText sourceKind, KRBText sourceSlot,
                               KRBText sourceLevel, KRBText sourceFirst, KRBText sourceSecond,
                               KRBText targetKind, KRBText targetSlot, KRBText targetLevel,
                               KRBText targetFirst, KRBText targetSecond, KRBText number);
KRB_API KRBText KVLGetTubeProgress(KRBText id);

#ifdef __cplusplus
}
#endif

#endif
