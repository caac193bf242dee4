#pragma once
// File names that clients hand to the library (inventory files) are kept inside one folder,
// so that no client can make the server write elsewhere.
#include <optional>
#include <string>
#include <string_view>

namespace krb::server {

// The file `name` stands for inside `folder`: a relative name is taken inside it, "\" counts as
// a separator. nullopt when the name is empty, carries a drive letter, or resolves outside the
// folder (absolute elsewhere, "..", a symlink leading out).
std::optional<std::string> ConfinedClientFile(std::string_view name, const std::string& folder);

}  // namespace krb::server
