#pragma once
// Reading client and file texts that may or may not be UTF-8: the views and the dashboard
// take a byte that starts no well-formed sequence as the Latin-1 character of that byte.
#include <cstddef>
#include <string_view>

namespace krb::platform {

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0 (overlong forms and
// surrogates are not well-formed).
inline std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto isContinuation = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    if (text.empty()) return 0;
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!isContinuation(byte(i))) return 0;
    }
    return length;
}

}  // namespace krb::platform
