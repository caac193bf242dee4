// Plate moves through the cascade manager: base unit (COM3), cascader (COM4) and extension
// unit (COM5), each on an emulator whose plate world is linked to the cascader's.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "KRB_lib.h"
#include "PlateMoves.h"
#include "UnitRegistry.h"
#include "lib_test_support.h"
#include "plate_world.h"

namespace krb::test {
namespace {

using Lines = std::vector<std::string>;
constexpr int kStation = 1, kStorage = 2, kHandler = 3, kCascade = 4;

struct Side {
    int unit, type, slot = 0, level = 0, cascadeSlot = 0, code = 0;
};

class Cascade : public ::testing::Test {
  protected:
    void SetUp() override {
        base.setModel(baseWorld);
        ext.setModel(extWorld);
        cascader.setModel(carrier);
        for (auto* controller : {&base, &cascader, &ext}) makeReadyAndReferenced(*controller);
        for (const char* id : {"3", "4", "5"}) {
            ASSERT_EQ(browser().Connect(id), "1");
            unit(id)->markInitialized(true);
        }
        unit("3")->SetBase(true);
        unit("4")->SetCascader(true);
        unit("5")->SetExt(true);
        clearTranscripts();
    }
    void TearDown() override {
        for (const char* id : {"3", "4", "5", "6"}) browser().Disconnect(id);
    }
    static TKRB_Browser& browser() { return TKRB_Browser::Instance(); }
    static UnitPtr unit(const std::string& id) { return browser().UnitFor(id); }
    void clearTranscripts() {
        for (auto* controller : {&base, &cascader, &ext}) controller->clearTranscript();
    }
    static std::string move(const Side& s, const Side& t) {
        auto n = [](int value) { return std::to_string(value); };
        return MovePlate2(
            browser(), {n(s.unit), n(s.type), n(s.slot), n(s.level), n(s.cascadeSlot), n(s.code),
                        n(t.unit), n(t.type), n(t.slot), n(t.level), n(t.cascadeSlot), n(t.code)});
    }

