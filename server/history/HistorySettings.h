#pragma once
// The [History] section of DriverConfig.lni: whether the trail is kept, and where.
#include <cstddef>
#include <string>
#include <vector>

namespace krb::server::history {

struct HistorySettings {
    bool Enabled = true;
    std::string Database;     // a file path, or a "postgresql://" URI
    int RetentionDays = 365;  // 0 keeps everything
    std::size_t QueueSize = 10000;
    // One line per value that could not be read (file, key, value, the default taken).
    std::vector<std::string> Problems;

    bool IsPostgres() const;
};

// Absent keys take their defaults; a relative database file lies beside the configuration.
HistorySettings ReadHistorySettings(const std::string& driverConfigPath);

// Which server wrote a row: "host:/absolute/path/DriverConfig.lni".
std::string ServerName(const std::string& driverConfigPath);

}  // namespace krb::server::history
