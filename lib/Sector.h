#pragma once
// Named slot ranges of a unit. Later definitions win on overlap and on equal names.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace krb {

struct TSlotSector {
    std::int32_t LastSlot = 0;
    std::int32_t FirstSlot = 0;
    std::string Name;
};

class TSectorList {
  public:
    void Add(std::int32_t firstSlot, std::int32_t lastSlot, const std::string& name);
    void Clear();
    std::string NameOfSlot(std::int32_t slot) const;
    std::optional<std::pair<std::int32_t, std::int32_t>> SlotsOfName(const std::string& name) const;
    std::vector<TSlotSector> Snapshot() const;

  private:
    mutable std::mutex lock_;
    std::vector<TSlotSector> sectors_;
};

}  // namespace krb
