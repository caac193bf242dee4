#pragma once
// The tube and vial store: two plate positions holding racks (relay 1104 selects position 1,
// 1105 position 2), a tube gripper, rows in DM29 and columns in DM25. DM0 and DM5 carry tube
// coordinates as binary-coded decimal: the low byte alone (coordinate 12 written as 0x12),
// the high byte alone (packed single, 0x1200), or both bytes (a packed pair: high byte in the
// rack at position 2, low byte in the rack at position 1). Words may be written in decimal or
// as hexadecimal text ("$1203", "0x1203").
#include <cstdint>
#include <optional>

#include "sim/unit_model_base.h"

namespace krb::sim {

struct TubeStoreGeometry {
    int rows = 8;      // DM29
    int columns = 12;  // DM25
};

// Tube coordinate words: nullopt when the word is a pair or not a coordinate at all.
std::optional<int> decodeTubeCoordinate(std::uint16_t word);
// A pair (high byte, low byte), or a single coordinate used for both racks.
std::optional<std::pair<int, int>> decodeTubePair(std::uint16_t word);

class TubeStoreModel : public UnitModelBase {
  public:
    TubeStoreModel(int com, RegisterStore& registers, PlateWorld& world, MotionTimes times,
                   UnitIdentity identity, const TubeStoreGeometry& geometry);
    ~TubeStoreModel() override;

    Place selectedRack() const;  // plate position 1 or 2 of this unit
    std::optional<std::string> codeInFrontOfReader() const override;

  protected:
    std::optional<std::string> handleUnit(const Command& command) override;
    std::optional<Motion> handlerMotion(int relay) override;
    void wordWritten(int address, std::uint16_t value) override;
    std::optional<std::uint16_t> parseWord(const std::string& text) const override;
    bool detectorReads(int relay) const override;
    bool shovelOccupied() const override;

  private:
    std::optional<TubeSpot> scanSpot() const;
    std::uint16_t moveTube(Operation operation, std::optional<TubeSpot> from,
                           std::optional<TubeSpot> to);
    std::optional<TubeSpot> spotIn(int position, std::optional<int> row,
                                   std::optional<int> column) const;

    mutable std::mutex stateMutex_;
    int selected_ = 1;
};

}  // namespace krb::sim
