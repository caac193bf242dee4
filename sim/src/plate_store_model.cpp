#include "sim/plate_store_model.h"

#include "sim/tube_store_model.h"

namespace krb::sim {
namespace {

constexpr int kSlotsWord = 29;
constexpr int kLevelsWord = 25;
constexpr int kCarouselWord = 46;
constexpr int kCassetteWordBase = 250;
constexpr int kPitchWordBase = 230;
constexpr int kMaxCassetteType = 20;

int signedWord(std::uint16_t word) { return word > 32767 ? word - 65536 : word; }

void loadGeometry(RegisterStore& registers, const PlateStoreGeometry& geometry) {
    registers.setDm(kSlotsWord, static_cast<std::uint16_t>(geometry.slots));
    registers.setDm(kLevelsWord, static_cast<std::uint16_t>(geometry.levels));
    registers.setDm(kCarouselWord, static_cast<std::uint16_t>(geometry.carouselPositions));
    registers.setDm(23, static_cast<std::uint16_t>(geometry.handlerPitch));
    registers.setDm(6, static_cast<std::uint16_t>(geometry.barcodeHeight));
    registers.setDm(27, static_cast<std::uint16_t>(geometry.barcodeOffset));
    std::vector<bool> pitchSet(kMaxCassetteType + 1, false);
    for (const auto& cassette : geometry.cassettes) {
        if (cassette.slot < 1 || cassette.slot > 99) continue;
        const int descriptor = (cassette.type & 0xFF) << 8 | (cassette.levels & 0xFF);
        registers.setDm(kCassetteWordBase + cassette.slot, static_cast<std::uint16_t>(descriptor));
        if (cassette.type >= 0 && cassette.type <= kMaxCassetteType && !pitchSet[cassette.type]) {
            registers.setDm(kPitchWordBase + cassette.type,
                            static_cast<std::uint16_t>(cassette.pitch));
            pitchSet[cassette.type] = true;
        }
    }
}

}  // namespace

ErrorKind emptySourceKind(const Place& place) {
    return place.kind == PlaceKind::Station || place.kind == PlaceKind::RackPosition
               ? ErrorKind::PlateTransfer
               : ErrorKind::NoPlateOnShovel;
}

ErrorKind occupiedTargetKind(const Place& place) {
    switch (place.kind) {
        case PlaceKind::Slot:
            return ErrorKind::StackerSlot;
        case PlaceKind::Shovel:
            return ErrorKind::PlateOnShovel;
        default:
            return ErrorKind::PlateTransfer;
    }
}

PlateStoreModel::PlateStoreModel(int com, RegisterStore& registers, PlateWorld& world,
                                 MotionTimes times, UnitIdentity identity,
                                 const PlateStoreGeometry& geometry, CascadeSide side)
    : UnitModelBase(com, registers, world, times, identity), side_(side) {
    loadGeometry(registers, geometry);
}

PlateStoreModel::~PlateStoreModel() { stop(); }

void PlateStoreModel::setTubeStore(const TubeStoreModel* tubeStore) { tubeStore_ = tubeStore; }

int PlateStoreModel::levelsOf(int slot) const {
    if (slot >= 1 && slot <= 99) {
        const int levels = registers_.dm(kCassetteWordBase + slot) & 0xFF;
        if (levels > 0) return levels;
    }
    return registers_.dm(kLevelsWord);
}

bool PlateStoreModel::validPosition(int slot, int level) const {
    return slot >= 1 && slot <= registers_.dm(kSlotsWord) && level >= 1 && level <= levelsOf(slot);
}

std::optional<int> PlateStoreModel::cascadeFacingSlot() const {
    int position;
    {
        std::lock_guard lock(stateMutex_);
        position = carouselPosition_;
    }
    const int positions = registers_.dm(kCarouselWord) > 0 ? registers_.dm(kCarouselWord) : 20;
    if (position < 1 || position > positions || side_ == CascadeSide::None) return std::nullopt;
    int slot = position - (side_ == CascadeSide::Base ? 14 : 6);
    while (slot < 1) slot += positions;
    return slot;
}

// The station side of a load, unload, set or get: the selected transfer station, or the
// tube store's selected plate position while relay 1104 is set.
std::optional<Place> PlateStoreModel::stationPlace() const {
    if (registers_.relay(1104)) {
        if (tubeStore_ == nullptr) return std::nullopt;
        return tubeStore_->selectedRack();
    }
    return Place::station(com_, registers_.relay(1607) ? 2 : 1);
}

std::optional<PlateStoreModel::Motion> PlateStoreModel::handlerMotion(int relay) {
    const int slot = signedWord(registers_.dm(0));
    const int level = signedWord(registers_.dm(5));
    const Place storage = Place::slot(com_, slot, level);
    const Place shovel = Place::shovel(com_);
    const auto station = stationPlace();
    Transfer transfer;
    switch (relay) {
        case 1904:
            transfer = {Operation::Import, station, storage, true};
            break;
        case 1905:
            transfer = {Operation::Export, storage, station, true};
            break;
        case 1906:
            transfer = {Operation::Set, shovel, station, false};
            break;
        case 1907:
            transfer = {Operation::Get, station, shovel, false};
            break;
        case 1908:
            transfer = {Operation::Pick, storage, shovel, true};
            break;
        case 1909:
            transfer = {Operation::Place, shovel, storage, true};
            break;
        default:
            return std::nullopt;
    }
    return Motion{transfer.operation, times_.motion,
                  [this, transfer, slot, level] { return carryOut(transfer, slot, level); }};
}

std::uint16_t PlateStoreModel::carryOut(const Transfer& transfer, int slot, int level) {
    const Operation operation = transfer.operation;
    if (auto refusal = readinessError(operation)) return refusal;
    if (transfer.usesSlot && !validPosition(slot, level))
        return errorCode(operation, 1, ErrorKind::LiftPositioning);
    if (!transfer.from || !transfer.to) return errorCode(operation, 1, ErrorKind::PlateTransfer);
    // The shovel is sensed before the handler moves.
    const Place shovel = Place::shovel(com_);
    const bool needsEmptyShovel =
        *transfer.to == shovel || operation == Operation::Import || operation == Operation::Export;
    if (needsEmptyShovel && world_.occupied(shovel))
        return errorCode(operation, 1, ErrorKind::PlateOnShovel);
    if (*transfer.from == shovel && !world_.occupied(shovel))
        return errorCode(operation, 1, ErrorKind::NoPlateOnShovel);
    switch (world_.move(*transfer.from, *transfer.to)) {
        case MoveOutcome::SourceEmpty:
            return errorCode(operation, 2, emptySourceKind(*transfer.from));
        case MoveOutcome::TargetOccupied:
            return errorCode(operation, 3, occupiedTargetKind(*transfer.to));
        case MoveOutcome::Moved:
            break;
    }
    if (transfer.usesSlot) {
        std::lock_guard lock(stateMutex_);
        handlerSlot_ = slot;
        handlerLevel_ = level;
    }
    return 0;
}

// DM0 outside scan mode turns the carousel to that position; in scan mode DM0 and DM5
// move the handler in front of a slot and level.
void PlateStoreModel::wordWritten(int address, std::uint16_t value) {
    if (scanMode()) {
        const std::uint16_t fault = scanFaultAt(*scanPlace());
        if (fault != 0) {
            queue({Operation::Scan, times_.position, [fault] { return fault; }});
        } else {
            queuePositioning();
        }
        return;
    }
    if (address != 0) return;
    const int position = signedWord(value);
    queue({Operation::None, times_.turn, [this, position]() -> std::uint16_t {
               if (auto refusal = readinessError(Operation::None)) return refusal;
               std::lock_guard lock(stateMutex_);
               carouselPosition_ = position;
               return 0;
           }});
}

void PlateStoreModel::failScanAt(int slot, int level, std::uint16_t code) {
    std::lock_guard lock(stateMutex_);
    failingScan_ = {{Place::slot(com_, slot, level), code}};
}

std::uint16_t PlateStoreModel::scanFaultAt(const Place& place) const {
    std::lock_guard lock(stateMutex_);
    return failingScan_ && failingScan_->first == place ? failingScan_->second : 0;
}

std::optional<Place> PlateStoreModel::scanPlace() const {
    if (!scanMode()) return std::nullopt;
    return Place::slot(com_, signedWord(registers_.dm(0)), signedWord(registers_.dm(5)));
}

Place PlateStoreModel::handlerPlace() const {
    std::lock_guard lock(stateMutex_);
    return Place::slot(com_, handlerSlot_, handlerLevel_);
}

bool PlateStoreModel::detectorReads(int relay) const {
    switch (relay) {
        case 1808:
            return world_.occupied(scanPlace().value_or(handlerPlace()));
        case 1813:
            return world_.occupied(Place::station(com_, 1));
        case 1807:
            return world_.occupied(Place::station(com_, 2));
        default:
            return false;
    }
}

bool PlateStoreModel::shovelOccupied() const { return world_.occupied(Place::shovel(com_)); }

int PlateStoreModel::handlerSlot() const {
    std::lock_guard lock(stateMutex_);
    return handlerSlot_ != 0 ? handlerSlot_ : carouselPosition_;
}

// The reader sits on the handler: in scan mode it sees the addressed slot, otherwise the
// plate on the shovel or else the one the handler last put down.
std::optional<std::string> PlateStoreModel::codeInFrontOfReader() const {
    std::optional<Plate> plate;
    if (auto place = scanPlace()) {
        plate = world_.plateAt(*place);
    } else {
        plate = world_.plateAt(Place::shovel(com_));
        if (!plate) plate = world_.plateAt(handlerPlace());
    }
    if (!plate || !plate->labelled || plate->barcode.empty()) return std::nullopt;
    return plate->barcode;
}

}  // namespace krb::sim
