#pragma once
// A unit for the SiLA servers' tests: status set by the test, operations that give the outcome
// the test chose, and a gate that holds them mid-way.
#include <condition_variable>
#include <mutex>

#include "sila/UnitBackend.h"

namespace krb::sila::test {

class FakeUnitBackend : public UnitBackend {
  public:
    explicit FakeUnitBackend(UnitIdentity identity) : identity_(std::move(identity)) {}

    void setStatus(const UnitStatus& status) {
        {
            std::lock_guard lock(mutex_);
            status_ = status;
        }
        notifyListener();
    }
    void setClimateReadings(std::optional<ClimateReadings> readings) {
        {
            std::lock_guard lock(mutex_);
            climate_ = readings;
        }
        notifyListener();
    }
    void setOutcome(Outcome outcome) {
        std::lock_guard lock(mutex_);
        outcome_ = std::move(outcome);
    }
    void setLocations(std::vector<PlateLocation> locations) {
        std::lock_guard lock(mutex_);
        locations_ = std::move(locations);
    }
    // Operations report half their progress, then wait here until released.
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        gate_.notify_all();
    }
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    PlateMove lastMove() const {
        std::lock_guard lock(mutex_);
        return lastMove_;
    }
    std::string lastPartition() const {
        std::lock_guard lock(mutex_);
        return lastPartition_;
    }
    TargetClimate lastTarget() const {
        std::lock_guard lock(mutex_);
        return lastTarget_;
    }
    TubeMove lastTubeMove() const {
        std::lock_guard lock(mutex_);
        return lastTubeMove_;
    }
    bool hasListener() const {
        std::lock_guard lock(mutex_);
        return bool(listener_);
    }

    UnitIdentity identity() const override { return identity_; }
    UnitStatus status() const override {
        std::lock_guard lock(mutex_);
        return status_;
    }
    void setStatusListener(std::function<void()> listener) override {
        std::lock_guard lock(mutex_);
        listener_ = std::move(listener);
    }
    ActivationResult activate() override { return {operate({}), true}; }
    Outcome deactivate() override { return operate({}); }
    Outcome softReset() override { return operate({}); }
    Outcome movePlate(const PlateMove& move, const ProgressFn& progress) override {
        {
            std::lock_guard lock(mutex_);
            lastMove_ = move;
        }
        return operate(progress);
    }
    InventoryResult scanInventory(const std::string& partition,
                                  const ProgressFn& progress) override {
        {
            std::lock_guard lock(mutex_);
            lastPartition_ = partition;
        }
        auto outcome = operate(progress);
        std::lock_guard lock(mutex_);
        return {outcome, outcome.ok() ? locations_ : std::vector<PlateLocation>{}};
    }
    ContentsResult contents() override {
        auto outcome = operate({});
        std::lock_guard lock(mutex_);
        return {outcome, locations_};
    }
    BarcodeResult readBarcode(long cassette, long level) override {
        return {operate({}), "P" + std::to_string(cassette) + "/" + std::to_string(level)};
    }
    std::optional<ClimateReadings> climate() const override {
        std::lock_guard lock(mutex_);
        return climate_;
    }
    Outcome setClimate(const TargetClimate& target) override {
        {
            std::lock_guard lock(mutex_);
            lastTarget_ = target;
        }
        return operate({});
    }
    Outcome moveVial(const TubeMove& move, const ProgressFn& progress) override {
        {
            std::lock_guard lock(mutex_);
            lastTubeMove_ = move;
        }
        return operate(progress);
    }
    Outcome moveTube(const TubeMove& move, const ProgressFn& progress) override {
        return moveVial(move, progress);
    }
    BarcodeResult readVialBarcode(long first, long second) override {
        return {operate({}), "V" + std::to_string(first) + "/" + std::to_string(second)};
    }

  private:
    Outcome operate(const ProgressFn& progress) {
        if (progress) progress(0.5);
        std::unique_lock lock(mutex_);
        ++calls_;
        gate_.wait(lock, [this] { return !held_; });
        return outcome_;
    }
    void notifyListener() {
        std::function<void()> listener;
        {
            std::lock_guard lock(mutex_);
            listener = listener_;
        }
        if (listener) listener();
    }

    const UnitIdentity identity_;
    mutable std::mutex mutex_;
    std::condition_variable gate_;
    UnitStatus status_;
    std::optional<ClimateReadings> climate_;
    std::function<void()> listener_;
    Outcome outcome_ = Outcome::done();
    std::vector<PlateLocation> locations_;
    bool held_ = false;
    int calls_ = 0;
    PlateMove lastMove_;
    std::string lastPartition_;
    TargetClimate lastTarget_;
    TubeMove lastTubeMove_;
};

}  // namespace krb::sila::test
