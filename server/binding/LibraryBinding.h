#pragma once
// TKRBDLL: the server's only road to the units. Integer and flag arguments become decimal
// texts, each returned text is copied at once, and integer results are converted with a
// fixed value for a failed call or conversion. Calls marked "locked" hold the unit's binding
// lock (a unit lock, when held as well, is always taken first).
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "KRB_lib.h"
#include "binding/FairRecursiveMutex.h"

// The 54 exports the server imports, in the order of the binding's method table.
#define KRB_BOUND_EXPORTS(X)           \
    X(KRBConnect)                      \
    X(KRBOpenCommunication)            \
    X(KRBInitialize)                   \
    X(KRBSetId)                        \
    X(KRBSetIdSys)                     \
    X(KRBSetBase)                      \
    X(KRBSetExt)                       \
    X(KRBSetCascader)                  \
    X(KRBSetIsCompSv)                  \
    X(KRBSetIsBCR)                     \
    X(KRBBCRPath)                      \
    X(KRBUseCassetteConfTable)         \
    X(KRBSetCassetteConfig)            \
    X(KRBSetCarsOffSet)                \
    X(KRBDeleteSectors)                \
    X(KRB2DefineSector)                \
    X(KRBSetPlateDetector)             \
    X(KRBSetPlateShovelDetector)       \
    X(KRBSetPlateTStatDetector)        \
    X(KRBSetPlateTStatDetector2)       \
    X(KRBReadFirmWareVersion)          \
    X(KRBSerialNumber)                 \
    X(KRBReadBackStr)                  \
    X(KRBReadReadyFlag)                \
    X(KRBReadErrorFlag)                \
    X(KRBReadErrorCode)                \
    X(KRBIsOperationRunning)           \
    X(KRBReadUserDoorFlag)             \
    X(KRBReadShovelDetector)           \
    X(KRBReadTransferStationDetector)  \
    X(KRBReadTransferStation2Detector) \
    X(KRBSoftReset)                    \
    X(KRBManualAccess)                 \
    X(KRBAlternateXferStation)         \
    X(KRBSwap)                         \
    X(KRBSwapBack)                     \
    X(KRBLock)                         \
    X(KRBUnlock)                       \
    X(KRBBeeperOn)                     \
    X(KRBBeeperOff)                    \
    X(KRB2Deactivate)                  \
    X(KRB2Reset)                       \
    X(KRB2GetSysStatus)                \
    X(KRB2ReadActualClimate)           \
    X(KRB2ReadSetClimate)              \
    X(KRB2WriteSetClimate)             \
    X(KRB2ActivateShaker)              \
    X(KRB2DeactivateShaker)            \
    X(KRB2ReadSetShakerSpeed)          \
    X(KRB2Inventory)                   \
    X(KRB2PartitionInventory)          \
    X(KRB2ServiceReadBarcode)          \
    X(KRB2ServiceIsPlateAtLocation)    \
    X(KRB2ServiceMovePlate)

namespace krb::server {

// Entry points of the imported functions; the program uses those of KRB_lib, tests may
// stand in their own.
struct KRBExports {
#define KRB_EXPORT_POINTER(name) decltype(&::name) name = nullptr;
    KRB_BOUND_EXPORTS(KRB_EXPORT_POINTER)
#undef KRB_EXPORT_POINTER
};

// The entry points of the linked KRB_lib.
const KRBExports& LibraryExports();

// The binding lock of one unit: calls for that unit keep their order and exclusion, calls for
// different units run at once. Taken after the unit's own locks. Handed over in the order the
// calls came, so a command never waits for a poll's query that was asked after it.
FairRecursiveMutex& BindingLock(int port);

class TKRBDLL {
  public:
    explicit TKRBDLL(const KRBExports& exports);

    int Connect(int port);
    int OpenCommunication(int port);
    int Initialize(int port);
    void SetId(int port, const std::string& identity);
    void SetIdSys(int port, const std::string& systemName);
    void SetBase(int port, bool flag);
    void SetExt(int port, bool flag);
    void SetCascader(int port, bool flag);
    void SetIsCompSv(int port, bool flag);
    void SetIsBCR(int port, bool flag);
    int BCRPath(int port, int readerPort);
    void UseCassetteConfTable(int port, bool flag);
    void SetCassetteConfig(int port, int cassette, int levels, int zPitch);
    void SetCarsOffSet(int port, int offset);
    void DeleteSectors(int port);
    void DefineSector2(int port, int firstCassette, int lastCassette, const std::string& name);
    void SetPlateDetector(int port, int fitted);
    void SetPlateShovelDetector(int port, int fitted);
    void SetPlateTStatDetector(int port, int fitted);
    void SetPlateTStatDetector2(int port, int fitted);
    int ReadFirmWareVersion(int port);
    std::optional<int> TryReadFirmWareVersion(int port);  // nullopt: call or conversion failed
    std::string SerialNumber(int port);
    std::string ReadBackStr(int port, const std::string& command);
    int ReadReadyFlag(int port);
    int ReadErrorFlag(int port);
    int ReadErrorCode(int port);
    int IsOperationRunning(int port);
    int ReadUserDoorFlag(int port);
    int ReadShovelDetector(int port);
    int ReadTransferStationDetector(int port);
    int ReadTransferStation2Detector(int port);
    int SoftReset(int port);
    int ManualAccess(int port, int slot);
    std::string AlternateXferStation(int port, int station);
    int Swap(int port);
    int SwapBack(int port);
    void Lock(int port);
    void Unlock(int port);
    void BeeperOn(int port);
    void BeeperOff(int port);
    void Deactivate2(int port);
    int Reset2(int port);
    std::string GetSysStatus2(int port);
    std::string ReadActualClimate2(int port);
    std::string ReadSetClimate2(int port);
    void WriteSetClimate2(int port, const std::string& temperature, const std::string& humidity,
                          const std::string& co2, const std::string& n2);
    void ActivateShaker2(int port, int speed);
    void DeactivateShaker2(int port);
    int ReadSetShakerSpeed2(int port);
    int Inventory2(int port, const std::string& file, bool detect, bool barcodes);
    int PartitionInventory2(int port, const std::string& file, const std::string& partition,
                            bool detect, bool barcodes);
    std::string ServiceReadBarcode2(int port, int slot, int level);
    int ServiceIsPlateAtLocation2(int port, int slot, int level);
    int ServiceMovePlate2(int port, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8,
                          int a9, int a10, int a11);

  private:
    KRBExports exports_;
};

}  // namespace krb::server
