#include "views/XmlBlocks.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <utility>

#include "platform/utf8_text.h"
#include "text/DateTimeText.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

constexpr std::array<TUnitElement, 25> kUnitOrderTable{
    TUnitElement::Id,           TUnitElement::Name,
    TUnitElement::FW,           TUnitElement::SN,
    TUnitElement::DoubleDeck,   TUnitElement::Activated,
    TUnitElement::Error,        TUnitElement::BCR,
    TUnitElement::PPSensor,     TUnitElement::PShovelSensor,
    TUnitElement::PXfer1Sensor, TUnitElement::PXfer2Sensor,
    TUnitElement::COMPort,      TUnitElement::BCRCOMPort,
    TUnitElement::BCRInit,      TUnitElement::Ready,
    TUnitElement::DoorOpened,   TUnitElement::ErrorCode,
    TUnitElement::Plates,       TUnitElement::CO2,
    TUnitElement::O2,           TUnitElement::N2,
    TUnitElement::Temperature,  TUnitElement::Humidity,
    TUnitElement::Doors};

constexpr std::array<TUnitElement, 25> kTreeUnitOrderTable{
    TUnitElement::Id,           TUnitElement::Name,
    TUnitElement::FW,           TUnitElement::SN,
    TUnitElement::DoubleDeck,   TUnitElement::Activated,
    TUnitElement::Error,        TUnitElement::BCR,
    TUnitElement::PPSensor,     TUnitElement::PShovelSensor,
    TUnitElement::PXfer1Sensor, TUnitElement::PXfer2Sensor,
    TUnitElement::BCRInit,      TUnitElement::Ready,
    TUnitElement::DoorOpened,   TUnitElement::ErrorCode,
    TUnitElement::COMPort,      TUnitElement::BCRCOMPort,
    TUnitElement::Plates,       TUnitElement::CO2,
    TUnitElement::O2,           TUnitElement::N2,
    TUnitElement::Temperature,  TUnitElement::Humidity,
    TUnitElement::Doors};

// Length of the well-formed UTF-8 sequence of a character allowed in XML at the start of
// `text`, or 0: U+FFFE and U+FFFF are no XML characters.
std::size_t XmlCharacterLength(std::string_view text) {
    const std::size_t length = platform::Utf8SequenceLength(text);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (length == 3 && byte(0) == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE) return 0;
    return length;
}

void AppendLatin1(std::string& out, unsigned char c) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

bool IsPlainByte(unsigned char c) {
    return c >= 0x20 && c < 0x80 && c != '&' && c != '<' && c != '>';
}

void AppendNumber(std::string& out, std::int64_t number) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

// The ten fields of a line: field 10 is everything after the ninth ",", missing fields
// are empty.
std::array<std::string_view, kContentsFieldCount> SplitFields(std::string_view line) {
    std::array<std::string_view, kContentsFieldCount> fields{};
    for (std::size_t i = 0; i + 1 < kContentsFieldCount; ++i) {
        const auto comma = line.find(',');
        if (comma == std::string_view::npos) {
            fields[i] = line;
            return fields;
        }
        fields[i] = line.substr(0, comma);
        line.remove_prefix(comma + 1);
    }
    fields[kDateUnloadField] = line;
    return fields;
}

// Lines end with CR LF, LF or CR.
template <class EachLine>
void ForEachLine(std::string_view text, EachLine eachLine) {
    std::size_t start = 0, number = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        eachLine(text.substr(start, end - start), ++number);
        if (end == text.size()) return;
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
}

}  // namespace

const TUnitOrder kUnitOrder{kUnitOrderTable};
const TUnitOrder kTreeUnitOrder{kTreeUnitOrderTable};

void AppendXmlText(std::string& out, std::string_view value) {
    std::size_t i = 0;
    while (i < value.size()) {
        std::size_t plain = i;
        while (plain < value.size() && IsPlainByte(static_cast<unsigned char>(value[plain]))) {
            ++plain;
        }
        out.append(value.substr(i, plain - i));
        if (plain == value.size()) return;
        const auto c = static_cast<unsigned char>(value[plain]);
        i = plain + 1;
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c < 0x20) {
            out += c == '\t' ? '\t' : '?';
        } else if (const auto length = XmlCharacterLength(value.substr(plain)); length > 0) {
            out.append(value.substr(plain, length));
            i = plain + length;
        } else {
            AppendLatin1(out, c);
        }
    }
}

