#include "sim/plate_world.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

namespace krb::sim {
namespace {

TEST(PlateWorld, MovesAPlateOnlyFromAnOccupiedToAFreePlace) {
    PlateWorld world;
    const Place a = Place::slot(1, 1, 1), b = Place::slot(1, 2, 1), c = Place::station(2, 1);
    ASSERT_TRUE(world.add(a, "A"));
    ASSERT_TRUE(world.add(b, "B"));
    EXPECT_FALSE(world.add(a, "again"));
    EXPECT_EQ(world.move(a, b), MoveOutcome::TargetOccupied);
    EXPECT_EQ(world.move(c, a), MoveOutcome::SourceEmpty);
    EXPECT_EQ(world.move(a, c), MoveOutcome::Moved);
    EXPECT_FALSE(world.occupied(a));
    EXPECT_EQ(world.plateAt(c)->barcode, "A");
    EXPECT_EQ(world.platesOf(2).size(), 1u);
    EXPECT_EQ(world.plateCount(), 2u);
}

TEST(PlateWorld, TubesTravelWithTheirRack) {
    PlateWorld world;
    const Place rack = Place::slot(4, 1, 1), position = Place::rackPosition(5, 1);
    ASSERT_TRUE(world.add(rack, "R1"));
    ASSERT_TRUE(world.putTube(rack, {1, 1}, "T1"));
    EXPECT_FALSE(world.putTube(rack, {1, 1}, "T2"));
    EXPECT_FALSE(world.putTube(position, {1, 1}, "T3"));  // no rack there
    ASSERT_EQ(world.move(rack, position), MoveOutcome::Moved);
    EXPECT_EQ(world.tubeAt(TubeSpot::inRack(position, 1, 1)), "T1");
    const auto gripper = TubeSpot::gripperOf(5);
    EXPECT_EQ(world.moveTube(TubeSpot::inRack(position, 2, 2), gripper), TubeOutcome::SourceEmpty);
    EXPECT_EQ(world.moveTube(TubeSpot::inRack(Place::rackPosition(5, 2), 1, 1), gripper),
              TubeOutcome::NoRack);
    EXPECT_EQ(world.moveTube(TubeSpot::inRack(position, 1, 1), gripper), TubeOutcome::Moved);
    EXPECT_EQ(world.moveTube(TubeSpot::inRack(position, 1, 1), gripper), TubeOutcome::SourceEmpty);
    ASSERT_TRUE(world.putTube(position, {3, 3}, "T4"));
    EXPECT_EQ(world.moveTube(gripper, TubeSpot::inRack(position, 3, 3)),
              TubeOutcome::TargetOccupied);
    EXPECT_EQ(world.tubeAt(gripper), "T1");
    EXPECT_EQ(world.tubeCount(), 2u);
}

// Many threads move plates at random between a few places: afterwards every plate is still
// there exactly once.
TEST(PlateWorld, ConcurrentMovesNeverDuplicateOrLosePlates) {
    PlateWorld world;
    std::vector<Place> places;
    for (int slot = 1; slot <= 6; ++slot) places.push_back(Place::slot(1, slot, 1));
    places.push_back(Place::shovel(1));
    places.push_back(Place::station(2, 1));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(world.add(places[static_cast<std::size_t>(i)], "P" + std::to_string(i)));
    std::vector<std::thread> movers;
    for (int t = 0; t < 4; ++t) {
        movers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            std::uniform_int_distribution<std::size_t> pick(0, places.size() - 1);
            for (int i = 0; i < 2000; ++i) world.move(places[pick(random)], places[pick(random)]);
        });
    }
    for (auto& mover : movers) mover.join();
    std::set<std::string> barcodes;
    for (const auto& placed : world.all()) barcodes.insert(placed.plate.barcode);
    EXPECT_EQ(world.plateCount(), 4u);
    EXPECT_EQ(barcodes, (std::set<std::string>{"P0", "P1", "P2", "P3"}));
}

}  // namespace
}  // namespace krb::sim
