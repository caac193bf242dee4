#pragma once
// One storage unit: its controller link, its settings and every operation on it.
// The operations are spread over KRB_Class_*.cpp by family.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ControllerExchange.h"
#include "ControllerLink.h"
#include "Guarded.h"
#include "Sector.h"
#include "SlotDetector.h"
#include "platform/serial_port.h"

namespace krb {

class TKRB_Class : public std::enable_shared_from_this<TKRB_Class> {
  public:
    static constexpr int kSlotTableSize = 100;

    TKRB_Class();
    ~TKRB_Class();
    TKRB_Class(const TKRB_Class&) = delete;
    TKRB_Class& operator=(const TKRB_Class&) = delete;

    // --- controller port and register commands (the link does the exchange)
    void SetPortName(const std::string& name) { Link.setPortName(name); }
    std::string OpenPort() { return Link.open(); }
    void Disconnect();
    TExchange ReadBackStr(const std::string& command) {
        return TExchange::fromReply(Link.ReadBackStr(command));
    }
    std::string ReadDM(const std::string& address);
    void WriteDM(const std::string& address, const std::string& value);
    // A word named in ControllerRegisters.h: read as a number, written when acknowledged.
    TExchange readWordAt(int address);
    [[nodiscard]] bool wordWritten(int address, std::int64_t value);
    void WriteTimer(const std::string& timer, const std::string& value);
    void SetTimer(const std::string& timer, const std::string& value);
    std::string ReadTimer(const std::string& timer);
    void SetWriteTimeout(const std::string& delayMs);
    std::string OpenCommunication();
    std::string CloseCommunication();
    std::string ReadScaledDM(int address, int divisor);
    std::string ReadDMWord(const std::string& command);

    // --- state, initialisation and errors
    std::string Initialize();
    std::string Reset();
    std::string SoftReset();
    std::string SerialNumber();
    std::string ReadFirmWareVersion();
    std::string ReadReadyFlag();
    std::string ReadErrorFlag();
    std::string ReadErrorCode();
    std::string ReadStatus();
    std::string ReadErrorMessage();
    std::string ReadActualSlotPosition();
    std::string ReadUserDoorFlag();
    std::string IsInitialized() const;
    std::string IsOperationRunning() const;
    std::string ReadMaxSlot();
    std::string ReadMaxLevel();
    void StartCompletionWatch();

    // --- plate transport, transfer station, gate and swap (KRB_Class_Transport.cpp)
    std::string LoadPlate(const std::string& slot, const std::string& level);
    std::string UnloadPlate(const std::string& slot, const std::string& level);
    std::string PickPlate(const std::string& slot, const std::string& level);
    std::string PlacePlate(const std::string& slot, const std::string& level);
    std::string SetPlate();
    std::string GetPlate();
    std::string StartHandlerMotion(const std::string& slot, const std::string& level, int relay);
    std::string ImportPlate(const std::string& slot, const std::string& level);
    std::string ExportPlate(const std::string& slot, const std::string& level);
    std::string MovePlate(const std::string& sourceSlot, const std::string& sourceLevel,
                          const std::string& targetSlot, const std::string& targetLevel);
    std::string IsPlateAtLocation(const std::string& slot, const std::string& level);
    std::string ServiceIsPlateAtLocation2(const std::string& slot, const std::string& level);
    void WaitForCompletion(const std::string& timeoutMs);
    [[nodiscard]] std::string WaitForOperation();
    // The motion ended with the ready flag; silence, an error or a closed port did not.
    [[nodiscard]] bool motionCompleted() { return WaitForOperation() == "1"; }
    void WaitUntilIdle();
    std::string Swap();
    std::string SwapBack();
    std::string OpenTransferGate();
    std::string CloseTransferGate();
    std::string CompleteTransferCommand(const std::string& closeGate);
    std::string AlternateXferStation(const std::string& station);
    std::string ReadTransferStationDetector();
    std::string ReadTransferStation2Detector();
    std::string ReadShovelDetector();

    // --- barcode reader (KRB_Class_Barcode.cpp). The reader's line is supervised like the
    // controller's; a reading whose reader line failed gives barcode::kReaderFailed, never the
    // "no label" of an empty reading.
    // "1" opened (or a dead reader reopened), "0" cannot open, "2" not a number, "3" open.
    std::string BCRPath(const std::string& portNumber);
    bool readerDown() const;
    void CloseBCRSerial();
    std::string ReadBCR(const std::string& waitMs);
    std::string ReadBarcode(const std::string& slot, const std::string& level);
    void SetIsBCR(const std::string& flag);
    std::string GetIsBCR() const;
    void SetIsCompSv(const std::string& flag);
    std::string ReadSlotBarcode();
    std::string ReadReaderQuick();
    std::string ReadControllerBarcode();
    std::string ReadReaderReply();
    void SendReaderLine(const std::string& command);

