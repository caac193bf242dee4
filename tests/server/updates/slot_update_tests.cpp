#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "update_lab.h"
#include "updates/SlotUpdate.h"

namespace krb::server::testing {
namespace {

constexpr const char* kRewrittenSection =
    "[CassettesConfiguration]\r\nUseCassConfTable=1\r\n1=3,25,2\r\n2=5,25,2\r\n3=3,25,2\r\n";

std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text.append(line).append("\r\n");
    return text;
}

TEST(SlotUpdate, MoreLevelsInsertEmptyLocationsAndRenumberTheRest) {
    // A cassette with a leading zero still names cassette 2 and its lines.
    for (const char* text : {"UpdateSlotLevels(U1,2,5)\r", "UpdateSlotLevels(U1,02,5)\r"}) {
        SCOPED_TRACE(text);
        UpdateLab lab;
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels(text), 1);
        EXPECT_EQ(lab.Contents(), Lines({
                                      "1,1,1,1,P1,Plate 1,A,01.02.2026 10:00:00,01.02.2026,",
                                      "2,1,2,0,,Location 2,A,,,",
                                      "3,1,3,0,,Location 3,A,,,",
                                      "4,2,1,0,,Location 4,ROOT,,,",
                                      "5,2,2,1,BC5,Assay 4,ROOT,,,",
                                      "6,2,3,0,,Location 6,ROOT,,,",
                                      "7,2,4,0,,Location 7,ROOT,,,",
                                      "8,2,5,0,,Location 8,ROOT,,,",
                                      "9,3,1,1,,Plate 9,ROOT,,,",
                                      "10,3,2,0,,Location 10,ROOT,,,",
                                      "11,3,3,0,,Location 11,ROOT,,,",
                                  }));
        EXPECT_EQ(lab.Unit("U1").FindCassette(2)->Levels, 5);
        EXPECT_EQ(Fake().ArgsOf("KRBSetCassetteConfig"),
                  (std::vector<std::string>{"1", "2", "5", "25"}));
        EXPECT_NE(lab.UnitFile(1).find(kRewrittenSection), std::string::npos) << lab.UnitFile(1);
    }
}

TEST(SlotUpdate, FewerLevelsDropTheHigherEmptyLevelsAndRenumberTheRest) {
    UpdateLab lab;
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,1)\r"), 1);
    EXPECT_EQ(lab.Contents(), Lines({
                                  "1,1,1,1,P1,Plate 1,A,01.02.2026 10:00:00,01.02.2026,",
                                  "2,2,1,0,,Location 2,ROOT,,,",
                                  "3,2,2,1,BC5,Assay 4,ROOT,,,",
                                  "4,2,3,0,,Location 4,ROOT,,,",
                                  "5,3,1,1,,Plate 5,ROOT,,,",
                                  "6,3,2,0,,Location 6,ROOT,,,",
                                  "7,3,3,0,,Location 7,ROOT,,,",
                              }));
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,3,1)\r"), 1);
    EXPECT_EQ(lab.Contents(), Lines({
                                  "1,1,1,1,P1,Plate 1,A,01.02.2026 10:00:00,01.02.2026,",
                                  "2,2,1,0,,Location 2,ROOT,,,",
                                  "3,2,2,1,BC5,Assay 4,ROOT,,,",
                                  "4,2,3,0,,Location 4,ROOT,,,",
                                  "5,3,1,1,,Plate 5,ROOT,,,",
                              }));
    EXPECT_EQ(lab.Unit("U1").FindCassette(3)->Levels, 1);
}

TEST(SlotUpdate, LevelsHoldingAPlateAreNotRemovedAndNothingChanges) {
    struct Case {
        const char* text;
        std::string contents;
    };
    const Case cases[] = {
        {"UpdateSlotLevels(U1,2,1)\r", UpdateLab::kContents},  // present with a barcode
        {"UpdateSlotLevels(U1,1,0)\r", UpdateLab::kContents},
        {"UpdateSlotLevels(U1,3,0)\r", UpdateLab::kContents},  // present, no barcode
        {"UpdateSlotLevels(U1,1,2)\r",
         Lines({"1,1,1,0,,Location 1,A,,,", "2,1,2,0,,Location 2,A,,,",
                "3,1,3,0,BC3,Location 3,A,,,"})},  // a barcode on an absent plate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UpdateLab lab(c.contents);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels(c.text), -7);
        EXPECT_EQ(lab.Contents(), c.contents);
        EXPECT_EQ(lab.UnitFile(1), UpdateLab::kUnit1File);
        EXPECT_EQ(Fake().Count("KRBSetCassetteConfig"), 0);
        for (const auto& cassette : lab.Unit("U1").Cassettes) EXPECT_EQ(cassette->Levels, 3);
    }
}

