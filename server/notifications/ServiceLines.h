#pragma once
// What a service listener is told about one unit: the notification lines and the polls that
// produce them. The polls ask the unit's controller, so they run off the event loop; each
// appends its lines in the order in which they are sent.
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

class TKRBId;

// event + "(" + unit ID + ")" + CR LF.
std::string ServiceLine(std::string_view event, const std::string& unitId);

// Busy and activation changes against the unit's flags; every tick.
void PollBusyAndActivation(TKRBId& unit, std::vector<std::string>& lines);
// Door and error changes against the unit's flags; every fourth tick, activated units only.
void PollDoorAndError(TKRBId& unit, std::vector<std::string>& lines);
// The unit's state as a newly registered listener first sees it; changes no flag.
void SnapshotOf(TKRBId& unit, std::vector<std::string>& lines);

}  // namespace krb::server
