#pragma once
// The client command reference (docs/commands.md), written from the tables the server
// dispatches with and the description of each row kept beside them here.
#include <ostream>
#include <string>
#include <vector>

namespace krb::server {

// Writes the reference. Returns the problems found instead of writing when a dispatch row has
// no description, or a description names no dispatch row.
std::vector<std::string> WriteCommandReference(std::ostream& out);

}  // namespace krb::server
