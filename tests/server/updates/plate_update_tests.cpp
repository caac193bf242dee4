#include <gtest/gtest.h>

#include <cmath>

#include "text/DateTimeText.h"
#include "text/TextNumbers.h"
#include "update_lab.h"
#include "updates/PlateUpdate.h"

namespace krb::server::testing {
namespace {

// kContents with line `n` (1-based) replaced.
std::string ContentsWithLine(std::size_t n, const std::string& line) {
    auto lines = SplitAt(UpdateLab::kContents, '\n');
    lines[n - 1] = line + "\r";
    std::string text;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) text += lines[i] + "\n";
    return text;
}

TEST(UpdateArguments, SplitsUnitNumberAndTheRestUpToTheFirstClosingBracket) {
    struct Case {
        const char* text;
        bool parses;
        const char* unit;
        const char* number;
        const char* value;
    };
    const Case cases[] = {
        {"UpdatePlateName(U1,12,Assay)\r", true, "U1", "12", "Assay"},
        {"UpdatePlateName(U1,12,Assay, batch 3)\r", true, "U1", "12", "Assay, batch 3"},
        {"UpdatePlateLoadDate(U1,12,)\r", true, "U1", "12", ""},
        {"UpdatePlateName(U1,12,a)b)\r", true, "U1", "12", "a"},
        {"UpdatePlateName(,,)", true, "", "", ""},
        {"UpdatePlateName(U1,12)\r", false, "", "", ""},
        {"UpdatePlateName(U1)\r", false, "", "", ""},
        {"UpdatePlateName(U1,12,Assay\r", false, "", "", ""},
        {"UpdatePlateName U1,12,Assay)\r", false, "", "", ""},
        {"UpdatePlateName)U1,12,Assay(\r", false, "", "", ""},
        {"", false, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto arguments = SplitUpdateArguments(c.text);
        ASSERT_EQ(arguments.has_value(), c.parses);
        if (!c.parses) continue;
        EXPECT_EQ(arguments->UnitId, c.unit);
        EXPECT_EQ(arguments->Number, c.number);
        EXPECT_EQ(arguments->Value, c.value);
    }
}

TEST(PlateUpdate, ChangesOneFieldOfTheLocationOrRefusesAndLeavesTheFile) {
    const std::string unchanged = UpdateLab::kContents;
    struct Case {
        ContentsField field;
        const char* text;
        int result;
        std::string contents;
    };
    const Case cases[] = {
        {kUserIdField, "UpdatePlateName(U1,2,Assay 3)\r", 1,
         ContentsWithLine(2, "2,1,2,0,,Assay 3,A,,,")},
        {kUserIdField, "UpdatePlateName(U1,2,Assay, batch 3)\r", -1, unchanged},
        {kUserIdField, "UpdatePlateName(U1,2,two\nlines)\r", -1, unchanged},
        {kUserIdField, "UpdatePlateName(U1,2,cr\rinside)\r", -1, unchanged},
        {kBarcodeField, "UpdatePlateBCR(U1,5,XY-77)\r", 1,
         ContentsWithLine(5, "5,2,2,1,XY-77,Assay 4,ROOT,,,")},
        {kBarcodeField, "UpdatePlateBCR(U1,5,X,Y)\r", -1, unchanged},
        {kPresentField, "UpdatePlatePP(U1,2,1)\r", 1,
         ContentsWithLine(2, "2,1,2,1,,Location 2,A,,,")},
        {kPresentField, "UpdatePlatePP(U1,1,yes)\r", 1,
         ContentsWithLine(1, "1,1,1,0,P1,Plate 1,A,01.02.2026 10:00:00,01.02.2026,")},
        {kDateCheckField, "UpdatePlateCheckDate(U1,2,07.12.2026 15:04:05)\r", 1,
         ContentsWithLine(2, "2,1,2,0,,Location 2,A,07.12.2026 15:04:05,,")},
        {kDateLoadField, "UpdatePlateLoadDate(U1,2,2026-12-07T08:30:00)\r", 1,
         ContentsWithLine(2, "2,1,2,0,,Location 2,A,,07.12.2026 08:30:00,")},
        {kDateUnloadField, "UpdatePlateUnloadDate(U1,2,12/7/2026)\r", 1,
         ContentsWithLine(2, "2,1,2,0,,Location 2,A,,,07.12.2026")},
        {kDateLoadField, "UpdatePlateLoadDate(U1,1,)\r", 1, unchanged},
        {kDateLoadField, "UpdatePlateLoadDate(U1,1,yesterday)\r", -1, unchanged},
        {kDateLoadField, "UpdatePlateLoadDate(U1,1,31.02.2026)\r", -1, unchanged},
        {kUserIdField, "UpdatePlateName(U1,99,Assay)\r", 1, unchanged},
        {kUserIdField, "UpdatePlateName(U1,02,Assay)\r", 1, unchanged},
        {kUserIdField, "UpdatePlateName(u1,2,Assay)\r", -1, unchanged},
        {kBarcodeField, "UpdatePlateBCR(U9,2,X)\r", -1, unchanged},
        {kBarcodeField, "UpdatePlateBCR(U2,2,X)\r", -2, unchanged},
        {kBarcodeField, "UpdatePlateBCR(U3,2,X)\r", -2, unchanged},
        {kUserIdField, "UpdatePlateName(U1,2)\r", -1, unchanged},
        {kUserIdField, "UpdatePlateName(U1,2,Assay\r", -1, unchanged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UpdateLab lab;
        EXPECT_EQ(TKRBModifyPlate(lab.Manager()).Update(c.field, c.text), c.result);
        EXPECT_EQ(lab.Contents(), c.contents);
    }
}

TEST(PlateUpdate, DateZeroWritesTheCurrentDateTime) {
    UpdateLab lab;
    const double before = CurrentDateTime();
    ASSERT_EQ(
        TKRBModifyPlate(lab.Manager()).Update(kDateCheckField, "UpdatePlateCheckDate(U1,3,0)\r"),
        1);
    const ContentsFields fields = SplitContentsLine(SplitAt(lab.Contents(), '\n').at(2));
    const double written = ParseDateTime(fields[kDateCheckField]);
    const double oneMinute = 1.0 / (24 * 60);
    EXPECT_GT(written, before - oneMinute);
    EXPECT_LT(written, CurrentDateTime() + oneMinute);
}

TEST(PlateUpdate, EveryLineWithTheLocationNumberIsChanged) {
    UpdateLab lab("4,2,1,0,,Location 4,ROOT,,,\r\n4,2,2,0,,Location 5,ROOT,,,\r\n");
    ASSERT_EQ(TKRBModifyPlate(lab.Manager()).Update(kUserIdField, "UpdatePlateName(U1,4,X)\r"), 1);
    EXPECT_EQ(lab.Contents(), "4,2,1,0,,X,ROOT,,,\r\n4,2,2,0,,X,ROOT,,,\r\n");
}

}  // namespace
}  // namespace krb::server::testing
