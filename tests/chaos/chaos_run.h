#pragma once
// A seeded chaos run on the demo lab: a mixed workload through the server while the simulator
// injects serial faults into the units, each step checked against the invariants, and a count
// of everything at the end.
#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "invariants.h"

namespace krb::chaos {

// Invariant names, in the order the report prints them.
inline constexpr const char* kRecordsInvariant = "records match the simulator or stay unchanged";
inline constexpr const char* kSuccessInvariant = "no success for work not done";
inline constexpr const char* kDevicesInvariant = "units open only their own devices";
inline constexpr const char* kAnswersInvariant = "every unit still answers";
inline constexpr const char* kSurfacesInvariant = "views and notifications stay well-formed";

struct ChaosOptions {
    double seconds = 30;
    std::uint64_t seed = 1;
    std::ostream* progress = nullptr;  // one line per step when set
    // Every scan covers one cassette (a partition the run adds per cassette), so that a short
    // run gets through many; otherwise scans cover whole units and the lab's own partitions.
    bool cassetteScans = false;
};

struct ChaosReport {
    std::uint64_t seed = 0;
    double seconds = 0;
    int operations = 0;
    std::map<std::string, int> operationsByKind;
    int faults = 0;  // injected while their operation ran
    std::map<std::string, int> faultsByKind;
    int faultsTooLate = 0;  // the operation had ended before the fault was due
    int tidyUps = 0;        // plates the operator put back after a failed step
    int notificationLines = 0;
    int viewsFetched = 0;
    std::map<std::string, Findings> invariants;

    int violations() const;
    // Lists up to `violationsListed` violations of each invariant.
    void print(std::ostream& out, std::size_t violationsListed = 10) const;
};

ChaosReport runChaos(const ChaosOptions& options);

}  // namespace krb::chaos
