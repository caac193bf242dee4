#pragma once
// Small text helpers of the library; decimal numbers follow the platform's one rule.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/decimal.h"

namespace krb {

using platform::parseInt32;
using platform::parseInt64;
inline bool isDecimal(std::string_view text) { return parseInt32(text).has_value(); }

// Received bytes without their CR and LF.
inline std::string withoutLineEnds(const char* bytes, long count) {
    std::string text;
    for (long i = 0; i < count; ++i)
        if (bytes[i] != '\r' && bytes[i] != '\n') text += bytes[i];
    return text;
}

// Null-safe view of a C argument.
inline std::string argText(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace krb
