#pragma once
// Decimal texts as they cross the library boundary and the configuration files:
// an optional sign followed by decimal digits, nothing else, within the type's range.
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/export.h"

namespace krb::platform {

KRB_PLATFORM_API std::optional<std::int64_t> parseInt64(std::string_view text);
KRB_PLATFORM_API std::optional<std::int32_t> parseInt32(std::string_view text);

}  // namespace krb::platform
