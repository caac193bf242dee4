/* KRB_lib: flat interface to the plate storage units.
 * Every function takes the unit's port number first: the number of its controller's serial
 * port as decimal text ("1" for COM1), under which the library registers the unit. Every
 * further argument is a zero-terminated text. A returned text belongs to the library and
 * stays valid until the next call of the same thread that writes the same result slot: copy
 * it at once and never free it.
 *
 * Argument texts, for every family: numbers (slot, level, cassette, address, set point, speed,
 * delay) are decimal texts; slots and levels count from 1. A flag is true exactly for "1",
 * except the role setters KRBSetCascader, KRBSetBase and KRBSetExt, which are false exactly
 * for "0". An empty file name asks the library to make one up.
 * A port number that is not registered gives the empty text, unless a family says otherwise
 * below; functions without a result then do nothing. The unit ID is the name a program gives
 * the unit with KRBSetId (the server gives its UnitId); the library uses it only in replies
 * that name a unit. */
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

/* Connection and communication
 * KRBConnect: "1" port opened and the unit registered, "2" already open, "0" the port cannot
 *   be opened (the unit is not registered), "3" the port number is not a number.
 * KRB2Activate (connect, open, initialise): "1" ready; "0" not opened; "3" port number not a
 *   number or the link answered 0; "4" the link answered 2; "5", "6", "7" initialisation
 *   answered 2, 3, 4 (any other answer: "7").
 * KRBOpenCommunication: "1" link open, "2" reopened after "E1" without success, "0" any
 *   other reply.
 * KRBCloseCommunication: "1" closed, "0" not confirmed.
 * KRBSetWriteTimeout: the pause before each command in ms (not a number: 250). */
KRB_API KRBText KRBConnect(KRBText port);
KRB_API void KRBDisconnect(KRBText port);
KRB_API KRBText KRB2Activate(KRBText port);
KRB_API void KRB2Deactivate(KRBText port);
KRB_API KRBText KRBOpenCommunication(KRBText port);
KRB_API KRBText KRBCloseCommunication(KRBText port);
KRB_API void KRBSetWriteTimeout(KRBText port, KRBText delayMs);
KRB_API void KRBCloseBCRSerial(KRBText port);
KRB_API void KRB2CloseBCRSerial(KRBText port);

/* Register access
 * KRBReadBackStr sends the text as one command and gives the controller's reply as it came.
 * KRBReadDM: the word in decimal without leading zeros, empty when the address or the reply is
 *   not a number. Writes with an address or value that is not a number send nothing.
 * KRB2GetSysStatus: the reply to the system status word, unchanged. */
KRB_API KRBText KRBReadBackStr(KRBText port, KRBText command);
KRB_API KRBText KRBReadDM(KRBText port, KRBText address);
KRB_API void KRBWriteDM(KRBText port, KRBText address, KRBText value);
KRB_API void KRBWriteTimer(KRBText port, KRBText timer, KRBText value);
KRB_API void KRBSetTimer(KRBText port, KRBText timer, KRBText value);
KRB_API KRBText KRBReadTimer(KRBText port, KRBText timer);
KRB_API KRBText KRB2GetSysStatus(KRBText port);

/* Unit state, initialisation and errors
 * KRBInitialize: "1" initialised, "2" error again during recovery, "3" door not locked and
 *   unit not ready, "4" the door lock did not engage.
 * KRB2Reset, KRBSoftReset: "1" accepted, "0" not (not registered: empty).
 * KRBReadReadyFlag, KRBReadErrorFlag: the relay's reply ("1" set, "0" clear).
 * KRBReadErrorCode: "0" without an error, else KRBReadStatus ("0" for "00000", else the reply).
 * KRBReadErrorMessage: "No Error", the decoded message, or empty when the code is unreadable.
 * KRBIsInitialized, KRBIsOperationRunning: "1" or "0".
 * KRBWaitForCompletion: waits in 10 ms steps while a motion runs, at most the time-out.
 * KRBWaitForOperation: "1" the motion ended, "0" controller error or no answer. */
