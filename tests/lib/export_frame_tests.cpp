// Registry and result conventions, seen through the exports.
#include <gtest/gtest.h>

#include <string>

#include "KRB_lib.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

class ExportFrame : public ::testing::Test {
  protected:
    sim::PortDirectory ports;
};

TEST_F(ExportFrame, ConnectOpensPlainAndDevicePathNamesAndRegistersOnce) {
    sim::ControllerEmulator first(ports, 1);
    sim::ControllerEmulator tenth(ports, 10);
    EXPECT_STREQ(KRBConnect("1"), "1");
    EXPECT_STREQ(KRBConnect("10"), "1");
    EXPECT_STREQ(KRBConnect("1"), "2");

    first.registers().setDm(200, 42);
    EXPECT_STREQ(KRBReadDM("1", "200"), "42");
    KRBDisconnect("1");
    EXPECT_STREQ(KRBReadStatus("1"), "") << "a second entry for unit 1 survived the disconnect";
    EXPECT_STREQ(KRBConnect("1"), "1") << "a fresh object after the disconnect";
    KRBDisconnect("1");
    KRBDisconnect("10");
}

TEST_F(ExportFrame, ConnectRefusesBadIdsAndMissingPorts) {
    EXPECT_STREQ(KRBConnect("abc"), "3");
    EXPECT_STREQ(KRBConnect(""), "3");
    EXPECT_STREQ(KRBConnect(nullptr), "3");
    EXPECT_STREQ(KRBConnect("47"), "0");
    EXPECT_STREQ(KRBReadStatus("47"), "");
    EXPECT_STREQ(KRBConnect("47"), "0") << "the failed port must not have been registered";
}

TEST_F(ExportFrame, UnregisteredUnitsGiveTheirFamilysResult) {
    EXPECT_STREQ(KRBReadStatus("33"), "");
    EXPECT_STREQ(KRB2GetSysStatus("33"), "");
    EXPECT_STREQ(KRB2Reset("33"), "");
    EXPECT_STREQ(KRBSoftReset("33"), "");
    KRBWriteDM("33", "1", "2");  // no result, no failure
    KRBReset("33");
    KRBDisconnect("33");
}

TEST_F(ExportFrame, LeadingZerosFindTheSameUnit) {
    sim::ControllerEmulator controller(ports, 2);
    ASSERT_STREQ(KRBConnect("2"), "1");
    controller.registers().setDm(7, 7);
    EXPECT_STREQ(KRBReadDM("02", "7"), "7");
    EXPECT_STREQ(KRBConnect("02"), "2");
    KRBDisconnect("2");
}

TEST_F(ExportFrame, AReturnedTextIsOverwrittenByTheNextCallWritingTheSameSlot) {
    sim::ControllerEmulator controller(ports, 3);
    ASSERT_STREQ(KRBConnect("3"), "1");
    controller.registers().setDm(200, 0x1203);
    controller.registers().setRelay(1814, false);
    const char* status = KRBReadStatus("3");
    EXPECT_STREQ(status, "04611");
    KRBReadErrorCode("3");
    EXPECT_STREQ(status, "0") << "ResultText is shared by both exports";

    const char* sysStatus = KRB2GetSysStatus("3");
    KRBReadErrorCode("3");
    EXPECT_STREQ(sysStatus, "00000") << "the system status has a slot of its own";
    KRBDisconnect("3");
}

TEST_F(ExportFrame, CloseCommunicationKeepsTheUnitRegistered) {
    sim::ControllerEmulator controller(ports, 4);
    ASSERT_STREQ(KRBConnect("4"), "1");
    EXPECT_STREQ(KRBCloseCommunication("4"), "1");
    EXPECT_STREQ(KRBConnect("4"), "2");
    EXPECT_STREQ(KRBOpenCommunication("4"), "1");
    KRBDisconnect("4");
    EXPECT_TRUE(contains(controller.lines(), "CQ"));
}

}  // namespace
}  // namespace krb::test
