#pragma once
// Decimal texts as they cross the library boundary: an optional sign and digits, nothing else.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krb {

std::optional<std::int32_t> parseInt32(std::string_view text);
std::optional<std::int64_t> parseInt64(std::string_view text);
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
