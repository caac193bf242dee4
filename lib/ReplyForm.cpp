#include "ReplyForm.h"

#include <algorithm>
#include <cctype>

namespace krb {
namespace {

enum class Expected { Acknowledgement, RelayState, Word, LinkOpened, LinkClosed, Anything };

bool isDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

Expected expectedFor(std::string_view command) {
    if (command == "CR") return Expected::LinkOpened;
    if (command == "CQ") return Expected::LinkClosed;
    if (startsWith(command, "ST ") || startsWith(command, "RS ")) return Expected::Acknowledgement;
    if (startsWith(command, "WR DM")) return Expected::Acknowledgement;
    if (startsWith(command, "RD DM") || startsWith(command, "RD T")) return Expected::Word;
    if (startsWith(command, "RD ") && isDigits(command.substr(3))) return Expected::RelayState;
    return Expected::Anything;
}

bool isLinkWord(std::string_view reply) { return reply == "CC" || reply == "CF"; }

}  // namespace

bool replyFitsCommand(std::string_view command, std::string_view reply) {
    switch (expectedFor(command)) {
        case Expected::Acknowledgement:
            // A relayed barcode may follow the "OK" in the same read.
            return !isDigits(reply) && !isLinkWord(reply);
        case Expected::RelayState:
            return !(isDigits(reply) && reply.size() > 1) && reply != "OK" && !isLinkWord(reply);
        case Expected::Word:
            return !(isDigits(reply) && reply.size() == 1) && reply != "OK" && !isLinkWord(reply);
        case Expected::LinkOpened:
        case Expected::LinkClosed:
            return !isDigits(reply) && reply != "OK";
        case Expected::Anything:
            return true;
    }
    return true;
}

}  // namespace krb