    // --- climate, gassing and shaker (KRB_Class_Climate.cpp)
    std::string ReadActualTemperature();
    std::string ReadActualHumidity();
    std::string ReadActualCO2();
    std::string ReadActualN2();
    std::string ReadActualO2();
    std::string ReadSetTemperature();
    std::string ReadSetHumidity();
    std::string ReadSetCO2();
    std::string ReadSetN2();
    std::string ReadSetO2();
    void WriteSetTemperature(const std::string& value);
    void WriteSetHumidity(const std::string& value);
    void WriteSetCO2(const std::string& value);
    void WriteSetN2(const std::string& value);
    void WriteSetO2(const std::string& value);
    std::string ReadActualClimate2();  // temperature;humidity;CO2;N2
    std::string ReadSetClimate2();
    void WriteShakerSpeed(const std::string& speed);
    std::string ReadShakerSpeed();
    std::string ActivateShaker();
    std::string DeactivateShaker();

    // --- unit parameters, sensors, roles, sectors and identity (KRB_Class_Parameters.cpp)
    // The role readers and the table switch carry a suffix: their plain names are the fields.
    std::string ReadBCRZOffset();
    void SetBCRZOffset(const std::string& value);
    std::string ReadHandlerZPitch();
    void SetHandlerZPitch(const std::string& value);
    void SetPlateDetector(const std::string& flag);
    void SetPlateTStatDetector(const std::string& flag);
    void SetPlateTStatDetector2(const std::string& flag);
    void SetPlateShovelDetector(const std::string& flag);
    void SetCassetteConfig(const std::string& slot, const std::string& levels,
                           const std::string& pitch);
    std::string ReadCassetteConfig(const std::string& slot);
    void SetUseCassetteConfTable(bool use);
    void SetSector(std::int32_t firstSlot, std::int32_t lastSlot, const std::string& name);
    void DeleteSectors();
    std::string ReadSectorName(std::int32_t slot) const;
    std::string ReadSectorSlot(const std::string& name) const;
    void SetCascader(bool on);
    void SetBase(bool on);
    void SetExt(bool on);
    std::string IsCascaderText() const;
    std::string IsBaseText() const;
    std::string IsExtText() const;
    void SetKVL(bool on);
    void SetDoors(std::int32_t doors);
    void SetCarsOffSet(const std::string& offset);
    void SetId(const std::string& id);
    std::string GetId() const;
    void SetIdSys(const std::string& id);
    std::string GetIdSys() const;
    std::string Lock();
    std::string Unlock();
    std::string Islocked();
    void BeeperOn();
    void BeeperOff();
    std::string SetPlateTraceOn();
    std::string SetPlateTraceOff();
    std::string ReadPlateTrace();
    std::string ManualAccess(const std::string& slot);
    std::string ReadConfFile(const std::string& fileName);

    // --- plate inventories (KRB_Class_Inventory.cpp; the scans run in PlateInventory.cpp,
    // LongFormatInventory.cpp, PartitionInventory.cpp)
    std::string InventoryCassets(const std::string& fileName, const std::string& detect,
                                 const std::string& barcodes);
    std::string InventoryCassets2(const std::string& fileName, const std::string& detect,
                                  const std::string& barcodes);
    std::string Inventory2(const std::string& fileName, const std::string& detect,
                           const std::string& barcodes);
    std::string PartitionInventory2(const std::string& fileName, const std::string& sector,
                                    const std::string& detect, const std::string& barcodes);
    std::string InventorySlot(const std::string& slot, const std::string& firstLevel,
                              const std::string& lastLevel, const std::string& fileName,
                              const std::string& detect, const std::string& barcodes);
    // The caller's name, or serial_letter+date+counter.inv when it is empty.
    std::string InventoryFileNameFor(const std::string& requested);

    // --- plate moves to and from the tube store (KRB_Class_TubeStoreMove.cpp)
    // StartHandlerMotion's checks and writes, without Busy, watcher or last-motion memory.
    std::string SendHandlerMotion(const std::string& slot, const std::string& level, int relay);
    std::string TubeStorePlateMove(TKRB_Class& tubeStore, const std::string& sourceType,
                                   const std::string& sourceSlot, const std::string& sourceLevel,
                                   const std::string& sourcePosition, const std::string& targetType,
                                   const std::string& targetSlot, const std::string& targetLevel,
                                   const std::string& targetPosition);

