#pragma once
// The flat list of every unit of the lab, in load order, for lookups by UnitId and by
// controller port. The command routing of the front end lives beside it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

class ClientLink;
class TKRBId;

// The unit ID of a unit command: between the first "(" and the first "," when the text has a
// ",", else between the first "(" and the first ")".
std::string UnitIdOfCommand(std::string_view text);

class TKRBTCPBrowser {
  public:
    void AddUnit(TKRBId* unit);
    const std::vector<TKRBId*>& Units() const { return units_; }
    TKRBId* FindUnitById(const std::string& unitId) const;
    TKRBId* FindUnitByPort(std::int32_t comPort) const;

    // Front end (UnitTCPKRBBrowser_Route.cpp, on the event loop): "E2" for an unknown unit,
    // else one command thread for the unit ("E3" when it cannot be started).
    void RouteCommand(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    // The service move names units by UnitId; the library wants controller ports.
    std::string RewriteServiceMove(std::string_view text) const;

  private:
    std::vector<TKRBId*> units_;
};

}  // namespace krb::server
