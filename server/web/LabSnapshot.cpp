#include "LabSnapshot.h"

#include <cstdio>

namespace krb::server::web {
namespace {

// Builds one JSON object field by field.
class JsonObject {
  public:
    JsonObject& Field(std::string_view name, const std::string& raw) {
        text_ += text_.empty() ? "{" : ",";
        text_ += JsonString(name) + ':' + raw;
        return *this;
    }
    JsonObject& Text(std::string_view name, std::string_view value) {
        return Field(name, JsonString(value));
    }
    JsonObject& Number(std::string_view name, long long value) {
        return Field(name, std::to_string(value));
    }
    JsonObject& Flag(std::string_view name, bool value) {
        return Field(name, value ? "true" : "false");
    }
    std::string Done() const { return text_.empty() ? "{}" : text_ + '}'; }

  private:
    std::string text_;
};

template <class Item, class Writer>
std::string JsonArray(const std::vector<Item>& items, Writer write) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ',';
        text += write(items[i]);
    }
    return text + ']';
}

std::string LocationJson(const LocationView& location) {
    return JsonObject()
        .Number("slot", location.Slot)
        .Number("level", location.Level)
        .Flag("present", location.Present)
        .Text("barcode", location.Barcode)
        .Text("name", location.Name)
        .Done();
}

std::string CassetteJson(const CassetteView& cassette) {
    return JsonObject()
        .Number("number", cassette.Number)
        .Number("levels", cassette.Levels)
        .Field("locations", JsonArray(cassette.Locations, LocationJson))
        .Done();
}

std::string SectorJson(const SectorView& sector) {
    return JsonObject()
        .Text("name", sector.Name)
        .Field("cassettes",
               JsonArray(sector.Cassettes, [](std::int32_t n) { return std::to_string(n); }))
        .Done();
}

std::string UnitJson(const UnitView& unit) {
    return JsonObject()
        .Text("id", unit.Id)
        .Text("name", unit.Name)
        .Number("comPort", unit.ComPort)
        .Flag("activated", unit.Activated)
        .Flag("busy", unit.Busy)
        .Flag("doorOpen", unit.DoorOpen)
        .Flag("error", unit.Error)
        .Number("errorCode", unit.ErrorCode)
        .Text("errorMessage", unit.ErrorMessage)
        .Text("link", unit.Link)
        .Text("linkEvent", unit.LinkEvent)
        .Field("climate", JsonArray(unit.Climate,
                                    [](const auto& value) {
                                        return JsonObject()
                                            .Text("name", value.first)
                                            .Text("value", value.second)
                                            .Done();
                                    }))
        .Field("sectors", JsonArray(unit.Sectors, SectorJson))
        .Field("cassettes", JsonArray(unit.Cassettes, CassetteJson))
        .Done();
}

std::string SystemJson(const SystemView& system) {
    return JsonObject()
        .Text("name", system.Name)
        .Text("id", system.Id)
        .Field("units", JsonArray(system.Units, UnitJson))
        .Done();
}

}  // namespace

// Control characters and anything that could end a script block are escaped; bytes of
// other UTF-8 sequences pass through.
std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                json += "\\\"";
                break;
            case '\\':
                json += "\\\\";
                break;
            case '\n':
                json += "\\n";
                break;
            case '\r':
                json += "\\r";
                break;
            case '\t':
                json += "\\t";
                break;
            default:
                if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7f) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    json += escaped;
                } else {
                    json += static_cast<char>(c);
                }
        }
    }
    return json + '"';
}

std::string SnapshotJson(const LabSnapshot& snapshot) {
    return JsonObject()
        .Flag("listening", snapshot.Listening)
        .Number("port", snapshot.Port)
        .Number("connections", static_cast<long long>(snapshot.Connections))
        .Number("serviceListeners", static_cast<long long>(snapshot.ServiceListeners))
        .Field("systems", JsonArray(snapshot.Systems, SystemJson))
        .Field("log",
               JsonArray(snapshot.Log, [](const std::string& line) { return JsonString(line); }))
        .Done();
}

}  // namespace krb::server::web
