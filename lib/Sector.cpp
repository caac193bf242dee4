#include "Sector.h"

namespace krb {

void TSectorList::Add(std::int32_t firstSlot, std::int32_t lastSlot, const std::string& name) {
    std::lock_guard guard(lock_);
    sectors_.push_back(TSlotSector{lastSlot, firstSlot, name});
}

void TSectorList::Clear() {
    std::lock_guard guard(lock_);
    sectors_.clear();
}

std::string TSectorList::NameOfSlot(std::int32_t slot) const {
    std::lock_guard guard(lock_);
    std::string name;
    for (const auto& sector : sectors_)
        if (sector.FirstSlot <= slot && slot <= sector.LastSlot) name = sector.Name;
    return name;
}

std::optional<std::pair<std::int32_t, std::int32_t>> TSectorList::SlotsOfName(
    const std::string& name) const {
    std::lock_guard guard(lock_);
    std::optional<std::pair<std::int32_t, std::int32_t>> found;
    for (const auto& sector : sectors_)
        if (sector.Name == name) found = std::make_pair(sector.FirstSlot, sector.LastSlot);
    return found;
}

std::vector<TSlotSector> TSectorList::Snapshot() const {
    std::lock_guard guard(lock_);
    return sectors_;
}

}  // namespace krb
