#include "schedule.h"

#include <gtest/gtest.h>

#include <set>

namespace krb::chaos {
namespace {

// Operation and fault of each step as text, so two plans compare whole.
std::vector<std::string> plan(std::uint64_t seed, int steps) {
    Schedule schedule(seed);
    std::vector<std::string> texts;
    for (int i = 0; i < steps; ++i) {
        const Step step = schedule.next();
        std::string text = operationName(step.operation);
        for (auto pick : step.picks) text += " " + std::to_string(pick);
        if (step.fault)
            text += " | " + faultName(step.fault->kind) + " " +
                    std::to_string(step.fault->startNominalMs);
        texts.push_back(text);
    }
    return texts;
}

TEST(ChaosSchedule, ASeedFixesTheOrderOfOperationsAndFaults) {
    EXPECT_EQ(plan(42, 200), plan(42, 200));
    EXPECT_NE(plan(42, 200), plan(43, 200));
}

TEST(ChaosSchedule, EveryOperationAndFaultComesUp) {
    Schedule schedule(7);
    std::set<std::string> operations, faults;
    int faulted = 0;
    for (int i = 0; i < 1000; ++i) {
        const Step step = schedule.next();
        operations.insert(operationName(step.operation));
        if (step.fault) {
            ++faulted;
            faults.insert(faultName(step.fault->kind));
            EXPECT_GE(step.fault->count, 1);
            EXPECT_GT(step.fault->nominalMs, 0);
        }
    }
    EXPECT_EQ(operations.size(), 8u);
    EXPECT_EQ(faults.size(), 11u);
    EXPECT_GT(faulted, 500) << "most steps run under a fault";
    EXPECT_LT(faulted, 1000) << "some run without one";
}

}  // namespace
}  // namespace krb::chaos
