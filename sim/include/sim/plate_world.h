#pragma once
// Where every plate (and every tube in a rack) of a virtual lab is. All units of a lab share
// one world, so a plate handed from one unit to another really leaves the first. Every change
// is one locked step: a plate never exists twice and never vanishes.
#include <compare>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace krb::sim {

enum class PlaceKind { Slot, Station, Shovel, RackPosition };

struct Place {
    int unit = 0;  // controller COM number
    PlaceKind kind = PlaceKind::Slot;
    int first = 0;   // slot, station number or rack position
    int second = 0;  // level (slots only)

    auto operator<=>(const Place&) const = default;

    static Place slot(int unit, int slot, int level) {
        return {unit, PlaceKind::Slot, slot, level};
    }
    static Place station(int unit, int number) { return {unit, PlaceKind::Station, number, 0}; }
    static Place shovel(int unit) { return {unit, PlaceKind::Shovel, 0, 0}; }
    static Place rackPosition(int unit, int position) {
        return {unit, PlaceKind::RackPosition, position, 0};
    }
};

// "SLOT 3 2", "STATION 1", "SHOVEL", "POSITION 2" (no unit).
std::string describePlace(const Place& place);

using TubeCoordinates = std::pair<int, int>;  // row, column

struct Plate {
    int id = 0;
    std::string barcode;
    bool labelled = true;  // false: the reader finds no code on it
    std::map<TubeCoordinates, std::string> tubes;
};

struct PlacedPlate {
    Place place;
    Plate plate;
};

enum class MoveOutcome { Moved, SourceEmpty, TargetOccupied };

// One end of a tube motion: a tube position in the rack standing at `rack`, or the
// gripper of tube store `unit`.
struct TubeSpot {
    Place rack;
    TubeCoordinates position;
    bool gripper = false;
    int unit = 0;

    static TubeSpot inRack(const Place& rack, int row, int column) {
        return {rack, {row, column}, false, rack.unit};
    }
    static TubeSpot gripperOf(int unit) { return {{}, {}, true, unit}; }
};

enum class TubeOutcome { Moved, NoRack, SourceEmpty, TargetOccupied };

class PlateWorld {
  public:
    // nullopt when the place is taken already.
    std::optional<int> add(const Place& place, std::string barcode, bool labelled = true);
    bool remove(const Place& place);
    MoveOutcome move(const Place& from, const Place& to);

    std::optional<Plate> plateAt(const Place& place) const;
    bool occupied(const Place& place) const;
    std::vector<PlacedPlate> platesOf(int unit) const;  // in place order
    std::vector<PlacedPlate> all() const;
    std::vector<PlacedPlate> findBarcode(const std::string& barcode) const;
    std::size_t plateCount() const;
    // Marks every plate with that barcode; false when there is none.
    bool setLabelled(const std::string& barcode, bool labelled);

    // false when no plate stands there or the position holds a tube already.
    bool putTube(const Place& rack, TubeCoordinates position, std::string barcode);
    std::optional<std::string> tubeAt(const TubeSpot& spot) const;
    TubeOutcome moveTube(const TubeSpot& from, const TubeSpot& to);
    std::size_t tubeCount() const;

  private:
    Plate* plateAtLocked(const Place& place);

    mutable std::mutex mutex_;
    int nextId_ = 1;
    std::map<Place, Plate> plates_;
    std::map<int, std::optional<std::string>> grippers_;
};

}  // namespace krb::sim
