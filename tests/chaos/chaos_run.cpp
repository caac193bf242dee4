#include "chaos_run.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <iomanip>
#include <optional>
#include <set>
#include <thread>

#include "chaos_lab.h"
#include "platform/clock.h"
#include "schedule.h"
#include "watchers.h"

namespace krb::chaos {
namespace {

using Clock = std::chrono::steady_clock;

// The cascade hands plates over at level 3 of these slots (code 0 on both sides).
constexpr int kBaseCascadeSlot = 1, kExtCascadeSlot = 2, kCascadeLevel = 3;
constexpr int kIntermittentMs = 400;  // how often an intermittent line misbehaves again
constexpr int kAnswerTries = 40;
constexpr auto kAnswerPause = std::chrono::milliseconds(250);
constexpr auto kIdleLimit = std::chrono::seconds(60);

const std::vector<std::string> kStrayTexts{"1", "0", "OK", "00001", "E1"};
const std::vector<std::string> kErrorCodes{"7210", "1909", "2311"};

bool reserved(int com, const Position& position) {
    return (com == demoUnit("Base1").com &&
            position == Position{kBaseCascadeSlot, kCascadeLevel}) ||
           (com == demoUnit("Ext1").com && position == Position{kExtCascadeSlot, kCascadeLevel});
}

std::string positionText(const Position& position) {
    return std::to_string(position.first) + "," + std::to_string(position.second);
}

sim::Place slotPlace(int com, const Position& position) {
    return sim::Place::slot(com, position.first, position.second);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string comName(int com) { return "COM" + std::to_string(com); }

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A step ready to run: the command, the units it uses and what to check once it answered.
struct PreparedStep {
    std::string description;
    std::string command;
    bool scanReply = false;
    std::vector<const DemoUnit*> units;
    std::function<void(const std::string& reply)> check;
};

struct Injection {
    int com = 0;
    std::function<void()> start;
    std::function<void()> lift;  // none: the fault ends by itself
    int repeatNominalMs = 0;     // an intermittent fault: started again this often while it lasts
    std::string description;
};

class ChaosRun {
  public:
    explicit ChaosRun(const ChaosOptions& options)
        : options_(options), lab_(options.cassetteScans), schedule_(options.seed) {
        report_.seed = options.seed;
        for (const char* name : {kRecordsInvariant, kSuccessInvariant, kDevicesInvariant,
                                 kAnswersInvariant, kSurfacesInvariant})
            report_.invariants[name];
    }

    ChaosReport run() {
        const auto started = Clock::now();
        for (const auto& unit : demoUnits()) activate(unit);
        Watchers watchers(lab_);
        watchers_ = &watchers;
        const auto deadline = Clock::now() + std::chrono::duration<double>(options_.seconds);
        for (int number = 1; Clock::now() < deadline; ++number) runStep(number, schedule_.next());
        setContext("at the end");
        watchers.stop();
        finalChecks();
        watchers_ = nullptr;
        // The watchers name the step of each violation themselves.
        setContext("");
        record(kDevicesInvariant, watchers.devices());
        Findings surfaces = watchers.notifications();
        surfaces.add(watchers.views());
        record(kSurfacesInvariant, surfaces);
        report_.notificationLines = watchers.notificationLines();
        report_.viewsFetched = watchers.viewsFetched();
        report_.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        return report_;
    }

  private:
    // --- one step

    void runStep(int number, const Step& step) {
        auto prepared = prepare(step);
        if (!prepared) return;
        std::optional<Injection> injection;
        if (step.fault) injection = plan(*step.fault, *prepared);
        setContext("step " + std::to_string(number) + " (" + prepared->description +
                   (injection ? "; " + injection->description : "") + ")");
        ++report_.operations;
        ++report_.operationsByKind[operationName(step.operation)];
        const auto began = Clock::now();
        const std::string reply = execute(*prepared, step.fault, injection);
        const auto answered = Clock::now();
        const auto violationsBefore = report_.violations();
        prepared->check(reply);
        std::set<const DemoUnit*> touched(prepared->units.begin(), prepared->units.end());
        if (injection) touched.insert(&unitOnPort(injection->com));
        recover(touched);
        if (options_.progress != nullptr)
            *options_.progress << context_ << ": '" << reply << "' after " << secondsSince(began)
                               << " s, recovered after " << secondsSince(answered) << " s, "
                               << report_.violations() - violationsBefore << " violation(s)\n"
                               << std::flush;
    }

    std::string execute(const PreparedStep& prepared, const std::optional<FaultPlan>& fault,
                        const std::optional<Injection>& injection) {
        auto reply = std::async(std::launch::async,
                                [&] { return lab_.ask(prepared.command, prepared.scanReply); });
        if (injection) {
            if (reply.wait_for(platform::scaled(fault->startNominalMs)) ==
                std::future_status::ready) {
                ++report_.faultsTooLate;
            } else {
                ++report_.faults;
                ++report_.faultsByKind[faultName(fault->kind)];
                hold(*injection, fault->nominalMs, reply);
            }
        }
        const std::string answer = reply.get();
        lab_.startDeviceServer();
        for (const auto& unit : demoUnits()) clearFaults(unit.com);
        lab_.noteDevices();
        return answer;
    }

    // Starts the fault and keeps it (starting it again at its interval) for its time or until
    // the operation has answered, whichever comes first; then lifts it.
    void hold(const Injection& injection, int nominalMs, std::future<std::string>& reply) {
        const auto end = Clock::now() + platform::scaled(nominalMs);
        injection.start();
        if (injection.repeatNominalMs > 0) {
            while (Clock::now() < end &&
                   reply.wait_for(platform::scaled(injection.repeatNominalMs)) !=
                       std::future_status::ready)
                injection.start();
        } else if (injection.lift) {
            reply.wait_until(end);
        }
        if (injection.lift) injection.lift();
    }

    Injection plan(const FaultPlan& fault, const PreparedStep& prepared) {
        const DemoUnit& unit = *prepared.units[fault.unitPick % prepared.units.size()];
        Injection injection;
        injection.com = unit.com;
        const std::string com = comName(unit.com);
        const std::string held = " for " + std::to_string(fault.nominalMs) + " ms";
        switch (fault.kind) {
            case FaultKind::Silence:
                injection.start = line("FAULT " + com + " silent");
                injection.lift = line("CLEAR " + com);
                injection.description = "silence" + held;
                break;
            case FaultKind::Drop:
                injection.start = line("FAULT " + com + " drop " + std::to_string(fault.count));
                injection.repeatNominalMs = kIntermittentMs;
                injection.description = std::to_string(fault.count) + " command(s) dropped every " +
                                        std::to_string(kIntermittentMs) + " ms" + held;
                break;
            case FaultKind::Garble:
                injection.start = line("FAULT " + com + " garble " + std::to_string(fault.count));
                injection.repeatNominalMs = kIntermittentMs;
                injection.description = std::to_string(fault.count) + " reply(ies) garbled every " +
                                        std::to_string(kIntermittentMs) + " ms" + held;
                break;
            case FaultKind::LateReplies: {
                const int lateMs = 100 + fault.nominalMs / 2;
                injection.start = line("FAULT " + com + " late " + std::to_string(lateMs));
                injection.lift = line("CLEAR " + com);
                injection.description = "replies " + std::to_string(lateMs) + " ms late" + held;
                break;
            }
            case FaultKind::StrayReply: {
                const std::string& text = kStrayTexts[fault.variant % kStrayTexts.size()];
                injection.start = line("FAULT " + com + " stray " + text);
                injection.repeatNominalMs = kIntermittentMs;
                injection.description = "stray reply '" + text + "' every " +
                                        std::to_string(kIntermittentMs) + " ms" + held;
                break;
            }
            case FaultKind::Reset:
                injection.start = line("FAULT " + com + " reset");
                injection.description = "controller reset";
                break;
            case FaultKind::PowerCycle:
                injection.start = line("FAULT " + com + " power off");
                injection.lift = line("FAULT " + com + " power on");
                injection.description = "power off" + held;
                break;
            case FaultKind::ReaderLoss: {
                const DemoUnit& withReader = readerUnit(prepared);
                injection.com = withReader.com;
                injection.start = line("FAULT " + comName(withReader.com) + " reader silent");
                injection.lift = line("CLEAR " + comName(withReader.com));
                injection.description = "reader lost" + held;
                return finish(injection, withReader);
            }
            case FaultKind::DeviceServerRestart: {
                const DemoUnit& served = lab_.deviceServerUnit();
                injection.com = served.com;
                injection.start = [this] { lab_.stopDeviceServer(); };
                injection.lift = [this] { lab_.startDeviceServer(); };
                injection.description = "reader's device server down" + held;
                return finish(injection, served);
            }
            case FaultKind::MotionError: {
                const std::string& code = kErrorCodes[fault.variant % kErrorCodes.size()];
                injection.start = line("FAULT " + com + " error " + code);
                injection.description = "motion error " + code;
                break;
            }
            case FaultKind::DoorOpen:
                injection.start = line("FAULT " + com + " door open");
                injection.lift = line("FAULT " + com + " door closed");
                injection.description = "door open" + held;
                break;
        }
        injection.description += " after " + std::to_string(fault.startNominalMs) + " ms";
        return finish(injection, unit);
    }

    std::function<void()> line(const std::string& text) {
        return [this, text] { lab_.control(text); };
    }

    static Injection finish(Injection injection, const DemoUnit& unit) {
        injection.description += " on " + unit.id;
        return injection;
    }

    // A unit of the step whose reader has a port of its own, else the plate store's.
    const DemoUnit& readerUnit(const PreparedStep& prepared) {
        for (const DemoUnit* unit : prepared.units)
            if (lab_.sim().reader(unit->com) != nullptr) return *unit;
        return demoUnit("Store4");
    }

    const DemoUnit& unitOnPort(int com) {
        for (const auto& unit : demoUnits())
            if (unit.com == com) return unit;
        throw std::out_of_range(comName(com));
    }

    // --- the operations

    std::optional<PreparedStep> prepare(const Step& step) {
        switch (step.operation) {
            case Operation::MoveWithinUnit:
                return moveWithinUnit(step.picks);
            case Operation::MoveAcrossCascade:
                return moveAcrossCascade(step.picks);
            case Operation::ScanWholeUnit:
                return scan(step.picks, false);
            case Operation::ScanPartition:
                return scan(step.picks, true);
            case Operation::AskDetector:
                return askDetector(step.picks);
            case Operation::ReadBarcode:
                return readBarcode(step.picks);
            case Operation::UpdatePlate:
                return updatePlate(step.picks);
            case Operation::UpdateSlot:
                return updateSlot(step.picks);
        }
        return std::nullopt;
    }

    const DemoUnit& pickStore(std::uint32_t pick) {
        const auto stores = plateStores();
        return *stores[pick % stores.size()];
    }

    std::vector<Position> occupiedPositions(int com) {
        std::vector<Position> found;
        for (const auto& [position, label] : lab_.slotLabels(com))
            if (!reserved(com, position)) found.push_back(position);
        return found;
    }

    std::vector<Position> freePositions(int com) {
        const auto labels = lab_.slotLabels(com);
        std::vector<Position> found;
        for (const auto& position : lab_.positions(com))
            if (labels.count(position) == 0 && !reserved(com, position)) found.push_back(position);
        return found;
    }

    // An occupied position for even picks (when there is one), any position otherwise.
    Position pickPosition(int com, std::uint32_t kind, std::uint32_t pick) {
        const auto plates = occupiedPositions(com);
        if (kind % 2 == 0 && !plates.empty()) return plates[pick % plates.size()];
        const auto all = lab_.positions(com);
        return all[pick % all.size()];
    }

    std::optional<PreparedStep> move(const DemoUnit& from, const DemoUnit& to, int fromCascade,
                                     int toCascade, const std::vector<std::uint32_t>& picks,
                                     std::vector<const DemoUnit*> units) {
        const auto sources = occupiedPositions(from.com);
        const auto targets = freePositions(to.com);
        if (sources.empty() || targets.empty()) return std::nullopt;
        const Position source = sources[picks[1] % sources.size()];
        const Position target = targets[picks[2] % targets.size()];
        const int plate = lab_.plateIdAt(slotPlace(from.com, source)).value_or(0);
        PreparedStep step;
        step.description = "move " + from.id + " " + positionText(source) + " to " + to.id + " " +
                           positionText(target);
        step.command = "KRB2ServiceMovePlate(" + from.id + ",2," + positionText(source) + "," +
                       std::to_string(fromCascade) + ",0," + to.id + ",2," + positionText(target) +
                       "," + std::to_string(toCascade) + ",0)";
        step.units = std::move(units);
        step.check = [this, plate, source, target, fromCom = from.com, toCom = to.com,
                      what = step.description](const std::string& reply) {
            record(kSuccessInvariant,
                   checkMove(reply, plate, lab_.plateIdAt(slotPlace(fromCom, source)),
                             lab_.plateIdAt(slotPlace(toCom, target)), what));
        };
        return step;
    }

    std::optional<PreparedStep> moveWithinUnit(const std::vector<std::uint32_t>& picks) {
        const DemoUnit& unit = pickStore(picks[0]);
        return move(unit, unit, 0, 0, picks, {&unit});
    }

    std::optional<PreparedStep> moveAcrossCascade(const std::vector<std::uint32_t>& picks) {
        const DemoUnit& base = demoUnit("Base1");
        const DemoUnit& ext = demoUnit("Ext1");
        const std::vector<const DemoUnit*> units{&base, &demoUnit("Cascader1"), &ext};
        if (picks[0] % 2 == 0)
            return move(base, ext, kBaseCascadeSlot, kExtCascadeSlot, picks, units);
        return move(ext, base, kExtCascadeSlot, kBaseCascadeSlot, picks, units);
    }

    std::optional<PreparedStep> scan(const std::vector<std::uint32_t>& picks, bool partition) {
        const DemoUnit& unit = pickStore(picks[0]);
        const bool barcodes = picks[2] % 2 == 1;
        ScanClaim claim;
        claim.barcodes = barcodes;
        PreparedStep step;
        const std::string flags = std::string(",1,") + (barcodes ? "1" : "0") + ")";
        if (options_.cassetteScans) {
            const auto& cassettes = lab_.sim().unit(unit.com).cassettes;
            const int cassette = cassettes[picks[1] % cassettes.size()].slot;
            claim.cassettes = {cassette};
            step.description = "scan of " + unit.id + " cassette " + std::to_string(cassette);
            step.command = "KRB2PartitionInventoryExp(" + unit.id + ",chaos," +
                           cassettePartition(cassette) + flags;
        } else if (partition) {
            const Partition& chosen = unit.partitions[picks[1] % unit.partitions.size()];
            claim.cassettes = chosen.cassettes;
            step.description = "scan of " + unit.id + " " + chosen.name;
            step.command = "KRB2PartitionInventoryExp(" + unit.id + ",chaos," + chosen.name + flags;
        } else {
            for (const auto& cassette : lab_.sim().unit(unit.com).cassettes)
                claim.cassettes.insert(cassette.slot);
            step.description = "scan of " + unit.id;
            step.command = "KRB2InventoryPlateExp(" + unit.id + ",chaos" + flags;
        }
        step.description += barcodes ? " with barcodes" : " without barcodes";
        step.scanReply = true;
        step.units = {&unit};
        step.check = [this, &unit, claim, before = lab_.contents(unit)](const std::string& reply) {
            ScanClaim answered = claim;
            answered.success = reply == "1";
            Findings records, success;
            checkScan(before, lab_.contents(unit), lab_.slotLabels(unit.com), answered, records,
                      success);
            record(kRecordsInvariant, records);
            record(kSuccessInvariant, success);
        };
        return step;
    }

    std::optional<PreparedStep> askDetector(const std::vector<std::uint32_t>& picks) {
        const DemoUnit& unit = pickStore(picks[0]);
        const Position position = pickPosition(unit.com, picks[1], picks[2]);
        PreparedStep step;
        step.description = "is a plate at " + unit.id + " " + positionText(position);
        step.command =
            "KRB2ServiceIsPlateAtLocation(" + unit.id + "," + positionText(position) + ")";
        step.units = {&unit};
        step.check = [this, &unit, position, what = step.description](const std::string& reply) {
            const bool occupied = lab_.plateIdAt(slotPlace(unit.com, position)).has_value();
            record(kSuccessInvariant, checkDetectorAnswer(reply, occupied, what));
        };
        return step;
    }

    std::optional<PreparedStep> readBarcode(const std::vector<std::uint32_t>& picks) {
        const DemoUnit& unit = pickStore(picks[0]);
        const Position position = pickPosition(unit.com, picks[1], picks[2]);
        PreparedStep step;
        step.description = "barcode at " + unit.id + " " + positionText(position);
        step.command = "KRB2ServiceReadBarcode(" + unit.id + "," + positionText(position) + ")";
        step.units = {&unit};
        step.check = [this, &unit, position, what = step.description](const std::string& reply) {
            const auto labels = lab_.slotLabels(unit.com);
            const auto found = labels.find(position);
            record(kSuccessInvariant,
                   checkBarcodeAnswer(
                       reply, found == labels.end() ? std::nullopt : std::optional(found->second),
                       what));
        };
        return step;
    }

    std::optional<PreparedStep> updatePlate(const std::vector<std::uint32_t>& picks) {
        static const std::vector<std::string> kinds{"Name", "BCR", "PP"};
        const DemoUnit& unit = pickStore(picks[0]);
        const auto records = lab_.contents(unit);
        if (records.empty()) return std::nullopt;
        const std::size_t index = picks[1] % records.size();
        const std::string& kind = kinds[picks[2] % kinds.size()];
        const std::string value = kind == "Name"  ? "Chaos " + std::to_string(picks[3] % 1000)
                                  : kind == "BCR" ? "C" + std::to_string(picks[3] % 10000)
                                                  : std::to_string(picks[3] % 2);
        PreparedStep step;
        step.description = "UpdatePlate" + kind + " of " + unit.id + " location " +
                           records[index].slotNo + " to '" + value + "'";
        step.command =
            "UpdatePlate" + kind + "(" + unit.id + "," + records[index].slotNo + "," + value + ")";
        step.units = {&unit};
        step.check = [this, &unit, index, kind, value,
                      what = step.description](const std::string& reply) {
            if (reply != "1") return;
            const auto after = lab_.contents(unit);
            const Record* line = index < after.size() ? &after[index] : nullptr;
            const std::string shown = line == nullptr  ? "<no line>"
                                      : kind == "Name" ? line->name
                                      : kind == "BCR"  ? line->barcode
                                                       : line->present;
            Findings findings;
            ++findings.checks;
            if (shown != value)
                findings.violations.push_back(what + " answered 1 but the file shows '" + shown +
                                              "'");
            record(kSuccessInvariant, findings);
        };
        return step;
    }

    // The cassette's own pitch or levels again: the file must keep every line.
    std::optional<PreparedStep> updateSlot(const std::vector<std::uint32_t>& picks) {
        const DemoUnit& unit = pickStore(picks[0]);
        const auto& cassettes = lab_.sim().unit(unit.com).cassettes;
        const auto& cassette = cassettes[picks[1] % cassettes.size()];
        const bool levels = picks[2] % 2 == 1;
        const std::string value = std::to_string(levels ? cassette.levels : cassette.pitch);
        PreparedStep step;
        step.description = std::string(levels ? "UpdateSlotLevels" : "UpdateSlotZPitch") + " of " +
                           unit.id + " cassette " + std::to_string(cassette.slot) + " to " + value;
        step.command = std::string(levels ? "UpdateSlotLevels(" : "UpdateSlotZPitch(") + unit.id +
                       "," + std::to_string(cassette.slot) + "," + value + ")";
        step.units = {&unit};
        step.check = [this, &unit, slot = cassette.slot, count = cassette.levels,
                      what = step.description](const std::string& reply) {
            if (reply != "1") return;
            int lines = 0;
            for (const auto& line : lab_.contents(unit))
                if (line.cassette == std::to_string(slot)) ++lines;
            Findings findings;
            ++findings.checks;
            if (lines != count)
                findings.violations.push_back(what + " answered 1 but the file has " +
                                              std::to_string(lines) + " lines for it");
            record(kSuccessInvariant, findings);
        };
        return step;
    }

    // --- the operator after a step

    void clearFaults(int com) {
        lab_.control("CLEAR " + comName(com));
        lab_.control("FAULT " + comName(com) + " door closed");
    }

    void recover(const std::set<const DemoUnit*>& units) {
        tidyLoosePlates();
        for (const DemoUnit* unit : units) {
            awaitIdle(*unit);
            bringBack(*unit);
            checkAnswers(*unit);
        }
    }

    // Plates a failed step left on a handler, a station or a cascade hand-over place go back
    // into a free slot of their unit (the base's, for the cascader's handler).
    void tidyLoosePlates() {
        for (const auto& placed : lab_.sim().world().all()) {
            const sim::Place& place = placed.place;
            const bool loose = place.kind == sim::PlaceKind::Shovel ||
                               place.kind == sim::PlaceKind::Station ||
                               (place.kind == sim::PlaceKind::Slot &&
                                reserved(place.unit, {place.first, place.second}));
            if (!loose || place.unit == demoUnit("Tubes5").com) continue;
            const int home =
                place.unit == demoUnit("Cascader1").com ? demoUnit("Base1").com : place.unit;
            const auto targets = freePositions(home);
            if (targets.empty()) continue;
            const std::string label = placed.plate.labelled ? placed.plate.barcode : "-";
            lab_.sim().world().remove(place);
            lab_.control("PUT " + comName(home) + " " + std::to_string(targets.front().first) +
                         " " + std::to_string(targets.front().second) + " " + label);
            ++report_.tidyUps;
        }
    }

    void awaitIdle(const DemoUnit& unit) {
        const auto deadline = Clock::now() + kIdleLimit;
        while (lab_.ask("KRB2IsOperationRunning(" + unit.id + ")") == "1" &&
               Clock::now() < deadline)
            std::this_thread::sleep_for(kAnswerPause);
    }

    // An error is acknowledged, and a unit whose controller lost its references (reset,
    // power cycle) is activated again, as an operator would.
    void bringBack(const DemoUnit& unit) {
        const std::string status = lab_.control("STATUS " + comName(unit.com));
        if (status.find("error=1") != std::string::npos) lab_.ask("KRB2SoftReset(" + unit.id + ")");
        if (status.find("referenced=0") != std::string::npos) activate(unit);
    }

    void activate(const DemoUnit& unit) {
        if (startsWith(lab_.ask("KRB2Activate(" + unit.id + ")"), "1")) return;
        lab_.ask("KRB2Deactivate(" + unit.id + ")");
        const std::string again = lab_.ask("KRB2Activate(" + unit.id + ")");
        Findings findings;
        ++findings.checks;
        if (!startsWith(again, "1"))
            findings.violations.push_back(unit.id + " cannot be activated again: '" + again + "'");
        record(kAnswersInvariant, findings);
    }

    // The unit's own controller answers: its serial number, which no other unit has.
    void checkAnswers(const DemoUnit& unit) {
        char expected[8];
        std::snprintf(expected, sizeof expected, "%05u",
                      static_cast<unsigned>(lab_.sim().controller(unit.com).registers().dm(109)));
        std::string reply;
        for (int attempt = 0; attempt < kAnswerTries; ++attempt) {
            reply = lab_.ask("KRB2ReadBackStr(" + unit.id + ",RD DM109)");
            if (reply == expected) break;
            std::this_thread::sleep_for(kAnswerPause);
        }
        Findings findings;
        ++findings.checks;
        if (reply != expected)
            findings.violations.push_back(unit.id + " answers '" + reply +
                                          "' to a read of its serial number " + expected);
        record(kAnswersInvariant, findings);
    }

    void finalChecks() {
        std::set<const DemoUnit*> all;
        for (const auto& unit : demoUnits()) {
            clearFaults(unit.com);
            all.insert(&unit);
        }
        recover(all);
        Findings traffic;
        for (const auto& unit : demoUnits()) {
            traffic.add(checkLineTraffic(lab_.sim().controller(unit.com).lines(), false,
                                         unit.id + "'s controller"));
            if (auto* reader = lab_.sim().reader(unit.com))
                traffic.add(checkLineTraffic(reader->lines(), true, unit.id + "'s reader"));
        }
        traffic.add(checkOpenDevices(openFileTargets(), lab_.labDevices()));
        record(kDevicesInvariant, traffic);
    }

    // --- counting

    void setContext(const std::string& context) {
        context_ = context;
        if (watchers_ != nullptr) watchers_->setContext(context);
    }

    void record(const char* invariant, const Findings& findings) {
        Findings& total = report_.invariants[invariant];
        total.checks += findings.checks;
        for (const auto& violation : findings.violations)
            total.violations.push_back(context_.empty() ? violation : context_ + ": " + violation);
    }

    ChaosOptions options_;
    ChaosLab lab_;
    Schedule schedule_;
    ChaosReport report_;
    std::string context_ = "at the start";
    Watchers* watchers_ = nullptr;
};

}  // namespace

int ChaosReport::violations() const {
    int count = 0;
    for (const auto& [name, findings] : invariants)
        count += static_cast<int>(findings.violations.size());
    return count;
}

void ChaosReport::print(std::ostream& out, std::size_t violationsListed) const {
    out << "chaos run: seed " << seed << ", " << std::fixed << std::setprecision(1) << seconds
        << " s, time scale " << std::setprecision(2) << platform::timeScale() << "\n";
    out << "operations: " << operations << "\n";
    for (const auto& [kind, count] : operationsByKind) out << "  " << kind << ": " << count << "\n";
    out << "faults injected: " << faults << " (" << faultsTooLate
        << " more came after their operation had ended)\n";
    for (const auto& [kind, count] : faultsByKind) out << "  " << kind << ": " << count << "\n";
    out << "plates put back by the operator: " << tidyUps << "\n";
    out << "notification lines: " << notificationLines << ", views fetched: " << viewsFetched
        << "\n";
    out << "invariant: checks, violations\n";
    for (const char* name : {kRecordsInvariant, kSuccessInvariant, kDevicesInvariant,
                             kAnswersInvariant, kSurfacesInvariant}) {
        const auto found = invariants.find(name);
        const Findings none;
        const Findings& findings = found == invariants.end() ? none : found->second;
        out << "  " << name << ": " << findings.checks << ", " << findings.violations.size()
            << "\n";
    }
    for (const auto& [name, findings] : invariants) {
        std::size_t listed = 0;
        for (const auto& violation : findings.violations)
            if (listed++ < violationsListed)
                out << "violation [" << name << "] " << violation << "\n";
        if (listed > violationsListed)
            out << "... and " << listed - violationsListed << " more violation(s) of " << name
                << "\n";
    }
    out << "total violations: " << violations() << "\n";
}

ChaosReport runChaos(const ChaosOptions& options) { return ChaosRun(options).run(); }

}  // namespace krb::chaos
