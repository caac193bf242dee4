#pragma once
// What the chaos run holds the lab to, as pure functions over what it observed: the contents
// records before and after a scan, the simulator's plates, the replies, the devices open.
// Each check gives the violations it found, one text per violation.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace krb::chaos {

// One line of a contents file, as far as a scan writes it.
struct Record {
    std::string slotNo;
    std::string cassette;
    std::string level;
    std::string present;
    std::string barcode;
    std::string name;
};

// What the simulator has at one slot position: the plate's label ("" for a plate without one).
using Position = std::pair<int, int>;  // cassette, level
using PlateLabels = std::map<Position, std::string>;

std::vector<Record> parseContents(const std::string& text);

struct ScanClaim {
    bool success = false;     // the scan answered "1"
    bool barcodes = false;    // the scan read barcodes
    std::set<int> cassettes;  // what it was asked to cover
};

struct Findings {
    int checks = 0;
    std::vector<std::string> violations;
    void add(const Findings& other);
};

// A field of a record (presence, barcode) that a scan changed must match the world; after a
// scan that answered success, every record it covered must match the world. A field the scan
// left as it was may be stale (it could not be read), and a scan without barcodes leaves the
// barcodes alone.
// The scan check and the success check are counted apart: `records` and `success`.
void checkScan(const std::vector<Record>& before, const std::vector<Record>& after,
               const PlateLabels& world, const ScanClaim& claim, Findings& records,
               Findings& success);

// A move answered "1" delivered the plate (`plateId` was at the source) to the target and
// left the source empty. Places are given as the simulator shows them, nullopt when empty.
Findings checkMove(const std::string& reply, int plateId, std::optional<int> atSourceAfter,
                   std::optional<int> atTargetAfter, const std::string& what);

// "1" and "0" of a detector question are claims about the world; other answers claim nothing.
Findings checkDetectorAnswer(const std::string& reply, bool occupied, const std::string& what);

// A barcode answer that is a code must be the code of the plate there.
Findings checkBarcodeAnswer(const std::string& reply, const std::optional<std::string>& label,
                            const std::string& what);

// Devices the process holds open that belong to no unit of the lab: any serial device
// outside the lab's pseudo-terminals (a real port a name fell back to, say).
Findings checkOpenDevices(const std::vector<std::string>& openTargets,
                          const std::set<std::string>& labDevices);

// A barcode reader's line hears only reader commands; a controller's line never hears them.
Findings checkLineTraffic(const std::vector<std::string>& lines, bool readerLine,
                          const std::string& what);

}  // namespace krb::chaos