    sim::PortDirectory ports;
    sim::ControllerEmulator base{ports, 3}, cascader{ports, 4}, ext{ports, 5};
    std::shared_ptr<PlateWorld> baseWorld = std::make_shared<PlateWorld>();
    std::shared_ptr<PlateWorld> extWorld = std::make_shared<PlateWorld>();
    std::shared_ptr<CascaderWorld> carrier =
        std::make_shared<CascaderWorld>(CascaderWorld::Side{baseWorld, &base.registers(), 14},
                                        CascaderWorld::Side{extWorld, &ext.registers(), 6});
};

TEST(CascadeTurns, CarouselTurnWrapsOnceAroundTwentySlots) {
    TCascadeMngr manager(TKRB_Browser::Instance());
    using S = TCascadeMngr::TSide;
    EXPECT_EQ(manager.CarouselTurn(7, S::Base), 1);
    EXPECT_EQ(manager.CarouselTurn(6, S::Base), 20);
    EXPECT_EQ(manager.CarouselTurn(15, S::Ext), 1);
    EXPECT_EQ(manager.CarouselTurn(14, S::Ext), 20);
    EXPECT_EQ(TCascadeMngr::LevelOfCode(0), 3);
    EXPECT_EQ(TCascadeMngr::LevelOfCode(1), 2);
    EXPECT_EQ(TCascadeMngr::LevelOfCode(3), 3);
    EXPECT_EQ(TCascadeMngr::LevelOfCode(2), 0);
}

TEST_F(Cascade, RefusalsBeforeAnythingMoves) {
    EXPECT_EQ(MovePlate2(browser(), {"3", "2", "x", "1", "0", "0", "3", "2", "1", "1", "0", "0"}),
              "2");
    EXPECT_EQ(move({0, kStorage, 1, 1}, {3, kStorage, 2, 2}), "3");
    EXPECT_EQ(move({3, kStorage, 1, 1}, {0, kStorage, 2, 2}), "3");
    EXPECT_EQ(move({3, kStorage, 1, 1}, {9, kStorage, 2, 2}), "3") << "not registered";
    EXPECT_EQ(move({3, kStorage, 1, 1, 4, 1}, {5, kStorage, 2, 2, 2, 1}), "6") << "base slot even";
    EXPECT_EQ(move({3, kStorage, 1, 1, 3, 1}, {5, kStorage, 2, 2, 3, 1}), "7") << "ext slot odd";
    EXPECT_EQ(move({3, kStorage, 1, 1, 0, 1}, {5, kStorage, 2, 2, 2, 1}), "5");
    EXPECT_EQ(move({5, kStorage, 1, 1, 2, 1}, {3, kStorage, 2, 2, 0, 1}), "5");
    EXPECT_EQ(move({3, kStorage, 0, 1, 3, 1}, {5, kStorage, 2, 2, 2, 1}), "8");
    EXPECT_EQ(move({3, kStorage, 1, 1, 3, 1}, {5, kStorage, 2, 0, 2, 1}), "9");
    EXPECT_EQ(move({3, kCascade, 0, 0, 4, 1}, {3, kStorage, 2, 2}), "6")
        << "single move, base side";
    EXPECT_EQ(move({5, kStorage, 1, 1}, {5, kCascade, 0, 0, 3, 1}), "7") << "single move, ext side";
    ASSERT_TRUE(unit("5")->tryClaimBusy());
    EXPECT_EQ(move({3, kStorage, 1, 1, 3, 1}, {5, kStorage, 2, 2, 2, 1}), "0");
    unit("5")->releaseBusy();
    for (auto* controller : {&base, &cascader, &ext}) EXPECT_TRUE(controller->lines().empty());
}

TEST_F(Cascade, SamePositionAnswersAtOnce) {
    EXPECT_EQ(move({3, kStorage, 5, 3}, {3, kStorage, 5, 3}), "1");
    EXPECT_EQ(move({3, kHandler}, {3, kHandler}), "1");
    EXPECT_TRUE(base.lines().empty());
}

TEST_F(Cascade, IncompleteCascadeRefusesCrossMoves) {
    unit("5")->SetExt(false);
    EXPECT_EQ(move({3, kStorage, 1, 1, 3, 1}, {5, kStorage, 2, 2, 2, 1}), "4");
    EXPECT_EQ(move({3, kStorage, 1, 1}, {3, kCascade, 0, 0, 3, 1}), "4");
    baseWorld->put(1, 1, "solo");
    EXPECT_EQ(move({3, kStorage, 1, 1}, {3, kStorage, 4, 2}), "1") << "one unit needs no cascade";
    EXPECT_EQ(baseWorld->at(4, 2), "solo");
}

TEST_F(Cascade, UnitsOutsideTheCascadeAreNotJoinedByIt) {
    sim::ControllerEmulator loose{ports, 6};
    makeReadyAndReferenced(loose);
    ASSERT_EQ(browser().Connect("6"), "1");
    unit("6")->markInitialized(true);
    EXPECT_EQ(move({6, kStorage, 1, 1, 3, 1}, {5, kStorage, 2, 2, 2, 1}), "4");
    EXPECT_TRUE(loose.lines().empty());
}

TEST_F(Cascade, MovesWithinOneUnitArrive) {
    baseWorld->put(1, 1, "b");
    EXPECT_EQ(move({3, kStorage, 1, 1}, {3, kStorage, 9, 4}), "1");
    EXPECT_EQ(baseWorld->plates(), (std::map<PlateWorld::Position, std::string>{{{9, 4}, "b"}}));
    extWorld->put(2, 2, "e");
    EXPECT_EQ(move({5, kStorage, 2, 2}, {5, kStation}), "1");
    EXPECT_EQ(extWorld->station(), "e");
    EXPECT_EQ(move({5, kStation}, {5, kStorage, 6, 1}), "1");
    EXPECT_EQ(extWorld->at(6, 1), "e");
    EXPECT_EQ(move({5, kStorage, 6, 1}, {5, kCascade, 0, 0, 2, 1}), "1");
    EXPECT_EQ(extWorld->at(2, 2), "e") << "cascade slot 2, code 1 is level 2";
    EXPECT_TRUE(contains(ext.lines(), "WR DM0 8")) << "carousel turned to the cascader";
    EXPECT_FALSE(unit("5")->busy());
}

TEST_F(Cascade, CrossMovesArriveInBothDirections) {
    baseWorld->put(1, 1, "x");
    EXPECT_EQ(move({3, kStorage, 1, 1, 3, 1}, {5, kStorage, 7, 4, 2, 1}), "1");
    EXPECT_EQ(extWorld->plates(), (std::map<PlateWorld::Position, std::string>{{{7, 4}, "x"}}));
    EXPECT_TRUE(baseWorld->plates().empty());
    EXPECT_TRUE(contains(cascader.lines(), "ST 1904")) << "equal codes: one load motion";

    EXPECT_EQ(move({5, kStorage, 7, 4, 4, 3}, {3, kStation, 0, 0, 5, 1}), "1");
    EXPECT_EQ(baseWorld->station(), "x");
    EXPECT_TRUE(extWorld->plates().empty());
    EXPECT_TRUE(contains(cascader.lines(), "ST 1908") && contains(cascader.lines(), "ST 1909"))
        << "different codes: pick and place";
}

TEST_F(Cascade, CrossMoveToItsOwnTransferPositionEndsThere) {
    baseWorld->put(1, 1, "t");
    EXPECT_EQ(move({3, kStorage, 1, 1, 3, 1}, {5, kStorage, 2, 2, 2, 1}), "1");
    EXPECT_EQ(extWorld->at(2, 2), "t");
}

TEST_F(Cascade, ExchangesWithTheCascader) {
    baseWorld->put(8, 1, "c");
    EXPECT_EQ(move({3, kStorage, 8, 1, 5, 1}, {4, kHandler, 0, 0, 0, 1}), "1");
    EXPECT_EQ(carrier->shovel(), "c");
    EXPECT_TRUE(baseWorld->plates().empty());
    EXPECT_EQ(move({4, kHandler, 0, 0, 0, 3}, {5, kStorage, 9, 1, 4, 3}), "1");
    EXPECT_EQ(extWorld->plates(), (std::map<PlateWorld::Position, std::string>{{{9, 1}, "c"}}));
    EXPECT_FALSE(carrier->shovel());
    EXPECT_EQ(move({4, kHandler, 0, 0, 0, 1}, {3, kStorage, 9, 1, 4, 1}), "6") << "even base slot";
    EXPECT_EQ(move({4, kHandler}, {3, kStorage, 9, 1, 0, 1}), "7");
    EXPECT_EQ(move({3, kStorage, 8, 1, 0, 1}, {4, kHandler}), "6");
}

TEST_F(Cascade, FailedStepNamesUnitAndStepAndLeavesThePlate) {
    baseWorld->put(1, 1, "f");
    baseWorld->failNextMotion(1908);
    EXPECT_EQ(move({3, kStorage, 1, 1}, {3, kStorage, 2, 1}), "33");
    EXPECT_EQ(baseWorld->at(1, 1), "f");
    // The completion watcher frees the unit once it sees the error flag.
    for (int i = 0; i < 2000 && unit("3")->busy(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(unit("3")->busy());

    base.registers().setRelay(1814, false);
    base.registers().setRelay(1915, true);
    carrier->failNextMotion(1909);
    EXPECT_EQ(move({3, kStorage, 1, 1, 3, 1}, {5, kStorage, 6, 2, 2, 3}), "44");
    EXPECT_EQ(carrier->shovel(), "f") << "picked by the cascader, not placed";
    EXPECT_TRUE(baseWorld->plates().empty());
    EXPECT_TRUE(extWorld->plates().empty());
}

TEST_F(Cascade, ExportsAnswerInTheirSlot) {
    EXPECT_STREQ(KRBMovePlate2("3", "5", "1", "1", "0", "0", "3", "2", "1", "1", "0", "0"), "-4")
        << "no tube store";
    EXPECT_STREQ(KRBMovePlate2("8", "2", "1", "1", "0", "0", "3", "5", "0", "0", "0", "0"), "-4");
    EXPECT_STREQ(KRB2ServiceMovePlate("3", "2", "5", "3", "0", "0", "3", "2", "5", "3", "0", "0"),
                 "1");
    for (auto* controller : {&base, &cascader, &ext}) EXPECT_TRUE(controller->lines().empty());
}

TEST_F(Cascade, TubeStoreRouteMovesThroughItsPlatePositions) {
    unit("5")->SetExt(false);
    unit("5")->SetKVL(true);
    unit("5")->markInitialized(false);
    EXPECT_STREQ(KRBMovePlate2("3", "2", "1", "1", "0", "0", "5", "5", "0", "0", "1", "0"), "-3");
    unit("5")->markInitialized(true);
    clearTranscripts();
    baseWorld->put(1, 1, "rack");
    EXPECT_STREQ(KRBMovePlate2("3", "2", "1", "1", "0", "0", "5", "5", "0", "0", "1", "0"), "1");
    EXPECT_TRUE(contains(ext.lines(), "ST 1105")) << "position 1 selected on the tube store";
    EXPECT_EQ(base.lines().front(), "ST 1104");
    EXPECT_EQ(base.lines().back(), "RS 1104");
    EXPECT_EQ(baseWorld->station(), "rack") << "unloaded out of the store";
    baseWorld->setStation(std::nullopt);
    baseWorld->failNextMotion(1904);
    EXPECT_STREQ(KRBMovePlate2("3", "5", "0", "0", "0", "0", "5", "2", "4", "4", "0", "0"), "31");
    EXPECT_FALSE(unit("3")->busy());
    EXPECT_EQ(unit("3")->SendHandlerMotion("1", "0", 1904), "2");
}

}  // namespace
}  // namespace krb::test
