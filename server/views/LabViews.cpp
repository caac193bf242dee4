#include "views/LabViews.h"

#include <malloc.h>

#include <algorithm>
#include <array>
#include <vector>

#include "protocol/ServerCore.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

constexpr std::string_view kLabHeader =
    "HTTP/1.1 200 OK\nServer: KRB (Win32)\nContent-Type: text/XML\n\n";
constexpr std::string_view kViewHeader = "HTTP/1.1 200 OK\nServer: KRB\nContent-Type: text/XML\n\n";

struct TXferTexts {
    std::string_view Name = "XFerStation";
    std::string_view Type = "1";
};

// Every system block of the lab with what `inside` writes, then the system's transfer
// stations.
template <class Inside>
void AllSystems(TViewWriter& out, const TKRBLab& lab, Inside inside, TXferTexts xfer = {}) {
    for (const auto& system : lab.Systems) {
        out.SystemHead(*system);
        inside(*system);
        out.XferStations(*system, xfer.Name, xfer.Type);
        out.Close("System");
    }
}

template <class Inside>
void UnitsWithId(const TKRBSystem& system, const std::string& unitId, Inside inside) {
    for (const auto& unit : system.Units) {
        if (unit->UnitId == unitId) inside(*unit);
    }
}

// "<Unit>", the unit's elements in `order`, what `inside` writes, "</Unit>".
template <class Inside>
void UnitBlock(TViewWriter& out, const TKRBId& unit, TUnitOrder order, Inside inside) {
    out.Open("Unit");
    out.UnitElements(unit, order);
    inside();
    out.Close("Unit");
}

// A unit with all its sectors, cassettes and plates (tree and unit content views).
void WholeUnit(TViewWriter& out, const TKRBId& unit, TUnitOrder order, TUnitBodies& bodies) {
    auto body = bodies.Of(unit);
    UnitBlock(out, unit, order, [&] { out.Shared(std::move(body)); });
}

TTextPieces Whole(std::string document) {
    return {std::make_shared<const std::string>(std::move(document))};
}

}  // namespace

std::string QueryId(std::string_view text) {
    constexpr std::string_view kKey = "?id=";
    const auto at = text.find(kKey);
    return at == std::string_view::npos ? std::string()
                                        : std::string(text.substr(at + kKey.size()));
}

TUnitQuery QueryUnitAndId(std::string_view text) {
    constexpr std::string_view kUnitKey = "unitid=", kIdKey = "&id=";
    TUnitQuery query;
    const auto idAt = text.find(kIdKey);
    if (idAt == std::string_view::npos) return query;
    query.Id = std::string(text.substr(idAt + kIdKey.size()));
    const auto unitAt = text.find(kUnitKey);
    if (unitAt != std::string_view::npos && unitAt + kUnitKey.size() <= idAt) {
        const auto start = unitAt + kUnitKey.size();
        query.UnitId = std::string(text.substr(start, idAt - start));
    }
    return query;
}

TLabViews::TLabViews(const TKRBLab& lab, TViewLog log)
    : lab_(lab), log_(std::move(log)), bodies_(log_) {}

