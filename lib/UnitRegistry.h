#pragma once
// The registry: unit ID (controller port number) -> unit object, and the
// result slots that the exports hand back to their callers.
#include <mutex>
#include <string>
#include <vector>

#include "KRB_Class.h"

namespace krb {

// A returned text stays valid until the next call of the same thread that writes the same slot.
struct TResultSlots {
    std::string ResultText;
    std::string CascaderText, BaseText, ExtText;
    std::string ActivateText;
    std::string ResetText;
    std::string ClimateText;
    std::string SysStatusText;
    std::string SwapText;
    std::string XferStationText;
    std::string ManualAccessText;
    std::string MovePlateText;
    std::string ConnectText;
    std::string DirectText;  // texts the unit returns without a browser slot
};

class TKRB_Browser {
  public:
    static TKRB_Browser& Instance();  // created on first use, never destroyed
    static TResultSlots& Slots();     // this thread's slots

    std::string FindUnit(const std::string& id) const;
    UnitPtr UnitFor(const std::string& id) const;
    std::vector<UnitPtr> Units() const;
    // The first registered unit marked as the tube store, or none.
    UnitPtr TubeStore() const;

    std::string Connect(const std::string& id);
    void Disconnect(const std::string& id);
    std::string Activate2(const std::string& id);

  private:
    TKRB_Browser() = default;
    std::string findUnitLocked(const std::string& id) const;
    std::string connectUnit(const std::string& id);

    mutable std::mutex lock_;
    std::vector<UnitPtr> UnitList;
};

}  // namespace krb