TEST(SlotUpdate, ACassetteWithoutLinesGetsThemAfterThePrecedingCassette) {
    struct Case {
        const char* text;
        std::string contents;
        std::string expected;
    };
    const Case cases[] = {
        {"UpdateSlotLevels(U1,2,2)\r",
         Lines({"1,1,1,0,,Location 1,A,,,", "4,3,1,0,,My plate,ROOT,,,"}),
         Lines({
             "1,1,1,0,,Location 1,A,,,",
             "2,2,1,0,,Location 2,ROOT,,,",
             "3,2,2,0,,Location 3,ROOT,,,",
             "4,3,1,0,,My plate,ROOT,,,",
         })},
        // No lower cassette has a line: they go first.
        {"UpdateSlotLevels(U1,1,2)\r", Lines({"4,3,1,0,,My plate,ROOT,,,"}),
         Lines({
             "1,1,1,0,,Location 1,A,,,",
             "2,1,2,0,,Location 2,A,,,",
             "3,3,1,0,,My plate,ROOT,,,",
         })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UpdateLab lab(c.contents);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels(c.text), 1);
        EXPECT_EQ(lab.Contents(), c.expected);
    }
}

TEST(SlotUpdate, PitchChangeRewritesTheSectionOneKeyPerCassetteWithItsType) {
    UpdateLab lab;
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,3,25)\r"), 1);
    EXPECT_EQ(lab.UnitFile(1), UpdateLab::kUnit1File);
    EXPECT_EQ(Fake().Count("KRBSetCassetteConfig"), 0);

    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,3,40)\r"), 1);
    EXPECT_EQ(Fake().ArgsOf("KRBSetCassetteConfig"),
              (std::vector<std::string>{"1", "3", "3", "40"}));
    EXPECT_EQ(lab.Contents(), UpdateLab::kContents);
    EXPECT_EQ(lab.UnitFile(1),
              "[Unit]\r\nUnitComPort=1\r\nUnitId=U1\r\n[Contents]\r\nFileName=U1.csv\r\n"
              "[CassettesConfiguration]\r\nUseCassConfTable=1\r\n1=3,25,2\r\n2=3,25,2\r\n"
              "3=3,40,2\r\n[Partitions]\r\nA=1\r\n");

    // The loader reads back what was written, type included.
    UnitDirectory browser;
    TKRBManager reloaded(FakeExports(), &browser);
    Fake().Reply("KRBConnect", {"1"});
    reloaded.LoadSystems(lab.DriverConfig());
    const TKRBId& unit = *reloaded.Lab().FindUnit("U1");
    ASSERT_EQ(unit.Cassettes.size(), 3u);
    EXPECT_TRUE(unit.UseCassConfTable);
    for (const auto& cassette : unit.Cassettes) {
        EXPECT_EQ(cassette->Levels, 3);
        EXPECT_EQ(cassette->ZPitch, cassette->Number == 3 ? 40 : 25);
        EXPECT_EQ(cassette->Type, 2);
    }
}

TEST(SlotUpdate, ResultCodesNameTheStepThatFailed) {
    const std::string unchanged = UpdateLab::kContents;
    struct Case {
        const char* text;
        int result;
        int levelsOfCassette1;  // in the model afterwards
    };
    const Case cases[] = {
        {"UpdateSlotLevels(U9,1,5)\r", -1, 3},
        {"UpdateSlotLevels(u1,1,5)\r", -1, 3},
        {"UpdateSlotLevels(U1,4,5)\r", -1, 3},
        {"UpdateSlotLevels(U1,x,5)\r", -1, 3},
        {"UpdateSlotLevels(U1,1,five)\r", -1, 3},
        {"UpdateSlotLevels(U1,1, 5)\r", -1, 3},
        {"UpdateSlotLevels(U1,1,-1)\r", -1, 3},
        {"UpdateSlotLevels(U1,1,65536)\r", -1, 3},
        {"UpdateSlotLevels(U1,1,99999999999)\r", -1, 3},
        {"UpdateSlotLevels(U1,1,19995)\r", -1, 3},  // the unit would hold 20,001 locations
        {"UpdateSlotLevels(U1,1)\r", -1, 3},
        {"UpdateSlotLevels(U1,1,5\r", -1, 3},
        {"UpdateSlotLevels(U1,1,3)\r", 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UpdateLab lab;
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels(c.text), c.result);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->Levels, c.levelsOfCassette1);
        EXPECT_EQ(lab.Contents(), unchanged);
        EXPECT_EQ(lab.UnitFile(1), UpdateLab::kUnit1File);
        EXPECT_EQ(Fake().Count("KRBSetCassetteConfig"), 0);
    }
}

TEST(SlotUpdate, AUnitHoldsUpToTwentyThousandLocations) {
    UpdateLab lab;
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,19994)\r"), 1);
    EXPECT_EQ(lab.Unit("U1").FindCassette(1)->Levels, 19994);
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,2,4)\r"), -1);
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,2,40)\r"), 1);
}

