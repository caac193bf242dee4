// The demo lab in-process under the real library: what the server and the end-to-end tests
// rely on.
#include <gtest/gtest.h>

#include <string>

#include "KRB_lib.h"
#include "platform/clock.h"
#include "sim/virtual_lab.h"
#include "support/demo_lab.h"

namespace krb::sim {
namespace {

class DemoLabUnderLibrary : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        MotionTimes times;
        times.init = 1000;
        times.motion = 500;
        times.turn = 100;
        lab_ = test_support::makeDemoLab(times).release();
    }
    static void TearDownTestSuite() {
        for (int com : lab_->unitPorts()) KRBDisconnect(std::to_string(com).c_str());
        delete lab_;
    }
    static VirtualLab* lab_;
};

VirtualLab* DemoLabUnderLibrary::lab_ = nullptr;

TEST_F(DemoLabUnderLibrary, EveryUnitActivates) {
    for (int com : lab_->unitPorts()) {
        const std::string id = std::to_string(com);
        EXPECT_EQ(std::string(KRB2Activate(id.c_str())), "1") << "COM" << com;
        EXPECT_EQ(std::string(KRBIsInitialized(id.c_str())), "1") << "COM" << com;
    }
    EXPECT_EQ(std::string(KRBSerialNumber("1")), "1101");
    EXPECT_EQ(std::string(KRBReadMaxSlot("1")), "20");
}

TEST_F(DemoLabUnderLibrary, OwnPortAndRelayedReadersGiveTheLabels) {
    ASSERT_EQ(std::string(KRB2Activate("1")), "1");
    EXPECT_EQ(std::string(KRBBCRPath("1", "11")), "1");
    EXPECT_EQ(std::string(KRBReadBarcode("1", "3", "1")), "P0003");
    ASSERT_EQ(std::string(KRB2Activate("3")), "1");
    KRBSetIsBCR("3", "1");
    KRBSetIsCompSv("3", "1");
    EXPECT_EQ(std::string(KRBReadBarcode("3", "4", "4")), "E0002");
}

TEST_F(DemoLabUnderLibrary, LibraryMoveArrivesInTheWorld) {
    ASSERT_EQ(std::string(KRB2Activate("4")), "1");
    KRBSetPlateDetector("4", "1");
    EXPECT_EQ(std::string(KRBMovePlate("4", "3", "3", "7", "2")), "1");
    EXPECT_EQ(lab_->control("WHERE P4001").front(), "PLATE COM4 SLOT 7 2 P4001");
    EXPECT_EQ(std::string(KRBMovePlate("4", "3", "3", "8", "1")), "2");  // the source is empty now
}

}  // namespace
}  // namespace krb::sim
