#include <gtest/gtest.h>

#include <stdexcept>

#include "UnitModifySlot.h"
#include "update_lab.h"

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

TEST(SlotUpdate, FewerLevelsDropTheHigherLevelsAndRenumberTheRest) {
    UpdateLab lab;
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,2,1)\r"), 1);
    EXPECT_EQ(lab.Contents(), Lines({
                                  "1,1,1,1,P1,Plate 1,A,01.02.2026 10:00:00,01.02.2026,",
                                  "2,1,2,0,,Location 2,A,,,",
                                  "3,1,3,0,,Location 3,A,,,",
                                  "4,2,1,0,,Location 4,ROOT,,,",
                                  "5,3,1,1,,Plate 5,ROOT,,,",
                                  "6,3,2,0,,Location 6,ROOT,,,",
                                  "7,3,3,0,,Location 7,ROOT,,,",
                              }));
    EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,0)\r"), 1);
    EXPECT_EQ(lab.Contents(), Lines({
                                  "1,2,1,0,,Location 1,ROOT,,,",
                                  "2,3,1,1,,Plate 2,ROOT,,,",
                                  "3,3,2,0,,Location 3,ROOT,,,",
                                  "4,3,3,0,,Location 4,ROOT,,,",
                              }));
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
              "[Partitions]\r\nA=1\r\n"
              "[CassettesConfiguration]\r\nUseCassConfTable=1\r\n1=3,25,2\r\n2=3,25,2\r\n"
              "3=3,40,2\r\n");

    // The loader reads back what was written, type included.
    TKRBTCPBrowser browser;
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

TEST(SlotUpdate, LaterStepsFailAfterTheEarlierOnesWereDone) {
    {
        SCOPED_TRACE("no contents file");
        UpdateLab lab;
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U2,1,4)\r"), -5);
        EXPECT_EQ(lab.Unit("U2").FindCassette(1)->Levels, 4);
        EXPECT_EQ(Fake().Count("KRBSetCassetteConfig"), 1);
        EXPECT_NE(lab.UnitFile(2).find("1=4,25,0"), std::string::npos);
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U3,1,4)\r"), -5);
    }
    {
        SCOPED_TRACE("level that is no number");
        UpdateLab lab("1,1,1,0,,Location 1,A,,,\r\n2,1,x,0,,Location 2,A,,,\r\n");
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateLevels("UpdateSlotLevels(U1,1,1)\r"), -6);
        EXPECT_EQ(lab.Contents(), "1,1,1,0,,Location 1,A,,,\r\n2,1,x,0,,Location 2,A,,,\r\n");
    }
    {
        SCOPED_TRACE("unit file cannot be written");
        UpdateLab lab;
        lab.Unit("U1").ConfigFile = lab.UnitFilePath(1) + ".missing/Unit1.lni";
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,1,30)\r"), -4);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->ZPitch, 30);
        EXPECT_EQ(Fake().Count("KRBSetCassetteConfig"), 1);
    }
    {
        SCOPED_TRACE("library call raised an error");
        UpdateLab lab;
        Fake().OnCall([](const RecordedCall& call) {
            if (call.name == "KRBSetCassetteConfig") throw std::runtime_error("unit gone");
        });
        EXPECT_EQ(TKRBModifySlot(lab.Manager()).UpdateZPitch("UpdateSlotZPitch(U1,1,30)\r"), -2);
        Fake().OnCall(nullptr);
        EXPECT_EQ(lab.Unit("U1").FindCassette(1)->ZPitch, 30);
        EXPECT_EQ(lab.UnitFile(1), UpdateLab::kUnit1File);
    }
}

}  // namespace
}  // namespace krb::server::testing
