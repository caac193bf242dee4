#pragma once
// What a killed or failing server leaves in the contents folders: temporary files of
// interrupted rewrites and inventory files whose merge never happened. At start the
// temporaries go, and each unmerged inventory is kept once under a name an operator finds.
#include <cstddef>
#include <functional>
#include <string>

#include "lab/Lab.h"

namespace krb::server {

// Unmerged inventories kept per folder; older ones are removed.
constexpr std::size_t kKeptUnmergedInventories = 5;

// "<unit>.<stamp>.inventory-unmerged", the stamp being the scan's own (ddhhnnsszzz); a second
// inventory of the same stamp is kept as "<unit>.<stamp>-2.inventory-unmerged", and so on.
constexpr const char* kUnmergedInventorySuffix = ".inventory-unmerged";

// ".<file>.tmp<pid>.<n>" of a process that is no longer running.
bool IsStaleTemporaryName(const std::string& name);

using TLeftoverReport = std::function<void(const std::string& event, const std::string& details)>;

// Tidies the folder of every unit's contents file once; each step is reported.
void TidyContentsFolders(const TKRBLab& lab, const TLeftoverReport& report);

}  // namespace krb::server
