// Tube moves in a simulated lab, through the exports: a plate store whose racks go to the
// tube store's two plate positions, tubes that really change racks, and racks that are back
// in their slots afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "KRB_lib.h"
#include "lib_test_support.h"
#include "sim/virtual_lab.h"
#include "support/temp_dir.h"

namespace krb::test {
namespace {

using Lines = std::vector<std::string>;
using sim::Place;
using sim::TubeSpot;

constexpr int kPlates = 41, kTubes = 42, kReader = 43;

sim::LabConfig labConfig() {
    sim::LabConfig config;
    sim::UnitConfig plates;
    plates.unitId = "Store";
    plates.com = kPlates;
    sim::UnitConfig tubes;
    tubes.unitId = "Tubes";
    tubes.com = kTubes;
    tubes.readerCom = kReader;
    tubes.doors = 0;
    config.units = {plates, tubes};
    return config;
}

sim::SimSettings simSettings() {
    sim::SimSettings settings;
    settings.tubeStoreCom = kTubes;
    settings.times.motion = 100;
    settings.times.init = 100;
    settings.times.turn = 20;
    settings.times.position = 20;
    settings.units[kTubes].rows = 2;
    settings.units[kTubes].columns = 3;
    return settings;
}

class TubeLab : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int slot : {1, 2, 3}) {
            ASSERT_TRUE(world().add(rack(slot), "R" + std::to_string(slot)));
            ASSERT_TRUE(world().putTube(rack(slot), {1, 1}, "T" + std::to_string(slot) + "11"));
            ASSERT_TRUE(world().putTube(rack(slot), {1, 2}, "T" + std::to_string(slot) + "12"));
        }
        for (const char* id : {"41", "42"}) {
            ASSERT_STREQ(KRB2Activate(id), "1") << id;
        }
        KRBLock("41");  // the plate store's motions need its door locked
        KRBSetId("41", "Store");
        KRBSetId("42", "Tubes");
    }
    void TearDown() override {
        KRBDisconnect("41");
        KRBDisconnect("42");
    }

    void markTubeStore() {
        KRBSetKVL("42", "1");
        ASSERT_STREQ(KRBBCRPath("42", "43"), "1");
    }
    static Place rack(int slot) { return Place::slot(kPlates, slot, 1); }
    sim::PlateWorld& world() { return lab.world(); }
    std::optional<std::string> tube(int slot, int row, int column) {
        return world().tubeAt(TubeSpot::inRack(rack(slot), row, column));
    }
    bool racksHome() {
        for (int slot : {1, 2, 3})
            if (!world().plateAt(rack(slot)) ||
                world().plateAt(rack(slot))->barcode != "R" + std::to_string(slot))
                return false;
        return true;
    }
    std::string write(const std::string& content) { return scratch.write("moves.csv", content); }
    void clearTranscripts() {
        lab.controller(kPlates).clearTranscript();
        lab.controller(kTubes).clearTranscript();
    }
    Lines plateLines(const std::string& command) {
        return linesStartingWith(lab.controller(kPlates).lines(), command);
    }
    bool quiet() {
        return lab.controller(kPlates).lines().empty() && lab.controller(kTubes).lines().empty();
    }

    sim::VirtualLab lab{labConfig(), simSettings()};
    test_support::TempDir scratch{"tubelab"};
    std::filesystem::path folder = scratch.path();
};

TEST_F(TubeLab, WithoutATubeStoreNothingIsSent) {
    clearTranscripts();
    EXPECT_STREQ(KVL2Inventory("41", "", "1", "1", "1", "0"), "-5");
    EXPECT_STREQ(KVLMoveVialWithFile("41", write("1,1,,1,1,2,1,,2,1,1\n").c_str()), "-2");
    EXPECT_STREQ(KRBMoveTubeExt("41", "2", "1", "1", "1", "1", "2", "2", "1", "2", "1", "0"), "-2");
    EXPECT_TRUE(quiet());
    EXPECT_STREQ(KVLMoveVialWithFile("99", "x"), "") << "plate unit not registered";
    EXPECT_STREQ(KVLReadVialBarcode("99", "1", "1", "0", ""), "BCRError");
    EXPECT_STREQ(KVLGetTubeProgress("99"), "");
}

