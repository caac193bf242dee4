// Plates carried between the demo lab's base (COM1) and extension (COM3) through the
// cascader (COM2). Base cascade slot 1 and extension cascade slot 2 face the cascader; cascade
// code 0 and 3 reach level 3 there, code 1 level 2.
#include "demo_lab_fixture.h"

namespace krb::integration {
namespace {

constexpr int kBase = 1, kCascader = 2, kExtension = 3;

class CascadeOnSim : public DemoLab {
  protected:
    void SetUp() override {
        DemoLab::SetUp();
        for (int com : {kBase, kCascader, kExtension}) activate(com);
    }
    bool handlersEmpty() {
        for (int com : {kBase, kCascader, kExtension})
            if (!empty(Place::shovel(com))) return false;
        return true;
    }
    // Base slot 1 level 2 holds P0002 from the start; the moves below never use it.
    bool cascadePositionsEmpty() {
        return empty(Place::slot(kBase, 1, 3)) && empty(Place::slot(kExtension, 2, 2)) &&
               empty(Place::slot(kExtension, 2, 3));
    }
    bool allIdle() {
        for (const char* id : {"1", "2", "3"})
            if (std::string(KRBIsOperationRunning(id)) != "0") return false;
        return true;
    }
};

TEST_F(CascadeOnSim, BaseToExtensionDeliversThePlate) {
    EXPECT_STREQ(KRBMovePlate2("1", "2", "3", "1", "1", "0", "3", "2", "6", "1", "2", "0"), "1");
    EXPECT_EQ(placeOf("P0003"), Place::slot(kExtension, 6, 1));
    EXPECT_TRUE(handlersEmpty());
    EXPECT_TRUE(cascadePositionsEmpty());
    EXPECT_TRUE(allIdle());
}

// Different codes on the two sides: the cascader picks and places instead of carrying through.
TEST_F(CascadeOnSim, ExtensionToBaseDeliversThePlate) {
    EXPECT_STREQ(KRB2ServiceMovePlate("3", "2", "4", "4", "2", "1", "1", "2", "4", "1", "1", "3"),
                 "1");
    EXPECT_EQ(placeOf("E0002"), Place::slot(kBase, 4, 1));
    EXPECT_TRUE(handlersEmpty());
    EXPECT_TRUE(cascadePositionsEmpty());
    EXPECT_TRUE(allIdle());
}

TEST_F(CascadeOnSim, FailingCascaderLeavesThePlateAtTheBaseCascadePosition) {
    control("FAULT COM2 error 1303");
    EXPECT_STREQ(KRBMovePlate2("1", "2", "3", "1", "1", "0", "3", "2", "6", "1", "2", "0"), "21");
    EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 1, 3));
    EXPECT_TRUE(handlersEmpty());
}

TEST_F(CascadeOnSim, FailingPickAtTheTargetLeavesThePlateAtItsCascadePosition) {
    control("FAULT COM3 error 7303");
    EXPECT_STREQ(KRBMovePlate2("1", "2", "3", "1", "1", "0", "3", "2", "6", "1", "2", "0"), "33");
    EXPECT_EQ(placeOf("P0003"), Place::slot(kExtension, 2, 3));
    EXPECT_TRUE(handlersEmpty());
    EXPECT_STREQ(KRBReadErrorFlag("3"), "1");
}

TEST_F(CascadeOnSim, RefusedMoveLeavesEveryPlateInPlace) {
    lab_->controller(kBase).clearTranscript();
    EXPECT_STREQ(KRBMovePlate2("1", "2", "3", "1", "2", "0", "3", "2", "6", "1", "2", "0"), "6")
        << "an even cascade slot on the base side";
    EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 3, 1));
    EXPECT_TRUE(handlerMotions(kBase).empty());
}

}  // namespace
}  // namespace krb::integration
