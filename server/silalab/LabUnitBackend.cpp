#include "silalab/LabUnitBackend.h"

#include <array>
#include <charconv>
#include <functional>

#include "ControllerErrors.h"
#include "history/HistoryEvents.h"
#include "lab/ContentsFile.h"
#include "lab/Sector.h"
#include "lab/Unit.h"
#include "lab/UnitDirectory.h"
#include "platform/link_metrics.h"
#include "platform/port_names.h"
#include "sila/FeatureModel.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

using sila::Outcome;
using Kind = sila::Outcome::Kind;

// The service move's position kind for a slot and level, and the cascade position each side
// of a cascade move takes: a base unit's odd slot 1, an extension's even slot 2.
constexpr std::int32_t kSlotAndLevel = 2;
std::int32_t CascadeSlotOf(const TKRBId& unit) { return unit.Base ? 1 : 2; }

Outcome Failure(Kind kind, std::string message) { return Outcome{kind, std::move(message)}; }

std::optional<platform::LinkCounters> ControllerLinkOf(const TKRBId& unit,
                                                       const LinkStates& links) {
    for (const auto& [port, link] : links) {
        if (link.ReaderOfUnit == 0 && platform::comPortNumber(port) == unit.ComPort) return link;
    }
    return std::nullopt;
}

