// Routing of unit commands ("KRB2...") to the addressed unit's command thread.
#include "ClientLink.h"
#include "UnitId.h"
#include "UnitTCPKRBBrowser.h"
#include "UnitTHRKRBCommand.h"

namespace krb::server {
namespace {

constexpr std::string_view kServiceMove = "KRB2ServiceMovePlate";
constexpr std::size_t kServiceMoveFields = 12;
constexpr std::size_t kOtherUnitField = 6;

// Up to `count` fields: all but the last end at the next ",", the last is the rest.
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

}  // namespace

std::string UnitIdOfCommand(std::string_view text) {
    const auto open = text.find('(');
    const std::size_t start = open == std::string_view::npos ? 0 : open + 1;
    const char closing = text.find(',') != std::string_view::npos ? ',' : ')';
    const auto end = text.find(closing);
    if (end == std::string_view::npos || end < start) return {};
    return std::string(text.substr(start, end - start));
}

std::string TKRBTCPBrowser::RewriteServiceMove(std::string_view text) const {
    auto fields = SplitFields(TCommandFields::ArgumentList(text), kServiceMoveFields);
    auto toPort = [this](std::string& field) {
        const TKRBId* unit = FindUnitById(field);
        field = unit ? std::to_string(unit->ComPort) : "0";
    };
    toPort(fields[0]);
    if (fields.size() > kOtherUnitField) toPort(fields[kOtherUnitField]);
    std::string rewritten(kServiceMove);
    rewritten += '(';
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) rewritten += ',';
        rewritten += fields[i];
    }
    return rewritten + ')';
}

void TKRBTCPBrowser::RouteCommand(const std::shared_ptr<ClientLink>& connection,
                                  const std::string& text) {
    TKRBId* unit = FindUnitById(UnitIdOfCommand(text));
    if (!unit) {
        connection->Send("E2\r\n");
        return;
    }
    std::string command = text.starts_with(kServiceMove) ? RewriteServiceMove(text) : text;
    if (!TTHRUnitCommand::Create(*unit, std::move(command), connection)) {
        connection->Send("E3\r\n");
    }
}

}  // namespace krb::server
