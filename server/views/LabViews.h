#pragma once
// The eight XML views of the lab, answered to HTTP GET requests under "PlateExp/". Each
// builder returns one whole document; contents files are read once per unit and request.
#include <string>
#include <string_view>

#include "lab/Lab.h"
#include "views/UnitBodies.h"
#include "views/XmlBlocks.h"

namespace krb::server {

class ServerCore;

// "?id=" form: everything after the first "?id=" (empty without it).
std::string QueryId(std::string_view text);
// "unitid=" and "&id=" form: the id follows the first "&id="; the unit ID lies between the
// first "unitid=" and that "&id=" (empty when "unitid=" does not come first).
struct TUnitQuery {
    std::string UnitId;
    std::string Id;
};
TUnitQuery QueryUnitAndId(std::string_view text);

// Builds on one thread at a time (the event loop): it keeps what it wrote of each unit.
class TLabViews {
  public:
    TLabViews(const TKRBLab& lab, TViewLog log);

    std::string BuildLabView() const;
    std::string BuildTreeView() const;  // begins with its own HTTP header
    // The tree and unit content views as pieces: each unit's sectors, cassettes and plates
    // are a piece of their own, shared while its contents file and geometry stay the same.
    TTextPieces TreeViewPieces() const;
    TTextPieces UnitContentViewPieces(const std::string& unitId) const;
    std::string BuildSystemView(const std::string& id) const;
    std::string BuildUnitView(const std::string& id) const;
    std::string BuildSectorView(const std::string& unitId, const std::string& sectorName) const;
    std::string BuildCassetteView(const std::string& unitId, const std::string& cassetteId) const;
    std::string BuildUnitContentView(const std::string& unitId) const;
    std::string BuildPlateView(const std::string& unitId, const std::string& plateId) const;

  private:
    const TKRBLab& lab_;
    TViewLog log_;
    mutable TUnitBodies bodies_;
};

// Registers the eight views with the server, in the order their names are matched.
void InstallViews(ServerCore& core);

// A tree view of a large lab is tens of megabytes: keeping such buffers in the heap instead
// of fresh memory mappings saves the page faults of every request. Called once at start.
void KeepLargeViewBuffersInTheHeap();

}  // namespace krb::server
