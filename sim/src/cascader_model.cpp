#include "sim/cascader_model.h"

namespace krb::sim {
namespace {

constexpr int kExtensionSide = 1;
constexpr int kBaseSide = 2;

}  // namespace

int cascadeLevel(int code) {
    switch (code) {
        case 0:
        case 3:
            return 3;
        case 1:
            return 2;
        default:
            return 0;
    }
}

CascaderModel::CascaderModel(int com, RegisterStore& registers, PlateWorld& world,
                             MotionTimes times, UnitIdentity identity)
    : UnitModelBase(com, registers, world, times, identity) {
    registers.setDm(29, 2);
    registers.setDm(25, 3);
}

CascaderModel::~CascaderModel() { stop(); }

void CascaderModel::setSides(PlateStoreModel* base, PlateStoreModel* extension) {
    base_ = base;
    extension_ = extension;
}

int CascaderModel::side() const {
    std::lock_guard lock(stateMutex_);
    return side_;
}

PlateStoreModel* CascaderModel::unitAt(int side) const {
    if (side == kBaseSide) return base_;
    if (side == kExtensionSide) return extension_;
    return nullptr;
}

std::optional<Place> CascaderModel::facingPlace(int side, int code) const {
    PlateStoreModel* unit = unitAt(side);
    if (unit == nullptr) return std::nullopt;
    auto slot = unit->cascadeFacingSlot();
    const int level = cascadeLevel(code);
    if (!slot || !unit->validPosition(*slot, level)) return std::nullopt;
    return Place::slot(unit->com(), *slot, level);
}

std::optional<CascaderModel::Motion> CascaderModel::handlerMotion(int relay) {
    const int side = static_cast<int>(registers_.dm(0));
    const int code = static_cast<int>(registers_.dm(5));
    registers_.setDm(5, 0);
    Operation operation;
    switch (relay) {
        case 1904:
            operation = Operation::Import;
            break;
        case 1905:
            operation = Operation::Export;
            break;
        case 1906:
            operation = Operation::Set;
            break;
        case 1907:
            operation = Operation::Get;
            break;
        case 1908:
            operation = Operation::Pick;
            break;
        case 1909:
            operation = Operation::Place;
            break;
        default:
            return std::nullopt;
    }
    return Motion{operation, times_.motion,
                  [this, operation, side, code] { return carry(operation, side, code); }};
}

std::uint16_t CascaderModel::carry(Operation operation, int side, int code) {
    if (auto refusal = readinessError(operation)) return refusal;
    const Place shovel = Place::shovel(com_);
    const Place station = Place::station(com_, 1);
    std::optional<Place> from;
    std::optional<Place> to;
    switch (operation) {
        case Operation::Pick:
            from = facingPlace(side, code);
            to = shovel;
            break;
        case Operation::Place:
            from = shovel;
            to = facingPlace(side, code);
            break;
        case Operation::Import:
        case Operation::Export:
            from = facingPlace(side, code);
            to = facingPlace(side == kBaseSide ? kExtensionSide : kBaseSide, code);
            break;
        case Operation::Set:
            from = shovel;
            to = station;
            break;
        default:
            from = station;
            to = shovel;
            break;
    }
    if (!from || !to) return errorCode(operation, 1, ErrorKind::LiftPositioning);
    switch (world_.move(*from, *to)) {
        case MoveOutcome::SourceEmpty:
            return errorCode(operation, 2, emptySourceKind(*from));
        case MoveOutcome::TargetOccupied:
            return errorCode(operation, 3, occupiedTargetKind(*to));
        case MoveOutcome::Moved:
            return 0;
    }
    return 0;
}

void CascaderModel::wordWritten(int address, std::uint16_t value) {
    if (address != 0 || (value != kExtensionSide && value != kBaseSide)) return;
    const int side = value;
    queue({Operation::None, times_.turn, [this, side]() -> std::uint16_t {
               if (auto refusal = readinessError(Operation::None)) return refusal;
               std::lock_guard lock(stateMutex_);
               side_ = side;
               return 0;
           }});
}

bool CascaderModel::detectorReads(int relay) const {
    return relay == 1808 ? shovelOccupied() : world_.occupied(Place::station(com_, 1));
}

bool CascaderModel::shovelOccupied() const { return world_.occupied(Place::shovel(com_)); }

std::optional<std::string> CascaderModel::codeInFrontOfReader() const {
    auto plate = world_.plateAt(Place::shovel(com_));
    if (!plate || !plate->labelled || plate->barcode.empty()) return std::nullopt;
    return plate->barcode;
}

}  // namespace krb::sim
