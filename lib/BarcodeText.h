#pragma once
// Barcode texts relayed by the controller: the code travels between a start-of-text and an
// end-of-text byte, possibly in the same read as the "OK" of the relay command.
#include <string>

namespace krb::barcode {

// What a reading gives when the reader's line failed (as opposed to an empty reading).
inline constexpr const char* kReaderFailed = "BCRError";

constexpr char kStartOfText = 2;
constexpr char kEndOfText = 3;

// Between the first start-of-text and the first end-of-text; all before the end-of-text
// when there is no start; nothing without an end.
inline std::string codeBetweenMarkers(const std::string& text) {
    auto end = text.find(kEndOfText);
    if (end == std::string::npos) return "";
    auto start = text.find(kStartOfText);
    if (start == std::string::npos) return text.substr(0, end);
    if (start > end) return "";
    return text.substr(start + 1, end - start - 1);
}

// The controller acknowledges a relay command with "OK"; a relayed text may follow it in the
// same read, and only that text may hold the code.
inline std::string withoutAcknowledgement(const std::string& reply) {
    return reply.rfind("OK", 0) == 0 ? reply.substr(2) : reply;
}

inline bool hasMarker(const std::string& text) {
    return text.find(kStartOfText) != std::string::npos ||
           text.find(kEndOfText) != std::string::npos;
}

}  // namespace krb::barcode
