#include "sim/register_store.h"

namespace krb::sim {
namespace {

template <typename Map>
typename Map::mapped_type valueOr0(const Map& map, int key) {
    auto found = map.find(key);
    return found == map.end() ? typename Map::mapped_type{} : found->second;
}

}  // namespace

bool RegisterStore::relay(int n) const {
    std::lock_guard lock(mutex_);
    return valueOr0(relays_, n);
}

void RegisterStore::setRelay(int n, bool on) {
    std::lock_guard lock(mutex_);
    relays_[n] = on;
}

std::uint16_t RegisterStore::dm(int address) const {
    std::lock_guard lock(mutex_);
    return valueOr0(dm_, address);
}

void RegisterStore::setDm(int address, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    dm_[address] = value;
}

std::uint16_t RegisterStore::timer(int n) const {
    std::lock_guard lock(mutex_);
    return valueOr0(timers_, n);
}

void RegisterStore::setTimer(int n, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    timers_[n] = value;
}

std::uint16_t RegisterStore::timerPreset(int n) const {
    std::lock_guard lock(mutex_);
    return valueOr0(timerPresets_, n);
}

void RegisterStore::setTimerPreset(int n, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    timerPresets_[n] = value;
}

bool RegisterStore::linkOpen() const {
    std::lock_guard lock(mutex_);
    return linkOpen_;
}

void RegisterStore::setLinkOpen(bool open) {
    std::lock_guard lock(mutex_);
    linkOpen_ = open;
}

}  // namespace krb::sim