// --- a unit's plates ---------------------------------------------------------------------------

void LogSkippedLines(const TKRBId& unit, const TSkippedLines& skipped, const TViewLog& log) {
    if (skipped.Count == 0 || !log) return;
    log("Contents line skipped", "File=" + unit.ContentsFile +
                                     ";Line=" + std::to_string(skipped.First) +
                                     ";Count=" + std::to_string(skipped.Count));
}

TUnitPlates::TUnitPlates(const TKRBId& unit, const TViewLog& log) {
    auto text = unit.ContentsFile.empty() ? std::nullopt : LoadText(unit.ContentsFile);
    if (!text) return;
    text_ = std::move(*text);
    Parse(text_);
    LogSkippedLines(unit, skipped_, log);
}

TUnitPlates::TUnitPlates(std::string_view text) { Parse(text); }

void TUnitPlates::Parse(std::string_view text) {
    ForEachLine(text, [&](std::string_view line, std::size_t number) {
        const auto fields = SplitFields(line);
        const auto slot = ParseInt32(fields[kSlotNoField]);
        const auto level = ParseInt32(fields[kLevelField]);
        if (!slot || !level || !ParseInt32(fields[kCassetteField])) {
            if (skipped_.Count++ == 0) skipped_.First = number;
            return;
        }
        byCassette_[fields[kCassetteField]].push_back(
            {*slot, *level, fields[kPresentField] == "1", fields[kBarcodeField],
             fields[kUserIdField], fields[kDateCheckField], fields[kDateLoadField],
             fields[kDateUnloadField]});
    });
}

const std::vector<TViewPlate>& TUnitPlates::OfCassette(std::int32_t number) const {
    static const std::vector<TViewPlate> kNone;
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    const auto found = byCassette_.find(std::string_view(digits, end - digits));
    return found == byCassette_.end() ? kNone : found->second;
}

// --- items -------------------------------------------------------------------------------------

void TViewWriter::Item(std::string_view text) {
    text_.append(text);
    text_.append(kLineEnd);
}

void TViewWriter::Raw(std::string_view text) { text_.append(text); }

void TViewWriter::Shared(std::shared_ptr<const std::string> piece) {
    if (!text_.empty()) pieces_.push_back(std::make_shared<const std::string>(std::move(text_)));
    text_.clear();
    pieces_.push_back(std::move(piece));
}

TTextPieces TViewWriter::TakePieces() {
    if (!text_.empty()) pieces_.push_back(std::make_shared<const std::string>(std::move(text_)));
    text_.clear();
    return std::exchange(pieces_, {});
}

std::string TViewWriter::Take() {
    if (pieces_.empty()) return std::move(text_);
    return JoinPieces(TakePieces());
}

void TViewWriter::Open(std::string_view tag) { AppendTag(tag, false, true); }

void TViewWriter::Close(std::string_view tag) { AppendTag(tag, true, true); }

void TViewWriter::Value(std::string_view tag, std::string_view value) {
    if (std::all_of(value.begin(), value.end(),
                    [](char c) { return IsPlainByte(static_cast<unsigned char>(c)); }) &&
        AppendElement(tag, value)) {
        return;
    }
    AppendTag(tag, false, false);
    AppendXmlText(text_, value);
    AppendTag(tag, true, true);
}

void TViewWriter::Value(std::string_view tag, std::int64_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    if (AppendElement(tag, std::string_view(digits, static_cast<std::size_t>(end - digits)))) {
        return;
    }
    AppendTag(tag, false, false);
    AppendNumber(text_, number);
    AppendTag(tag, true, true);
}

