#pragma once
// Whether a controller reply can belong to the command it follows. A late reply to an
// earlier command, or two replies read at once, must never be taken as the answer: an
// "OK" cannot answer a relay read, a number cannot answer a relay command.
#include <string_view>

namespace krb {

// Replies that name no form of their own ("E1", silence, texts we do not know) fit every
// command: judging them stays with the operation.
bool replyFitsCommand(std::string_view command, std::string_view reply);

}  // namespace krb
