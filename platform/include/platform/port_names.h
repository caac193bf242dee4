#pragma once
#include <optional>
#include <string>

#include "platform/export.h"

namespace krb::platform {

// "COM7", "\\.\COM12" -> 12; anything else -> nullopt.
KRB_PLATFORM_API std::optional<int> comPortNumber(const std::string& windowsName);

// Device path for a Windows port name: $KRB_PORT_DIR/COMn when that entry exists,
// else /dev/ttyS<n-1>. Empty when the name is not a COM name.
KRB_PLATFORM_API std::string resolvePortName(const std::string& windowsName);

}  // namespace krb::platform
