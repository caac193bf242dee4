#include "binding/LibraryBinding.h"

#include <map>
#include <memory>
#include <tuple>
#include <type_traits>

#include "text/TextNumbers.h"

namespace krb::server {
namespace {

enum class Guard { Free, Locked };
constexpr Guard kFree = Guard::Free;
constexpr Guard kLocked = Guard::Locked;

std::string ArgText(int value) { return std::to_string(value); }
std::string ArgText(bool flag) { return flag ? "1" : "0"; }
std::string ArgText(const std::string& text) { return text; }

using Reply = std::optional<std::string>;

// The shared frame: texts for the unit and the arguments, the binding lock where marked,
// the call, and a copy of the returned text (nullopt when there is none). Void exports
// give nullopt as well.
template <class Export, class... Args>
Reply Call(Guard guard, Export exportFunction, int port, const Args&... args) {
    const std::string unit = std::to_string(port);
    const auto texts = std::make_tuple(ArgText(args)...);
    std::unique_lock lock(BindingLock(port), std::defer_lock);
    if (guard == Guard::Locked) lock.lock();
    if (exportFunction == nullptr) return std::nullopt;
    auto invoke = [&](const auto&... text) {
        return exportFunction(unit.c_str(), text.c_str()...);
    };
    if constexpr (std::is_void_v<decltype(std::apply(invoke, texts))>) {
        std::apply(invoke, texts);
        return std::nullopt;
    } else {
        const char* reply = std::apply(invoke, texts);
        return reply ? Reply(reply) : std::nullopt;
    }
}

std::optional<int> Integer(const Reply& reply) { return reply ? ParseInt32(*reply) : std::nullopt; }
int IntegerOr(int failure, const Reply& reply) { return Integer(reply).value_or(failure); }
std::string TextOrEmpty(const Reply& reply) { return reply.value_or(std::string()); }

// Inventory starts: 1 stays 1, 0 becomes -1, any other r becomes -r. A tube store's vial
// inventory refuses with "-1", which must not read as a start.
int StartResult(const Reply& reply) {
    auto r = Integer(reply);
    if (!r) return -1;
    if (*r == 1) return 1;
    return (*r == 0 || *r == -1) ? -1 : -*r;
}

// "-1" is the library's own answer for a detector that could not be read: kept as it is.
int PlateAtLocationResult(const Reply& reply) {
    auto r = Integer(reply);
    if (!r) return -1;
    return (*r == 0 || *r == 1 || *r == -1) ? *r : -*r;
}

int ZeroIsFailure(const Reply& reply) {
    int r = IntegerOr(-1, reply);
    return r == 0 ? -1 : r;
}

std::string StationResult(const Reply& reply) {
    if (!reply || *reply == "0") return "-1";
    return *reply;
}

std::string StatusResult(const Reply& reply) {
    auto r = Integer(reply);
    return r ? std::to_string(*r) : "-1";
}

}  // namespace

// One lock per unit: the library keeps its own per-unit link locks, thread-local result
// slots and a locked registry, so calls for different units may run at once.
FairRecursiveMutex& BindingLock(int port) {
    static auto* registryLock = new std::mutex;  // never destroyed: used until exit
    static auto* locks = new std::map<int, std::unique_ptr<FairRecursiveMutex>>;
    std::lock_guard registry(*registryLock);
    auto& lock = (*locks)[port];
    if (!lock) lock = std::make_unique<FairRecursiveMutex>();
    return *lock;
}

TKRBDLL::TKRBDLL(const KRBExports& exports) : exports_(exports) {}

// clang-format off
int TKRBDLL::Connect(int p) { return IntegerOr(0, Call(kLocked, exports_.KRBConnect, p)); }
int TKRBDLL::OpenCommunication(int p) { return IntegerOr(0, Call(kLocked, exports_.KRBOpenCommunication, p)); }
int TKRBDLL::Initialize(int p) { return IntegerOr(0, Call(kFree, exports_.KRBInitialize, p)); }
void TKRBDLL::SetId(int p, const std::string& id) { Call(kFree, exports_.KRBSetId, p, id); }
void TKRBDLL::SetIdSys(int p, const std::string& name) { Call(kFree, exports_.KRBSetIdSys, p, name); }
void TKRBDLL::SetBase(int p, bool on) { Call(kFree, exports_.KRBSetBase, p, on); }
void TKRBDLL::SetExt(int p, bool on) { Call(kFree, exports_.KRBSetExt, p, on); }
void TKRBDLL::SetCascader(int p, bool on) { Call(kFree, exports_.KRBSetCascader, p, on); }
void TKRBDLL::SetIsCompSv(int p, bool on) { Call(kFree, exports_.KRBSetIsCompSv, p, on); }
void TKRBDLL::SetIsBCR(int p, bool on) { Call(kFree, exports_.KRBSetIsBCR, p, on); }
// A reply that is no number counts as a failed reader path.
int TKRBDLL::BCRPath(int p, int reader) { return IntegerOr(0, Call(kFree, exports_.KRBBCRPath, p, reader)); }
void TKRBDLL::UseCassetteConfTable(int p, bool on) { Call(kFree, exports_.KRBUseCassetteConfTable, p, on); }
void TKRBDLL::SetCassetteConfig(int p, int cassette, int levels, int zPitch) { Call(kFree, exports_.KRBSetCassetteConfig, p, cassette, levels, zPitch); }
void TKRBDLL::SetCarsOffSet(int p, int offset) { Call(kFree, exports_.KRBSetCarsOffSet, p, offset); }
void TKRBDLL::DeleteSectors(int p) { Call(kFree, exports_.KRBDeleteSectors, p); }
void TKRBDLL::DefineSector2(int p, int first, int last, const std::string& name) { Call(kLocked, exports_.KRB2DefineSector, p, first, last, name); }
void TKRBDLL::SetPlateDetector(int p, int fitted) { Call(kLocked, exports_.KRBSetPlateDetector, p, fitted); }
void TKRBDLL::SetPlateShovelDetector(int p, int fitted) { Call(kLocked, exports_.KRBSetPlateShovelDetector, p, fitted); }
void TKRBDLL::SetPlateTStatDetector(int p, int fitted) { Call(kLocked, exports_.KRBSetPlateTStatDetector, p, fitted); }
void TKRBDLL::SetPlateTStatDetector2(int p, int fitted) { Call(kLocked, exports_.KRBSetPlateTStatDetector2, p, fitted); }
int TKRBDLL::ReadFirmWareVersion(int p) { return TryReadFirmWareVersion(p).value_or(0); }
std::optional<int> TKRBDLL::TryReadFirmWareVersion(int p) { return Integer(Call(kLocked, exports_.KRBReadFirmWareVersion, p)); }
std::string TKRBDLL::SerialNumber(int p) { return TextOrEmpty(Call(kLocked, exports_.KRBSerialNumber, p)); }
std::string TKRBDLL::ReadBackStr(int p, const std::string& command) { return TextOrEmpty(Call(kLocked, exports_.KRBReadBackStr, p, command)); }
int TKRBDLL::ReadReadyFlag(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBReadReadyFlag, p)); }
int TKRBDLL::ReadErrorFlag(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBReadErrorFlag, p)); }
int TKRBDLL::ReadErrorCode(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBReadErrorCode, p)); }
int TKRBDLL::IsOperationRunning(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBIsOperationRunning, p)); }
int TKRBDLL::ReadUserDoorFlag(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBReadUserDoorFlag, p)); }
int TKRBDLL::ReadShovelDetector(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBReadShovelDetector, p)); }
int TKRBDLL::ReadTransferStationDetector(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBReadTransferStationDetector, p)); }
int TKRBDLL::ReadTransferStation2Detector(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBReadTransferStation2Detector, p)); }
int TKRBDLL::SoftReset(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRBSoftReset, p)); }
int TKRBDLL::ManualAccess(int p, int slot) { return IntegerOr(-1, Call(kLocked, exports_.KRBManualAccess, p, slot)); }
std::string TKRBDLL::AlternateXferStation(int p, int station) { return StationResult(Call(kLocked, exports_.KRBAlternateXferStation, p, station)); }
int TKRBDLL::Swap(int p) { return ZeroIsFailure(Call(kLocked, exports_.KRBSwap, p)); }
int TKRBDLL::SwapBack(int p) { return ZeroIsFailure(Call(kLocked, exports_.KRBSwapBack, p)); }
void TKRBDLL::Lock(int p) { Call(kLocked, exports_.KRBLock, p); }
void TKRBDLL::Unlock(int p) { Call(kLocked, exports_.KRBUnlock, p); }
void TKRBDLL::BeeperOn(int p) { Call(kFree, exports_.KRBBeeperOn, p); }
void TKRBDLL::BeeperOff(int p) { Call(kFree, exports_.KRBBeeperOff, p); }
void TKRBDLL::Deactivate2(int p) { Call(kLocked, exports_.KRB2Deactivate, p); }
int TKRBDLL::Reset2(int p) { return IntegerOr(0, Call(kLocked, exports_.KRB2Reset, p)); }
std::string TKRBDLL::GetSysStatus2(int p) { return StatusResult(Call(kLocked, exports_.KRB2GetSysStatus, p)); }
std::string TKRBDLL::ReadActualClimate2(int p) { return TextOrEmpty(Call(kLocked, exports_.KRB2ReadActualClimate, p)); }
std::string TKRBDLL::ReadSetClimate2(int p) { return TextOrEmpty(Call(kLocked, exports_.KRB2ReadSetClimate, p)); }
void TKRBDLL::WriteSetClimate2(int p, const std::string& t, const std::string& h, const std::string& co2, const std::string& n2) { Call(kLocked, exports_.KRB2WriteSetClimate, p, t, h, co2, n2); }
void TKRBDLL::ActivateShaker2(int p, int speed) { Call(kLocked, exports_.KRB2ActivateShaker, p, speed); }
void TKRBDLL::DeactivateShaker2(int p) { Call(kLocked, exports_.KRB2DeactivateShaker, p); }
int TKRBDLL::ReadSetShakerSpeed2(int p) { return IntegerOr(-1, Call(kLocked, exports_.KRB2ReadSetShakerSpeed, p)); }
int TKRBDLL::Inventory2(int p, const std::string& file, bool detect, bool barcodes) { return StartResult(Call(kFree, exports_.KRB2Inventory, p, file, detect, barcodes)); }
int TKRBDLL::PartitionInventory2(int p, const std::string& file, const std::string& partition, bool detect, bool barcodes) { return StartResult(Call(kFree, exports_.KRB2PartitionInventory, p, file, partition, detect, barcodes)); }
std::string TKRBDLL::ServiceReadBarcode2(int p, int slot, int level) { return TextOrEmpty(Call(kFree, exports_.KRB2ServiceReadBarcode, p, slot, level)); }
int TKRBDLL::ServiceIsPlateAtLocation2(int p, int slot, int level) { return PlateAtLocationResult(Call(kFree, exports_.KRB2ServiceIsPlateAtLocation, p, slot, level)); }
int TKRBDLL::ServiceMovePlate2(int p, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9, int a10, int a11) { return IntegerOr(0, Call(kFree, exports_.KRB2ServiceMovePlate, p, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11)); }
// clang-format on

}  // namespace krb::server
