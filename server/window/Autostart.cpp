#include "window/Autostart.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>

namespace krb::server {
namespace {

constexpr std::string_view kReservedInExec = " \t\"'\\><~|&;$*?#()`";
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::filesystem::path ConfigHome() {
    const std::filesystem::path configured = EnvironmentValue("XDG_CONFIG_HOME");
    if (configured.is_absolute()) return configured;  // a relative value is to be ignored
    const std::filesystem::path home = EnvironmentValue("HOME");
    if (home.is_absolute()) return home / ".config";
    return {};
}

// The Exec value is a string value too: its backslashes are written doubled, and "%" starts
// a field code unless doubled.
std::string WithStringEscapes(const std::string& exec) {
    std::string escaped;
    for (char c : exec) {
        if (c == '\\') escaped += '\\';
        if (c == '%') escaped += '%';
        escaped += c;
    }
    return escaped;
}

}  // namespace

std::optional<std::string> DesktopExecArgument(const std::string& argument, bool alwaysQuote) {
    if (argument.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return std::nullopt;
    const bool quote = alwaysQuote || argument.empty() ||
                       argument.find_first_of(kReservedInExec) != std::string::npos;
    if (!quote) return WithStringEscapes(argument);
    std::string quoted = "\"";
    for (char c : argument) {
        if (kEscapedInQuotes.find(c) != std::string_view::npos) quoted += '\\';
        quoted += c;
    }
    return WithStringEscapes(quoted + "\"");
}

std::optional<std::string> AutostartEntryText(const std::string& program,
                                              const std::string& configuration) {
    const auto programArgument = DesktopExecArgument(program, false);
    const auto configurationArgument = DesktopExecArgument(configuration, true);
    if (!programArgument || !configurationArgument) return std::nullopt;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=KRBServer\n"
           "Exec=" +
           *programArgument + " " + *configurationArgument + " start\n";
}

std::filesystem::path AutostartEntryPath() {
    const std::filesystem::path configHome = ConfigHome();
    if (configHome.empty()) return {};
    return configHome / "autostart" / "KRBServer.desktop";
}

bool AutostartEntryExists() {
    const auto path = AutostartEntryPath();
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

bool WriteAutostartEntry(const std::string& program, const std::string& configuration) {
    const auto text = AutostartEntryText(program, configuration);
    const auto path = AutostartEntryPath();
    if (!text || path.empty()) return false;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) return false;
    auto temporary = path;
    temporary += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << *text;
        file.close();
        if (!file) {
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, path, error);
    if (!error) return true;
    std::filesystem::remove(temporary, error);
    return false;
}

bool RemoveAutostartEntry() {
    const auto path = AutostartEntryPath();
    std::error_code error;
    if (path.empty()) return false;
    std::filesystem::remove(path, error);
    return !error;
}

}  // namespace krb::server
