#pragma once
#include <string>

namespace krb::server {
class TKRBId;
}

namespace krb::server::web {

// A unit command's reply, counted by command name and result with its duration.
std::string MeasuredUnitReply(TKRBId& unit, const std::string& command);

}  // namespace krb::server::web
