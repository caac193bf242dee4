// Routing of unit commands ("KRB2...") to the addressed unit's command thread.
#include "ClientLink.h"
#include "CommandSyntax.h"
#include "UnitId.h"
#include "UnitTCPKRBBrowser.h"
#include "UnitTHRKRBCommand.h"

namespace krb::server {

TCommandStart TKRBTCPBrowser::RouteCommand(const std::shared_ptr<ClientLink>& connection,
                                           const std::string& text, std::string* unitId) {
    TKRBId* unit = FindUnitById(UnitIdOfCommand(text));
    if (!unit) {
        connection->Send("E2\r\n");
        return TCommandStart::Started;  // answered, and nothing was refused
    }
    if (unitId) *unitId = unit->UnitId;
    const TCommandStart start = TTHRUnitCommand::Create(*unit, CommandForUnit(text), connection);
    if (start != TCommandStart::Started) connection->Send("E3\r\n");
    return start;
}

}  // namespace krb::server
