#pragma once
// Serial lines reached over TCP through a serial device server: as a raw byte stream, or with
// the telnet COM-port control of RFC 2217, which also carries the line settings and purges.
#include <memory>
#include <optional>
#include <string>

#include "platform/export.h"
#include "platform/serial_port.h"

namespace krb::platform {

enum class NetworkMode { Raw, Rfc2217 };

struct NetworkAddress {
    NetworkMode mode = NetworkMode::Raw;
    std::string host;
    int port = 0;
};

// "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (HOST a name, an IPv4 address or [IPv6]);
// anything else -> nullopt.
KRB_PLATFORM_API std::optional<NetworkAddress> parseNetworkAddress(const std::string& text);

// A reply through a device server (ser2net on loopback, to the simulator) came back after a
// median 4-6 ms and a 99th percentile of 14-110 ms on a loaded two-core machine, against 0.3 ms
// on the pseudo-terminal itself: a read window shorter than the unscaled 55 ms loses replies.
inline constexpr long kNetworkReplyWindowFloorMs = 55;

// Connects within kNetworkOpenTimeoutMs (nominal); nullptr when it cannot.
inline constexpr long kNetworkOpenTimeoutMs = 3000;
KRB_PLATFORM_API std::unique_ptr<SerialPort> openNetworkPort(const NetworkAddress& address,
                                                             const std::string& logName);

}  // namespace krb::platform
