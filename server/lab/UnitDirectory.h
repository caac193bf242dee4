#pragma once
// The flat list of every unit of the lab, in load order, for lookups by UnitId and by
// controller port, and the translation between the two that the service move needs.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

class TKRBId;

class UnitDirectory {
  public:
    void AddUnit(TKRBId* unit);
    const std::vector<TKRBId*>& Units() const { return units_; }
    TKRBId* FindUnitById(const std::string& unitId) const;
    TKRBId* FindUnitByPort(std::int32_t comPort) const;

    // The text as the unit's command thread gets it: a service move rewritten, else unchanged.
    std::string CommandForUnit(const std::string& text) const;
    // The service move names units by UnitId; the library wants controller ports. Fields 1
    // and 7 become ports ("0" for an unknown ID); the result has no CR.
    std::string RewriteServiceMove(std::string_view text) const;

  private:
    std::vector<TKRBId*> units_;
};

// A result of two or more digits names a failed step: the controller port of the unit it
// failed on (Unit is null when no unit has it), then the step's digit.
struct TFailedStep {
    std::string Port;
    const TKRBId* Unit;
    char Step;
};
std::optional<TFailedStep> FailedStepOf(std::int32_t result, const UnitDirectory* directory);

// The service move's reply, back from controller ports to unit IDs: "1"; "-1" for 0; "-n" for
// another one-digit result; else "-" + the UnitId on the port that the result names without
// its last digit ("null" when none) + ";" + that digit.
std::string ServiceMoveReply(std::int32_t result, const UnitDirectory* directory);

}  // namespace krb::server
