#include <gtest/gtest.h>

#include "ControllerErrors.h"
#include "KRB_Class.h"
#include "Sector.h"
#include "text_numbers.h"

namespace krb::test {
namespace {

TEST(DecimalText, AcceptsOnlySignAndDigitsThatFit) {
    EXPECT_EQ(parseInt32("00042"), 42);
    EXPECT_EQ(parseInt32("-7"), -7);
    EXPECT_EQ(parseInt32("+7"), 7);
    EXPECT_EQ(parseInt32("0000000000000000000000012"), 12);
    for (const char* bad : {"", " 1", "1 ", "0x10", "$10", "1.5", "abc", "-", "2147483648", "1e3"})
        EXPECT_FALSE(parseInt32(bad).has_value()) << bad;
    EXPECT_EQ(parseInt32("-2147483648"), INT32_MIN);
}

TEST(ErrorCode, KindOperationAndStepFromTheHexDigits) {
    EXPECT_EQ(decodeErrorCode(0x1203),
              "Motor Movement TimeOut Error during Import Plate Operation at step #2.");
    EXPECT_EQ(decodeErrorCode(0x710B),
              "Stacker Slot Error during Pick Plate Operation at step #1.");
    EXPECT_EQ(decodeErrorCode(0x0002), "at step #0.") << "unknown kind and operation give no text";
    EXPECT_EQ(decodeErrorCode(0x4011), "No recoveryError during Plate BCR Mode (1910) at step #0.");
}

TEST(Sectors, LaterDefinitionsWin) {
    TSectorList sectors;
    sectors.Add(1, 10, "A");
    sectors.Add(5, 8, "B");
    sectors.Add(20, 30, "A");
    EXPECT_EQ(sectors.NameOfSlot(6), "B");
    EXPECT_EQ(sectors.NameOfSlot(3), "A");
    EXPECT_EQ(sectors.NameOfSlot(15), "");
    auto slots = sectors.SlotsOfName("A");
    ASSERT_TRUE(slots.has_value());
    EXPECT_EQ(slots->first, 20);
    EXPECT_FALSE(sectors.SlotsOfName("C").has_value());
    sectors.Clear();
    EXPECT_EQ(sectors.NameOfSlot(6), "");
}

}  // namespace
}  // namespace krb::test
