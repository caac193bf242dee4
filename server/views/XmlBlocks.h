#pragma once
// The building blocks of the XML views: text items, the system, unit, sector, cassette,
// plate and transfer station blocks, and a unit's plates read once per request.
//
// Every item goes out followed by CR LF; most items end in CR LF themselves, so the document
// carries an empty line after nearly every element.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lab/ContentsFile.h"
#include "lab/System.h"
#include "lab/Unit.h"
#include "protocol/ClientLink.h"

namespace krb::server {

// (event, details) of a log line.
using TViewLog = std::function<void(const std::string& event, const std::string& details)>;

// A value as element text: "&", "<" and ">" escaped, so that no name breaks the document;
// bytes that are no UTF-8 are taken as Latin-1, control characters (but tab) become "?".
void AppendXmlText(std::string& out, std::string_view value);

enum class TUnitElement {
    Id,
    Name,
    FW,
    SN,
    DoubleDeck,
    Activated,
    Error,
    BCR,
    PPSensor,
    PShovelSensor,
    PXfer1Sensor,
    PXfer2Sensor,
    COMPort,
    BCRCOMPort,
    BCRInit,
    Ready,
    DoorOpened,
    ErrorCode,
    Plates,
    CO2,
    O2,
    N2,
    Temperature,
    Humidity,
    Doors
};
using TUnitOrder = std::span<const TUnitElement>;
extern const TUnitOrder kUnitOrder;      // every view but the tree
extern const TUnitOrder kTreeUnitOrder;  // the tree view

// One location of a contents file as the views show it; the texts point into the file's
// text held by TUnitPlates.
struct TViewPlate {
    std::int32_t SlotNo = 0;
    std::int32_t Level = 0;
    bool PP = false;
    std::string_view PlateBCR;
    std::string_view PlateUserId;
    std::string_view DateCheck;  // as written in the file
    std::string_view DateLoad;
    std::string_view DateUnload;
};

// Contents lines left out of a view because their slot, cassette or level is no integer.
struct TSkippedLines {
    std::size_t Count = 0;
    std::size_t First = 0;  // line number of the first one
};
// Logs `skipped` of `unit`'s contents file, if any.
void LogSkippedLines(const TKRBId& unit, const TSkippedLines& skipped, const TViewLog& log);

// The plates of one unit, read from its contents file once per request and grouped by the
// cassette text of each line (fields split as SplitContentsLine does). Lines whose slot,
// cassette or level is no integer are left out and logged.
class TUnitPlates {
  public:
    TUnitPlates(const TKRBId& unit, const TViewLog& log);
    // Over a contents text that outlives the object; nothing is logged.
    explicit TUnitPlates(std::string_view text);
    TUnitPlates(const TUnitPlates&) = delete;
    TUnitPlates& operator=(const TUnitPlates&) = delete;
    // The lines whose cassette field is `number` in decimal, in file order.
    const std::vector<TViewPlate>& OfCassette(std::int32_t number) const;
    const TSkippedLines& Skipped() const { return skipped_; }

  private:
    void Parse(std::string_view text);

    std::string text_;
    std::unordered_map<std::string_view, std::vector<TViewPlate>> byCassette_;
    TSkippedLines skipped_;
};

// One view document under construction.
class TViewWriter {
  public:
    void Item(std::string_view text);  // the item and its CR LF
    void Raw(std::string_view text);   // text without an item line end (the tree's header)
    void Open(std::string_view tag);   // "<tag>\r\n"
    void Close(std::string_view tag);  // "</tag>\r\n"
    void Value(std::string_view tag, std::string_view value);
    void Value(std::string_view tag, std::int64_t number);
    void Flag(std::string_view tag, bool on);
    // "<tag>value</tag>" without CR LF of its own.
    std::string Element(std::string_view tag, std::string_view value) const;

    void BeginDocument();  // declaration and root
    void EndDocument();
    void SystemHead(const TKRBSystem& system);  // "<System>", SysName, SysId
    void UnitElements(const TKRBId& unit, TUnitOrder order);
    void SectorHead(const TKRBSector& sector);
    void CassetteHead(const TKRBCassette& cassette);
    // `typeNameOnItsOwn`: the plate view ends the PlateTypeName item with a separate CR LF.
    void Plate(const TViewPlate& plate, const TKRBCassette& cassette,
               bool typeNameOnItsOwn = false);
    // After the units of a system: one group per transfer station of each of its units.
    void XferStations(const TKRBSystem& system, std::string_view name = "XFerStation",
                      std::string_view type = "1");

    void Reserve(std::size_t bytes) { text_.reserve(bytes); }
    // A piece shared with other documents, after what was written so far.
    void Shared(std::shared_ptr<const std::string> piece);
    TTextPieces TakePieces();
    std::string Take();  // the whole text, pieces joined

  private:
    // A date field as the views print it; each distinct text is converted once.
    const std::string& DateText(std::string_view field);
    void AppendTag(std::string_view tag, bool closing, bool endsItem);
    bool AppendElement(std::string_view tag, std::string_view text);

    std::string text_;  // written after the last piece
    TTextPieces pieces_;
    std::map<std::string, std::string, std::less<>> dateTexts_;
};

}  // namespace krb::server
