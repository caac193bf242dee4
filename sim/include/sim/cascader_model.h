#pragma once
// The cascader between a base and an extension unit. DM0 selects its side (a write turns it):
// 1 faces the extension unit, 2 the base unit. DM5 is the cascade level code (0 and 3 reach
// level 3 of the facing slot, 1 level 2); it is consumed by each motion, so a motion started
// without a DM5 write uses code 0. Pick and place work between the facing slot of the
// selected side and the cascader's shovel; load and unload carry a plate from the selected
// side straight across to the other; set and get use the cascader's own station.
#include "sim/plate_store_model.h"

namespace krb::sim {

int cascadeLevel(int code);  // 0 when the code reaches no level

class CascaderModel : public UnitModelBase {
  public:
    CascaderModel(int com, RegisterStore& registers, PlateWorld& world, MotionTimes times,
                  UnitIdentity identity);
    ~CascaderModel() override;

    void setSides(PlateStoreModel* base, PlateStoreModel* extension);  // before any command
    int side() const;  // 1, 2, or 0 before the first turn

    std::optional<std::string> codeInFrontOfReader() const override;

  protected:
    std::optional<Motion> handlerMotion(int relay) override;
    void wordWritten(int address, std::uint16_t value) override;
    bool detectorReads(int relay) const override;
    bool shovelOccupied() const override;
    int handlerSlot() const override { return side(); }

  private:
    PlateStoreModel* unitAt(int side) const;
    std::optional<Place> facingPlace(int side, int code) const;
    std::uint16_t carry(Operation operation, int side, int code);

    PlateStoreModel* base_ = nullptr;
    PlateStoreModel* extension_ = nullptr;
    mutable std::mutex stateMutex_;
    int side_ = 0;
};

}  // namespace krb::sim
