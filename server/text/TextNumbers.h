#pragma once
// Decimal texts as they cross the library boundary and the configuration files:
// an optional sign followed by decimal digits, nothing else, within 32 bits.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

std::optional<std::int32_t> ParseInt32(std::string_view text);
std::int32_t Int32Or(std::string_view text, std::int32_t fallback);

std::string Trimmed(std::string_view text);  // blanks and tabs at both ends
std::string WithoutBlanks(std::string_view text);
std::string UpperCased(std::string_view text);
std::vector<std::string> SplitAt(std::string_view text, char separator);

// Texts written into comma-separated files must not carry a separator or a line break.
bool IsSafeFieldText(std::string_view text);

}  // namespace krb::server
