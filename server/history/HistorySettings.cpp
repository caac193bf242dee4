#include "history/HistorySettings.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

#include "platform/profile_file.h"
#include "text/TextNumbers.h"

namespace krb::server::history {
namespace {

constexpr const char* kSection = "History";
constexpr const char* kDefaultFile = "History.sqlite";
constexpr std::size_t kMaxQueueSize = 10'000'000;

std::string Problem(const std::string& path, const std::string& key, const std::string& value,
                    const std::string& why, const std::string& fallback) {
    return path + ": [History] " + key + "=\"" + value + "\" " + why + "; using " + fallback;
}

std::string FolderOf(const std::string& path) {
    const auto separator = path.find_last_of('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Written the Windows way or not, relative to the configuration's folder.
std::string DatabaseFile(std::string value, const std::string& driverConfigPath) {
    for (char& c : value) {
        if (c == '\\') c = '/';
    }
    if (!value.empty() && value.front() == '/') return value;
    return FolderOf(driverConfigPath) + value;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool HistorySettings::IsPostgres() const {
    return StartsWith(Database, "postgresql://") || StartsWith(Database, "postgres://");
}

HistorySettings ReadHistorySettings(const std::string& driverConfigPath) {
    HistorySettings settings;
    const platform::ProfileFile file(driverConfigPath);
    auto number = [&](const char* key, long long low, long long high, long long fallback) {
        const auto text = file.findString(kSection, key);
        if (!text) return fallback;
        const auto value = ParseInt32(*text);
        if (value && *value >= low && *value <= high) return static_cast<long long>(*value);
        settings.Problems.push_back(
            Problem(driverConfigPath, key, *text,
                    "is no number from " + std::to_string(low) + " to " + std::to_string(high),
                    std::to_string(fallback)));
        return fallback;
    };
    settings.Enabled = number("Enabled", 0, 1, 1) == 1;
    settings.RetentionDays = static_cast<int>(number("RetentionDays", 0, 36500, 365));
    settings.QueueSize = static_cast<std::size_t>(number("QueueSize", 1, kMaxQueueSize, 10000));
    settings.Database = file.readString(kSection, "Database");
    if (settings.IsPostgres()) return settings;
    if (settings.Database.find("://") != std::string::npos) {
        settings.Problems.push_back(Problem(driverConfigPath, "Database", settings.Database,
                                            "is neither a file nor a postgresql:// address",
                                            kDefaultFile));
        settings.Database.clear();
    }
    if (settings.Database.empty()) settings.Database = kDefaultFile;
    settings.Database = DatabaseFile(settings.Database, driverConfigPath);
    return settings;
}

std::string ServerName(const std::string& driverConfigPath) {
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::error_code error;
    const auto absolute = std::filesystem::absolute(driverConfigPath, error);
    return std::string(host) + ":" +
           (error ? driverConfigPath : absolute.lexically_normal().string());
}

}  // namespace krb::server::history
