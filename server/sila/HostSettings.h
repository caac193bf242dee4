#pragma once
// The [SiLA] section of the configuration.
#include <optional>
#include <string>

namespace krb::sila {

struct HostSettings {
    int basePort = 0;  // unit i (0-based, in load order) is served at basePort + i
    std::string bindAddress = "127.0.0.1";
    bool insecure = false;
    std::string certificateFile;  // both empty: the self-signed certificate
    std::string keyFile;
};

struct HostSettingsResult {
    std::optional<HostSettings> settings;  // empty: no SiLA servers
    std::string error;                     // set when the section is there but wrong
};

// Without the section, or with Enabled other than 1, no settings and no error. Relative
// certificate paths are taken from the configuration's folder.
HostSettingsResult readHostSettings(const std::string& configurationPath);

}  // namespace krb::sila
