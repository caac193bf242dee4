// The suite's short chaos run: a fixed seed, about half a minute of workload under faults.
#include "chaos_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "platform/clock.h"

namespace krb::chaos {
namespace {

constexpr double kSeconds = 30;
constexpr std::uint64_t kSeed = 20261209;

TEST(ChaosRun, AFixedSeedRunUnderSerialFaultsKeepsEveryInvariant) {
    if (std::getenv("KRB_TIME_SCALE") == nullptr) platform::setTimeScale(0.05);
    ChaosOptions options;
    options.seconds = kSeconds;
    options.seed = kSeed;
    options.cassetteScans = true;
    const ChaosReport report = runChaos(options);
    report.print(std::cout);
    EXPECT_GT(report.operations, 5);
    EXPECT_GT(report.faults, 0);
    EXPECT_GT(report.notificationLines, 0);
    EXPECT_GT(report.viewsFetched, 0);
    for (const auto& [name, findings] : report.invariants) {
        EXPECT_GT(findings.checks, 0) << name << " was never checked";
        EXPECT_TRUE(findings.violations.empty())
            << name << ": " << findings.violations.size()
            << " violation(s), the first: " << findings.violations.front();
    }
}

}  // namespace
}  // namespace krb::chaos