std::string TLabViews::BuildLabView() const {
    TViewWriter out;
    const auto bare = [&](std::string_view text) {
        out.Item(text);
        out.Item("\r\n");
    };
    bare("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    bare("<MyLabPlate>");
    for (const auto& system : lab_.Systems) {
        bare("<System>");
        bare(out.Element("SysName", system->Name));
        bare(out.Element("SysId", system->Id));
        bare("</System>");
    }
    bare("</MyLabPlate>");
    return out.Take();
}

// The header is an item of its own document, but goes out without an item line end: a
// line end there would put blank text before the declaration and break the document.
std::string TLabViews::BuildTreeView() const { return JoinPieces(TreeViewPieces()); }

TTextPieces TLabViews::TreeViewPieces() const {
    TViewWriter out;
    out.Raw(kViewHeader);
    out.BeginDocument();
    AllSystems(out, lab_, [&](const TKRBSystem& system) {
        for (const auto& unit : system.Units) WholeUnit(out, *unit, kTreeUnitOrder, bodies_);
    });
    out.EndDocument();
    return out.TakePieces();
}

std::string TLabViews::BuildSystemView(const std::string& id) const {
    TViewWriter out;
    out.BeginDocument();
    for (const auto& system : lab_.Systems) {
        if (system->Id != id) continue;
        out.SystemHead(*system);
        for (const auto& unit : system->Units) {
            UnitBlock(out, *unit, kUnitOrder, [] {});
        }
        out.XferStations(*system);
        out.Close("System");
    }
    out.EndDocument();
    return out.Take();
}

std::string TLabViews::BuildUnitView(const std::string& id) const {
    TViewWriter out;
    out.BeginDocument();
    AllSystems(out, lab_, [&](const TKRBSystem& system) {
        UnitsWithId(system, id, [&](const TKRBId& unit) {
            UnitBlock(out, unit, kUnitOrder, [&] {
                for (const auto& sector : unit.Sectors) {
                    out.SectorHead(*sector);
                    out.Close("Sector");
                }
            });
        });
    });
    out.EndDocument();
    return out.Take();
}

std::string TLabViews::BuildSectorView(const std::string& unitId,
                                       const std::string& sectorName) const {
    TViewWriter out;
    out.BeginDocument();
    AllSystems(out, lab_, [&](const TKRBSystem& system) {
        UnitsWithId(system, unitId, [&](const TKRBId& unit) {
            UnitBlock(out, unit, kUnitOrder, [&] {
                for (const auto& sector : unit.Sectors) {
                    if (sector->Name != sectorName) continue;
                    out.SectorHead(*sector);
                    for (const auto* cassette : sector->Cassettes) {
                        out.CassetteHead(*cassette);
                        out.Close("Cassette");
                    }
                    out.Close("Sector");
                }
            });
        });
    });
    out.EndDocument();
    return out.Take();
}

std::string TLabViews::BuildCassetteView(const std::string& unitId,
                                         const std::string& cassetteId) const {
    TViewWriter out;
    out.BeginDocument();
    AllSystems(
        out, lab_,
        [&](const TKRBSystem& system) {
            UnitsWithId(system, unitId, [&](const TKRBId& unit) {
                const TUnitPlates plates(unit, log_);
                UnitBlock(out, unit, kUnitOrder, [&] {
                    for (const auto& sector : unit.Sectors) {
                        out.SectorHead(*sector);
                        for (const auto* cassette : sector->Cassettes) {
                            // Compared as decimal text: "03" names no cassette.
                            if (std::to_string(cassette->Number) != cassetteId) continue;
                            WriteCassetteWithPlates(out, *cassette, plates);
                        }
                        out.Close("Sector");
                    }
                });
            });
        },
        TXferTexts{"qq", "ww"});
    out.EndDocument();
    return out.Take();
}

std::string TLabViews::BuildUnitContentView(const std::string& unitId) const {
    return JoinPieces(UnitContentViewPieces(unitId));
}

TTextPieces TLabViews::UnitContentViewPieces(const std::string& unitId) const {
    TViewWriter out;
    out.BeginDocument();
    AllSystems(out, lab_, [&](const TKRBSystem& system) {
        UnitsWithId(system, unitId,
                    [&](const TKRBId& unit) { WholeUnit(out, unit, kUnitOrder, bodies_); });
    });
    out.EndDocument();
    return out.TakePieces();
}

// A plate number that is no integer matches no record.
std::string TLabViews::BuildPlateView(const std::string& unitId, const std::string& plateId) const {
    const auto wanted = ParseInt32(plateId);
    TViewWriter out;
    out.BeginDocument();
    AllSystems(out, lab_, [&](const TKRBSystem& system) {
        UnitsWithId(system, unitId, [&](const TKRBId& unit) {
            UnitBlock(out, unit, kUnitOrder, [&] {
                const TUnitPlates plates(unit, log_);
                for (const auto& sector : unit.Sectors) {
                    for (const auto* cassette : sector->Cassettes) {
                        for (const auto& plate : plates.OfCassette(cassette->Number)) {
                            if (!wanted || plate.SlotNo != *wanted) continue;
                            out.SectorHead(*sector);
                            out.CassetteHead(*cassette);
                            out.Plate(plate, *cassette, true);
                            out.Close("Cassette");
                            out.Close("Sector");
                        }
                    }
                }
            });
        });
    });
    out.EndDocument();
    return out.Take();
}

// --- the server's view table -------------------------------------------------------------------

namespace {

struct ViewRow {
    std::string_view Name;
    std::string_view Header;  // empty: the document carries its own
    TTextPieces (*Build)(const TLabViews& views, const std::string& request);
};

const std::array<ViewRow, 8> kViewTable{{
    {"DrawLab", kLabHeader,
     [](const TLabViews& v, const std::string&) { return Whole(v.BuildLabView()); }},
    {"DrawTree", "", [](const TLabViews& v, const std::string&) { return v.TreeViewPieces(); }},
    {"DrawSys", kViewHeader,
     [](const TLabViews& v, const std::string& r) { return Whole(v.BuildSystemView(QueryId(r))); }},
    {"DrawUnit", kViewHeader,
     [](const TLabViews& v, const std::string& r) { return Whole(v.BuildUnitView(QueryId(r))); }},
    {"DrawSector", kViewHeader,
     [](const TLabViews& v, const std::string& r) {
         const auto query = QueryUnitAndId(r);
         return Whole(v.BuildSectorView(query.UnitId, query.Id));
     }},
    {"DrawCassette", kViewHeader,
     [](const TLabViews& v, const std::string& r) {
         const auto query = QueryUnitAndId(r);
         return Whole(v.BuildCassetteView(query.UnitId, query.Id));
     }},
    {"UnitContent", kViewHeader,
     [](const TLabViews& v, const std::string& r) { return v.UnitContentViewPieces(QueryId(r)); }},
    {"DrawPlate", kViewHeader,
     [](const TLabViews& v, const std::string& r) {
         const auto query = QueryUnitAndId(r);
         return Whole(v.BuildPlateView(query.UnitId, query.Id));
     }},
}};

}  // namespace

void KeepLargeViewBuffersInTheHeap() {
    constexpr int kMapAbove = 256 * 1024 * 1024;
    // Free heap above this goes back to the system: room for a tree view's buffers, but a
    // spike (a flood of requests) is not kept for ever.
    constexpr int kKeepAtMost = 64 * 1024 * 1024;
    ::mallopt(M_MMAP_THRESHOLD, kMapAbove);
    ::mallopt(M_TRIM_THRESHOLD, kKeepAtMost);
}

void InstallViews(ServerCore& core) {
    auto views = std::make_shared<TLabViews>(
        core.Manager().Lab(), [&core](const std::string& event, const std::string& details) {
            core.WriteLog(event, details);
        });
    for (const auto& row : kViewTable) {
        core.AddView(std::string(row.Name), [views, &row](const std::string& request) {
            return TViewReply{std::string(row.Header), {}, row.Build(*views, request)};
        });
    }
}

}  // namespace krb::server
