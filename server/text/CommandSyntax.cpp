#include "text/CommandSyntax.h"

#include "text/TextNumbers.h"

namespace krb::server {
namespace {

std::size_t StartOfArguments(std::string_view text) {
    const auto open = text.find('(');
    return open == std::string_view::npos ? 0 : open + 1;
}

// From the start of the arguments up to the first `end` character of the whole text.
std::string_view ArgumentsUpTo(std::string_view text, char end) {
    const std::size_t start = StartOfArguments(text);
    const auto stop = text.find(end);
    if (stop == std::string_view::npos || stop < start) return {};
    return text.substr(start, stop - start);
}

}  // namespace

std::string UnitIdOfCommand(std::string_view text) {
    const char end = text.find(',') != std::string_view::npos ? ',' : ')';
    return std::string(ArgumentsUpTo(text, end));
}

std::string_view ArgumentList(std::string_view command) { return ArgumentsUpTo(command, ')'); }

std::vector<std::string> SplitFields(std::string_view list, std::size_t count) {
    std::vector<std::string> fields;
    while (fields.size() + 1 < count) {
        const auto comma = list.find(',');
        if (comma == std::string_view::npos) break;
        fields.emplace_back(list.substr(0, comma));
        list = list.substr(comma + 1);
    }
    fields.emplace_back(list);
    return fields;
}

TCommandFields::TCommandFields(std::string_view command, std::span<const FieldKind> shape)
    : fields_(shape.size()), integers_(shape.size()) {
    const auto split = SplitFields(ArgumentList(command), shape.size() + 1);
    for (std::size_t i = 1; i < split.size(); ++i) fields_[i - 1] = split[i];
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] != FieldKind::Integer) continue;
        if (fields_[i]) integers_[i] = ParseInt32(*fields_[i]);
        if (!integers_[i]) {
            throw TCommandArgumentError("field " + std::to_string(i + 1) + " is not an integer");
        }
    }
}

std::int32_t TCommandFields::Integer(std::size_t index) const {
    if (index >= integers_.size() || !integers_[index]) {
        throw TCommandArgumentError("no integer field " + std::to_string(index + 1));
    }
    return *integers_[index];
}

const std::string& TCommandFields::Text(std::size_t index) const {
    static const std::string kMissing;
    return index < fields_.size() && fields_[index] ? *fields_[index] : kMissing;
}

bool TCommandFields::Flag(std::size_t index) const { return Text(index) == "1"; }

}  // namespace krb::server
