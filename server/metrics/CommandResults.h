#pragma once
// How a unit command's reply is counted on the metrics page: by that command's own result
// codes, so that a failed move ("-Base1;3") is never counted as done.
#include <string>
#include <string_view>

namespace krb::server::web {

// The result label of a reply: "E1", "E2", "E3" as they are, else "ok" or "failed" by the
// command's codes. A command without codes of its own ("unknown") is "failed" for a negative
// number and "ok" otherwise. Replies themselves (barcodes, names) would make the label set
// unbounded.
std::string CommandResultOf(std::string_view command, std::string_view reply);

// As above, for a command during which an exchange with the controller went unanswered: a
// reply that cannot tell failure (empty, or a text such as a climate reading of zeros) is
// then "failed".
std::string CommandResultOf(std::string_view command, std::string_view reply, bool allAnswered);

// True when `command` has codes of its own.
bool HasResultCodes(std::string_view command);

}  // namespace krb::server::web
