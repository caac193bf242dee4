#include "invariants.h"

#include <gtest/gtest.h>

namespace krb::chaos {
namespace {

Record at(int cassette, int level, bool present, const std::string& barcode = "") {
    return {std::to_string(cassette),
            std::to_string(cassette),
            std::to_string(level),
            present ? "1" : "0",
            barcode,
            ""};
}

struct ScanCase {
    const char* name;
    std::vector<Record> before;
    std::vector<Record> after;
    PlateLabels world;
    bool success;
    bool barcodes;
    std::size_t recordViolations;
    std::size_t successViolations;
};

TEST(ScanInvariant, ChangedRecordsMustBeRightAndSuccessMustCoverEverything) {
    const PlateLabels plateAt11{{{1, 1}, "P1"}};
    const std::vector<ScanCase> cases{
        {"every record right after success",
         {at(1, 1, false), at(1, 2, true, "X")},
         {at(1, 1, true, "P1"), at(1, 2, false)},
         plateAt11,
         true,
         true,
         0,
         0},
        {"an unread record kept after a failure",
         {at(1, 1, false), at(1, 2, false)},
         {at(1, 1, false), at(1, 2, false)},
         plateAt11,
         false,
         true,
         0,
         0},
        {"a stale record left behind by a success",
         {at(1, 1, false), at(1, 2, false)},
         {at(1, 1, false), at(1, 2, false)},
         plateAt11,
         true,
         true,
         0,
         1},
        {"a plate erased by a failed scan",
         {at(1, 1, true, "P1")},
         {at(1, 1, false)},
         plateAt11,
         false,
         true,
         1,
         0},
        {"a plate recorded where the slot is empty",
         {at(1, 2, false)},
         {at(1, 2, true, "P1")},
         plateAt11,
         true,
         true,
         1,
         1},
        {"a barcode cleared by a reader that failed",
         {at(1, 1, true, "P1")},
         {at(1, 1, true, "")},
         plateAt11,
         true,
         true,
         1,
         1},
        {"a scan without barcodes leaves them alone",
         {at(1, 1, true, "OLD"), at(1, 2, true, "P2")},
         {at(1, 1, true, "OLD"), at(1, 2, false, "P2")},
         plateAt11,
         true,
         false,
         0,
         0},
        {"an unlabelled plate has no barcode",
         {at(1, 1, false)},
         {at(1, 1, true, "")},
         {{{1, 1}, ""}},
         true,
         true,
         0,
         0},
        {"a record outside the scan's cassettes is not its claim",
         {at(7, 1, false)},
         {at(7, 1, false)},
         {{{7, 1}, "P7"}},
         true,
         true,
         0,
         0},
        {"a scan that loses a line",
         {at(1, 1, false), at(1, 2, false)},
         {at(1, 1, false)},
         plateAt11,
         true,
         true,
         1,
         0},
    };
    for (const auto& c : cases) {
        Findings records, success;
        checkScan(c.before, c.after, c.world, {c.success, c.barcodes, {1}}, records, success);
        EXPECT_EQ(records.violations.size(), c.recordViolations) << c.name;
        EXPECT_EQ(success.violations.size(), c.successViolations) << c.name;
        EXPECT_GT(records.checks, 0) << c.name;
    }
}

struct ClaimCase {
    const char* name;
    Findings findings;
    int checks;
    std::size_t violations;
};

TEST(ReplyInvariant, OnlyAnswersThatClaimSomethingAreHeldToTheWorld) {
    const std::vector<ClaimCase> cases{
        {"move delivered", checkMove("1", 7, std::nullopt, 7, "m"), 1, 0},
        {"move answered 1, plate still at the source", checkMove("1", 7, 7, std::nullopt, "m"), 1,
         1},
        {"move answered 1, another plate at the target", checkMove("1", 7, std::nullopt, 8, "m"), 1,
         1},
        {"failed move claims nothing", checkMove("-Ext1;3", 7, 7, std::nullopt, "m"), 0, 0},
        {"detector 1 on a plate", checkDetectorAnswer("1", true, "d"), 1, 0},
        {"detector 0 on a plate", checkDetectorAnswer("0", true, "d"), 1, 1},
        {"detector 1 on an empty slot", checkDetectorAnswer("1", false, "d"), 1, 1},
        {"detector not readable", checkDetectorAnswer("-1", true, "d"), 0, 0},
        {"barcode of the plate", checkBarcodeAnswer("P1", std::string("P1"), "b"), 1, 0},
        {"barcode of another plate", checkBarcodeAnswer("P2", std::string("P1"), "b"), 1, 1},
        {"barcode where there is no plate", checkBarcodeAnswer("P2", std::nullopt, "b"), 1, 1},
        {"reader failure claims nothing", checkBarcodeAnswer("BCRError", std::nullopt, "b"), 0, 0},
        {"no code claims nothing", checkBarcodeAnswer("No Barcode", std::string("P1"), "b"), 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.findings.checks, c.checks) << c.name;
        EXPECT_EQ(c.findings.violations.size(), c.violations) << c.name;
    }
}

TEST(DeviceInvariant, OnlyTheLabsTerminalsMayBeOpen) {
    const std::set<std::string> lab{"/dev/pts/4", "/dev/pts/5"};
    const std::vector<std::pair<std::vector<std::string>, std::size_t>> cases{
        {{"/dev/pts/4", "/dev/ptmx", "socket:[77]", "/tmp/x.log", "anon_inode:[eventfd]"}, 0},
        {{"/dev/pts/4", "/dev/ttyS0"}, 1},
        {{"/dev/pts/9", "/dev/ttyUSB0"}, 2},
        {{"/dev/pts/5 (deleted)"}, 0},
        {{"/dev/pts/6 (deleted)"}, 1},
    };
    for (const auto& [open, violations] : cases)
        EXPECT_EQ(checkOpenDevices(open, lab).violations.size(), violations) << open.back();
}

TEST(DeviceInvariant, ReadersAndControllersHearOnlyTheirOwnCommands) {
    EXPECT_TRUE(checkLineTraffic({"LON", "", "LOFF"}, true, "reader").violations.empty());
    EXPECT_TRUE(checkLineTraffic({"CR", "RD 1915", "WR DM0 3"}, false, "c").violations.empty());
    EXPECT_EQ(checkLineTraffic({"LON", "RD 1915"}, true, "reader").violations.size(), 1u);
    EXPECT_EQ(checkLineTraffic({"RD 1915", "LON"}, false, "c").violations.size(), 1u);
}

TEST(ContentsParse, ReadsTheFieldsAScanWrites) {
    const auto records =
        parseContents("1,1,1,1,R0001,Plate 1,Racks,,,\r\n\r\n14,2,2,0,,Location 14,Racks,,,\r\n");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].barcode, "R0001");
    EXPECT_EQ(records[0].name, "Plate 1");
    EXPECT_EQ(records[1].slotNo, "14");
    EXPECT_EQ(records[1].cassette, "2");
    EXPECT_EQ(records[1].level, "2");
    EXPECT_EQ(records[1].present, "0");
}

}  // namespace
}  // namespace krb::chaos
