#include <gtest/gtest.h>

#include "text/DateTimeText.h"

namespace krb::server {
namespace {

double At(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
    return EncodeDateTime(y, m, d, h, n, s).value();
}

TEST(DateTimeText, CountsDaysFromTheEpoch) {
    EXPECT_DOUBLE_EQ(At(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(At(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(At(2000, 1, 1, 12), 36526.5);
    EXPECT_DOUBLE_EQ(At(1899, 12, 29, 6), -1.25);  // the day counts down, the time up
}

TEST(DateTimeText, WritesTheFixedFormat) {
    EXPECT_EQ(FormatDateTime(At(2026, 12, 7, 15, 4, 5)), "07.12.2026 15:04:05");
    EXPECT_EQ(FormatDateTime(At(2026, 12, 7)), "07.12.2026");
    EXPECT_EQ(FormatDateTime(At(1899, 12, 29, 6)), "29.12.1899 06:00:00");
    EXPECT_EQ(FormatDateTime(At(2011, 6, 21, 23, 59, 59)), "21.06.2011 23:59:59");
}

TEST(DateTimeText, ReadsEveryAcceptedForm) {
    const double expected = At(2026, 12, 7, 15, 4, 5);
    for (const char* text :
         {"07.12.2026 15:04:05", "7.12.2026 15:04:05", "7.12.26 15:04:05", "12/07/2026 15:04:05",
          "12/7/2026 3:04:05 PM", "12/7/2026 3:04:05 pm", "2026-12-07T15:04:05",
          "2026-12-07 15:04:05", "2026-12-07T15:04:05Z", "  07.12.2026 15:04:05  "}) {
        EXPECT_DOUBLE_EQ(ParseDateTime(text), expected) << text;
    }
    EXPECT_DOUBLE_EQ(ParseDateTime("07.12.2026"), At(2026, 12, 7));
    EXPECT_DOUBLE_EQ(ParseDateTime("2026-12-07"), At(2026, 12, 7));
    EXPECT_DOUBLE_EQ(ParseDateTime("12/7/2026 12:00 AM"), At(2026, 12, 7));
    EXPECT_DOUBLE_EQ(ParseDateTime("12/7/2026 12:30 PM"), At(2026, 12, 7, 12, 30));
    EXPECT_DOUBLE_EQ(ParseDateTime("1.1.99"), At(1999, 1, 1));
    EXPECT_NEAR(ParseDateTime("2026-12-07T15:04:05.5"), expected + 0.5 / 86400, 1e-9);
}

TEST(DateTimeText, RoundTripsItsOwnText) {
    for (double value : {At(2026, 2, 28, 0, 0, 1), At(1970, 1, 1, 23, 59, 59), At(2024, 2, 29)}) {
        EXPECT_DOUBLE_EQ(ParseDateTime(FormatDateTime(value)), value);
    }
}

TEST(DateTimeText, GarbageAndImpossibleDatesReadAsZero) {
    for (const char* text :
         {"", "   ", "yesterday", "32.01.2026", "29.02.2025", "12/31/2026 13:00 PM", "2026-13-01",
          "07.12.2026 24:00:00", "07.12.2026 15:4", "07.12.2026 15:04:05 XM", "07.12.202",
          "07-12-2026", "2026-12-07T", "07.12.2026,15:04", "1.2.3.4", "2026-12-07T15:04:05+02:00",
          "12/7/2026 0:30 AM", "007.12.2026"}) {
        EXPECT_EQ(ParseDateTime(text), 0.0) << text;
    }
}

}  // namespace
}  // namespace krb::server
