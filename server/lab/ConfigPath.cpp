#include "lab/ConfigPath.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "text/TextNumbers.h"

namespace krb::server {
namespace {

namespace fs = std::filesystem;

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

// The entry of `folder` whose name equals `name` ignoring letter case, if any.
std::optional<fs::path> CaseInsensitiveEntry(const fs::path& folder, const std::string& name) {
    std::error_code error;
    fs::directory_iterator entries(folder.empty() ? fs::path(".") : folder, error);
    if (error) return std::nullopt;
    const std::string wanted = UpperCased(name);
    for (const auto& entry : entries) {
        if (UpperCased(entry.path().filename().string()) == wanted) {
            return folder / entry.path().filename();
        }
    }
    return std::nullopt;
}

fs::path WithCaseFolded(const fs::path& path) {
    fs::path resolved;
    for (const auto& part : path) {
        fs::path next = resolved / part;
        if (!Exists(next) && part != "." && part != "..") {
            auto match = CaseInsensitiveEntry(resolved, part.string());
            if (!match) return path;
            next = *match;
        }
        resolved = next;
    }
    return resolved;
}

}  // namespace

std::string ResolveConfigPath(std::string_view value, const std::string& folder) {
    std::string native(value);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    fs::path path(native);
    if (path.is_relative()) path = fs::path(folder) / path;
    if (!Exists(path)) path = WithCaseFolded(path);
    return path.string();
}

std::string FolderOf(const std::string& path) {
    auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

bool IsExistingFile(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

bool IsExistingFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_directory(path, error);
}

}  // namespace krb::server
