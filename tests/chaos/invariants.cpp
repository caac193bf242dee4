#include "invariants.h"

#include <sstream>

#include "lab/ContentsFile.h"

namespace krb::chaos {
namespace {

const std::set<std::string> kReaderCommands{"LON", "LOFF"};

// Answers of a barcode read that report a failure rather than a code.
const std::set<std::string> kBarcodeFailures{"",
                                             "No Barcode",
                                             "No Plate",
                                             "BCRError",
                                             "InitError",
                                             "TSET Error",
                                             "Synchronization Error",
                                             "Error"};

std::string describe(const Record& record) {
    return "cassette " + record.cassette + " level " + record.level + " present=" + record.present +
           " barcode='" + record.barcode + "'";
}

std::optional<int> number(const std::string& text) {
    try {
        std::size_t used = 0;
        const int value = std::stoi(text, &used);
        if (used == text.size()) return value;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<std::string> labelAt(const PlateLabels& world, const Record& record) {
    const auto cassette = number(record.cassette);
    const auto level = number(record.level);
    if (!cassette || !level) return std::nullopt;
    const auto found = world.find({*cassette, *level});
    if (found == world.end()) return std::nullopt;
    return found->second;
}

// Presence is always read; the barcode only by a scan with barcodes (and a scan without them
// must leave it alone).
bool presenceRight(const Record& record, const std::optional<std::string>& label) {
    return record.present == (label ? "1" : "0");
}

bool barcodeRight(const Record& record, const Record& before,
                  const std::optional<std::string>& label, bool barcodes) {
    return barcodes ? record.barcode == label.value_or("") : record.barcode == before.barcode;
}

std::string worldText(const std::optional<std::string>& label) {
    return label ? "the simulator has a plate '" + *label + "'" : "the simulator has none";
}

bool covered(const ScanClaim& claim, const Record& record) {
    const auto cassette = number(record.cassette);
    return cassette && claim.cassettes.count(*cassette) > 0;
}

}  // namespace

void Findings::add(const Findings& other) {
    checks += other.checks;
    violations.insert(violations.end(), other.violations.begin(), other.violations.end());
}

std::vector<Record> parseContents(const std::string& text) {
    std::vector<Record> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto fields = server::SplitContentsLine(line);
        records.push_back({fields[server::kSlotNoField], fields[server::kCassetteField],
                           fields[server::kLevelField], fields[server::kPresentField],
                           fields[server::kBarcodeField], fields[server::kUserIdField]});
    }
    return records;
}

void checkScan(const std::vector<Record>& before, const std::vector<Record>& after,
               const PlateLabels& world, const ScanClaim& claim, Findings& records,
               Findings& success) {
    ++records.checks;
    if (before.size() != after.size()) {
        records.violations.push_back("the scan changed the number of records from " +
                                     std::to_string(before.size()) + " to " +
                                     std::to_string(after.size()));
        return;
    }
    for (std::size_t i = 0; i < after.size(); ++i) {
        const Record& now = after[i];
        const Record& was = before[i];
        const auto label = labelAt(world, now);
        const bool presentRight = presenceRight(now, label);
        const bool codeRight = barcodeRight(now, was, label, claim.barcodes);
        const bool right = presentRight && codeRight;
        // A field the scan could not read keeps its value; a field it wrote must be right.
        const bool wrongAndChanged = (now.present != was.present && !presentRight) ||
                                     (now.barcode != was.barcode && !codeRight);
        ++records.checks;
        if (wrongAndChanged)
            records.violations.push_back("record changed to a wrong value: " + describe(now) +
                                         " (was present=" + was.present + " barcode='" +
                                         was.barcode + "'), " + worldText(label));
        if (!claim.success || !covered(claim, now)) continue;
        ++success.checks;
        if (!right)
            success.violations.push_back("the scan answered 1 but " + describe(now) + ", " +
                                         worldText(label));
    }
}

Findings checkMove(const std::string& reply, int plateId, std::optional<int> atSourceAfter,
                   std::optional<int> atTargetAfter, const std::string& what) {
    Findings findings;
    if (reply != "1") return findings;
    ++findings.checks;
    if (atTargetAfter != plateId || atSourceAfter)
        findings.violations.push_back(
            what + " answered 1 but the plate is " +
            (atTargetAfter == plateId ? "also still at the source" : "not at the target"));
    return findings;
}

Findings checkDetectorAnswer(const std::string& reply, bool occupied, const std::string& what) {
    Findings findings;
    if (reply != "1" && reply != "0") return findings;
    ++findings.checks;
    if ((reply == "1") != occupied)
        findings.violations.push_back(what + " answered " + reply + " but the simulator has " +
                                      (occupied ? "a plate there" : "none there"));
    return findings;
}

Findings checkBarcodeAnswer(const std::string& reply, const std::optional<std::string>& label,
                            const std::string& what) {
    Findings findings;
    if (kBarcodeFailures.count(reply) > 0 || (!reply.empty() && reply[0] == '-')) return findings;
    ++findings.checks;
    if (!label || *label != reply)
        findings.violations.push_back(what + " answered '" + reply + "' but " + worldText(label));
    return findings;
}

Findings checkOpenDevices(const std::vector<std::string>& openTargets,
                          const std::set<std::string>& labDevices) {
    Findings findings;
    ++findings.checks;
    for (std::string target : openTargets) {
        // A device that went away while still open reads "<path> (deleted)".
        if (const auto deleted = target.rfind(" (deleted)"); deleted != std::string::npos)
            target.erase(deleted);
        const bool serialDevice = target.rfind("/dev/tty", 0) == 0 ||
                                  (target.rfind("/dev/pts/", 0) == 0 && target != "/dev/ptmx");
        if (serialDevice && labDevices.count(target) == 0)
            findings.violations.push_back("a device outside the lab is open: " + target);
    }
    return findings;
}

Findings checkLineTraffic(const std::vector<std::string>& lines, bool readerLine,
                          const std::string& what) {
    Findings findings;
    ++findings.checks;
    for (const auto& line : lines) {
        if (line.empty()) continue;
        if ((kReaderCommands.count(line) > 0) != readerLine) {
            findings.violations.push_back(what + " heard '" + line + "', which is meant for " +
                                          (readerLine ? "a controller" : "a reader"));
            break;
        }
    }
    return findings;
}

}  // namespace krb::chaos
