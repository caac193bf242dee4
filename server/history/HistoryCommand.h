#pragma once
// KRBServer --history CONFIG [--plate B] [--unit U] [--client C] [--since T] [--until T]
//                            [--limit N] [--json]
#include <iosfwd>
#include <string>
#include <vector>

namespace krb::server::history {

constexpr const char* kHistoryUsage =
    "KRBServer --history <DriverConfig.lni> [--plate B] [--unit U] [--client C] [--since T] "
    "[--until T] [--limit N] [--json]";

// `arguments` start with "--history". Prints the answer on `out`; 0, or 1 when the store
// cannot be read, 2 for a wrong command line (with one line on `err`).
int RunHistoryCommand(const std::vector<std::string>& arguments, std::ostream& out,
                      std::ostream& err);

}  // namespace krb::server::history
