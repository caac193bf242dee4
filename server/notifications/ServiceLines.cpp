#include "notifications/ServiceLines.h"

#include <atomic>
#include <optional>

#include "lab/Unit.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

// The two spellings of deactivation are what listeners already parse: the timer reports a
// change, the snapshot a state.
constexpr std::string_view kBusy = "I_DeviceBisy";
constexpr std::string_view kNotBusy = "I_DeviceNotBisy";
constexpr std::string_view kActivated = "I_DeviceActivated";
constexpr std::string_view kDeActivated = "I_DeviceDeActivated";
constexpr std::string_view kDeactivated = "I_DeviceDeactivated";
constexpr std::string_view kDoorOpened = "I_DoorOpened";
constexpr std::string_view kDoorClosed = "I_DoorClosed";
constexpr std::string_view kNoError = "I_E#0";

std::string ErrorLine(const std::string& code, const std::string& unitId) {
    return ServiceLine("I_E#" + code, unitId);
}

// A flag query's answer: "1" set, "0" clear; anything else (a failed call gives "-1") is
// no answer and changes nothing.
std::optional<bool> FlagOf(const std::string& answer) {
    if (answer == "1") return true;
    if (answer == "0") return false;
    return std::nullopt;
}

std::optional<bool> DoorOpenOf(const std::string& doorFlag) {  // the flag reads "1" when closed
    const auto closed = FlagOf(doorFlag);
    return closed ? std::optional<bool>(!*closed) : std::nullopt;
}

// Stores the polled state; a line only when it differs from the stored one.
void ReportChange(std::atomic<bool>& stored, std::optional<bool> polled, std::string_view whenSet,
                  std::string_view whenCleared, const std::string& unitId,
                  std::vector<std::string>& lines) {
    if (!polled || stored.exchange(*polled) == *polled) return;
    lines.push_back(ServiceLine(*polled ? whenSet : whenCleared, unitId));
}

void ReportState(std::optional<bool> polled, std::string_view whenSet, std::string_view whenCleared,
                 const std::string& unitId, std::vector<std::string>& lines) {
    if (polled) lines.push_back(ServiceLine(*polled ? whenSet : whenCleared, unitId));
}

}  // namespace

std::string ServiceLine(std::string_view event, const std::string& unitId) {
    std::string line(event);
    line += '(';
    line += unitId;
    line += ")\r\n";
    return line;
}

void PollBusyAndActivation(TKRBId& unit, std::vector<std::string>& lines) {
    const std::string& id = unit.UnitId;
    ReportChange(unit.Busy, FlagOf(unit.IsOperationRunning()), kBusy, kNotBusy, id, lines);
    ReportChange(unit.ActivationReported, unit.Activated.load(), kActivated, kDeActivated, id,
                 lines);
}

void PollDoorAndError(TKRBId& unit, std::vector<std::string>& lines) {
    const std::string& id = unit.UnitId;
    ReportChange(unit.DoorOpened, DoorOpenOf(unit.ReadUserDoorFlag()), kDoorOpened, kDoorClosed, id,
                 lines);
    const auto error = FlagOf(unit.ReadErrorFlag());
    if (!error || unit.Error.exchange(*error) == *error) return;
    if (*error) {
        // The code is read once, when the error is first seen.
        const std::string code = unit.ReadErrorCode();
        unit.ErrorCode = Int32Or(code, 0);
        lines.push_back(ErrorLine(code, id));
    } else {
        unit.ErrorCode = 0;
        lines.push_back(ServiceLine(kNoError, id));
    }
}

void SnapshotOf(TKRBId& unit, std::vector<std::string>& lines) {
    const std::string& id = unit.UnitId;
    ReportState(FlagOf(unit.IsOperationRunning()), kBusy, kNotBusy, id, lines);
    if (!unit.Activated) {
        lines.push_back(ServiceLine(kDeactivated, id));
        return;
    }
    lines.push_back(ServiceLine(kActivated, id));
    ReportState(DoorOpenOf(unit.ReadUserDoorFlag()), kDoorOpened, kDoorClosed, id, lines);
    const auto error = FlagOf(unit.ReadErrorFlag());
    if (error)
        lines.push_back(*error ? ErrorLine(unit.ReadErrorCode(), id) : ServiceLine(kNoError, id));
}

}  // namespace krb::server
