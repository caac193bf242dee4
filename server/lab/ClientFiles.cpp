#include "lab/ClientFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

namespace krb::server {
namespace {

namespace fs = std::filesystem;

bool HasDriveLetter(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

std::optional<fs::path> Canonical(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(path, error);
    if (error) return std::nullopt;
    if (resolved.has_parent_path() && resolved.filename().empty())
        resolved = resolved.parent_path();
    return resolved;
}

// A name may end in a symlink whose target does not exist yet; writing would follow it.
std::optional<fs::path> FollowingFinalLinks(fs::path path) {
    constexpr int kMaxLinks = 8;
    for (int i = 0; i < kMaxLinks; ++i) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) return path;
        const fs::path target = fs::read_symlink(path, error);
        if (error) return std::nullopt;
        const auto next = Canonical(target.is_absolute() ? target : path.parent_path() / target);
        if (!next) return std::nullopt;
        path = *next;
    }
    return std::nullopt;
}

bool IsStrictlyInside(const fs::path& path, const fs::path& folder) {
    const auto [folderEnd, pathAt] =
        std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return folderEnd == folder.end() && pathAt != path.end();
}

}  // namespace

void TServerOwnedFiles::Add(const std::string& path) {
    if (path.empty()) return;
    if (auto resolved = Canonical(fs::absolute(path))) {
        if (auto target = FollowingFinalLinks(*resolved)) files_.push_back(*target);
    }
}

bool TServerOwnedFiles::Holds(const fs::path& resolved) const {
    return std::find(files_.begin(), files_.end(), resolved) != files_.end();
}

bool EnsureClientFolder(const std::string& folder) {
    std::error_code error;
    if (folder.empty() || fs::is_directory(folder, error)) return true;
    fs::create_directories(folder, error);
    return !error;
}

std::optional<std::string> ConfinedClientFile(std::string_view name, const std::string& folder,
                                              const TServerOwnedFiles* owned) {
    if (name.empty() || HasDriveLetter(name)) return std::nullopt;
    std::string native(name);
    std::replace(native.begin(), native.end(), '\\', '/');
    const auto root = Canonical(folder.empty() ? fs::path(".") : fs::path(folder));
    if (!root) return std::nullopt;
    fs::path path(native);
    if (path.is_relative()) path = *root / path;
    auto resolved = Canonical(path);
    if (resolved) resolved = FollowingFinalLinks(*resolved);
    if (!resolved || !IsStrictlyInside(*resolved, *root)) return std::nullopt;
    if (owned != nullptr && owned->Holds(*resolved)) return std::nullopt;
    return resolved->string();
}

std::optional<TClientFileHandle> TClientFileHandle::Open(const std::string& confinedFile) {
    const fs::path file(confinedFile);
    const fs::path folder = file.parent_path();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    TClientFileHandle handle(
        fd, "/proc/self/fd/" + std::to_string(fd) + "/" + file.filename().string());
    // The folder may have been swapped between the name check and the open.
    std::error_code error;
    const fs::path opened = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    if (error || opened != folder) return std::nullopt;
    return handle;
}

TClientFileHandle::TClientFileHandle(int folder, std::string writePath)
    : folder_(folder), writePath_(std::move(writePath)) {}

TClientFileHandle::TClientFileHandle(TClientFileHandle&& other) noexcept
    : folder_(std::exchange(other.folder_, -1)), writePath_(std::move(other.writePath_)) {}

TClientFileHandle& TClientFileHandle::operator=(TClientFileHandle&& other) noexcept {
    if (this != &other) {
        if (folder_ >= 0) ::close(folder_);
        folder_ = std::exchange(other.folder_, -1);
        writePath_ = std::move(other.writePath_);
    }
    return *this;
}

TClientFileHandle::~TClientFileHandle() {
    if (folder_ >= 0) ::close(folder_);
}

void KeepUntilNextScan(std::int32_t port, TClientFileHandle handle) {
    static std::mutex mutex;
    static auto* held = new std::map<std::int32_t, TClientFileHandle>();  // for the process's life
    std::lock_guard lock(mutex);
    held->insert_or_assign(port, std::move(handle));
}

}  // namespace krb::server
