// Controller replies: the first line is the command sent, the rest the reply read. Whether
// it fits, how the operations read it (relay, word, detector, error code), never a crash.
#include "ControllerErrors.h"
#include "KRB_Class.h"
#include "ReplyForm.h"
#include "SlotDetector.h"
#include "fuzz_input.h"
#include "lab/Unit.h"
#include "text_numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = krb::fuzz::textOf(data, size);
    const auto split = text.find('\n');
    const std::string_view command = text.substr(0, split);
    const std::string_view raw = split == std::string_view::npos ? "" : text.substr(split + 1);
    const std::string reply = krb::withoutLineEnds(raw.data(), static_cast<long>(raw.size()));

    const bool fits = krb::replyFitsCommand(command, reply);
    // Silence and the controller's own error fit every command: the retries deal with them.
    if (reply.empty() || reply == "E1") krb::fuzz::require(fits);
    krb::slotDetectorReading(reply);
    if (auto word = krb::parseInt64(reply)) krb::decodeErrorCode(*word);
    krb::server::DecodeBitText(reply);
    return 0;
}
