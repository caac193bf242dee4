#pragma once
// Whether a controller reply can belong to the command it follows. A late reply to an
// earlier command, or two replies read at once, must never be taken as the answer: an
// "OK" cannot answer a relay read, a number cannot answer a relay command, "OK1" is two
// replies.
#include <string_view>

namespace krb {

// Replies that hold no known form ("E1", silence, a relayed barcode, line noise) fit every
// command: judging them stays with the operation. Commands whose reply is not judged
// (timers' writes, parameter lines sent with "WS") take any reply.
bool replyFitsCommand(std::string_view command, std::string_view reply);

}  // namespace krb
