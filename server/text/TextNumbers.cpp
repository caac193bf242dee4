#include "text/TextNumbers.h"

#include "platform/decimal.h"

namespace krb::server {

std::optional<std::int32_t> ParseInt32(std::string_view text) { return platform::parseInt32(text); }

std::int32_t Int32Or(std::string_view text, std::int32_t fallback) {
    return ParseInt32(text).value_or(fallback);
}

std::string Trimmed(std::string_view text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::string WithoutBlanks(std::string_view text) {
    std::string result;
    for (char c : text) {
        if (c != ' ' && c != '\t') result += c;
    }
    return result;
}

std::string UpperCased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

std::vector<std::string> SplitAt(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        auto end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            return parts;
        }
        parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool IsSafeFieldText(std::string_view text) {
    return text.find_first_of(",\r\n") == std::string_view::npos;
}

}  // namespace krb::server
