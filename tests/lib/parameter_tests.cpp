// Unit parameters, sensors, manual access and parameter files.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "operation_support.h"
#include "support/temp_dir.h"

namespace krb::test {
namespace {

using Parameters = UnitOnEmulator;

class ParameterFile : public UnitOnEmulator {
  protected:
    std::string write(const std::string& bytes) { return scratch.write("params.txt", bytes); }
    test_support::TempDir scratch{"krb_params"};
    std::filesystem::path path = scratch.file("params.txt");
};

TEST_F(ParameterFile, SendsDataAndTimerLinesAndIgnoresTheRest) {
    std::string file = write("DM10 5\r\nT3 100\r\n; DM11 6\r\n\r\n DM12 7\nd13 1\nDM14 8");
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ReadConfFile(file), "1"); });
    EXPECT_EQ(lines, (Lines{"WR DM10 5", "WS T3 100", "WR DM14 8"}));
}

TEST_F(ParameterFile, UnreadableFilesAndAClosedPortSendNothing) {
    Lines lines = linesAfter([&] {
        EXPECT_EQ(unit->ReadConfFile(path.string()), "2") << "missing";
        EXPECT_EQ(unit->ReadConfFile(std::filesystem::temp_directory_path().string()), "2");
        EXPECT_EQ(unit->ReadConfFile(""), "2");
    });
    EXPECT_TRUE(lines.empty());
    std::string file = write("DM10 5\n");
    EXPECT_EQ(unit->ReadConfFile(write("")), "1");
    unit->Disconnect();
    EXPECT_EQ(unit->ReadConfFile(file), "0");
}

TEST_F(Parameters, CassetteTableKeepsOnlySlotsOneToNinetyNine) {
    unit->SetCassetteConfig("100", "5", "7");
    unit->SetCassetteConfig("0", "5", "7");
    unit->SetCassetteConfig("4", "x", "7");
    EXPECT_EQ(unit->ReadCassetteConfig("4"), "0,0");
    EXPECT_EQ(unit->ReadCassetteConfig("100"), "0,0");
    EXPECT_EQ(unit->ReadCassetteConfig("y"), "");
    unit->SetCassetteConfig("99", "12", "34");
    EXPECT_EQ(unit->ReadCassetteConfig("99"), "12,34");
}

TEST_F(Parameters, SectorsTheLastDefinitionWins) {
    unit->SetSector(1, 10, "A");
    unit->SetSector(5, 8, "B");
    unit->SetSector(20, 30, "A");
    EXPECT_EQ(unit->ReadSectorName(6), "B");
    EXPECT_EQ(unit->ReadSectorName(2), "A");
    EXPECT_EQ(unit->ReadSectorName(15), "");
    EXPECT_EQ(unit->ReadSectorSlot("A"), "20,30");
    EXPECT_EQ(unit->ReadSectorSlot("C"), "0,0");
    unit->DeleteSectors();
    EXPECT_EQ(unit->ReadSectorSlot("B"), "0,0");
}

TEST_F(Parameters, RolesChangeDoorsAndExchangeDelay) {
    unit->SetCascader(true);
    EXPECT_EQ(unit->doorCount(), 0);
    EXPECT_EQ(unit->IsCascaderText(), "1");
    unit->SetCascader(false);
    EXPECT_EQ(unit->IsCascaderText(), "0");
    unit->SetDoors(2);
    unit->SetKVL(false);
    EXPECT_EQ(unit->doorCount(), 2);
    EXPECT_EQ(unit->exchangeDelay(), 200);
    unit->SetKVL(true);
    EXPECT_EQ(unit->doorCount(), 0);
    EXPECT_EQ(unit->exchangeDelay(), 50);
    unit->SetCarsOffSet("7");
    unit->SetCarsOffSet("seven");
    EXPECT_EQ(unit->carouselOffset(), 7);
}

