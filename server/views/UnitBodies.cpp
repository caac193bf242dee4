#include "views/UnitBodies.h"

#include <algorithm>
#include <optional>

#include "lab/ContentsFile.h"

namespace krb::server {
namespace {

void AppendKeyNumber(std::string& key, std::int32_t number) {
    key.append(std::to_string(number)).push_back(',');
}

// Everything of the unit's model that its body shows besides the contents file: sector
// names and cassette ranges, and each cassette's number, type, levels and pitch.
std::string GeometryKey(const TKRBId& unit) {
    std::string key;
    for (const auto& sector : unit.Sectors) {
        key.append(std::to_string(sector->Name.size())).push_back(':');
        key.append(sector->Name);
        for (const auto* cassette : sector->Cassettes) {
            for (const auto number : {cassette->Number, cassette->Type, cassette->Levels.load(),
                                      cassette->ZPitch.load()}) {
                AppendKeyNumber(key, number);
            }
        }
        key.push_back(';');
    }
    return key;
}

// Room for the plate blocks of `unit`: growing a body of megabytes copies it several times.
std::size_t PlateBytesOf(const TKRBId& unit) {
    constexpr std::size_t kPlateBlockBytes = 512;
    std::size_t locations = 0;
    for (const auto& cassette : unit.Cassettes) {
        locations += static_cast<std::size_t>(std::max(cassette->Levels.load(), 0));
    }
    return locations * kPlateBlockBytes;
}

}  // namespace

void WriteCassetteWithPlates(TViewWriter& out, const TKRBCassette& cassette,
                             const TUnitPlates& plates) {
    out.CassetteHead(cassette);
    for (const auto& plate : plates.OfCassette(cassette.Number)) out.Plate(plate, cassette);
    out.Close("Cassette");
}

void WriteSectorsWithPlates(TViewWriter& out, const TKRBId& unit, const TUnitPlates& plates) {
    for (const auto& sector : unit.Sectors) {
        out.SectorHead(*sector);
        for (const auto* cassette : sector->Cassettes) {
            WriteCassetteWithPlates(out, *cassette, plates);
        }
        out.Close("Sector");
    }
}

std::shared_ptr<const std::string> TUnitBodies::Of(const TKRBId& unit) {
    std::optional<std::string> contents =
        unit.ContentsFile.empty() ? std::nullopt : LoadText(unit.ContentsFile);
    std::string geometry = GeometryKey(unit);
    TBody& body = bodies_[&unit];
    const bool unchanged = body.Written && body.HasFile == contents.has_value() &&
                           body.Geometry == geometry && (!contents || body.Contents == *contents);
    if (!unchanged) {
        body.Written = true;
        body.HasFile = contents.has_value();
        body.Contents = contents ? std::move(*contents) : std::string();
        body.Geometry = std::move(geometry);
        const TUnitPlates plates(std::string_view(body.Contents));
        TViewWriter out;
        out.Reserve(PlateBytesOf(unit));
        WriteSectorsWithPlates(out, unit, plates);
        body.Skipped = plates.Skipped();
        body.Text = std::make_shared<const std::string>(out.Take());
    }
    LogSkippedLines(unit, body.Skipped, log_);
    return body.Text;
}

}  // namespace krb::server
