#pragma once
// The per-user autostart entry: an XDG autostart file that starts KRBServer with a
// configuration and "start" at log-on.
#include <filesystem>
#include <optional>
#include <string>

namespace krb::server {

// One argument of a desktop entry's Exec key: double-quoted when `alwaysQuote` is set or the
// argument holds a reserved character, with the quoting and the string escapes applied.
// nullopt for an argument that an Exec key cannot carry (a line break or a NUL).
std::optional<std::string> DesktopExecArgument(const std::string& argument, bool alwaysQuote);

// The whole file for `program` "<configuration>" start; nullopt when a path cannot be written.
std::optional<std::string> AutostartEntryText(const std::string& program,
                                              const std::string& configuration);

// $XDG_CONFIG_HOME/autostart/KRBServer.desktop, else ~/.config/autostart/...; empty when
// neither is known.
std::filesystem::path AutostartEntryPath();
bool AutostartEntryExists();
// Creates the folder when needed and replaces the file in one step; false when it failed.
bool WriteAutostartEntry(const std::string& program, const std::string& configuration);
bool RemoveAutostartEntry();

}  // namespace krb::server
