#include "protocol/CommandRouting.h"

#include "lab/Unit.h"
#include "protocol/ClientLink.h"
#include "text/CommandSyntax.h"

namespace krb::server {

TCommandStart TKRBTCPBrowser::RouteCommand(const std::shared_ptr<ClientLink>& connection,
                                           const std::string& text, std::string* unitId) {
    TKRBId* unit = FindUnitById(UnitIdOfCommand(text));
    if (!unit) {
        connection->Send("E2\r\n");
        return TCommandStart::Started;  // answered, and nothing was refused
    }
    if (unitId) *unitId = unit->UnitId;
    std::string forUnit = CommandForUnit(text);
    std::string sent = forUnit == text ? std::string() : text;
    const TCommandStart start =
        TTHRUnitCommand::Create(*unit, std::move(forUnit), connection, std::move(sent));
    if (start != TCommandStart::Started) connection->Send("E3\r\n");
    return start;
}

}  // namespace krb::server
