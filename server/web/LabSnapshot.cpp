#include "web/LabSnapshot.h"

#include <cstdio>

#include "platform/utf8_text.h"

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

std::string ClimateValueJson(const std::pair<std::string, std::string>& value) {
    return JsonObject().Text("name", value.first).Text("value", value.second).Done();
}

std::string UnitJson(const UnitView& unit) {
    return JsonObject()
        .Text("id", unit.Id)
        .Text("name", unit.Name)
        .Number("comPort", unit.ComPort)
        .Flag("activated", unit.Activated)
        .Flag("busy", unit.Busy)
        .Flag("hasDoor", unit.HasDoor)
        .Flag("doorOpen", unit.DoorOpen)
        .Flag("error", unit.Error)
        .Number("errorCode", unit.ErrorCode)
        .Text("errorMessage", unit.ErrorMessage)
        .Text("link", unit.Link)
        .Text("linkEvent", unit.LinkEvent)
        .Field("climate", JsonArray(unit.Climate, ClimateValueJson))
        .Field("climateSet", JsonArray(unit.ClimateSet, ClimateValueJson))
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

namespace {

void AppendEscaped(std::string& json, unsigned char c) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
    json += escaped;
}

}  // namespace

// As the XML views read a value: bytes that are no UTF-8 are taken as Latin-1 and control
// characters (but tab) become "?", so that the page and the views agree; anything that could
// end a script block is escaped.
std::string JsonString(std::string_view text) {
    std::string json = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            if (const auto length = platform::Utf8SequenceLength(text.substr(i)); length > 0) {
                json.append(text.substr(i, length));
                i += length;
            } else {
                AppendEscaped(json, c);  // the Latin-1 character of that byte
                ++i;
            }
            continue;
        }
        ++i;
        if (c == '"') {
            json += "\\\"";
        } else if (c == '\\') {
            json += "\\\\";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20) {
            json += '?';
        } else if (c == '<' || c == '>' || c == '&' || c == 0x7f) {
            AppendEscaped(json, c);
        } else {
            json += static_cast<char>(c);
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
