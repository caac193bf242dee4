#pragma once
// One unit of the lab behind its SiLA 2 server: each operation calls the same unit operation
// as the text command of the same name, so it takes the same locks in the same order.
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/link_metrics.h"
#include "sila/UnitBackend.h"

namespace krb::server {

class TKRBId;
class UnitDirectory;

using LinkStates = std::map<std::string, platform::LinkCounters>;

// The climate values of a "T;H;CO2;N2" reading for the unit's climate options; a value the
// unit does not have, or a field that is not a number, stays unknown.
sila::ClimateReadings ClimateReadingsOf(const TKRBId& unit, const std::string& reading);

// The library's service move result as the SiLA outcome; `directory` names the failing unit.
sila::Outcome MoveOutcomeOf(std::int32_t result, const UnitDirectory& directory);

class LabUnitBackend : public sila::UnitBackend {
  public:
    LabUnitBackend(TKRBId& unit, const UnitDirectory& directory);

    sila::UnitIdentity identity() const override;
    sila::UnitStatus status() const override;
    void setStatusListener(std::function<void()> listener) override;

    sila::ActivationResult activate() override;
    sila::Outcome deactivate() override;
    sila::Outcome softReset() override;
    sila::Outcome movePlate(const sila::PlateMove& move, const sila::ProgressFn& progress) override;
    sila::InventoryResult scanInventory(const std::string& partition,
                                        const sila::ProgressFn& progress) override;
    sila::ContentsResult contents() override;
    sila::BarcodeResult readBarcode(long cassette, long level) override;
    std::optional<sila::ClimateReadings> climate() const override;
    sila::Outcome setClimate(const sila::TargetClimate& target) override;
    sila::Outcome moveVial(const sila::TubeMove& move, const sila::ProgressFn& progress) override;
    sila::Outcome moveTube(const sila::TubeMove& move, const sila::ProgressFn& progress) override;
    sila::BarcodeResult readVialBarcode(long first, long second) override;

    // The status with the unit's line as `links` has it.
    sila::UnitStatus StatusWith(const LinkStates& links) const;
    // From the host's watcher, with one reading of the lines for every unit: the listener
    // hears of a change of status or climate.
    void NotifyIfChanged(const LinkStates& links);
    // Reads the climate actual values (a serial exchange under the device lock).
    void ReadClimate();
    bool HasClimate() const;
    bool ReadsClimate() const;  // a climate unit, activated

  private:
    sila::Outcome RunMove(const sila::PlateMove& move, const sila::ProgressFn& progress);
    sila::InventoryResult RunInventory(const std::string& partition,
                                       const sila::ProgressFn& progress);
    sila::BarcodeResult RunBarcodeRead(long cassette, long level);
    std::optional<sila::Outcome> MoveRefusal(const sila::PlateMove& move, TKRBId& target);
    std::optional<bool> PlateAt(TKRBId& unit, long cassette, long level);
    std::string StatusSignature(const LinkStates& links) const;

    TKRBId& unit_;
    const UnitDirectory& directory_;
    mutable std::mutex mutex_;
    std::function<void()> listener_;
    std::string lastSignature_;
    std::optional<sila::ClimateReadings> climate_;
};

}  // namespace krb::server