TEST_F(TubeLab, MoveTubeExtCarriesATubeIntoAnotherRack) {
    markTubeStore();
    EXPECT_STREQ(KRBMoveTubeExt("41", "2", "1", "1", "1", "2", "2", "2", "1", "2", "3", "5"), "1");
    EXPECT_EQ(tube(2, 2, 3), "T112");
    EXPECT_FALSE(tube(1, 1, 2));
    EXPECT_TRUE(racksHome());
    EXPECT_STREQ(KRBIsOperationRunning("41"), "0");

    EXPECT_STREQ(KRBMoveTubeExt("41", "2", "3", "1", "1", "1", "2", "3", "1", "2", "2", "5"), "1")
        << "within one rack";
    EXPECT_EQ(tube(3, 2, 2), "T311");
    EXPECT_TRUE(racksHome());
}

TEST_F(TubeLab, MoveTubeExtRefusesAnUnmovableTubeBeforeAnyPlateMoves) {
    markTubeStore();
    clearTranscripts();
    EXPECT_STREQ(KRBMoveTubeExt("41", "2", "1", "1", "0", "2", "2", "2", "1", "2", "3", "5"),
                 "-Tubes;-3");
    EXPECT_TRUE(plateLines("ST 1905").empty());
    EXPECT_STREQ(KRBMoveTubeExt("41", "2", "1", "1", "x", "2", "2", "2", "1", "2", "3", "5"), "-5");
    EXPECT_STREQ(KRBIsOperationRunning("41"), "0");
}

TEST_F(TubeLab, MoveListWithChangingRacksMovesOnlyThePlatesNeeded) {
    markTubeStore();
    std::string file = write(
        "Source rack,,,,,Target rack\r\n"
        "1,1,A,1,1,2,1,B,2,1,1,first\r\n"
        "1,1,A,1,2,2,1,B,2,2,2\r\n"
        "2,1,B,2,1,1,1,A,1,1,3\r\n"    // roles change: no plate moves
        "3,1,C,1,1,3,1,C,2,3,4\r\n"    // one rack: the others go home
        "1,1,A,1,1,3,1,C,1,1,5\r\n");  // the rack of the first position stays
    clearTranscripts();
    EXPECT_STREQ(KVLMoveVialWithFile("41", file.c_str()), "1");
    EXPECT_EQ(tube(1, 1, 1), std::nullopt);
    EXPECT_EQ(tube(2, 2, 1), std::nullopt);
    EXPECT_EQ(tube(2, 2, 2), "T112");
    EXPECT_EQ(tube(3, 1, 1), "T111") << "rack 1 to 2, back to 1, then on to rack 3";
    EXPECT_EQ(tube(3, 2, 3), "T311");
    EXPECT_EQ(world().tubeCount(), 6u);
    EXPECT_TRUE(racksHome());
    EXPECT_EQ(plateLines("ST 1905").size(), 4u);
    EXPECT_EQ(plateLines("ST 1904").size(), 4u);
    EXPECT_TRUE(plateLines("ST 1907").empty()) << "no exchange of positions";
    EXPECT_STREQ(KVLGetTubeProgress("41"), "");
    EXPECT_STREQ(KRBIsOperationRunning("41"), "0");
}

TEST_F(TubeLab, MoveListWithinTheRackAtTheSecondPositionCarriesItAcross) {
    markTubeStore();
    std::string file = write(
        "1,1,,1,1,2,1,,2,1,1\n"
        "2,1,,2,1,2,1,,2,2,2\n");
    clearTranscripts();
    EXPECT_STREQ(KVLMoveVialWithFile("41", file.c_str()), "1");
    EXPECT_EQ(tube(2, 2, 2), "T111");
    EXPECT_TRUE(racksHome());
    EXPECT_EQ(plateLines("ST 1907").size(), 1u);
    EXPECT_EQ(plateLines("ST 1906").size(), 1u);
}