// Each failure leaves the model as it was; once the cause is gone the same command completes.
TEST(SlotUpdate, AFailedStepChangesNoModelAndTheSameCommandCompletesIt) {
    {
        SCOPED_TRACE("contents file missing, then restored");
        UpdateLab lab;
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U2,1,4)\r"), -5);
        EXPECT_EQ(lab.Unit("U2").FindCassette(1)->Levels, 3);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U3,1,4)\r"), -5);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U3,1,4)\r"), -5);
        EXPECT_EQ(lab.Unit("U3").FindCassette(1)->Levels, 3);
        EXPECT_EQ(Fake().Count("KRBSetCassetteConfig"), 0);
        EXPECT_EQ(lab.UnitFile(3).find("1=4"), std::string::npos);

        test_support::writeWholeFile(lab.Unit("U3").ContentsFile, "");
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U3,1,4)\r"), 1);
        EXPECT_EQ(lab.Unit("U3").FindCassette(1)->Levels, 4);
        EXPECT_EQ(test_support::readWholeFile(lab.Unit("U3").ContentsFile),
                  Lines({"1,1,1,0,,Location 1,ROOT,,,", "2,1,2,0,,Location 2,ROOT,,,",
                         "3,1,3,0,,Location 3,ROOT,,,", "4,1,4,0,,Location 4,ROOT,,,"}));
    }
    {
        SCOPED_TRACE("level that is no number");
        UpdateLab lab("1,1,1,0,,Location 1,A,,,\r\n2,1,x,0,,Location 2,A,,,\r\n");
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,1)\r"), -6);
        EXPECT_EQ(lab.Contents(), "1,1,1,0,,Location 1,A,,,\r\n2,1,x,0,,Location 2,A,,,\r\n");
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->Levels, 3);
        EXPECT_EQ(lab.UnitFile(1), UpdateLab::kUnit1File);
    }
    {
        SCOPED_TRACE("unit file cannot be written, then can");
        UpdateLab lab;
        const std::string unitFile = lab.Unit("U1").ConfigFile;
        lab.Unit("U1").ConfigFile = lab.UnitFilePath(1) + ".missing/Unit1.lni";
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,4)\r"), -4);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,1,30)\r"), -4);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->ZPitch, 25);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->Levels, 3);
        EXPECT_EQ(lab.Contents(), UpdateLab::kContents);

        lab.Unit("U1").ConfigFile = unitFile;
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,1,30)\r"), 1);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,4)\r"), 1);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->ZPitch, 30);
        EXPECT_NE(lab.UnitFile(1).find("1=4,30,2\r\n"), std::string::npos) << lab.UnitFile(1);
        EXPECT_NE(lab.Contents().find("4,1,4,0,,Location 4,A,,,"), std::string::npos);
    }
    {
        SCOPED_TRACE("library call raised an error, then did not");
        UpdateLab lab;
        Fake().OnCall([](const RecordedCall& call) {
            if (call.name == "KRBSetCassetteConfig") throw std::runtime_error("unit gone");
        });
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,1,30)\r"), -2);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,4)\r"), -2);
        Fake().OnCall(nullptr);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->ZPitch, 25);
        EXPECT_EQ(lab.UnitFile(1), UpdateLab::kUnit1File);
        EXPECT_EQ(lab.Contents(), UpdateLab::kContents);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,1,30)\r"), 1);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->ZPitch, 30);
    }
}

// Command threads read the geometry (history clears, activation) while the loop updates it.
TEST(SlotUpdate, GeometryReadsOnOtherThreadsMeetUpdatesSafely) {
    UpdateLab lab("");
    TKRBId& unit = lab.Unit("U1");
    constexpr int kRounds = 20;
    std::thread reader([&] {
        for (int i = 0; i < kRounds; ++i) {
            EXPECT_EQ(unit.ClearHistory(), 1);
            EXPECT_GE(unit.LargestLevels(), 3);
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        const std::string levels = i % 2 == 0 ? "4" : "3";
        EXPECT_EQ(
            TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1," + levels + ")\r"),
            1);
        EXPECT_EQ(
            TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,2,2" + levels + ")\r"),
            1);
    }
    reader.join();
    EXPECT_EQ(unit.ClearHistory(), 1);
    EXPECT_EQ(lab.Contents(), Lines({"1,1,1,,,Location 1,A,,,", "2,1,2,,,Location 2,A,,,",
                                     "3,1,3,,,Location 3,A,,,", "4,2,1,,,Location 4,ROOT,,,",
                                     "5,2,2,,,Location 5,ROOT,,,", "6,2,3,,,Location 6,ROOT,,,",
                                     "7,3,1,,,Location 7,ROOT,,,", "8,3,2,,,Location 8,ROOT,,,",
                                     "9,3,3,,,Location 9,ROOT,,,"}));
}

}  // namespace
}  // namespace krb::server::testing