// "<tag>text</tag>" and the item's line ends in one append, when they are short: a large
// view writes millions of elements. `text` needs no escaping.
bool TViewWriter::AppendElement(std::string_view tag, std::string_view text) {
    char buffer[192];
    const std::size_t size = 2 * tag.size() + text.size() + 5 + 2 * kLineEnd.size();
    if (size > sizeof buffer) return false;
    char* end = buffer;
    const auto put = [&end](std::string_view part) {
        end = std::copy(part.begin(), part.end(), end);
    };
    put("<");
    put(tag);
    put(">");
    put(text);
    put("</");
    put(tag);
    put(">");
    put(kLineEnd);
    put(kLineEnd);
    text_.append(buffer, size);
    return true;
}

// "<tag>" or "</tag>", then the item's line ends; one append, since the views write
// millions of tags.
void TViewWriter::AppendTag(std::string_view tag, bool closing, bool endsItem) {
    char buffer[64];
    constexpr std::size_t kFixed = 3 + 2 * kLineEnd.size();
    if (tag.size() + kFixed > sizeof buffer) {
        text_.append(closing ? "</" : "<").append(tag).append(">");
        if (endsItem) text_.append(kLineEnd).append(kLineEnd);
        return;
    }
    char* end = buffer;
    *end++ = '<';
    if (closing) *end++ = '/';
    end = std::copy(tag.begin(), tag.end(), end);
    *end++ = '>';
    if (endsItem) {
        for (int i = 0; i < 2; ++i) end = std::copy(kLineEnd.begin(), kLineEnd.end(), end);
    }
    text_.append(buffer, static_cast<std::size_t>(end - buffer));
}

void TViewWriter::Flag(std::string_view tag, bool on) { Value(tag, on ? 1 : 0); }

std::string TViewWriter::Element(std::string_view tag, std::string_view value) const {
    std::string element = "<" + std::string(tag) + ">";
    AppendXmlText(element, value);
    return element + "</" + std::string(tag) + ">";
}

const std::string& TViewWriter::DateText(std::string_view field) {
    auto found = dateTexts_.find(field);
    if (found == dateTexts_.end()) {
        found = dateTexts_.emplace(std::string(field), FormatDateTime(ParseDateTime(field))).first;
    }
    return found->second;
}

// --- blocks ------------------------------------------------------------------------------------

void TViewWriter::BeginDocument() {
    Item(kDeclaration);
    Open("MyLabPlate");
}

void TViewWriter::EndDocument() { Close("MyLabPlate"); }

void TViewWriter::SystemHead(const TKRBSystem& system) {
    Open("System");
    Value("SysName", system.Name);
    Value("SysId", system.Id);
}

namespace {

struct TUnitFlag {
    std::string_view Tag;
    bool On;
};

// The flag an element shows; none for the elements that carry a text or a number.
std::optional<TUnitFlag> UnitFlag(const TKRBId& unit, TUnitElement element) {
    switch (element) {
        case TUnitElement::DoubleDeck:
            return TUnitFlag{"UnitDoubleDeck", unit.DoubleDeck};
        case TUnitElement::Activated:
            return TUnitFlag{"UnitActivated", unit.Activated};
        case TUnitElement::Error:
            return TUnitFlag{"UnitError", unit.Error};
        case TUnitElement::BCR:
            return TUnitFlag{"UnitBCR", unit.BCR};
        case TUnitElement::PPSensor:
            return TUnitFlag{"UnitPPSensor", unit.PlatePresenceSensor};
        case TUnitElement::PShovelSensor:
            return TUnitFlag{"UnitPShovelSensor", unit.PlateShovelSensor};
        case TUnitElement::PXfer1Sensor:
            return TUnitFlag{"UnitPXfer1Sensor", unit.PlateXferStSensor1};
        case TUnitElement::PXfer2Sensor:
            return TUnitFlag{"UnitPXfer2Sensor", unit.PlateXferStSensor2};
        case TUnitElement::BCRInit:
            return TUnitFlag{"UnitBCRInit", unit.BCRInit};
        case TUnitElement::Ready:
            return TUnitFlag{"UnitReady", !unit.Busy};
        case TUnitElement::DoorOpened:
            return TUnitFlag{"UnitDoorOpened", unit.DoorOpened};
        case TUnitElement::CO2:
            return TUnitFlag{"UnitCO2", unit.CO2Gassing};
        case TUnitElement::O2:
            return TUnitFlag{"UnitO2", unit.O2Gassing};
        case TUnitElement::N2:
            return TUnitFlag{"UnitN2", unit.N2Gassing};
        case TUnitElement::Temperature:
            return TUnitFlag{"UnitTemperature", unit.Temperature};
        case TUnitElement::Humidity:
            return TUnitFlag{"UnitHumidity", unit.Humidity};
        default:
            return std::nullopt;
    }
}

std::int64_t PlateLocations(const TKRBId& unit) {
    std::int64_t locations = 0;
    for (const auto& cassette : unit.Cassettes) locations += cassette->Levels;
    return locations;
}

// The elements that carry a text or a number.
void UnitValue(TViewWriter& out, const TKRBId& unit, TUnitElement element) {
    switch (element) {
        case TUnitElement::Id:
            return out.Value("UnitId", unit.UnitId);
        case TUnitElement::Name:
            return out.Value("UnitName", unit.UnitName);
        case TUnitElement::FW:
            return out.Value("UnitFW", unit.FirmwareVersion());
        case TUnitElement::SN:
            return out.Value("UnitSN", unit.SerialNumber());
        case TUnitElement::COMPort:
            return out.Value("UnitCOMPort", unit.ComPort);
        case TUnitElement::BCRCOMPort:
            return out.Value("UnitBCRCOMPort", unit.BCRPort);
        case TUnitElement::ErrorCode:
            return out.Value("UnitErrorCode", unit.ErrorCode.load());
        case TUnitElement::Plates:
            return out.Value("UnitPlates", PlateLocations(unit));
        case TUnitElement::Doors:
            return out.Value("UnitDoors", std::max(unit.Doors, 1));
        default:
            return;
    }
}

}  // namespace

