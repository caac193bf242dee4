#include "updates/PlateUpdate.h"

#include <mutex>

#include "lab/ConfigPath.h"
#include "lab/ConfigurationLoader.h"
#include "lab/RecordChanges.h"
#include "lab/Unit.h"
#include "text/DateTimeText.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

bool IsDateField(ContentsField field) {
    return field == kDateCheckField || field == kDateLoadField || field == kDateUnloadField;
}

std::optional<TFieldEdit> DateEditOf(const std::string& value) {
    if (value.empty()) return TFieldEdit{true, {}};
    if (value == "0") return TFieldEdit{false, CurrentDateTimeText()};
    auto date = TryParseDateTime(value);
    if (!date) return std::nullopt;
    return TFieldEdit{false, FormatDateTime(*date)};
}

}  // namespace

std::optional<TUpdateArguments> SplitUpdateArguments(std::string_view text) {
    const auto open = text.find('(');
    if (open == std::string_view::npos) return std::nullopt;
    const auto close = text.find(')');
    if (close == std::string_view::npos || close < open) return std::nullopt;
    const std::string_view arguments = text.substr(open + 1, close - open - 1);
    const auto first = arguments.find(',');
    if (first == std::string_view::npos) return std::nullopt;
    const auto second = arguments.find(',', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    return TUpdateArguments{std::string(arguments.substr(0, first)),
                            std::string(arguments.substr(first + 1, second - first - 1)),
                            std::string(arguments.substr(second + 1))};
}

std::optional<TFieldEdit> FieldEditOf(ContentsField field, const std::string& value) {
    if (field == kPresentField) return TFieldEdit{false, value == "1" ? "1" : "0"};
    if (IsDateField(field)) return DateEditOf(value);
    if (!IsSafeFieldText(value)) return std::nullopt;
    return TFieldEdit{false, value};
}

std::int32_t TKRBModifyPlate::Update(ContentsField field, const std::string& text) {
    auto arguments = SplitUpdateArguments(text);
    if (!arguments) return kFailed;
    auto edit = FieldEditOf(field, arguments->Value);
    if (!edit) return kFailed;
    TKRBId* unit = Manager.Lab().FindUnit(arguments->UnitId);
    if (unit == nullptr) return kFailed;
    if (unit->ContentsFile.empty() || !IsExistingFile(unit->ContentsFile)) return kNoContentsFile;

    const auto held = unit->Hold(TKRBId::ContentsLock);
    auto lines = LoadTextLines(unit->ContentsFile);
    if (!lines) return kFailed;
    const std::vector<std::string> before = *lines;
    if (!edit->KeepsField) {
        for (auto& line : *lines) {
            ContentsFields fields = SplitContentsLine(line);
            if (fields[kSlotNoField] != arguments->Number) continue;
            fields[field] = edit->Text;
            line = JoinContentsLine(fields);
        }
    }
    if (!SaveTextLines(unit->ContentsFile, *lines)) return kFailed;
    ReportRecordChanges(unit->UnitId, before, *lines, history::ChangeCause::Update);
    return kDone;
}

}  // namespace krb::server
