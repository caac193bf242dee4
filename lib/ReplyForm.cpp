#include "ReplyForm.h"

#include <cctype>
#include <optional>
#include <vector>

namespace krb {
namespace {

enum class Form { Acknowledgement, LinkOpened, LinkClosed, RelayState, Word };

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

bool isDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isDigit(c)) return false;
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The form the controller answers a command with; nullopt where it is not judged.
std::optional<Form> expectedFor(std::string_view command) {
    if (command == "CR") return Form::LinkOpened;
    if (command == "CQ") return Form::LinkClosed;
    if (startsWith(command, "ST ") || startsWith(command, "RS ")) return Form::Acknowledgement;
    if (startsWith(command, "WR DM")) return Form::Acknowledgement;
    if (startsWith(command, "RD DM") || startsWith(command, "RD T")) return Form::Word;
    if (startsWith(command, "RD ") && isDigits(command.substr(3))) return Form::RelayState;
    return std::nullopt;
}

// The reply as a sequence of known forms ("OK1" is an "OK" and a relay state read at once);
// nullopt when it holds anything else (an error word, a barcode, line noise).
std::optional<std::vector<Form>> formsOf(std::string_view reply) {
    std::vector<Form> forms;
    while (!reply.empty()) {
        if (startsWith(reply, "OK")) {
            forms.push_back(Form::Acknowledgement);
            reply.remove_prefix(2);
        } else if (startsWith(reply, "CC")) {
            forms.push_back(Form::LinkOpened);
            reply.remove_prefix(2);
        } else if (startsWith(reply, "CF")) {
            forms.push_back(Form::LinkClosed);
            reply.remove_prefix(2);
        } else if (isDigit(reply.front())) {
            std::size_t digits = 1;
            while (digits < reply.size() && isDigit(reply[digits])) ++digits;
            // A relay state is one digit, a word five; more digits are several replies.
            forms.push_back(digits == 1 ? Form::RelayState : Form::Word);
            if (digits > 5) forms.push_back(Form::Word);
            reply.remove_prefix(digits);
        } else {
            return std::nullopt;
        }
    }
    return forms;
}

}  // namespace

bool replyFitsCommand(std::string_view command, std::string_view reply) {
    const auto expected = expectedFor(command);
    if (!expected || reply.empty()) return true;
    const auto forms = formsOf(reply);
    if (!forms) return true;
    return forms->size() == 1 && forms->front() == *expected;
}

}  // namespace krb