std::optional<double> NumberOf(const std::string& field) {
    const std::string text = Trimmed(field);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The shortest text that reads back as `value` ("37", "37.5").
std::string NumberText(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::string DescribeLibraryMoveCode(std::int32_t result) {
    switch (result) {
        case 0:
            return "a unit stayed busy";
        case 2:
            return "an argument is not a number";
        case 3:
            return "a unit is not registered with the library";
        case 4:
            return "no complete cascade for the move";
        case 5:
            return "a cascade slot is 0";
        case 6:
            return "the source cascade slot has the wrong parity";
        case 7:
            return "the target cascade slot has the wrong parity";
        case 8:
            return "the source position lacks slot or level";
        case 9:
            return "the target position lacks slot or level";
        default:
            return "library result " + std::to_string(result);
    }
}

// What the audit trail keeps as a SiLA command's reply: "Done", a barcode read, or the
// outcome's kind and message.
std::string ReplyText(const Outcome& outcome) {
    if (outcome.ok()) return sila::outcomeKindName(outcome.kind);
    return sila::outcomeKindName(outcome.kind) + ": " + outcome.message;
}
std::string ReplyText(const sila::ActivationResult& result) { return ReplyText(result.outcome); }
std::string ReplyText(const sila::InventoryResult& result) { return ReplyText(result.outcome); }
std::string ReplyText(const sila::BarcodeResult& result) {
    return result.outcome.ok() ? result.barcode : ReplyText(result.outcome);
}

std::string Joined(std::initializer_list<std::string> fields) {
    std::string text;
    for (const auto& field : fields) text += (text.empty() ? "" : ",") + field;
    return text;
}

// The backend runs a command of a SiLA client it does not know: the trail has no peer for it.
template <class Run>
auto Recorded(const TKRBId& unit, const char* command, std::string arguments, Run run) {
    history::CommandScope scope(history::NewOrigin(history::Interface::Sila, "", unit.UnitId,
                                                   command, std::move(arguments)));
    auto result = run();
    scope.SetReply(ReplyText(result));
    return result;
}

std::string TubeMoveArguments(const sila::TubeMove& move) {
    return Joined({std::to_string(move.source.kind), std::to_string(move.source.cassette),
                   std::to_string(move.source.level), std::to_string(move.source.first),
                   std::to_string(move.source.second), std::to_string(move.target.kind),
                   std::to_string(move.target.cassette), std::to_string(move.target.level),
                   std::to_string(move.target.first), std::to_string(move.target.second)});
}

std::vector<sila::PlateLocation> LocationsOf(const std::vector<std::string>& lines) {
    std::vector<sila::PlateLocation> locations;
    for (const auto& line : lines) {
        const ContentsFields fields = SplitContentsLine(line);
        const auto cassette = ParseInt32(fields[kCassetteField]);
        const auto level = ParseInt32(fields[kLevelField]);
        if (!cassette || !level) continue;  // the header, or a line that names no location
        locations.push_back(
            {*cassette, *level, fields[kPresentField] == "1", fields[kBarcodeField]});
    }
    return locations;
}

}  // namespace

sila::ClimateReadings ClimateReadingsOf(const TKRBId& unit, const std::string& reading) {
    std::vector<std::string> fields = SplitAt(reading, ';');
    fields.resize(4);  // a missing field reads as empty: unknown
    sila::ClimateReadings values;
    if (unit.Temperature) values.temperature = NumberOf(fields[0]);
    if (unit.Humidity) values.humidity = NumberOf(fields[1]);
    if (unit.CO2Gassing) values.co2 = NumberOf(fields[2]);
    if (unit.N2Gassing) values.n2 = NumberOf(fields[3]);
    return values;
}

Outcome MoveOutcomeOf(std::int32_t result, const UnitDirectory& directory) {
    if (result == 1) return Outcome::done();
    if (result == 0) return Failure(Kind::UnitBusy, DescribeLibraryMoveCode(result));
    const auto step = result < 10 ? std::nullopt : FailedStepOf(result, &directory);
    if (!step) return Failure(Kind::Failed, DescribeLibraryMoveCode(result));
    return Failure(
        Kind::MotionFailed,
        (step->Unit ? step->Unit->UnitId : "unit on port " + step->Port) + " step " + step->Step);
}

LabUnitBackend::LabUnitBackend(TKRBId& unit, const UnitDirectory& directory)
    : unit_(unit), directory_(directory) {}

// --- identity and status ----------------------------------------------------------------------

sila::UnitIdentity LabUnitBackend::identity() const {
    sila::UnitIdentity identity;
    identity.unitId = unit_.UnitId;
    identity.serverType = unit_.Cascader ? "Cascader" : unit_.Ext ? "ExtensionStore" : "PlateStore";
    identity.description = unit_.UnitId +
                           (unit_.UnitName.empty() ? "" : " (" + unit_.UnitName + ")") + " in " +
                           unit_.SystemName;
    identity.hasReader = unit_.BCR;
    identity.hasClimate = HasClimate();
    return identity;
}

bool LabUnitBackend::ReadsClimate() const { return HasClimate() && unit_.Activated; }

bool LabUnitBackend::HasClimate() const {
    return unit_.Temperature || unit_.Humidity || unit_.CO2Gassing || unit_.N2Gassing;
}

// What the polls last read; while the unit does not answer, only what the server itself
// knows (activation, a move it runs) is known.
sila::UnitStatus LabUnitBackend::status() const { return StatusWith(platform::linkCounters()); }

sila::UnitStatus LabUnitBackend::StatusWith(const LinkStates& links) const {
    sila::UnitStatus status;
    status.activated = unit_.Activated.load();
    const auto link = ControllerLinkOf(unit_, links);
    const bool answering = unit_.Activated && link && link->Answering();
    status.linkUp = answering;
    if (unit_.MoveBusy) status.busy = true;
    if (!answering) return status;
    status.busy = unit_.Busy || unit_.MoveBusy;
    status.doorOpen = !unit_.Cascader && unit_.DoorOpened;
    if (!unit_.Error) {
        status.errorCode = 0;
        status.errorMessage = "";
    } else if (const std::int32_t code = unit_.ErrorCode; code != 0) {
        status.errorCode = code;
        status.errorMessage = decodeErrorCode(code);
    }
    return status;
}

std::string LabUnitBackend::StatusSignature(const LinkStates& links) const {
    const auto status = StatusWith(links);
    std::string signature;
    for (const auto& flag : {status.activated, status.busy, status.doorOpen, status.linkUp}) {
        signature += flag ? (*flag ? '1' : '0') : '?';
    }
    signature += status.errorCode ? std::to_string(*status.errorCode) : "?";
    std::lock_guard lock(mutex_);
    if (climate_) {
        for (const auto& value :
             {climate_->temperature, climate_->humidity, climate_->co2, climate_->n2}) {
            signature += ";" + (value ? std::to_string(*value) : std::string("?"));
        }
    }
    return signature;
}

void LabUnitBackend::setStatusListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void LabUnitBackend::NotifyIfChanged(const LinkStates& links) {
    const std::string signature = StatusSignature(links);
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        if (signature == lastSignature_) return;
        lastSignature_ = signature;
        listener = listener_;
    }
    if (listener) listener();
}

// --- unit control -----------------------------------------------------------------------------

sila::ActivationResult LabUnitBackend::activate() {
    return Recorded(unit_, "Activate", "", [this]() -> sila::ActivationResult {
        const std::string reply = unit_.ActivateUnit();
        if (reply == "1" || reply.starts_with("1;")) return {Outcome::done(), reply == "1;1"};
        return {Failure(Kind::ActivationFailed, "activation answered " + reply), false};
    });
}

sila::Outcome LabUnitBackend::deactivate() {
    return Recorded(unit_, "Deactivate", "", [this] {
        unit_.Deactivate2();
        return Outcome::done();
    });
}

