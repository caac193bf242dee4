// The binding against the linked KRB_lib for a unit that is not registered there (its
// port cannot be opened): every result is a failure value and no lock stays held.
#include <gtest/gtest.h>

#include <cstdlib>

#include "fake_library.h"
#include "lab/Unit.h"

namespace krb::server::testing {
namespace {

KRBExports RegistryExports() {
    KRBExports table;
    table.KRBConnect = &::KRBConnect;
    table.KRBOpenCommunication = &::KRBOpenCommunication;
    table.KRBReadReadyFlag = &::KRBReadReadyFlag;
    table.KRBReadBackStr = &::KRBReadBackStr;
    table.KRBIsOperationRunning = &::KRBIsOperationRunning;
    table.KRB2GetSysStatus = &::KRB2GetSysStatus;
    table.KRBSwap = &::KRBSwap;
    return table;
}

TEST(RealLibrary, UnregisteredUnitGivesFailureValuesAndReleasesLocks) {
    TempFolder ports;  // no COM entries: the port cannot be opened
    ::setenv("KRB_PORT_DIR", ports.path().c_str(), 1);
    TKRBDLL dll{RegistryExports()};
    TKRBId unit{"Nowhere", 250, "Sys", "", dll};
    EXPECT_EQ(unit.ActivateUnit(), "-1");
    EXPECT_TRUE(unit.Error);
    EXPECT_EQ(unit.ReadReadyFlag(), "-1");
    EXPECT_EQ(unit.IsOperationRunning(), "-1");
    EXPECT_EQ(unit.GetSysStatus2(), "-1");
    EXPECT_EQ(unit.Swap(), "-1");
    EXPECT_FALSE(IsHeld(unit, TKRBId::OperationLock));
    EXPECT_FALSE(IsHeld(unit, TKRBId::DeviceLock));
    EXPECT_FALSE(BindingLockHeld(250));
    ::unsetenv("KRB_PORT_DIR");
}

}  // namespace
}  // namespace krb::server::testing
