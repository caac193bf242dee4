#pragma once
// A plate store: a carousel of slots with levels, a handler with a shovel, transfer stations
// 1 and 2 (relay 1607 selects), and, while relay 1104 is set, the tube store's selected plate
// position in place of the station.
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/unit_model_base.h"

namespace krb::sim {

struct CassetteGeometry {
    int slot = 0;
    int levels = 0;
    int pitch = 0;
    int type = 0;
};

struct PlateStoreGeometry {
    int slots = 10;                           // DM29
    int levels = 10;                          // DM25
    int carouselPositions = 20;               // DM46
    int handlerPitch = 0;                     // DM23
    int barcodeHeight = 300;                  // DM6
    int barcodeOffset = 400;                  // DM27
    std::vector<CassetteGeometry> cassettes;  // DM250 + slot, DM230 + type
};

enum class CascadeSide { None, Base, Extension };

class TubeStoreModel;

class PlateStoreModel : public UnitModelBase {
  public:
    PlateStoreModel(int com, RegisterStore& registers, PlateWorld& world, MotionTimes times,
                    UnitIdentity identity, const PlateStoreGeometry& geometry,
                    CascadeSide side = CascadeSide::None);
    ~PlateStoreModel() override;

    void setTubeStore(const TubeStoreModel* tubeStore);  // before the first command
    CascadeSide side() const { return side_; }

    // Slot and level within the geometry the registers hold now (DM29, DM25, DM250 + slot).
    bool validPosition(int slot, int level) const;
    // The slot that faces the cascader: the carousel position minus 14 on the base side,
    // minus 6 on the extension side (turned by a DM0 write). nullopt before the first turn.
    std::optional<int> cascadeFacingSlot() const;

    std::optional<std::string> codeInFrontOfReader() const override;

    // Fault: positioning the scan in front of this slot and level ends with `code` in DM200.
    void failScanAt(int slot, int level, std::uint16_t code);

  protected:
    std::optional<Motion> handlerMotion(int relay) override;
    void wordWritten(int address, std::uint16_t value) override;
    bool detectorReads(int relay) const override;
    bool shovelOccupied() const override;
    int handlerSlot() const override;

  private:
    struct Transfer {
        Operation operation;
        std::optional<Place> from;  // nullopt: the station side is unavailable
        std::optional<Place> to;
        bool usesSlot;
    };

    std::optional<Place> stationPlace() const;
    Place handlerPlace() const;
    std::optional<Place> scanPlace() const;
    std::uint16_t scanFaultAt(const Place& place) const;  // 0: no fault there
    std::uint16_t carryOut(const Transfer& transfer, int slot, int level);
    int levelsOf(int slot) const;

    const CascadeSide side_;
    const TubeStoreModel* tubeStore_ = nullptr;
    mutable std::mutex stateMutex_;
    int handlerSlot_ = 0;
    int handlerLevel_ = 0;
    int carouselPosition_ = 0;
    std::optional<std::pair<Place, std::uint16_t>> failingScan_;
};

// Error kind for an empty source or an occupied target, by the kind of place.
ErrorKind emptySourceKind(const Place& place);
ErrorKind occupiedTargetKind(const Place& place);

}  // namespace krb::sim
