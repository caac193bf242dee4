#pragma once
// The [Web] section of DriverConfig.lni: the dashboard's own listener. Absent, it is off.
#include <optional>
#include <string>
#include <vector>

namespace krb::server::web {

struct WebConfig {
    bool Enabled = false;
    int Port = 0;  // 0: the system picks one
    std::string BindAddress = "127.0.0.1";
    std::vector<std::string> HostNames;  // names browsers may use besides addresses and localhost
    std::string Problem;  // why a present section was refused; the dashboard then stays off
};

WebConfig ReadWebConfig(const std::string& driverConfigPath);

// True when the listener is reachable from every interface ("0.0.0.0", "::").
bool ListensOnAllInterfaces(const WebConfig& config);

}  // namespace krb::server::web
