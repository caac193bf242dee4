#include "protocol/ClientAdmission.h"

#include <sys/resource.h>

#include <algorithm>

#include "text/TextNumbers.h"

namespace krb::server {
namespace {

asio::ip::address Unmapped(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

template <std::size_t N>
bool LeadingBitsMatch(const std::array<unsigned char, N>& a, const std::array<unsigned char, N>& b,
                      unsigned bits) {
    for (std::size_t i = 0; i < N && bits > 0; ++i) {
        const unsigned take = std::min(bits, 8u);
        const auto mask = static_cast<unsigned char>(0xFF << (8 - take));
        if ((a[i] & mask) != (b[i] & mask)) return false;
        bits -= take;
    }
    return true;
}

std::vector<std::string_view> Entries(std::string_view list) {
    std::vector<std::string_view> entries;
    std::size_t start = 0;
    while (start < list.size()) {
        const auto end = list.find_first_of(", \t", start);
        const auto entry = list.substr(start, end - start);
        if (!entry.empty()) entries.push_back(entry);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return entries;
}

}  // namespace

bool TAddressPrefix::Matches(const asio::ip::address& client) const {
    const auto address = Unmapped(client);
    if (address.is_v4() != Address.is_v4()) return false;
    if (address.is_v4()) {
        return LeadingBitsMatch(address.to_v4().to_bytes(), Address.to_v4().to_bytes(), Bits);
    }
    return LeadingBitsMatch(address.to_v6().to_bytes(), Address.to_v6().to_bytes(), Bits);
}

std::optional<TAddressPrefix> ParseAddressPrefix(std::string_view text) {
    const auto slash = text.find('/');
    asio::error_code error;
    const auto address = asio::ip::make_address(std::string(text.substr(0, slash)), error);
    if (error) return std::nullopt;
    TAddressPrefix prefix{Unmapped(address), 0};
    const unsigned width = prefix.Address.is_v4() ? 32 : 128;
    prefix.Bits = width;
    if (slash == std::string_view::npos) return prefix;
    const auto bits = ParseInt32(text.substr(slash + 1));
    if (!bits || *bits < 0 || static_cast<unsigned>(*bits) > width) return std::nullopt;
    prefix.Bits = static_cast<unsigned>(*bits);
    return prefix;
}

void ClientAdmission::SetAllowedClients(std::string_view list, std::vector<std::string>& problems) {
    allowed_.clear();
    const auto entries = Entries(list);
    restricted_ = !entries.empty();
    for (const auto entry : entries) {
        if (auto prefix = ParseAddressPrefix(entry)) {
            allowed_.push_back(*prefix);
        } else {
            problems.push_back("\"" + std::string(entry) + "\" is no address or prefix");
        }
    }
}

bool ClientAdmission::Allows(const asio::ip::address& client) const {
    if (!restricted_) return true;
    return std::any_of(allowed_.begin(), allowed_.end(),
                       [&](const TAddressPrefix& prefix) { return prefix.Matches(client); });
}

std::size_t ConnectionBound(std::size_t configured, std::size_t descriptorLimit,
                            std::size_t reserved) {
    const std::size_t available = descriptorLimit > reserved ? descriptorLimit - reserved : 1;
    return std::max<std::size_t>(1, std::min(configured, available));
}

std::size_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? static_cast<std::size_t>(1) << 20
                                           : static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace krb::server