KRB_API KRBText KRBInitialize(KRBText port);
KRB_API void KRBReset(KRBText port);
KRB_API KRBText KRB2Reset(KRBText port);
KRB_API KRBText KRBSoftReset(KRBText port);
KRB_API KRBText KRBSerialNumber(KRBText port);
KRB_API KRBText KRBReadFirmWareVersion(KRBText port);
KRB_API KRBText KRBIsInitialized(KRBText port);
KRB_API KRBText KRBReadReadyFlag(KRBText port);
KRB_API KRBText KRBReadErrorFlag(KRBText port);
KRB_API KRBText KRBReadErrorCode(KRBText port);
KRB_API KRBText KRBReadErrorMessage(KRBText port);
KRB_API KRBText KRBReadStatus(KRBText port);
KRB_API KRBText KRBIsOperationRunning(KRBText port);
KRB_API void KRBWaitForCompletion(KRBText port, KRBText timeoutMs);
KRB_API KRBText KRBWaitForOperation(KRBText port);

/* Climate and gassing
 * Values are "000.00" texts (at least three integer digits, two decimals, "-" when negative);
 * "0" for zero or an unreadable word. Set points take a decimal text with "." or ",".
 * KRB2ReadActualClimate, KRB2ReadSetClimate: temperature;humidity;CO2;N2 (no O2).
 * KRB2WriteSetClimate writes the four set points in that order. */
KRB_API KRBText KRBReadActualTemperature(KRBText port);
KRB_API KRBText KRBReadActualHumidity(KRBText port);
KRB_API KRBText KRBReadActualCO2(KRBText port);
KRB_API KRBText KRBReadActualN2(KRBText port);
KRB_API KRBText KRBReadActualO2(KRBText port);
KRB_API KRBText KRBReadSetTemperature(KRBText port);
KRB_API KRBText KRBReadSetHumidity(KRBText port);
KRB_API KRBText KRBReadSetCO2(KRBText port);
KRB_API KRBText KRBReadSetN2(KRBText port);
KRB_API KRBText KRBReadSetO2(KRBText port);
KRB_API void KRBWriteSetTemperature(KRBText port, KRBText value);
KRB_API void KRBWriteSetHumidity(KRBText port, KRBText value);
KRB_API void KRBWriteSetCO2(KRBText port, KRBText value);
KRB_API void KRBWriteSetN2(KRBText port, KRBText value);
KRB_API void KRBWriteSetO2(KRBText port, KRBText value);
KRB_API KRBText KRB2ReadActualClimate(KRBText port);
KRB_API KRBText KRB2ReadSetClimate(KRBText port);
KRB_API void KRB2WriteSetClimate(KRBText port, KRBText temperature, KRBText humidity, KRBText co2,
                                 KRBText n2);

/* Shaker
 * KRBWriteShakerSpeed: an integer text (anything else sends nothing); KRBReadShakerSpeed: the
 * speed in decimal, empty when unreadable. */
KRB_API void KRBWriteShakerSpeed(KRBText port, KRBText speed);
KRB_API void KRBActivateShaker(KRBText port);
KRB_API void KRBDeactivateShaker(KRBText port);
KRB_API KRBText KRBReadShakerSpeed(KRBText port);
KRB_API void KRB2ActivateShaker(KRBText port, KRBText speed);
KRB_API KRBText KRB2ReadSetShakerSpeed(KRBText port);
KRB_API void KRB2DeactivateShaker(KRBText port);

/* Transfer station, gate and swap
 * KRBSwap, KRBSwapBack, KRB2Swap ("1" swaps, other texts swap back): "1" accepted, "0" not.
 * Detector reads: the relay's reply, "0" when that detector is not fitted.
 * KRBAlternateXferStation: station "1" or "2"; "1" accepted, "0" not or another argument
 *   (not registered: "0").
 * KRBCompleteTransferCommand: "1" closes the gate, other texts only complete; "1" the motion
 *   ended, "-1" not. */
KRB_API KRBText KRBSwap(KRBText port);
KRB_API KRBText KRBSwapBack(KRBText port);
KRB_API KRBText KRB2Swap(KRBText port, KRBText direction);
KRB_API void KRBOpenTransferGate(KRBText port);
KRB_API void KRBCloseTransferGate(KRBText port);
KRB_API KRBText KRBReadTransferStationDetector(KRBText port);
KRB_API KRBText KRBReadTransferStation2Detector(KRBText port);
KRB_API KRBText KRBReadShovelDetector(KRBText port);
KRB_API KRBText KRBAlternateXferStation(KRBText port, KRBText station);
KRB_API KRBText KRBCompleteTransferCommand(KRBText port, KRBText closeGate);