sila::Outcome LabUnitBackend::softReset() {
    return Recorded(unit_, "SoftReset", "", [this] {
        const std::string reply = unit_.SoftReset();
        if (reply == "1") return Outcome::done();
        return Failure(Kind::Failed, "soft reset answered " + reply);
    });
}

// --- plate moves ------------------------------------------------------------------------------

// true or false when the detector answered; empty when it could not be read.
std::optional<bool> LabUnitBackend::PlateAt(TKRBId& unit, long cassette, long level) {
    const std::string reply = unit.ServiceIsPlateAtLocation2(static_cast<std::int32_t>(cassette),
                                                             static_cast<std::int32_t>(level));
    if (reply == "1") return true;
    if (reply == "0") return false;
    return std::nullopt;
}

// A refusal before anything moves: a unit not activated, an empty source, an occupied target.
// A detector that cannot be read decides nothing: the move itself then tells.
std::optional<sila::Outcome> LabUnitBackend::MoveRefusal(const sila::PlateMove& move,
                                                         TKRBId& target) {
    for (const TKRBId* unit : {&unit_, &target}) {
        if (!unit->Activated)
            return Failure(Kind::UnitNotActivated, unit->UnitId + " is not activated");
    }
    if (PlateAt(unit_, move.sourceCassette, move.sourceLevel) == false) {
        return Failure(Kind::SourceEmpty, unit_.UnitId + " " + std::to_string(move.sourceCassette) +
                                              "/" + std::to_string(move.sourceLevel) +
                                              " holds no plate");
    }
    if (PlateAt(target, move.targetCassette, move.targetLevel) == true) {
        return Failure(Kind::TargetOccupied,
                       target.UnitId + " " + std::to_string(move.targetCassette) + "/" +
                           std::to_string(move.targetLevel) + " holds a plate");
    }
    return std::nullopt;
}

sila::Outcome LabUnitBackend::movePlate(const sila::PlateMove& move,
                                        const sila::ProgressFn& progress) {
    return Recorded(unit_, "MovePlate",
                    Joined({std::to_string(move.sourceCassette), std::to_string(move.sourceLevel),
                            move.targetUnit, std::to_string(move.targetCassette),
                            std::to_string(move.targetLevel)}),
                    [&] { return RunMove(move, progress); });
}

sila::Outcome LabUnitBackend::RunMove(const sila::PlateMove& move,
                                      const sila::ProgressFn& progress) {
    TKRBId* target = move.targetUnit.empty() ? &unit_ : directory_.FindUnitById(move.targetUnit);
    if (!target) return Failure(Kind::UnknownUnit, "no unit " + move.targetUnit);
    const TFlagClaim moving(unit_.MoveBusy);
    if (!moving.Claimed()) return Failure(Kind::UnitBusy, unit_.UnitId + " runs a move");
    if (auto refusal = MoveRefusal(move, *target)) return *refusal;
    if (progress) progress(0.0);
    const bool cascade = target != &unit_;
    const std::array<std::int32_t, 11> arguments{kSlotAndLevel,
                                                 static_cast<std::int32_t>(move.sourceCassette),
                                                 static_cast<std::int32_t>(move.sourceLevel),
                                                 cascade ? CascadeSlotOf(unit_) : 0,
                                                 0,
                                                 target->ComPort,
                                                 kSlotAndLevel,
                                                 static_cast<std::int32_t>(move.targetCassette),
                                                 static_cast<std::int32_t>(move.targetLevel),
                                                 cascade ? CascadeSlotOf(*target) : 0,
                                                 0};
    const Outcome outcome = MoveOutcomeOf(unit_.ServiceMoveWhileClaimed(arguments), directory_);
    if (outcome.ok() && progress) progress(1.0);
    return outcome;
}

// --- inventory and contents -------------------------------------------------------------------

sila::InventoryResult LabUnitBackend::scanInventory(const std::string& partition,
                                                    const sila::ProgressFn& progress) {
    return Recorded(unit_, "ScanInventory", partition,
                    [&] { return RunInventory(partition, progress); });
}

