#include "sim/plate_world.h"

namespace krb::sim {

std::string describePlace(const Place& place) {
    switch (place.kind) {
        case PlaceKind::Slot:
            return "SLOT " + std::to_string(place.first) + " " + std::to_string(place.second);
        case PlaceKind::Station:
            return "STATION " + std::to_string(place.first);
        case PlaceKind::Shovel:
            return "SHOVEL";
        case PlaceKind::RackPosition:
            return "POSITION " + std::to_string(place.first);
    }
    return "?";
}

std::optional<int> PlateWorld::add(const Place& place, std::string barcode, bool labelled) {
    std::lock_guard lock(mutex_);
    if (plates_.contains(place)) return std::nullopt;
    const int id = nextId_++;
    plates_[place] = Plate{id, std::move(barcode), labelled, {}};
    return id;
}

bool PlateWorld::remove(const Place& place) {
    std::lock_guard lock(mutex_);
    return plates_.erase(place) > 0;
}

MoveOutcome PlateWorld::move(const Place& from, const Place& to) {
    std::lock_guard lock(mutex_);
    auto source = plates_.find(from);
    if (source == plates_.end()) return MoveOutcome::SourceEmpty;
    if (from == to) return MoveOutcome::Moved;
    if (plates_.contains(to)) return MoveOutcome::TargetOccupied;
    auto node = plates_.extract(source);
    node.key() = to;
    plates_.insert(std::move(node));
    return MoveOutcome::Moved;
}

std::optional<Plate> PlateWorld::plateAt(const Place& place) const {
    std::lock_guard lock(mutex_);
    auto found = plates_.find(place);
    if (found == plates_.end()) return std::nullopt;
    return found->second;
}

bool PlateWorld::occupied(const Place& place) const {
    std::lock_guard lock(mutex_);
    return plates_.contains(place);
}

std::vector<PlacedPlate> PlateWorld::platesOf(int unit) const {
    std::lock_guard lock(mutex_);
    std::vector<PlacedPlate> found;
    for (const auto& [place, plate] : plates_)
        if (place.unit == unit) found.push_back({place, plate});
    return found;
}

std::vector<PlacedPlate> PlateWorld::all() const {
    std::lock_guard lock(mutex_);
    std::vector<PlacedPlate> found;
    for (const auto& [place, plate] : plates_) found.push_back({place, plate});
    return found;
}

std::vector<PlacedPlate> PlateWorld::findBarcode(const std::string& barcode) const {
    std::lock_guard lock(mutex_);
    std::vector<PlacedPlate> found;
    for (const auto& [place, plate] : plates_)
        if (plate.barcode == barcode) found.push_back({place, plate});
    return found;
}

std::size_t PlateWorld::plateCount() const {
    std::lock_guard lock(mutex_);
    return plates_.size();
}

bool PlateWorld::setLabelled(const std::string& barcode, bool labelled) {
    std::lock_guard lock(mutex_);
    bool any = false;
    for (auto& [place, plate] : plates_) {
        if (plate.barcode != barcode) continue;
        plate.labelled = labelled;
        any = true;
    }
    return any;
}

Plate* PlateWorld::plateAtLocked(const Place& place) {
    auto found = plates_.find(place);
    return found == plates_.end() ? nullptr : &found->second;
}

bool PlateWorld::putTube(const Place& rack, TubeCoordinates position, std::string barcode) {
    std::lock_guard lock(mutex_);
    Plate* plate = plateAtLocked(rack);
    if (plate == nullptr || plate->tubes.contains(position)) return false;
    plate->tubes[position] = std::move(barcode);
    return true;
}

std::optional<std::string> PlateWorld::tubeAt(const TubeSpot& spot) const {
    std::lock_guard lock(mutex_);
    if (spot.gripper) {
        auto found = grippers_.find(spot.unit);
        return found == grippers_.end() ? std::nullopt : found->second;
    }
    auto plate = plates_.find(spot.rack);
    if (plate == plates_.end()) return std::nullopt;
    auto tube = plate->second.tubes.find(spot.position);
    if (tube == plate->second.tubes.end()) return std::nullopt;
    return tube->second;
}

TubeOutcome PlateWorld::moveTube(const TubeSpot& from, const TubeSpot& to) {
    std::lock_guard lock(mutex_);
    Plate* sourceRack = from.gripper ? nullptr : plateAtLocked(from.rack);
    Plate* targetRack = to.gripper ? nullptr : plateAtLocked(to.rack);
    if ((!from.gripper && sourceRack == nullptr) || (!to.gripper && targetRack == nullptr))
        return TubeOutcome::NoRack;
    std::optional<std::string> tube;
    if (from.gripper) {
        tube = grippers_[from.unit];
    } else if (auto found = sourceRack->tubes.find(from.position);
               found != sourceRack->tubes.end()) {
        tube = found->second;
    }
    if (!tube) return TubeOutcome::SourceEmpty;
    const bool targetTaken =
        to.gripper ? grippers_[to.unit].has_value() : targetRack->tubes.contains(to.position);
    if (targetTaken) return TubeOutcome::TargetOccupied;
    if (from.gripper) {
        grippers_[from.unit].reset();
    } else {
        sourceRack->tubes.erase(from.position);
    }
    if (to.gripper) {
        grippers_[to.unit] = std::move(tube);
    } else {
        targetRack->tubes[to.position] = std::move(*tube);
    }
    return TubeOutcome::Moved;
}

std::size_t PlateWorld::tubeCount() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [place, plate] : plates_) count += plate.tubes.size();
    for (const auto& [unit, tube] : grippers_) count += tube.has_value() ? 1 : 0;
    return count;
}

}  // namespace krb::sim
