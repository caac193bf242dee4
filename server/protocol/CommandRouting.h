#pragma once
// The lab's units as the text protocol addresses them: a unit command goes to the command
// thread of the unit its first argument names.
#include <memory>
#include <string>

#include "lab/UnitDirectory.h"
#include "protocol/UnitCommandThread.h"

namespace krb::server {

class ClientLink;

class TKRBTCPBrowser : public UnitDirectory {
  public:
    // On the event loop: "E2" for an unknown unit, else one command thread for the unit ("E3"
    // when it cannot be started). Returns what became of the command, and in `unitId` the
    // unit it was for.
    TCommandStart RouteCommand(const std::shared_ptr<ClientLink>& connection,
                               const std::string& text, std::string* unitId = nullptr);
};

}  // namespace krb::server
