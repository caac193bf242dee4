#pragma once
// TKRBModifyPlate: corrects one field of a location's record in a unit's contents file
// ("UpdatePlateName(U1,12,Assay 3)" and its five siblings).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lab/ContentsFile.h"

namespace krb::server {

class TKRBManager;

// The arguments of an update command: name "(" unit "," number "," value ")". The value is
// the rest up to the first ")" and may hold further ",". nullopt without "(" and a later
// ")", or with fewer than two ",".
struct TUpdateArguments {
    std::string UnitId;
    std::string Number;
    std::string Value;
};
std::optional<TUpdateArguments> SplitUpdateArguments(std::string_view text);

class TKRBModifyPlate {
  public:
    static constexpr std::int32_t kDone = 1;
    static constexpr std::int32_t kFailed = -1;
    static constexpr std::int32_t kNoContentsFile = -2;

    explicit TKRBModifyPlate(TKRBManager& manager) : Manager(manager) {}

    // Sets `field` (plate present, barcode, name or one of the dates) of every line of the
    // location named in `text`; the rule for the new content follows from the field.
    std::int32_t Update(ContentsField field, const std::string& text);

    TKRBManager& Manager;
};

// What a value does to a field: the presence flag becomes "1" only for "1", barcode and name
// take the value itself, a date "0" becomes now and an empty date keeps the field. nullopt
// refuses the value: a date that does not parse, or a text a comma-separated line cannot hold.
struct TFieldEdit {
    bool KeepsField = false;
    std::string Text;
};
std::optional<TFieldEdit> FieldEditOf(ContentsField field, const std::string& value);

}  // namespace krb::server