sila::InventoryResult LabUnitBackend::RunInventory(const std::string& partition,
                                                   const sila::ProgressFn& progress) {
    if (!partition.empty()) {
        bool known = false;
        for (const auto& sector : unit_.Sectors) known = known || sector->Name == partition;
        if (!known) return {Failure(Kind::UnknownPartition, "no partition " + partition), {}};
    }
    if (!unit_.Activated)
        return {Failure(Kind::UnitNotActivated, unit_.UnitId + " is not activated"), {}};
    if (progress) progress(0.0);
    std::string reply;
    try {
        reply = partition.empty() ? unit_.InventoryPlateExport(true, unit_.BCR)
                                  : unit_.PartitionInventoryPlateExport(partition, true, unit_.BCR);
    } catch (const TContentsFileError& error) {
        return {Failure(Kind::Failed, error.what()), {}};
    }
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) reply.pop_back();
    if (reply != "1") return {Failure(Kind::Failed, "the scan answered " + reply), {}};
    if (progress) progress(1.0);
    auto contents = this->contents();
    return {contents.outcome, std::move(contents.locations)};
}

sila::ContentsResult LabUnitBackend::contents() {
    std::optional<std::vector<std::string>> lines;
    {
        const auto held = unit_.Hold(TKRBId::ContentsLock);
        lines = LoadTextLines(unit_.ContentsFile);
    }
    if (!lines) return {Failure(Kind::Failed, "the contents file cannot be read"), {}};
    return {Outcome::done(), LocationsOf(*lines)};
}

// --- barcodes and climate ---------------------------------------------------------------------

sila::BarcodeResult LabUnitBackend::readBarcode(long cassette, long level) {
    return Recorded(unit_, "ReadBarcode", Joined({std::to_string(cassette), std::to_string(level)}),
                    [&] { return RunBarcodeRead(cassette, level); });
}

sila::BarcodeResult LabUnitBackend::RunBarcodeRead(long cassette, long level) {
    if (!unit_.Activated)
        return {Failure(Kind::UnitNotActivated, unit_.UnitId + " is not activated"), {}};
    std::string reply = unit_.ServiceReadBarcode2(static_cast<std::int32_t>(cassette),
                                                  static_cast<std::int32_t>(level));
    if (reply == "No Barcode" || reply == "No Plate") return {Failure(Kind::NoBarcode, reply), {}};
    if (reply == "BCRError" || reply == "InitError")
        return {Failure(Kind::ReaderFailed, reply), {}};
    if (reply.empty() || reply == "TSET Error" || reply == "Synchronization Error" ||
        reply == "Error") {
        return {Failure(Kind::Failed, reply.empty() ? "no reading" : reply), {}};
    }
    return {Outcome::done(), std::move(reply)};
}

void LabUnitBackend::ReadClimate() {
    std::optional<sila::ClimateReadings> reading;
    const auto timeOutsBefore = platform::linkTimeOutsOfThisThread();
    const std::string text = unit_.ReadActualClimate2();
    // A value read while the unit did not answer is not known, whatever the text says.
    if (platform::linkTimeOutsOfThisThread() == timeOutsBefore) {
        reading = ClimateReadingsOf(unit_, text);
    } else {
        reading = sila::ClimateReadings{};
    }
    std::lock_guard lock(mutex_);
    climate_ = reading;
}

std::optional<sila::ClimateReadings> LabUnitBackend::climate() const {
    std::lock_guard lock(mutex_);
    return climate_;
}

sila::Outcome LabUnitBackend::setClimate(const sila::TargetClimate& target) {
    const std::array<std::string, 4> values{NumberText(target.temperature),
                                            NumberText(target.humidity), NumberText(target.co2),
                                            NumberText(target.n2)};
    return Recorded(
        unit_, "SetTargetClimate", Joined({values[0], values[1], values[2], values[3]}), [&] {
            if (!unit_.Activated)
                return Failure(Kind::UnitNotActivated, unit_.UnitId + " is not activated");
            unit_.WriteSetClimate2(values[0], values[1], values[2], values[3]);
            return Outcome::done();
        });
}

// --- tubes: no unit of the server's configuration is a tube store -----------------------------

sila::Outcome LabUnitBackend::moveVial(const sila::TubeMove& move, const sila::ProgressFn&) {
    return Recorded(unit_, "MoveVial", TubeMoveArguments(move), [this] {
        return Failure(Kind::Failed, unit_.UnitId + " is not a tube store");
    });
}

sila::Outcome LabUnitBackend::moveTube(const sila::TubeMove& move, const sila::ProgressFn&) {
    return Recorded(unit_, "MoveTube", TubeMoveArguments(move), [this] {
        return Failure(Kind::Failed, unit_.UnitId + " is not a tube store");
    });
}

sila::BarcodeResult LabUnitBackend::readVialBarcode(long first, long second) {
    return Recorded(unit_, "ReadVialBarcode",
                    Joined({std::to_string(first), std::to_string(second)}), [this] {
                        return sila::BarcodeResult{
                            Failure(Kind::Failed, unit_.UnitId + " is not a tube store"), {}};
                    });
}

}  // namespace krb::server
