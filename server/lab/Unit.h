#pragma once
// TKRBId: one storage unit of the lab model and its operations.
//
// Locks: DeviceLock serialises short device calls, OperationLock long operations; they are
// independent, and both are taken before the binding lock. ContentsLock guards every
// read-modify-write of the unit's contents file (merge, refresh, clear, plate updates);
// each save replaces the file atomically.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/LibraryBinding.h"
#include "lab/Cassettes.h"
#include "lab/Sector.h"
#include "lab/TransferStation.h"

namespace krb::server {

class TKRBSystem;
class UnitDirectory;
class TServerOwnedFiles;

// A contents file that could not be read or saved during an inventory merge. The
// command thread turns it into its error reply.
class TContentsFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "0"/"1" characters (one trailing "B" allowed, any case) read as a base-2 number, most
// significant first, at most 64 digits; anything else gives 0.
std::uint64_t DecodeBitText(std::string_view text);

// Claims a flag in one atomic step and clears it when the scope ends, on every path.
class TFlagClaim {
  public:
    explicit TFlagClaim(std::atomic<bool>& flag) : flag_(flag), claimed_(!flag.exchange(true)) {}
    ~TFlagClaim() {
        if (claimed_) flag_ = false;
    }
    TFlagClaim(const TFlagClaim&) = delete;
    TFlagClaim& operator=(const TFlagClaim&) = delete;
    bool Claimed() const { return claimed_; }

  private:
    std::atomic<bool>& flag_;
    const bool claimed_;
};

class TKRBId {
  public:
    enum UnitLock { DeviceLock, OperationLock, ContentsLock };
    using LockGuard = std::unique_lock<std::recursive_mutex>;

    TKRBId(std::string unitId, std::int32_t comPort, std::string systemName, std::string configFile,
           TKRBDLL& dll);
    TKRBId(const TKRBId&) = delete;
    TKRBId& operator=(const TKRBId&) = delete;

    // --- model ---------------------------------------------------------------------------
    TKRBCassette& AddCassette(std::int32_t number, std::int32_t levels, std::int32_t zPitch,
                              std::int32_t type);
    TKRBCassette* FindCassette(std::int32_t number) const;
    TKRBSector& AddSector(std::unique_ptr<TKRBSector> sector);
    TKRBxFer& AddXferStation();
    TKRBSector* FindSectorOfCassette(std::int32_t number) const;
    std::int32_t LargestLevels() const;  // 0 without cassettes

    std::string SerialNumber() const;
    std::string FirmwareVersion() const;

    // --- one-call operations: integers are returned as decimal text ----------------------
    // DeviceLock
    std::string ActivateShaker2(std::int32_t speed);
    std::string DeactivateShaker2();
    void Deactivate2();
    void Reset2();
    std::string ReadActualClimate2();
    std::string WriteSetClimate2(const std::string& temperature, const std::string& humidity,
                                 const std::string& co2, const std::string& n2);
    std::string ReadSetClimate2();
    std::string GetSysStatus2();
    std::string ReadSetShakerSpeed2();
    std::string SoftReset();
    std::string Lock();
    std::string Unlock();
    std::string DefineSector2(std::int32_t first, std::int32_t last, const std::string& name);
    void AbandonAccess();
    void ContinueAccess();
    std::string ReadBackStr(const std::string& command);
    std::string AlternateXferStation(std::int32_t station);
    std::string ReadReadyFlag();
    std::string BeeperOn();
    std::string BeeperOff();
    // OperationLock
    std::string ActivateUnit();
    std::string ServiceReadBarcode2(std::int32_t slot, std::int32_t level);
    // Both return the reply followed by CR LF; a failing merge throws TContentsFileError.
    std::string InventoryPlateExport(bool detect, bool barcodes);
    std::string PartitionInventoryPlateExport(const std::string& partition, bool detect,
                                              bool barcodes);
    std::string Swap();
    std::string SwapBack();
    std::string ServiceIsPlateAtLocation2(std::int32_t slot, std::int32_t level);
    std::string ServiceMovePlate2(const std::array<std::int32_t, 11>& arguments);
    // The library's result of a service move, for a caller that holds a TFlagClaim on MoveBusy
    // (ServiceMovePlate2 takes that claim itself).
    std::int32_t ServiceMoveWhileClaimed(const std::array<std::int32_t, 11>& arguments);
    std::string ManualAccess(std::int32_t slot);
    // no unit lock
    std::string Inventory2(const std::string& file, bool detect, bool barcodes);
    std::string PartitionInventory2(const std::string& file, const std::string& partition,
                                    bool detect, bool barcodes);
    std::string ReadErrorFlag();
    std::string ReadErrorCode();
    std::string ReadUserDoorFlag();
    std::string IsOperationRunning();
    std::string ReadShovelDetector();
    std::string ReadTransferStationDetector();
    std::string ReadTransferStation2Detector();
    // Contents file upkeep (ContentsLock only).
    std::int32_t ClearHistory();  // 1 or -1
    void RefreshContents();
    // "1" or "E_Inventory File doesn't exist"; throws TContentsFileError when the contents
    // file cannot be read or saved (the inventory file is then kept).
    std::string MergeInventory(const std::string& inventoryFile, bool barcodes);
    // Name of the inventory file of a scan started now, unique to it: contents folder +
    // "ddhhnnsszzz_<port>_<count>".
    std::string NewInventoryFileName() const;

