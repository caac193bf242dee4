#pragma once
// The seeded plan of a chaos run: which operation comes next and which fault hits it. Every
// step draws the same count of numbers whatever happened before, so a seed fixes the order of
// operations and faults; what a step's numbers pick among (plates, free places) is the lab's
// state at that moment.
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace krb::chaos {

enum class Operation {
    MoveWithinUnit,
    MoveAcrossCascade,
    ScanWholeUnit,
    ScanPartition,
    AskDetector,
    ReadBarcode,
    UpdatePlate,
    UpdateSlot,
};

enum class FaultKind {
    Silence,
    Drop,
    Garble,
    LateReplies,
    StrayReply,
    Reset,
    PowerCycle,
    ReaderLoss,
    DeviceServerRestart,
    MotionError,
    DoorOpen,
};

std::string operationName(Operation operation);
std::string faultName(FaultKind kind);

struct FaultPlan {
    FaultKind kind;
    std::uint32_t unitPick;  // among the units the operation uses
    int count;               // commands dropped or garbled
    int nominalMs;           // reply delay, or how long a held fault lasts
    int startNominalMs;      // after the operation started
    std::uint32_t variant;   // which stray text or error code
};

struct Step {
    Operation operation;
    std::vector<std::uint32_t> picks;  // the operation's own choices
    std::optional<FaultPlan> fault;
};

class Schedule {
  public:
    explicit Schedule(std::uint64_t seed) : random_(seed) {}
    Step next();

  private:
    std::uint32_t draw(std::uint32_t bound) {
        return static_cast<std::uint32_t>(random_() % bound);
    }
    std::mt19937_64 random_;
};

}  // namespace krb::chaos
