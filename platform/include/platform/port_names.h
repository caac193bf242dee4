#pragma once
#include <optional>
#include <string>

#include "platform/export.h"

namespace krb::platform {

// "COM7", "\\.\COM12" -> 12; anything else -> nullopt.
KRB_PLATFORM_API std::optional<int> comPortNumber(const std::string& windowsName);

// Device path for a Windows port name: with KRB_PORT_DIR set, the target of $KRB_PORT_DIR/COMn
// (that path itself when the entry is missing: opening it then fails); without it
// /dev/ttyS<n-1>. Empty when the name is not a COM name.
KRB_PLATFORM_API std::string resolvePortName(const std::string& windowsName);

// What a port name leads to now: the address text of a serial device server's entry, else the
// device path. Reopening this target reaches the same device even when the folder changed.
KRB_PLATFORM_API std::string resolvePortTarget(const std::string& windowsName);

// The text of $KRB_PORT_DIR/COMn when that entry is a regular file (a serial device server's
// address, "tcp://HOST:PORT" or "rfc2217://HOST:PORT"): its first line without blanks.
KRB_PLATFORM_API std::optional<std::string> portFolderAddress(const std::string& windowsName);

}  // namespace krb::platform
