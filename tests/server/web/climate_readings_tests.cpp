#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fake_library.h"
#include "platform/link_metrics.h"
#include "support/eventually.h"
#include "web/ClimateReadings.h"

namespace krb::server::web {
namespace {

using server::testing::Fake;
using server::testing::FakeExports;

// Set values change only when someone sets them: read with the first reading and every
// twelfth after it, and again at the next reading when their read went unanswered.
TEST(ClimateReadings, ReadTheSetValuesFirstThenEveryTwelfthReadAndAfterAnUnansweredOne) {
    Fake().Reset();
    std::vector<std::string> actual;
    for (int read = 1; read <= 14; ++read) actual.push_back(std::to_string(read) + ";40;0;0");
    Fake().Reply("KRB2ReadActualClimate", actual);
    Fake().Reply("KRB2ReadSetClimate", {"037.00;090.00;005.00;0"});
    int setReads = 0;
    Fake().OnCall([&setReads](const server::testing::RecordedCall& call) {
        // The first set read goes unanswered, as on a line whose exchanges time out.
        if (call.name == "KRB2ReadSetClimate" && ++setReads == 1) {
            platform::recordLinkExchange("COM61", std::chrono::milliseconds(900), true, true);
        }
    });
    TKRBDLL dll{FakeExports()};
    TKRBId unit{"Incubator", 61, "Sys", "", dll};
    ClimateReadings readings;

    std::vector<int> readsWithSetValues;
    for (int read = 1; read <= 14; ++read) {
        const int setReadsBefore = Fake().Count("KRB2ReadSetClimate");
        readings.StartReading(unit);
        const bool readDone = test_support::eventually(
            [&] { return readings.LastReading(unit).Text == actual[read - 1]; });
        ASSERT_TRUE(readDone) << "read " << read;
        if (Fake().Count("KRB2ReadSetClimate") > setReadsBefore) readsWithSetValues.push_back(read);
        if (read == 1) {
            EXPECT_FALSE(readings.LastSetReading(unit).Answered);
        }
    }
    EXPECT_EQ(readsWithSetValues, (std::vector<int>{1, 2, 14}));
    const ClimateReading set = readings.LastSetReading(unit);
    EXPECT_TRUE(set.Taken && set.Answered);
    EXPECT_EQ(set.Text, "037.00;090.00;005.00;0");
    Fake().Reset();
}

}  // namespace
}  // namespace krb::server::web
