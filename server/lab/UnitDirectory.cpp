#include "lab/UnitDirectory.h"

#include "lab/Unit.h"
#include "text/CommandSyntax.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

constexpr std::string_view kServiceMove = "KRB2ServiceMovePlate";
constexpr std::size_t kServiceMoveFields = 12;
constexpr std::size_t kOtherUnitField = 6;

}  // namespace

void UnitDirectory::AddUnit(TKRBId* unit) { units_.push_back(unit); }

TKRBId* UnitDirectory::FindUnitById(const std::string& unitId) const {
    for (auto* unit : units_) {
        if (unit->UnitId == unitId) return unit;
    }
    return nullptr;
}

TKRBId* UnitDirectory::FindUnitByPort(std::int32_t comPort) const {
    for (auto* unit : units_) {
        if (unit->ComPort == comPort) return unit;
    }
    return nullptr;
}

// --- the service move: unit IDs to ports on the way in, ports to unit IDs on the way out -------

std::string UnitDirectory::CommandForUnit(const std::string& text) const {
    return text.starts_with(kServiceMove) ? RewriteServiceMove(text) : text;
}

std::string UnitDirectory::RewriteServiceMove(std::string_view text) const {
    auto fields = SplitFields(ArgumentList(text), kServiceMoveFields);
    auto toPort = [this](std::string& field) {
        const TKRBId* unit = FindUnitById(field);
        field = unit ? std::to_string(unit->ComPort) : "0";
    };
    toPort(fields[0]);
    if (fields.size() > kOtherUnitField) toPort(fields[kOtherUnitField]);
    std::string rewritten(kServiceMove);
    rewritten += '(';
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) rewritten += ',';
        rewritten += fields[i];
    }
    return rewritten + ')';
}

std::optional<TFailedStep> FailedStepOf(std::int32_t result, const UnitDirectory* directory) {
    const std::string text = std::to_string(result);
    if (text.size() < 2) return std::nullopt;
    std::string port = text.substr(0, text.size() - 1);
    const auto number = ParseInt32(port);
    const TKRBId* unit = (number && directory) ? directory->FindUnitByPort(*number) : nullptr;
    return TFailedStep{std::move(port), unit, text.back()};
}

std::string ServiceMoveReply(std::int32_t result, const UnitDirectory* directory) {
    if (result == 1) return "1";
    const auto step = FailedStepOf(result, directory);
    if (!step) return result == 0 ? "-1" : "-" + std::to_string(result);
    return "-" + (step->Unit ? step->Unit->UnitId : std::string("null")) + ";" + step->Step;
}

}  // namespace krb::server
