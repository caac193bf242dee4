#include "sila/HostSettings.h"

#include <charconv>
#include <filesystem>

#include "platform/profile_file.h"

namespace krb::sila {
namespace {

constexpr const char* kSection = "SiLA";

std::optional<long> integerOf(const std::string& text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<bool> flagOf(const std::string& text) {
    if (text == "1") return true;
    if (text == "0" || text.empty()) return false;
    return std::nullopt;
}

std::string besideConfiguration(const std::string& configurationPath, const std::string& file) {
    if (file.empty() || std::filesystem::path(file).is_absolute()) return file;
    return (std::filesystem::path(configurationPath).parent_path() / file).string();
}

HostSettingsResult refused(const std::string& configurationPath, const std::string& what) {
    return {std::nullopt,
            "[SiLA] in " + configurationPath + ": " + what + "; no SiLA servers are started"};
}

}  // namespace

HostSettingsResult readHostSettings(const std::string& configurationPath) {
    const platform::ProfileFile file(configurationPath);
    if (!file.sectionExists(kSection)) return {};
    const auto read = [&](const char* key) { return file.readString(kSection, key); };

    const auto enabled = flagOf(read("Enabled"));
    if (!enabled)
        return refused(configurationPath, "Enabled='" + read("Enabled") + "' is not 0 or 1");
    if (!*enabled) return {};

    HostSettings settings;
    const auto port = integerOf(read("BasePort"));
    if (!port || *port < 1 || *port > 65535) {
        return refused(configurationPath,
                       "BasePort='" + read("BasePort") + "' is not a port number 1..65535");
    }
    settings.basePort = int(*port);

    const std::string bind = read("BindAddress");
    if (!bind.empty()) settings.bindAddress = bind;
    if (settings.bindAddress.find_first_of(" \t/") != std::string::npos) {
        return refused(configurationPath, "BindAddress='" + bind + "' is not an address");
    }

    const auto insecure = flagOf(read("Insecure"));
    if (!insecure)
        return refused(configurationPath, "Insecure='" + read("Insecure") + "' is not 0 or 1");
    settings.insecure = *insecure;

    settings.certificateFile = besideConfiguration(configurationPath, read("CertificateFile"));
    settings.keyFile = besideConfiguration(configurationPath, read("KeyFile"));
    if (settings.certificateFile.empty() != settings.keyFile.empty()) {
        return refused(configurationPath, "CertificateFile and KeyFile must be given together");
    }
    return {settings, {}};
}

}  // namespace krb::sila