    // --- tube and vial transfers (KRB_Class_Tubes.cpp); the plate unit's operations take
    // the tube store as their second unit
    std::string ReadVialBarcode(const std::string& first, const std::string& second,
                                const std::string& mode);
    std::string MoveVial(const std::string& sourceKind, const std::string& sourceFirst,
                         const std::string& sourceSecond, const std::string& targetKind,
                         const std::string& targetFirst, const std::string& targetSecond,
                         const std::string& number);
    std::string PlateFillTubes(const std::string& sourceKind, const std::string& targetKind,
                               const std::string& wholeUnit);
    std::string GetPlateVerify(const std::string& slot, const std::string& level,
                               const std::string& mode);
    std::string VialsInventory(const std::string& fileName, const std::string& mode,
                               const std::string& number);
    std::string VialInventory2(TKRB_Class& tubeStore, const std::string& fileName,
                               const std::string& slot, const std::string& level,
                               const std::string& mode, const std::string& number);
    std::string MoveTubeExt(TKRB_Class& tubeStore, const std::vector<std::string>& arguments);
    std::string MoveVialWithFile(TKRB_Class& tubeStore, const std::string& fileName);
    std::string GetTubeProgress() const;
    // Whether the last tube inventory read every position (kept for the plate unit's caller).
    void noteScanComplete(bool complete) { LastScanComplete = complete; }
    bool lastScanComplete() const { return LastScanComplete.load(); }
    void SetTubeProgress(const std::string& progress);

    // --- helpers shared by the operation families
    void leaveScanMode();
    [[nodiscard]] bool replyIs(const std::string& command, const char* expected);
    [[nodiscard]] bool writeAccepted(const std::string& command);
    std::string setUnitText(std::string text);
    std::string unitText() const;
    int cassetteLevels(int slot) const;
    int cassettePitch(int slot) const;
    // Open and not lost: a line found gone counts as closed until it is back.
    bool portOpen() const { return Link.isOpen() && !Link.isDown(); }
    bool linkIdle() const { return Link.linkIdle(); }
    std::int32_t exchangeDelay() const { return Link.exchangeDelay(); }
    void fillSerialNumberCache();

    // Busy as a test-and-set token: one owner at a time.
    bool tryClaimBusy();
    bool claimBusyWithin(std::int64_t timeoutMs);
    bool claimBusyStepped();                         // tries after 0, 250, 500 and 1000 ms
    bool claimBusyAfterPause(std::int64_t pauseMs);  // one try, the pause, one more try
    bool busyClearsStepped();
    bool idleAfterPause(std::int64_t pauseMs) const;  // one look, the pause, one more look
    std::string waitResult() const { return WaitResult.get(); }
    // For the background tasks that took Busy over from an operation.
    void releaseBusy() { Busy = false; }

    // The registry's entry: the controller's port number and the place in the registry.
    void setRegistration(std::int32_t portNumber, std::int32_t position);
    std::int32_t portNumber() const { return PortNumber.load(); }
    std::int32_t registryPosition() const { return RegistryPosition.load(); }

    // --- what other parts read of the unit's state
    bool initialized() const { return Initialized.load(); }
    bool busy() const { return Busy.load(); }
    std::int32_t maxSlot() const { return MaxSlot.load(); }
    std::int32_t maxLevel() const { return MaxLevel.load(); }
    bool usesCassetteTable() const { return UseCassetteConfTable.load(); }
    bool isCascader() const { return IsCascader.load(); }
    bool isBase() const { return IsBase.load(); }
    bool isExt() const { return IsExt.load(); }
    bool isTubeStore() const { return IsKVL.load(); }
    std::int32_t doorCount() const { return DoorCount.load(); }
    std::int32_t carouselOffset() const { return CarouselOffset.load(); }
    std::int32_t lastMotionSlot() const { return LastMotionSlot.load(); }
    std::int32_t lastMotionLevel() const { return LastMotionLevel.load(); }
    bool readerOpen() const { return ReaderOpen.load(); }
    // The line a slot barcode comes over: the controller's when it relays the reader.
    bool barcodeLineUp() const { return IsCompSv ? portOpen() : ReaderOpen.load(); }
    std::string readerPortName() const;
    std::string lastBarcode() const { return LastBarcode.get(); }
    std::string inventoryFile() const { return InventoryFile.get(); }

    // --- setting up a unit without a controller run (embedding code and tests)
    void markInitialized(bool initialized) { Initialized = initialized; }
    void setGeometry(std::int32_t maxSlot, std::int32_t maxLevel);
    // One row of the cassette table; slots outside the table are ignored.
    void setCassette(std::int32_t slot, std::int32_t levels, std::int32_t pitch);

  private:
    friend class TBusyToken;  // its seize takes Busy whoever holds it

    void closeReader();

