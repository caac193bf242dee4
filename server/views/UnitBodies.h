#pragma once
// The sectors, cassettes and plates of a unit as the tree and unit content views write them,
// kept per unit and written again only when the unit's contents file or its slot geometry
// has changed: a large lab's contents change seldom, its views are asked for often.
#include <memory>
#include <string>
#include <unordered_map>

#include "views/XmlBlocks.h"

namespace krb::server {

// Every sector of `unit` with every cassette and that cassette's plates.
void WriteSectorsWithPlates(TViewWriter& out, const TKRBId& unit, const TUnitPlates& plates);
void WriteCassetteWithPlates(TViewWriter& out, const TKRBCassette& cassette,
                             const TUnitPlates& plates);

// Used from one thread at a time (the event loop).
class TUnitBodies {
  public:
    explicit TUnitBodies(TViewLog log) : log_(std::move(log)) {}

    // What WriteSectorsWithPlates writes for `unit` now. The contents file is read on every
    // call, and its skipped lines are logged every time, as a fresh build would.
    std::shared_ptr<const std::string> Of(const TKRBId& unit);

  private:
    struct TBody {
        bool Written = false;
        bool HasFile = false;
        std::string Contents;  // the file's text the body was written from
        std::string Geometry;  // GeometryKey of the unit then
        TSkippedLines Skipped;
        std::shared_ptr<const std::string>
            Text;  // a new one when rewritten: sends may hold the old
    };

    TViewLog log_;
    std::unordered_map<const TKRBId*, TBody> bodies_;
};

}  // namespace krb::server
