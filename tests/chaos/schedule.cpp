#include "schedule.h"

#include <array>
#include <utility>

namespace krb::chaos {
namespace {

constexpr std::size_t kPicksPerStep = 6;
constexpr std::uint32_t kFaultPercent = 70;

// Weights: moves and scans are where records and claims can go wrong.
constexpr std::array<std::pair<Operation, std::uint32_t>, 8> kOperations{{
    {Operation::MoveWithinUnit, 4},
    {Operation::MoveAcrossCascade, 3},
    {Operation::ScanWholeUnit, 1},
    {Operation::ScanPartition, 4},
    {Operation::AskDetector, 3},
    {Operation::ReadBarcode, 2},
    {Operation::UpdatePlate, 2},
    {Operation::UpdateSlot, 1},
}};

constexpr std::array<FaultKind, 11> kFaults{
    FaultKind::Silence,     FaultKind::Drop,       FaultKind::Garble,
    FaultKind::LateReplies, FaultKind::StrayReply, FaultKind::Reset,
    FaultKind::PowerCycle,  FaultKind::ReaderLoss, FaultKind::DeviceServerRestart,
    FaultKind::MotionError, FaultKind::DoorOpen,
};

template <std::size_t N>
Operation weighted(const std::array<std::pair<Operation, std::uint32_t>, N>& table,
                   std::uint32_t roll) {
    for (const auto& [operation, weight] : table) {
        if (roll < weight) return operation;
        roll -= weight;
    }
    return table.back().first;
}

template <std::size_t N>
constexpr std::uint32_t totalWeight(const std::array<std::pair<Operation, std::uint32_t>, N>& t) {
    std::uint32_t sum = 0;
    for (const auto& entry : t) sum += entry.second;
    return sum;
}

}  // namespace

std::string operationName(Operation operation) {
    switch (operation) {
        case Operation::MoveWithinUnit:
            return "move within a unit";
        case Operation::MoveAcrossCascade:
            return "move across the cascade";
        case Operation::ScanWholeUnit:
            return "scan of a whole unit";
        case Operation::ScanPartition:
            return "scan of a partition";
        case Operation::AskDetector:
            return "plate detector question";
        case Operation::ReadBarcode:
            return "barcode read";
        case Operation::UpdatePlate:
            return "plate update";
        case Operation::UpdateSlot:
            return "slot update";
    }
    return "?";
}

std::string faultName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Silence:
            return "silence";
        case FaultKind::Drop:
            return "dropped commands";
        case FaultKind::Garble:
            return "garbled replies";
        case FaultKind::LateReplies:
            return "late replies";
        case FaultKind::StrayReply:
            return "stray reply";
        case FaultKind::Reset:
            return "controller reset";
        case FaultKind::PowerCycle:
            return "power cycle";
        case FaultKind::ReaderLoss:
            return "reader loss";
        case FaultKind::DeviceServerRestart:
            return "device server restart";
        case FaultKind::MotionError:
            return "motion error";
        case FaultKind::DoorOpen:
            return "door opened";
    }
    return "?";
}

Step Schedule::next() {
    Step step;
    step.operation = weighted(kOperations, draw(totalWeight(kOperations)));
    for (std::size_t i = 0; i < kPicksPerStep; ++i) step.picks.push_back(draw(1u << 30));
    const bool faulted = draw(100) < kFaultPercent;
    FaultPlan plan{};
    plan.kind = kFaults[draw(kFaults.size())];
    plan.unitPick = draw(1u << 30);
    plan.count = 1 + static_cast<int>(draw(3));
    plan.nominalMs = 200 + static_cast<int>(draw(2800));
    plan.startNominalMs = static_cast<int>(draw(1500));
    plan.variant = draw(1u << 30);
    if (faulted) step.fault = plan;
    return step;
}

}  // namespace krb::chaos
