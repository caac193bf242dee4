#pragma once
// Unit physics for the cascade tests: plates in slots and levels, on the shovel and on the
// transfer station; motions end at once or raise the error flag. A cascader carries plates
// between two such worlds.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "sim/controller_emulator.h"

namespace krb::test {

class PlateWorld : public sim::UnitModel {
  public:
    using Position = std::pair<int, int>;

    void put(int slot, int level, std::string label) {
        std::lock_guard guard(mutex_);
        plates_[{slot, level}] = std::move(label);
    }
    std::optional<std::string> at(int slot, int level) const {
        std::lock_guard guard(mutex_);
        auto found = plates_.find({slot, level});
        return found == plates_.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<std::string> take(int slot, int level) {
        std::lock_guard guard(mutex_);
        return takeLocked(slot, level);
    }
    bool place(int slot, int level, std::string label) {
        std::lock_guard guard(mutex_);
        return placeLocked(slot, level, std::move(label));
    }
    std::map<Position, std::string> plates() const {
        std::lock_guard guard(mutex_);
        return plates_;
    }
    std::optional<std::string> shovel() const {
        std::lock_guard guard(mutex_);
        return shovel_;
    }
    void setShovel(std::optional<std::string> label) {
        std::lock_guard guard(mutex_);
        shovel_ = std::move(label);
    }
    std::optional<std::string> station() const {
        std::lock_guard guard(mutex_);
        return station_;
    }
    void setStation(std::optional<std::string> label) {
        std::lock_guard guard(mutex_);
        station_ = std::move(label);
    }
    // The next start of that motion relay fails (the plate stays where it was).
    void failNextMotion(int relay) {
        std::lock_guard guard(mutex_);
        failing_.insert(relay);
    }

    std::optional<std::string> handle(const sim::Command& command,
                                      sim::RegisterStore& registers) override {
        using Kind = sim::Command::Kind;
        std::lock_guard guard(mutex_);
        Position here{registers.dm(0), registers.dm(5)};
        if (command.kind == Kind::SetRelay && command.address >= 1904 && command.address <= 1909) {
            if (failing_.erase(command.address) || !move(command.address, here))
                raiseError(registers, 0x7103);
        }
        return std::nullopt;
    }

  protected:
    // Default motions of a plate store; a cascader overrides them.
    virtual bool move(int relay, Position here) {
        switch (relay) {
            case 1904:
                return fromTo(station_, here);
            case 1905:
                return intoHolder(here, station_);
            case 1906:
                return holderToHolder(shovel_, station_);
            case 1907:
                return holderToHolder(station_, shovel_);
            case 1908:
                return intoHolder(here, shovel_);
            case 1909:
                return fromTo(shovel_, here);
        }
        return false;
    }
    std::optional<std::string> takeLocked(int slot, int level) {
        auto found = plates_.find({slot, level});
        if (found == plates_.end()) return std::nullopt;
        std::string label = found->second;
        plates_.erase(found);
        return label;
    }
    bool placeLocked(int slot, int level, std::string label) {
        if (plates_.count({slot, level})) return false;
        plates_[{slot, level}] = std::move(label);
        return true;
    }
    bool fromTo(std::optional<std::string>& holder, Position here) {
        if (!holder || plates_.count(here)) return false;
        plates_[here] = *holder;
        holder.reset();
        return true;
    }
    bool intoHolder(Position here, std::optional<std::string>& holder) {
        if (holder || !plates_.count(here)) return false;
        holder = takeLocked(here.first, here.second);
        return true;
    }
    static bool holderToHolder(std::optional<std::string>& from, std::optional<std::string>& to) {
        if (!from || to) return false;
        to = std::move(from);
        from.reset();
        return true;
    }
    static void raiseError(sim::RegisterStore& registers, int code) {
        registers.setRelay(1915, false);
        registers.setRelay(1814, true);
        registers.setDm(200, static_cast<std::uint16_t>(code));
    }

    mutable std::mutex mutex_;
    std::map<Position, std::string> plates_;
    std::optional<std::string> shovel_, station_;
    std::set<int> failing_;
};

// Cascader: DM0 1 is the extension side, 2 the base side; DM5 is the cascade code. A side's
// plate position is the unit slot its carousel turned to the cascader, at the code's level.
class CascaderWorld : public PlateWorld {
  public:
    struct Side {
        std::shared_ptr<PlateWorld> world;
        sim::RegisterStore* registers;
        int turn;  // 14 on the base side, 6 on the extension side
    };
    CascaderWorld(Side base, Side ext) : base_(std::move(base)), ext_(std::move(ext)) {}

  protected:
    bool move(int relay, Position here) override {
        Side* from = here.first == 2 ? &base_ : here.first == 1 ? &ext_ : nullptr;
        if (!from) return false;
        Side& other = from == &base_ ? ext_ : base_;
        int level = levelOfCode(here.second);
        switch (relay) {
            case 1904:
            case 1905: {  // load base->ext at slot 2, unload ext->base at slot 1
                auto label = from->world->take(facing(*from), level);
                if (!label) return false;
                return other.world->place(facing(other), level, *label);
            }
            case 1908: {
                if (shovel_) return false;
                shovel_ = from->world->take(facing(*from), level);
                return shovel_.has_value();
            }
            case 1909: {
                if (!shovel_ || !from->world->place(facing(*from), level, *shovel_)) return false;
                shovel_.reset();
                return true;
            }
        }
        return false;
    }

  private:
    static int levelOfCode(int code) { return code == 1 ? 2 : (code == 0 || code == 3) ? 3 : 0; }
    static int facing(const Side& side) {
        int slot = side.registers->dm(0) - side.turn;
        return slot <= 0 ? slot + 20 : slot;
    }
    Side base_, ext_;
};

}  // namespace krb::test