void TViewWriter::UnitElements(const TKRBId& unit, TUnitOrder order) {
    for (const TUnitElement element : order) {
        if (const auto flag = UnitFlag(unit, element)) {
            Flag(flag->Tag, flag->On);
        } else {
            UnitValue(*this, unit, element);
        }
    }
}

void TViewWriter::SectorHead(const TKRBSector& sector) {
    Open("Sector");
    Value("SectorName", sector.Name);
    Value("SectorMinCass", sector.MinCassette());
    Value("SectorMaxCass", sector.MaxCassette());
}

void TViewWriter::CassetteHead(const TKRBCassette& cassette) {
    Open("Cassette");
    Value("CassetteId", cassette.Number);
    Value("CassetteType", cassette.Type);
    Value("CassetteLevels", cassette.Levels);
    Value("CassetteZPitch", cassette.ZPitch);
}

void TViewWriter::Plate(const TViewPlate& plate, const TKRBCassette& cassette,
                        bool typeNameOnItsOwn) {
    Open("Plate");
    Value("PlateId", plate.SlotNo);
    Value("PlateLevel", plate.Level);
    Value("PlateBCR", plate.PlateBCR);
    Value("PlateUserId", plate.PlateUserId);
    Flag("PlatePP", plate.PP);
    Value("PlateType", cassette.Type);
    if (typeNameOnItsOwn) {
        Item("<PlateTypeName>MTP</PlateTypeName>");
        Item(kLineEnd);
    } else {
        Value("PlateTypeName", "MTP");
    }
    Value("PlateZPitch", cassette.ZPitch);
    Value("PlateDateLoad", DateText(plate.DateLoad));
    Value("PlateDateUnload", DateText(plate.DateUnload));
    Value("PlateDateCheck", DateText(plate.DateCheck));
    Close("Plate");
}

void TViewWriter::XferStations(const TKRBSystem& system, std::string_view name,
                               std::string_view type) {
    for (const auto& unit : system.Units) {
        for (std::size_t i = 0; i < unit->XferStations.size(); ++i) {
            Item("      <xFerSt>\r\n");
            Item("         <xFerName>" + std::string(name) + "</xFerName>\r\n");
            Item("         <xFerType>" + std::string(type) + "</xFerType>\r\n");
            Item("         " + Element("xFerUnit", unit->UnitId) + "\r\n");
            Item("      </xFerSt>\r\n");
        }
    }
}

}  // namespace krb::server