TEST_F(Parameters, GeometryWordsAndSetters) {
    controller.registers().setDm(27, 120);
    EXPECT_EQ(unit->ReadBCRZOffset(), "120");
    Lines lines = linesAfter([&] {
        unit->SetBCRZOffset("1.5");
        unit->SetBCRZOffset("80");
        unit->SetHandlerZPitch("");
        unit->SetHandlerZPitch("33");
    });
    EXPECT_EQ(lines, (Lines{"WR DM27 80", "WR DM23 33"}));
    EXPECT_EQ(unit->ReadHandlerZPitch(), "33");
}

TEST_F(Parameters, LockBeeperAndTrace) {
    EXPECT_EQ(unit->Lock(), "1");
    controller.setFixedReply("RD 1811", "");
    EXPECT_EQ(unit->Lock(), "-1");
    controller.setFixedReply("ST 1701", "E1");
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->Lock(), "-1"); }), Lines{"ST 1701"});
    EXPECT_EQ(unit->Unlock(), "1");
    EXPECT_EQ(unit->Islocked(), "0");

    controller.setFixedReply("ST 1702", "E1");
    EXPECT_EQ(linesAfter([&] { unit->BeeperOn(); }), Lines(3, "ST 1702"));
    EXPECT_EQ(linesAfter([&] { unit->BeeperOff(); }), Lines{"RS 1702"});
    EXPECT_EQ(unit->SetPlateTraceOn(), "1");
    EXPECT_EQ(unit->ReadPlateTrace(), "1");
    EXPECT_EQ(unit->SetPlateTraceOff(), "1");
}

struct AccessCase {
    int positions, slots, offset;
    const char* slot;
    const char* expectedPosition;
};

class CarouselAccess : public Parameters, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(CarouselAccess, TurnsTheSlotToTheDoor) {
    controller.registers().setDm(46, static_cast<std::uint16_t>(GetParam().positions));
    controller.registers().setDm(29, static_cast<std::uint16_t>(GetParam().slots));
    unit->SetCarsOffSet(std::to_string(GetParam().offset));
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ManualAccess(GetParam().slot), "1"); });
    EXPECT_EQ(linesStartingWith(lines, "WR DM0 "),
              Lines{std::string("WR DM0 ") + GetParam().expectedPosition});
    EXPECT_FALSE(unit->busy());
}

INSTANTIATE_TEST_SUITE_P(
    Carousels, CarouselAccess,
    ::testing::Values(AccessCase{20, 40, 0, "33", "1"}, AccessCase{20, 20, 0, "10", "2"},
                      AccessCase{10, 20, 5, "12", "7"}, AccessCase{10, 20, 8, "9", "7"},
                      AccessCase{10, 20, 0, "15", "15"}, AccessCase{12, 24, 10, "5", "3"},
                      AccessCase{12, 24, 0, "5", "5"}));

TEST_F(Parameters, ManualAccessRefusals) {
    controller.registers().setDm(46, 20);
    controller.registers().setDm(29, 20);
    EXPECT_EQ(unit->ManualAccess("x"), "-2");
    EXPECT_EQ(unit->ManualAccess("21"), "-2");
    EXPECT_EQ(unit->ManualAccess("0"), "-2") << "no carousel position below slot 1";
    controller.setFixedReply("WR DM0 9", "E1");
    EXPECT_EQ(unit->ManualAccess("1"), "-1");
    EXPECT_FALSE(unit->busy());
    controller.registers().setDm(29, 2);
    EXPECT_TRUE(
        linesStartingWith(linesAfter([&] { EXPECT_EQ(unit->ManualAccess("2"), "1"); }), "WR DM0")
            .empty());
    ASSERT_TRUE(unit->tryClaimBusy());
    EXPECT_EQ(unit->ManualAccess("1"), "-4");
    EXPECT_TRUE(unit->busy());
    unit->releaseBusy();
    controller.registers().setRelay(1811, false);
    EXPECT_EQ(unit->ManualAccess("1"), "-3");
    unit->markInitialized(false);
    EXPECT_EQ(unit->ManualAccess("1"), "0");
}

}  // namespace
}  // namespace krb::test