/* Plate transport
 * Load, Unload, Pick, Place, Set and Get start a motion and return at once: "1" started,
 *   "0" not initialised, "2" bad slot or level, "3" door not closed and locked, "4" still busy
 *   after 180 s. Set and Get use the last slot and level.
 * KRBImportPlate (transfer station to slot): "1" done, "0" not initialised, "2" bad slot or
 *   level or nothing on the station, "3" get failed, "4" place failed, "5" slot occupied and
 *   the plate set back, "6" busy, "7" setting it back failed.
 * KRBExportPlate (slot to transfer station): "1", "0", "2" bad slot or level or no plate in
 *   the slot, "3" pick failed, "4" set failed, "5" station occupied, "6" busy.
 * KRBMovePlate: "1", "0", "2" bad position or no plate at the source, "3" pick failed, "4"
 *   place failed, "5" target occupied and the plate put back, "6" busy or putting it back failed.
 * KRBIsPlateAtLocation: "1" plate there, "0" none or no slot detector, "2" not initialised,
 *   "-1" the detector could not be read (or the handler did not reach the position).
 * KRB2ServiceIsPlateAtLocation: the same, and "3" busy. */
KRB_API KRBText KRBLoadPlate(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRBUnloadPlate(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRBSetPlate(KRBText port);
KRB_API KRBText KRBGetPlate(KRBText port);
KRB_API KRBText KRBPickPlate(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRBPlacePlate(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRBImportPlate(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRBExportPlate(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRBMovePlate(KRBText port, KRBText sourceSlot, KRBText sourceLevel,
                             KRBText targetSlot, KRBText targetLevel);
KRB_API KRBText KRBIsPlateAtLocation(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRB2ServiceIsPlateAtLocation(KRBText port, KRBText slot, KRBText level);
/* Moves within a unit and through a cascade
 * port is the source unit's port number, targetUnit the target unit's. Position types:
 * 1 transfer station, 2 slot and level, 3 handler, 4 cascade transfer position (cascade slot
 * and code), 5 tube store.
 * "1" delivered; "0" a unit stayed busy; "2" an argument is not a number; "3" a port number is
 * 0 or not registered; "4" no complete cascade for the move; "5" a cascade slot is 0; "6", "7" the
 * source or target cascade slot has the wrong parity; "8", "9" the source or target position
 * lacks slot or level; a failed step gives the port number of the unit it failed on followed
 * by the step's digit: 1 load, 2 unload, 3 pick, 4 place, 5 set (handler to transfer station),
 * 6 get (transfer station to handler), 7 turning the carousel or positioning the cascade
 * carrier ("33": the pick failed on the unit at port 3).
 * Tube store moves: "-4" source not registered or no tube store, "-3" tube store not
 * initialised. */
KRB_API KRBText KRBMovePlate2(KRBText port, KRBText sourceType, KRBText sourceSlot,
                              KRBText sourceLevel, KRBText sourceCascadeSlot,
                              KRBText sourceCascadeCode, KRBText targetUnit, KRBText targetType,
                              KRBText targetSlot, KRBText targetLevel, KRBText targetCascadeSlot,
                              KRBText targetCascadeCode);
KRB_API KRBText KRB2ServiceMovePlate(KRBText port, KRBText sourceType, KRBText sourceSlot,
                                     KRBText sourceLevel, KRBText sourceCascadeSlot,
                                     KRBText sourceCascadeCode, KRBText targetUnit,
                                     KRBText targetType, KRBText targetSlot, KRBText targetLevel,
                                     KRBText targetCascadeSlot, KRBText targetCascadeCode);

/* Barcode reader
 * KRBBCRPath: "1" opened, "0" cannot open, "2" not a number, "3" already open.
 * KRBReadBarcode, KRB2ServiceReadBarcode, KRBReadBCR: the code, or "No Barcode", "No Plate",
 *   "BCRError", "InitError", "TSET Error", "Synchronization Error", "Error" (bad slot or level).
 * KRBGetIsBCR: "1" or "0". */
KRB_API KRBText KRBBCRPath(KRBText port, KRBText readerPort);
KRB_API KRBText KRBReadBarcode(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRB2ServiceReadBarcode(KRBText port, KRBText slot, KRBText level);
KRB_API KRBText KRBReadBCR(KRBText port, KRBText waitMs);
KRB_API void KRBSetIsBCR(KRBText port, KRBText flag);
KRB_API KRBText KRBGetIsBCR(KRBText port);
KRB_API void KRBSetIsCompSv(KRBText port, KRBText flag);

/* Unit parameters and sensors
 * Word reads give the decimal value, empty when unreadable; writes of a text that is not an
 *   integer send nothing.
 * KRBReadConfFile: "1" sent, "2" the file cannot be read, "0" port not open.
 * KRBReadCassetteConfig: levels and pitch joined by ","; empty when the slot is not a number.
 * KRBLock: "1" locked, "0" not, "-1" refused or unreadable; KRBUnlock: "1" accepted, "0" not.
 * KRBSetPlateTraceOn/Off: "1" accepted, "0" not; KRBIslocked, KRBReadPlateTrace: the reply.
 * KRBManualAccess: "1" at the door, "0" not initialised, "-1" failed (not registered: "-1"),
 *   "-2" bad slot, "-3" door not closed and locked, "-4" busy.
 * KRBSetDoors: a text that is not a number sets one door. */
KRB_API KRBText KRBReadActualSlotPosition(KRBText port);
KRB_API KRBText KRBReadUserDoorFlag(KRBText port);
KRB_API KRBText KRBSetPlateTraceOn(KRBText port);
KRB_API KRBText KRBSetPlateTraceOff(KRBText port);
KRB_API KRBText KRBReadPlateTrace(KRBText port);
KRB_API KRBText KRBReadMaxSlot(KRBText port);
KRB_API KRBText KRBReadMaxLevel(KRBText port);
KRB_API KRBText KRBReadBCRZOffset(KRBText port);
KRB_API void KRBSetBCRZOffset(KRBText port, KRBText value);
KRB_API KRBText KRBReadHandlerZPitch(KRBText port);
KRB_API void KRBSetHandlerZPitch(KRBText port, KRBText value);
KRB_API void KRBSetPlateDetector(KRBText port, KRBText flag);
KRB_API void KRBSetPlateTStatDetector(KRBText port, KRBText flag);
KRB_API void KRBSetPlateTStatDetector2(KRBText port, KRBText flag);
KRB_API void KRBSetPlateShovelDetector(KRBText port, KRBText flag);
KRB_API KRBText KRBReadConfFile(KRBText port, KRBText fileName);
KRB_API void KRBSetCassetteConfig(KRBText port, KRBText cassette, KRBText levels, KRBText pitch);
KRB_API KRBText KRBReadCassetteConfig(KRBText port, KRBText cassette);
KRB_API void KRBUseCassetteConfTable(KRBText port, KRBText flag);
KRB_API void KRBSetCarsOffSet(KRBText port, KRBText value);
KRB_API KRBText KRBLock(KRBText port);
KRB_API KRBText KRBUnlock(KRBText port);
KRB_API KRBText KRBIslocked(KRBText port);
KRB_API void KRB2Lock(KRBText port, KRBText flag);
KRB_API KRBText KRBManualAccess(KRBText port, KRBText slot);
KRB_API void KRBBeeperOn(KRBText port);
KRB_API void KRBBeeperOff(KRBText port);
KRB_API void KRBSetDoors(KRBText port, KRBText doors);

/* Unit roles (cascade)
 * Setting the cascader role, or the tube store (KRBSetKVL), also sets the door count to 0;
 * KRBSetKVL also sets a 50 ms pause before each command. KRBIs*: "1" or "0". */
KRB_API void KRBSetCascader(KRBText port, KRBText flag);
KRB_API void KRBSetBase(KRBText port, KRBText flag);
KRB_API void KRBSetExt(KRBText port, KRBText flag);
KRB_API KRBText KRBIsCascader(KRBText port);
KRB_API KRBText KRBIsBase(KRBText port);
KRB_API KRBText KRBIsExt(KRBText port);
KRB_API void KRBSetKVL(KRBText port, KRBText flag);

/* Sectors, unit ID and system name
 * Sector slots that are not numbers store nothing. KRBReadSectorName: the name or empty.
 * KRBReadSectorSlot: first and last slot joined by ",", "0,0" for an unknown name.
 * KRBSetId, KRBGetId: the unit ID; KRBSetIdSys, KRBGetIdSys: the name of its system (the
 *   server sets the unit's UnitId and its system's SystemName). */
KRB_API void KRBSetSector(KRBText port, KRBText firstSlot, KRBText lastSlot, KRBText name);
KRB_API void KRB2DefineSector(KRBText port, KRBText firstSlot, KRBText lastSlot, KRBText name);
KRB_API void KRBDeleteSectors(KRBText port);
KRB_API KRBText KRBReadSectorName(KRBText port, KRBText slot);
KRB_API KRBText KRBReadSectorSlot(KRBText port, KRBText name);
KRB_API void KRBSetId(KRBText port, KRBText identity);
KRB_API KRBText KRBGetId(KRBText port);
KRB_API void KRBSetIdSys(KRBText port, KRBText identity);
KRB_API KRBText KRBGetIdSys(KRBText port);

/* Inventory
 * Scans run in the background and write the file named (or made up).
 * KRBInventoryCassets: "1" started, "2" busy, "0" neither initialised nor a reader open.
 * KRBInventoryCassets2, KRB2Inventory: "1", "2", "0" not initialised, "3" barcodes asked
 *   without a reader.
 * KRB2PartitionInventory: as above, and "4" no sector of that name, "5" its first or last
 *   slot is 0.
 * KRBInventorySlot (the caller waits): "1" written, "3" not written or a position unreadable,
 *   "2" busy, "4" last level beyond the cassette, "0" neither initialised nor a reader open. */
KRB_API KRBText KRBInventoryCassets(KRBText port, KRBText fileName, KRBText detect,
                                    KRBText barcodes);
KRB_API KRBText KRBInventoryCassets2(KRBText port, KRBText fileName, KRBText detect,
                                     KRBText barcodes);
KRB_API KRBText KRB2Inventory(KRBText port, KRBText fileName, KRBText detect, KRBText barcodes);
KRB_API KRBText KRB2PartitionInventory(KRBText port, KRBText fileName, KRBText sector,
                                       KRBText detect, KRBText barcodes);
KRB_API KRBText KRBInventorySlot(KRBText port, KRBText slot, KRBText firstLevel, KRBText lastLevel,
                                 KRBText fileName, KRBText detect, KRBText barcodes);

/* Tubes and vials
 * Results are the unit's own texts; a port number that is not registered gives the empty
 * text, except KVLReadVialBarcode: "BCRError".
 * KVLReadVialBarcode: the code, "No Barcode", "BCRError", "InitError".
 * KVLVialsInventory: "1" started, "-1" not initialised, "-2" busy, "-3" no reader.
 * KRBPlateFillTubes: "1", "-1" not initialised, "-2" busy, "-3" same kinds, "-4" motion failed.
 * KVLMoveVial: "1", "-1" not initialised, "-2" busy, "-3" bad argument, "-4" get failed,
 *   "-5" put failed, "-6" transfer between the plates failed.
 * KRBGetPlateVerify: the code, "No Plate", "-1" not initialised, "-3" no reader, bad argument
 *   or motion failed, empty when busy.
 * KVL2Inventory: "1", "-1" .. "-10" ("-5" also: no tube store).
 * KVLMoveVialWithFile: "1", "-1", "-3", "-5", "-6", "11", "12", "55", "56", "57",
 *   "-13" .. "-16"; "-2" no tube store, "-4" tube store not initialised.
 * KRBMoveTubeExt: "1", "-1", "-3", "-5", or "-" + unit ID + ";" + failure; "-2" no tube
 *   store, "-4" tube store not initialised.
 * KVLGetTubeProgress: the percentage of a move list done, empty when none runs. */
KRB_API KRBText KVLReadVialBarcode(KRBText port, KRBText first, KRBText second, KRBText mode,
                                   KRBText unused);
KRB_API KRBText KVLVialsInventory(KRBText port, KRBText fileName, KRBText mode, KRBText unused);
KRB_API KRBText KRBPlateFillTubes(KRBText port, KRBText sourceKind, KRBText targetKind,
                                  KRBText wholeUnit);
KRB_API KRBText KVLMoveVial(KRBText port, KRBText sourceKind, KRBText sourceFirst,
                            KRBText sourceSecond, KRBText targetKind, KRBText targetFirst,
                            KRBText targetSecond, KRBText number);
KRB_API KRBText KRBGetPlateVerify(KRBText port, KRBText slot, KRBText level, KRBText check);
KRB_API KRBText KVL2Inventory(KRBText port, KRBText fileName, KRBText slot, KRBText level,
                              KRBText mode, KRBText unused);
KRB_API KRBText KVLMoveVialWithFile(KRBText port, KRBText fileName);
KRB_API KRBText KRBMoveTubeExt(KRBText port, KRBText sourceKind, KRBText sourceSlot,
                               KRBText sourceLevel, KRBText sourceFirst, KRBText sourceSecond,
                               KRBText targetKind, KRBText targetSlot, KRBText targetLevel,
                               KRBText targetFirst, KRBText targetSecond, KRBText number);
KRB_API KRBText KVLGetTubeProgress(KRBText port);

#ifdef __cplusplus
}
#endif

#endif
