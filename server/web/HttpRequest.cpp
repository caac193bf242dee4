#include "web/HttpRequest.h"

#include <algorithm>
#include <asio/ip/address.hpp>
#include <cctype>

namespace krb::server::web {
namespace {

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Lines end with CR LF or LF alone.
std::vector<std::string_view> SplitLines(std::string_view head) {
    std::vector<std::string_view> lines;
    while (!head.empty()) {
        const auto end = head.find('\n');
        std::string_view line = head.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        head.remove_prefix(end + 1);
    }
    return lines;
}

bool ParseRequestLine(std::string_view line, HttpRequest& request) {
    const auto first = line.find(' ');
    const auto last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) return false;
    request.Method = line.substr(0, first);
    request.Target = line.substr(first + 1, last - first - 1);
    request.Version = line.substr(last + 1);
    return IsToken(request.Method) && !request.Target.empty() &&
           request.Target.find(' ') == std::string::npos &&
           (request.Version == "HTTP/1.1" || request.Version == "HTTP/1.0");
}

bool ParseHeaderLine(std::string_view line, HttpRequest& request) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return false;
    request.Headers.emplace_back(line.substr(0, colon), Trimmed(line.substr(colon + 1)));
    return true;
}

// The end of the head: the blank line after the last header, or npos.
std::size_t HeadEnd(std::string_view bytes) {
    for (std::size_t at = bytes.find('\n'); at != std::string_view::npos;
         at = bytes.find('\n', at + 1)) {
        if (at + 1 < bytes.size() && bytes[at + 1] == '\n') return at + 2;
        if (at + 2 < bytes.size() && bytes[at + 1] == '\r' && bytes[at + 2] == '\n') return at + 3;
    }
    return std::string_view::npos;
}

std::string_view WithoutPort(std::string_view host) {
    if (host.starts_with('[')) {
        const auto close = host.find(']');
        return close == std::string_view::npos ? std::string_view() : host.substr(1, close - 1);
    }
    const auto colon = host.find(':');
    return colon == std::string_view::npos ? host : host.substr(0, colon);
}

bool IsLoopbackName(std::string_view name) {
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    if (SameText(name, "localhost")) return true;
    constexpr std::string_view kSuffix = ".localhost";
    return name.size() > kSuffix.size() &&
           SameText(name.substr(name.size() - kSuffix.size()), kSuffix);
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : Headers) {
        if (SameText(key, name)) return value;
    }
    return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
    return std::any_of(Headers.begin(), Headers.end(),
                       [&](const auto& header) { return SameText(header.first, name); });
}

bool HttpRequest::KeepAlive() const {
    const std::string connection = Header("Connection");
    if (Version == "HTTP/1.0") return SameText(connection, "keep-alive");
    return !SameText(connection, "close");
}

bool HttpRequest::HasBody() const {
    const std::string length = Header("Content-Length");
    return HasHeader("Transfer-Encoding") || (!length.empty() && length != "0");
}

HeadParse ParseRequestHead(std::string_view bytes, const HttpLimits& limits) {
    HeadParse parse;
    // Blank lines before a request are allowed.
    std::size_t start = 0;
    while (start < bytes.size() && (bytes[start] == '\r' || bytes[start] == '\n')) ++start;
    const std::size_t end = HeadEnd(bytes.substr(start));
    if (end == std::string_view::npos) {
        parse.Status =
            bytes.size() > limits.MaxHeadBytes ? HeadStatus::TooLarge : HeadStatus::Incomplete;
        return parse;
    }
    if (start + end > limits.MaxHeadBytes) {
        parse.Status = HeadStatus::TooLarge;
        return parse;
    }
    const auto lines = SplitLines(bytes.substr(start, end));
    parse.Status = HeadStatus::Malformed;
    if (lines.empty() || !ParseRequestLine(lines.front(), parse.Request)) return parse;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        if (parse.Request.Headers.size() == limits.MaxHeaders) {
            parse.Status = HeadStatus::TooLarge;
            return parse;
        }
        if (!ParseHeaderLine(lines[i], parse.Request)) return parse;
    }
    parse.Status = HeadStatus::Complete;
    parse.Consumed = start + end;
    return parse;
}

bool HostAllowed(std::string_view host, const std::vector<std::string>& names) {
    const std::string_view name = WithoutPort(Trimmed(host));
    if (name.empty()) return false;
    asio::error_code error;
    asio::ip::make_address(std::string(name), error);
    if (!error || IsLoopbackName(name)) return true;
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& allowed) { return SameText(allowed, name); });
}

}  // namespace krb::server::web
