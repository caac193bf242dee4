#include "sim/tube_store_model.h"

#include <cctype>

namespace krb::sim {
namespace {

constexpr std::size_t kMaxHexDigits = 4;

bool isBcd(int byte) { return (byte >> 4) <= 9 && (byte & 0xF) <= 9; }

int fromBcd(int byte) { return (byte >> 4) * 10 + (byte & 0xF); }

std::optional<std::uint16_t> parseHex(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxHexDigits) return std::nullopt;
    std::uint16_t value = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return value;
}

}  // namespace

// A byte that is not BCD is taken as a plain number, as a plain decimal slot written by a
// plate-fill run (12 arrives as 0x0C).
std::optional<int> decodeTubeCoordinate(std::uint16_t word) {
    const int high = word >> 8;
    const int low = word & 0xFF;
    if (high != 0 && low == 0) return isBcd(high) ? std::optional(fromBcd(high)) : std::nullopt;
    if (high != 0) return std::nullopt;
    return isBcd(low) ? fromBcd(low) : low;
}

std::optional<std::pair<int, int>> decodeTubePair(std::uint16_t word) {
    if (auto single = decodeTubeCoordinate(word)) return std::pair{*single, *single};
    const int high = word >> 8;
    const int low = word & 0xFF;
    if (!isBcd(high) || !isBcd(low)) return std::nullopt;
    return std::pair{fromBcd(high), fromBcd(low)};
}

TubeStoreModel::TubeStoreModel(int com, RegisterStore& registers, PlateWorld& world,
                               MotionTimes times, UnitIdentity identity,
                               const TubeStoreGeometry& geometry)
    : UnitModelBase(com, registers, world, times, identity) {
    registers.setDm(29, static_cast<std::uint16_t>(geometry.rows));
    registers.setDm(25, static_cast<std::uint16_t>(geometry.columns));
}

TubeStoreModel::~TubeStoreModel() { stop(); }

Place TubeStoreModel::selectedRack() const {
    std::lock_guard lock(stateMutex_);
    return Place::rackPosition(com_, selected_);
}

std::optional<std::string> TubeStoreModel::handleUnit(const Command& command) {
    if (command.kind != Command::Kind::SetRelay) return std::nullopt;
    if (command.address != 1104 && command.address != 1105) return std::nullopt;
    const bool first = command.address == 1104;
    registers_.setRelay(1104, first);
    registers_.setRelay(1105, !first);
    std::lock_guard lock(stateMutex_);
    selected_ = first ? 1 : 2;
    return "OK";
}

std::optional<std::uint16_t> TubeStoreModel::parseWord(const std::string& text) const {
    if (text.size() > 1 && text[0] == '$') return parseHex(std::string_view(text).substr(1));
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return parseHex(std::string_view(text).substr(2));
    return parseWordValue(text);
}

std::optional<TubeSpot> TubeStoreModel::spotIn(int position, std::optional<int> row,
                                               std::optional<int> column) const {
    if (!row || !column) return std::nullopt;
    if (*row < 1 || *row > registers_.dm(29) || *column < 1 || *column > registers_.dm(25))
        return std::nullopt;
    return TubeSpot::inRack(Place::rackPosition(com_, position), *row, *column);
}

std::optional<TubeStoreModel::Motion> TubeStoreModel::handlerMotion(int relay) {
    const std::uint16_t first = registers_.dm(0);
    const std::uint16_t second = registers_.dm(5);
    const auto row = decodeTubeCoordinate(first);
    const auto column = decodeTubeCoordinate(second);
    const auto gripper = std::optional(TubeSpot::gripperOf(com_));
    std::optional<TubeSpot> from;
    std::optional<TubeSpot> to;
    Operation operation;
    switch (relay) {
        case 1907:
            operation = Operation::Get;
            from = spotIn(1, row, column);
            to = gripper;
            break;
        case 1906:
            operation = Operation::Set;
            from = gripper;
            to = spotIn(1, row, column);
            break;
        case 1908:
            operation = Operation::Pick;
            from = spotIn(2, row, column);
            to = gripper;
            break;
        case 1909:
            operation = Operation::Place;
            from = gripper;
            to = spotIn(2, row, column);
            break;
        case 1904:
        case 1905: {
            const auto rows = decodeTubePair(first);
            const auto columns = decodeTubePair(second);
            std::optional<TubeSpot> inSecond, inFirst;
            if (rows && columns) {
                inSecond = spotIn(2, rows->first, columns->first);
                inFirst = spotIn(1, rows->second, columns->second);
            }
            operation = relay == 1904 ? Operation::Import : Operation::Export;
            from = relay == 1904 ? inFirst : inSecond;
            to = relay == 1904 ? inSecond : inFirst;
            break;
        }
        default:
            return std::nullopt;
    }
    return Motion{operation, times_.motion,
                  [this, operation, from, to] { return moveTube(operation, from, to); }};
}

std::uint16_t TubeStoreModel::moveTube(Operation operation, std::optional<TubeSpot> from,
                                       std::optional<TubeSpot> to) {
    if (auto refusal = readinessError(operation)) return refusal;
    if (!from || !to) return errorCode(operation, 1, ErrorKind::LiftPositioning);
    switch (world_.moveTube(*from, *to)) {
        case TubeOutcome::NoRack:
            return errorCode(operation, 1, ErrorKind::PlateTransfer);
        case TubeOutcome::SourceEmpty:
            return errorCode(operation, 2, ErrorKind::NoPlateOnShovel);
        case TubeOutcome::TargetOccupied:
            return errorCode(operation, 3,
                             to->gripper ? ErrorKind::PlateOnShovel : ErrorKind::StackerSlot);
        case TubeOutcome::Moved:
            break;
    }
    return 0;
}

void TubeStoreModel::wordWritten(int, std::uint16_t) {
    if (scanMode()) queuePositioning();
}

std::optional<TubeSpot> TubeStoreModel::scanSpot() const {
    if (!scanMode()) return std::nullopt;
    int position;
    {
        std::lock_guard lock(stateMutex_);
        position = selected_;
    }
    return spotIn(position, decodeTubeCoordinate(registers_.dm(0)),
                  decodeTubeCoordinate(registers_.dm(5)));
}

bool TubeStoreModel::detectorReads(int relay) const {
    if (relay != 1808) return false;
    if (scanMode()) {
        auto spot = scanSpot();
        return spot && world_.tubeAt(*spot).has_value();
    }
    return shovelOccupied();
}

bool TubeStoreModel::shovelOccupied() const {
    return world_.tubeAt(TubeSpot::gripperOf(com_)).has_value();
}

// In scan mode the reader sees the addressed tube of the selected rack, otherwise the tube
// in the gripper.
std::optional<std::string> TubeStoreModel::codeInFrontOfReader() const {
    std::optional<std::string> code;
    if (scanMode()) {
        if (auto spot = scanSpot()) code = world_.tubeAt(*spot);
    } else {
        code = world_.tubeAt(TubeSpot::gripperOf(com_));
    }
    if (code && code->empty()) return std::nullopt;
    return code;
}

}  // namespace krb::sim
