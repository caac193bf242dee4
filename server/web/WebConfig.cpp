#include "web/WebConfig.h"

#include <asio/ip/address.hpp>

#include "platform/profile_file.h"
#include "text/TextNumbers.h"

namespace krb::server::web {
namespace {

constexpr const char* kSection = "Web";

std::string Refusal(const std::string& path, const std::string& key, const std::string& value,
                    const std::string& why) {
    return path + ": [Web] " + key + "=\"" + value + "\" " + why + "; the dashboard is off";
}

// "a.example, b.example" as its names; empty entries are left out.
std::vector<std::string> NameList(const std::string& text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        if (!name.empty()) names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

}  // namespace

WebConfig ReadWebConfig(const std::string& driverConfigPath) {
    WebConfig config;
    const platform::ProfileFile file(driverConfigPath);
    const auto port = file.findString(kSection, "Port");
    const std::string address = file.readString(kSection, "BindAddress");
    if (!port) {
        if (!address.empty()) config.Problem = Refusal(driverConfigPath, "Port", "", "is missing");
        return config;
    }
    const auto number = ParseInt32(*port);
    if (!number || *number < 0 || *number > 65535) {
        config.Problem = Refusal(driverConfigPath, "Port", *port, "is not a port number (0-65535)");
        return config;
    }
    if (!address.empty()) {
        asio::error_code error;
        asio::ip::make_address(address, error);
        if (error) {
            config.Problem =
                Refusal(driverConfigPath, "BindAddress", address, "is not an IP address");
            return config;
        }
        config.BindAddress = address;
    }
    config.HostNames = NameList(file.readString(kSection, "HostNames"));
    config.Port = *number;
    config.Enabled = true;
    return config;
}

bool ListensOnAllInterfaces(const WebConfig& config) {
    asio::error_code error;
    const auto address = asio::ip::make_address(config.BindAddress, error);
    return !error && address.is_unspecified();
}

}  // namespace krb::server::web
