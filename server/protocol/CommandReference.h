#pragma once
// The client command reference (docs/commands.md), written from the tables the server
// dispatches with and the description of each row kept beside them here.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

// Writes the reference. Returns the problems found instead of writing when a dispatch row has
// no description, or a description names no dispatch row.
std::vector<std::string> WriteCommandReference(std::ostream& out);

// The lock a unit command row takes, as the reference names it: "device", "operation" or
// "none"; empty for a name that is no row.
std::string_view UnitCommandLock(std::string_view rowName);

}  // namespace krb::server
