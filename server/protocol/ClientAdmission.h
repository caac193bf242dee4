#pragma once
// Who may hold a connection to the command port: the clients that [TCP] AllowedClients names
// (addresses and prefixes; everyone when it is empty), and no more connections at once than
// the bound, which leaves descriptors for the server's own files and ports.
#include <asio.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

// An address and how many of its leading bits must match ("10.1.0.0/16"; a plain address
// matches itself alone). An IPv4 client reached over IPv6 ("::ffff:10.1.2.3") counts as IPv4.
struct TAddressPrefix {
    asio::ip::address Address;
    unsigned Bits = 0;
    bool Matches(const asio::ip::address& client) const;
};
std::optional<TAddressPrefix> ParseAddressPrefix(std::string_view text);

class ClientAdmission {
  public:
    static constexpr std::size_t kDefaultMaxConnections = 1000;
    // Descriptors kept for the configuration, contents and log files, serial ports, the
    // dashboard and the resolver, on top of a few per unit.
    static constexpr std::size_t kReservedDescriptors = 128;
    static constexpr std::size_t kReservedDescriptorsPerUnit = 4;

    // Entries separated by commas or blanks. An entry that is no address or prefix is
    // reported in `problems` and admits nobody.
    void SetAllowedClients(std::string_view list, std::vector<std::string>& problems);
    bool Allows(const asio::ip::address& client) const;
    bool RestrictsClients() const { return restricted_; }

    void SetMaxConnections(std::size_t bound) { maxConnections_ = bound; }
    std::size_t MaxConnections() const { return maxConnections_; }

  private:
    std::vector<TAddressPrefix> allowed_;
    bool restricted_ = false;
    std::size_t maxConnections_ = kDefaultMaxConnections;
};

// The bound that leaves `reserved` of `descriptorLimit` descriptors to the server itself
// (at least one connection).
std::size_t ConnectionBound(std::size_t configured, std::size_t descriptorLimit,
                            std::size_t reserved);
// Raises the process's soft limit on open descriptors to its hard limit; returns the limit
// now in force.
std::size_t RaiseDescriptorLimit();

}  // namespace krb::server
