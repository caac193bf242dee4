// A move list of the demo lab's tube lab: racks R0001 (slot 1) and R0002 (slot 2) of the
// plate store COM4 go to the tube store COM5, tubes change racks, the racks come home.
#include "demo_lab_fixture.h"
#include "support/temp_dir.h"

namespace krb::integration {
namespace {

constexpr int kStore = 4, kTubeStore = 5;

class TubesOnSim : public DemoLab {
  protected:
    void SetUp() override {
        DemoLab::SetUp();
        activate(kStore);
        activate(kTubeStore);
        KRBSetKVL("5", "1");
    }

    std::optional<std::string> tube(int slot, int row, int column) {
        return world().tubeAt(sim::TubeSpot::inRack(Place::slot(kStore, slot, 1), row, column));
    }
    std::string write(const std::string& content) { return folder_.write("moves.csv", content); }

    test_support::TempDir folder_{"moves-on-sim"};
};

TEST_F(TubesOnSim, MoveListMovesTheTubesAndReturnsBothRacks) {
    const std::string moves = write(
        "Source slot,level,rack,row,column,Target slot,level,rack,row,column,tube,text\r\n"
        "1,1,R0001,1,1,2,1,R0002,1,1,1\r\n"
        "1,1,R0001,1,2,2,1,R0002,3,5,2,second, with a comma\r\n"
        "2,1,R0002,1,1,1,1,R0001,8,12,3\r\n");
    const std::size_t tubes = world().tubeCount();
    EXPECT_STREQ(KVLMoveVialWithFile("4", moves.c_str()), "1");

    EXPECT_EQ(tube(1, 8, 12), "T0001") << "to rack 2 and back to the last corner of rack 1";
    EXPECT_EQ(tube(2, 3, 5), "T0002");
    EXPECT_EQ(tube(1, 1, 1), std::nullopt);
    EXPECT_EQ(tube(1, 1, 2), std::nullopt);
    EXPECT_EQ(tube(2, 1, 1), std::nullopt);
    EXPECT_EQ(tube(1, 1, 3), "T0003") << "not in the list";
    EXPECT_EQ(world().tubeCount(), tubes);

    EXPECT_EQ(placeOf("R0001"), Place::slot(kStore, 1, 1));
    EXPECT_EQ(placeOf("R0002"), Place::slot(kStore, 2, 1));
    EXPECT_TRUE(empty(Place::rackPosition(kTubeStore, 1)));
    EXPECT_TRUE(empty(Place::rackPosition(kTubeStore, 2)));
    EXPECT_STREQ(KRBIsOperationRunning("4"), "0");
    EXPECT_STREQ(KVLGetTubeProgress("4"), "");
}

}  // namespace
}  // namespace krb::integration