    std::unique_ptr<platform::SerialPort> ReaderHandle;
    std::string ReaderText;
    mutable std::recursive_mutex ReaderLock;  // reader port handle and its traffic
    std::string ReaderTarget;                 // under ReaderLock: where recovery reopens the reader
    std::uint64_t ReaderOpenings = 0;         // under ReaderLock: counts opens and closes
    std::uint64_t ReaderLostOpening = 0;      // under ReaderLock: the opening whose line was lost
    bool ReaderReadingFailed = false;         // under ReaderLock: the reading in progress failed

    std::string PrepareInitialization();
    std::string RunInitialization();
    std::string pollUntilReadyOrError(bool& errorRaised);
    bool axesStillReferenced();
    void linkRestored();
    void LoadCassetteTable();
    bool firmwareHasCassetteTable();
    std::string identityWord(const std::string& command);

    // transport steps
    std::string checkMotionArguments(std::int32_t slot, std::int32_t level);
    std::string lastMotionPlate(int relay);
    static std::int32_t wireSlotOf(std::int32_t slot);
    [[nodiscard]] bool startMotionAt(std::int32_t slot, std::int32_t level, int relay);
    [[nodiscard]] bool writeTarget(std::int32_t slot, std::int32_t level, bool pause);
    [[nodiscard]] bool writePitchOf(std::int32_t slot);
    bool motionEnded(const std::string& startCommand);
    bool errorPollRaised();
    TSlotDetector scanSlotDetector();
    TSlotDetector readSlotDetectorTried();
    bool targetMayBeTaken();
    bool sourceFoundEmpty();
    std::string finishPresenceScan(bool positioned);
    std::optional<std::int32_t> barcodeZOffset();
    [[nodiscard]] bool correctBarcodeHeight(std::optional<std::int32_t> offset);

    // barcode steps
    std::string openReader(const std::string& portName);
    bool readerLineAlive();
    void readerLineFailed(const char* cause);
    bool restoreReader(std::unique_ptr<platform::SerialPort> port);
    bool readerReadingFailed() const;
    std::string readThroughReader();
    std::string readerTriggerSequence(int waitMs);
    void purgeReader();
    std::string barcodeConfigurationError() const;
    [[nodiscard]] bool positionForBarcode(std::int32_t slot, std::int32_t level);

    // climate steps
    void writeSetPoint(int address, int scale, const std::string& value, bool replaceSeparator,
                       bool wrapNegative);

    // parameter steps
    std::int32_t carouselPosition(std::int32_t slot, std::int32_t positions,
                                  std::int32_t slots) const;
    [[nodiscard]] bool sendParameterLine(const std::string& line);
    std::string repeatUntilAccepted(const std::string& command);

    ControllerLink Link;
    std::string ReaderPortName;
    std::atomic<bool> Initialized{false};
    std::atomic<bool> ReaderOpen{false};
    std::atomic<bool> Busy{false};
    std::atomic<bool> CheckSlotPlate{false};
    std::atomic<bool> CheckTransferStation{false};
    std::atomic<bool> CheckTransferStation2{false};
    std::atomic<bool> CheckShovel{false};
    Guarded<std::string> LastBarcode;
    std::atomic<std::int32_t> LastMotionSlot{0};
    std::atomic<std::int32_t> LastMotionLevel{0};
    std::atomic<std::int32_t> MaxSlot{0};
    std::atomic<std::int32_t> MaxLevel{0};
    std::array<std::atomic<std::int32_t>, kSlotTableSize> CassetteLevels{};
    std::array<std::atomic<std::int32_t>, kSlotTableSize> CassettePitch{};
    std::atomic<bool> IsCascader{false};
    std::atomic<bool> IsBase{false};
    std::atomic<bool> IsExt{false};
    Guarded<std::string> InventoryFile;
    TSectorList Sectors;
    std::atomic<std::int32_t> BarcodeZReference{500};
    std::atomic<bool> UseCassetteConfTable{false};
    std::atomic<bool> IsKVL{false};
    std::atomic<bool> LastScanComplete{true};
    std::atomic<bool> IsCompSv{false};
    std::atomic<bool> IsBCR{false};
    std::atomic<std::int32_t> CarouselOffset{0};
    std::atomic<std::int32_t> DoorCount{1};
    std::atomic<std::int32_t> PortNumber{0};
    std::atomic<std::int32_t> RegistryPosition{0};
    Guarded<std::string> UnitText;
    Guarded<std::string> Id;
    Guarded<std::string> IdSys;
    Guarded<std::string> WaitResult;
    Guarded<std::string> SerialNumberCache;
    Guarded<std::string> TubeProgress;
    // Last: its worker touches the reader's members and ends before they go.
    std::unique_ptr<LinkSupervisor> ReaderSupervisor;
};

using UnitPtr = std::shared_ptr<TKRB_Class>;

}  // namespace krb
