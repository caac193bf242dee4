#pragma once
// The dashboard's request head, parsed from bytes alone (no socket), within fixed bounds: a
// client can make the listener keep no more than one bounded head per connection.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krb::server::web {

struct HttpLimits {
    std::size_t MaxHeadBytes = 16 * 1024;  // request line and headers together
    std::size_t MaxHeaders = 64;
};

struct HttpRequest {
    std::string Method;
    std::string Target;
    std::string Version;  // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> Headers;

    // The first header of that name (case-insensitive), or "".
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    bool KeepAlive() const;  // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only when asked
    bool HasBody() const;    // a body the listener does not read
};

enum class HeadStatus {
    Incomplete,  // more bytes are needed
    Complete,
    TooLarge,   // beyond the limits: 431
    Malformed,  // 400
};

struct HeadParse {
    HeadStatus Status = HeadStatus::Incomplete;
    HttpRequest Request;
    std::size_t Consumed = 0;  // bytes of the head, blank line included, when Complete
};

HeadParse ParseRequestHead(std::string_view bytes, const HttpLimits& limits);

// Whether a request's Host names this listener: an IP address (a rebound name never is one),
// a loopback name, or one of `names` (case-insensitive), with or without a port.
bool HostAllowed(std::string_view host, const std::vector<std::string>& names);

}  // namespace krb::server::web
