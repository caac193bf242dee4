#include "WebConfig.h"

#include <asio/ip/address.hpp>

#include "TextNumbers.h"
#include "platform/profile_file.h"

namespace krb::server::web {
namespace {

constexpr const char* kSection = "Web";

std::string Refusal(const std::string& path, const std::string& key, const std::string& value,
                    const std::string& why) {
    return path + ": [Web] " + key + "=\"" + value + "\" " + why + "; the dashboard is off";
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
    config.Port = *number;
    config.Enabled = true;
    return config;
}

}  // namespace krb::server::web
