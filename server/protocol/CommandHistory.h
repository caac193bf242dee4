#pragma once
// The text protocol's commands as the audit trail keeps them: who sent which command, for
// which unit, with which arguments.
#include <string>
#include <string_view>

#include "history/HistoryEvents.h"

namespace krb::server {

class ClientLink;

// "KRB2ServiceMovePlate(Base1,2,3)" → "KRB2ServiceMovePlate": the text before "(".
std::string CommandNameOf(std::string_view text);
// The argument list after the unit ID: "2,3" for the text above; "" when there is none.
std::string ArgumentsAfterUnitId(std::string_view text);
// A reply without its line ends.
std::string WithoutLineEnds(std::string reply);

// An origin for `text` received on `link` (none: no client), named `name`, for `unitId`.
history::CommandOrigin TextCommandOrigin(const ClientLink* link, std::string name,
                                         std::string unitId, std::string_view text);

}  // namespace krb::server