    // The unit's locks are held through guards only; recursive, so an operation may call
    // another under the same lock.
    [[nodiscard]] LockGuard Hold(UnitLock lock) { return LockGuard(locks_[lock]); }
    // Does not wait: the guard owns nothing when another thread holds the lock.
    [[nodiscard]] LockGuard TryHold(UnitLock lock) {
        return LockGuard(locks_[lock], std::try_to_lock);
    }

    // --- fields ------------------------------------------------------------------------
    std::string UnitId;
    std::int32_t ComPort;
    std::int32_t BCRPort = 0;
    TKRBDLL& Dll;
    std::atomic<bool> MoveBusy{false};
    UnitDirectory* TcpBrowser = nullptr;
    bool UseCassConfTable = false;
    std::vector<std::string> InitCommands;
    std::string SystemName;
    std::string UnitName;
    bool DoubleDeck = false;
    bool PlatePresenceSensor = false;
    bool PlateShovelSensor = false;
    bool PlateXferStSensor1 = false;
    bool PlateXferStSensor2 = false;
    bool BCR = false;
    std::atomic<bool> DoorOpened{false};
    std::atomic<std::int32_t> ErrorCode{0};
    std::atomic<bool> Activated{false};
    std::atomic<bool> BCRInit{false};
    std::atomic<bool> ActivationReported{false};
    std::atomic<bool> Error{false};
    std::atomic<bool> Busy{false};
    bool Ext = false;
    bool Base = false;
    bool Cascader = false;
    std::atomic<bool> NewFirmware{false};
    bool Compatibility = false;
    std::string ConfigFile;
    std::string ContentsFile;
    std::string ClientFileFolder;  // where file names from clients are kept; "" is the current one
    const TServerOwnedFiles* OwnedFiles = nullptr;  // never written for a client
    bool RecordsFollowMoves = true;  // a service move's end rewrites the records it proves
    std::vector<std::unique_ptr<TKRBSector>> Sectors;
    std::vector<std::unique_ptr<TKRBCassette>> Cassettes;
    std::vector<std::unique_ptr<TKRBxFer>> XferStations;
    TKRBSystem* System = nullptr;
    bool CO2Gassing = false;
    bool N2Gassing = false;
    bool O2Gassing = false;
    bool Temperature = false;
    bool Humidity = false;
    std::int32_t ManualAccessOffset = 0;
    std::int32_t Doors = 1;

  private:
    template <class Operation>
    auto UnderDeviceLock(Operation operation) {
        const auto held = Hold(DeviceLock);
        return operation();
    }
    template <class Operation>
    auto UnderOperationLock(Operation operation) {
        const auto held = Hold(OperationLock);
        return operation();
    }

    std::string OpenAndInitialize();
    void SendConfiguration();
    void ReadFirmwareState();
    std::string OpenReaderPath();
    std::string RelayStatus();
    std::string RunInventoryExport(const std::string& file, int startResult, bool barcodes);
    std::string AwaitInventory(const std::string& file, bool barcodes);
    bool RefreshLines(std::vector<std::string>& lines) const;

    std::array<std::recursive_mutex, 3> locks_;
    mutable std::mutex identityTexts_;  // SerialNumber and FirmwareVersion
    std::string serialNumber_;
    std::string firmwareVersion_;
};

}  // namespace krb::server
