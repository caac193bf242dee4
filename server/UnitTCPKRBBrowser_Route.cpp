// Routing of unit commands ("KRB2...") to the addressed unit's command thread.
#include "ClientLink.h"
#include "CommandSyntax.h"
#include "UnitId.h"
#include "UnitTCPKRBBrowser.h"
#include "UnitTHRKRBCommand.h"

namespace krb::server {

void TKRBTCPBrowser::RouteCommand(const std::shared_ptr<ClientLink>& connection,
                                  const std::string& text) {
    TKRBId* unit = FindUnitById(UnitIdOfCommand(text));
    if (!unit) {
        connection->Send("E2\r\n");
        return;
    }
    if (!TTHRUnitCommand::Create(*unit, CommandForUnit(text), connection)) {
        connection->Send("E3\r\n");
    }
}

}  // namespace krb::server
