#include "platform/port_names.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/network_port.h"

namespace krb::platform {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr int kHighestPort = 255;

bool startsWithComIgnoringCase(std::string_view text) {
    if (text.size() < 3) return false;
    return std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}

std::optional<int> parsePortDigits(std::string_view digits) {
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kHighestPort) return std::nullopt;
    return value;
}

// An entry in the port folder wins even when its target is gone: the open then
// fails instead of falling back to a real serial port of the same number.
std::optional<std::string> portFolderPath(int number) {
    const char* folder = std::getenv("KRB_PORT_DIR");
    if (folder == nullptr || *folder == '\0') return std::nullopt;
    return std::string(folder) + "/COM" + std::to_string(number);
}

std::optional<std::string> portFolderEntry(int number) {
    const auto path = portFolderPath(number);
    if (!path) return std::nullopt;
    const std::string& entry = *path;
    struct stat info {};
    if (::lstat(entry.c_str(), &info) != 0) return std::nullopt;
    std::error_code error;
    auto target = std::filesystem::canonical(entry, error);
    if (error) return entry;
    return target.string();
}

}  // namespace

std::optional<std::string> portFolderAddress(const std::string& windowsName) {
    constexpr std::size_t kLongestAddress = 512;
    const auto number = comPortNumber(windowsName);
    const auto path = number ? portFolderPath(*number) : std::nullopt;
    struct stat info {};
    if (!path || ::stat(path->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::ifstream file(*path);
    std::string line;
    std::getline(file, line);
    if (line.size() > kLongestAddress) return std::string();
    std::string text;
    for (char c : line)
        if (!std::isspace(static_cast<unsigned char>(c))) text += c;
    return text;
}

std::optional<int> comPortNumber(const std::string& windowsName) {
    std::string_view name = windowsName;
    if (name.substr(0, kDevicePrefix.size()) == kDevicePrefix)
        name.remove_prefix(kDevicePrefix.size());
    if (!startsWithComIgnoringCase(name)) return std::nullopt;
    return parsePortDigits(name.substr(3));
}

std::string resolvePortName(const std::string& windowsName) {
    auto number = comPortNumber(windowsName);
    if (!number) return {};
    if (auto entry = portFolderEntry(*number)) return *entry;
    if (auto path = portFolderPath(*number)) return *path;  // no silent fallback to a real port
    return "/dev/ttyS" + std::to_string(*number - 1);
}

std::string resolvePortTarget(const std::string& windowsName) {
    // An entry that is a file but no address leads nowhere.
    if (auto text = portFolderAddress(windowsName)) return parseNetworkAddress(*text) ? *text : "";
    return resolvePortName(windowsName);
}

}  // namespace krb::platform
