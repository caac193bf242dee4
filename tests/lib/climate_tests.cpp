// Climate set points and actual values, and the shaker.
#include "operation_support.h"

namespace krb::test {
namespace {

using Climate = UnitOnEmulator;

struct SetPointCase {
    void (TKRB_Class::*write)(const std::string&);
    const char* value;
    const char* expectedLine;  // nullptr: nothing is sent
};

class SetPoints : public Climate, public ::testing::WithParamInterface<SetPointCase> {};

TEST_P(SetPoints, AreScaledRoundedAndEncoded) {
    Lines lines = linesAfter([&] { (unit.get()->*GetParam().write)(GetParam().value); });
    if (GetParam().expectedLine)
        EXPECT_EQ(lines, Lines{GetParam().expectedLine});
    else
        EXPECT_TRUE(lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetPoints,
    ::testing::Values(SetPointCase{&TKRB_Class::WriteSetTemperature, "-5", "WR DM890 65486"},
                      SetPointCase{&TKRB_Class::WriteSetHumidity, "-5", "WR DM893 -50"},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "37.2", "WR DM890 372"},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "37.25", "WR DM890 372"},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "37.35", "WR DM890 374"},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "-0.05", "WR DM890 0"},
                      SetPointCase{&TKRB_Class::WriteSetCO2, "5,5", "WR DM894 550"},
                      SetPointCase{&TKRB_Class::WriteSetN2, " 0,125 ", "WR DM895 12"},
                      SetPointCase{&TKRB_Class::WriteSetO2, "5.5", "WR DM896 550"},
                      SetPointCase{&TKRB_Class::WriteSetO2, "5,5", nullptr},
                      SetPointCase{&TKRB_Class::WriteSetCO2, "5,5,5", nullptr},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "abc", nullptr},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "", nullptr},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "-", nullptr},
                      SetPointCase{&TKRB_Class::WriteSetTemperature, "1e2", nullptr},
                      SetPointCase{&TKRB_Class::WriteSetHumidity, "99999999999999999999",
                                   nullptr}));

TEST_F(Climate, ValuesReadAsSignedFixedPoint) {
    auto& registers = controller.registers();
    registers.setDm(982, 370);
    registers.setDm(984, 500);
    registers.setDm(890, 65486);
    registers.setDm(893, 0);
    EXPECT_EQ(unit->ReadActualTemperature(), "037.00");
    EXPECT_EQ(unit->ReadActualCO2(), "005.00");
    EXPECT_EQ(unit->ReadSetTemperature(), "-005.00");
    EXPECT_EQ(unit->ReadSetHumidity(), "0") << "zero is not patterned";
    controller.setNonNumericWord(986, "?????");
    EXPECT_EQ(unit->ReadActualO2(), "0");
}

TEST_F(Climate, CombinedReadsJoinFourValuesInOrder) {
    controller.registers().setDm(983, 455);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ReadActualClimate2(), "0;045.50;0;0"); });
    EXPECT_EQ(lines, (Lines{"RD DM982", "RD DM983", "RD DM984", "RD DM985"}));
    lines = linesAfter([&] { unit->ReadSetClimate2(); });
    EXPECT_EQ(lines, (Lines{"RD DM890", "RD DM893", "RD DM894", "RD DM895"}));
}

TEST_F(Climate, Shaker) {
    Lines lines = linesAfter([&] {
        unit->WriteShakerSpeed("12x");
        unit->WriteShakerSpeed("300");
        EXPECT_EQ(unit->ReadShakerSpeed(), "300");
        EXPECT_EQ(unit->ActivateShaker(), "OK");
        EXPECT_EQ(unit->DeactivateShaker(), "OK");
    });
    EXPECT_EQ(lines, (Lines{"WR DM39 300", "RD DM39", "ST 1913", "RS 1913"}));
}

}  // namespace
}  // namespace krb::test
