#pragma once
// Hands the audit trail the records of a contents file that a rewrite changed.
#include <string>
#include <vector>

#include "history/HistoryEvents.h"

namespace krb::server {

// Reports to the trail every record whose present flag, barcode or name differs between two
// versions of a unit's contents file, matched by location number (first field).
void ReportRecordChanges(const std::string& unitId, const std::vector<std::string>& before,
                         const std::vector<std::string>& after, history::ChangeCause cause);

}  // namespace krb::server