TEST_F(TubeLab, MalformedOrMissingMoveListMovesNothing) {
    markTubeStore();
    clearTranscripts();
    EXPECT_STREQ(
        KVLMoveVialWithFile("41", write("1,1,,1,1,2,1,,2,1,1\n1,1,,A,1,2,1,,2,1,1\n").c_str()),
        "-6");
    EXPECT_STREQ(KVLMoveVialWithFile("41", (folder / "none.csv").c_str()), "-5");
    EXPECT_TRUE(quiet());
    EXPECT_STREQ(KVLMoveVialWithFile("41", write("# nothing to do\n").c_str()), "1");
    EXPECT_EQ(lab.controller(kPlates).lines(), Lines{"RS 1104"});
    EXPECT_TRUE(racksHome());
}

TEST_F(TubeLab, FailedTubeMoveLeavesThePlatesOutAndFreesTheUnit) {
    markTubeStore();
    std::string file = write("1,1,,1,1,2,1,,1,1,1\n");  // rack 2 has a tube at 1,1 already
    EXPECT_STREQ(KVLMoveVialWithFile("41", file.c_str()), "-15");
    EXPECT_TRUE(world().plateAt(Place::rackPosition(kTubes, 1)));
    EXPECT_TRUE(world().plateAt(Place::rackPosition(kTubes, 2)));
    EXPECT_STREQ(KRBIsOperationRunning("41"), "0");
    EXPECT_STREQ(KVLGetTubeProgress("41"), "");
}

TEST_F(TubeLab, TubeStoreThatIsNotInitialisedIsRefused) {
    markTubeStore();
    KRBReset("42");
    clearTranscripts();
    EXPECT_STREQ(KVLMoveVialWithFile("41", write("1,1,,1,1,2,1,,2,1,1\n").c_str()), "-4");
    EXPECT_STREQ(KRBMoveTubeExt("41", "2", "1", "1", "1", "1", "2", "2", "1", "2", "1", "0"), "-4");
    EXPECT_TRUE(quiet());
    EXPECT_STREQ(KVL2Inventory("41", "", "1", "1", "1", "0"), "-3");
}

TEST_F(TubeLab, RackInventoryReadsEveryTubeAndReturnsTheRack) {
    markTubeStore();
    auto file = folder / "rack.txt";
    EXPECT_STREQ(KVL2Inventory("41", file.c_str(), "2", "1", "1", "0"), "1");
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(),
              "1,1,1,T211\r\n1,1,2,T212\r\n1,1,3,<null>\r\n"
              "1,2,1,<null>\r\n1,2,2,<null>\r\n1,2,3,<null>\r\n");
    EXPECT_TRUE(racksHome());
    EXPECT_STREQ(KRBIsOperationRunning("41"), "0");
    EXPECT_STREQ(KRBIsOperationRunning("42"), "0");
    EXPECT_STREQ(KVL2Inventory("41", file.c_str(), "2", "1", "1", ""), "-5");
}

TEST_F(TubeLab, VialBarcodeAndSingleMovesOnTheTubeStore) {
    markTubeStore();
    ASSERT_EQ(world().move(rack(3), Place::rackPosition(kTubes, 1)), sim::MoveOutcome::Moved);
    EXPECT_STREQ(KVLReadVialBarcode("42", "1", "2", "1", ""), "T312");
    EXPECT_STREQ(KVLMoveVial("42", "0", "1", "2", "0", "2", "2", "0"), "1");
    EXPECT_EQ(world().tubeAt(TubeSpot::inRack(Place::rackPosition(kTubes, 1), 2, 2)), "T312");
    EXPECT_STREQ(KVLMoveVial("42", "0", "1", "2", "0", "2", "2", "0"), "-4") << "no tube there";
    EXPECT_STREQ(KRBPlateFillTubes("42", "1", "1", "0"), "-3");
}

}  // namespace
}  // namespace krb::test
