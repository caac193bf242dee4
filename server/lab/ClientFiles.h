#pragma once
// File names that clients hand to the library (inventory files) are kept inside one folder,
// so that no client can make the server write elsewhere.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

// The subfolder of the configuration's folder that holds client files unless
// `[TCP] ClientFileFolder` names another.
constexpr const char* kDefaultClientFolder = "ClientFiles";

// The files the server itself reads and writes (configuration, system, unit, parameter and
// contents files, the log): no client name may stand for one of them. Filled while the
// configuration loads, read-only afterwards.
class TServerOwnedFiles {
  public:
    void Add(const std::string& path);
    bool Holds(const std::filesystem::path& resolved) const;

  private:
    std::vector<std::filesystem::path> files_;
};

// The file `name` stands for inside `folder`: a relative name is taken inside it, "\" counts as
// a separator. nullopt when the name is empty, carries a drive letter, or resolves outside the
// folder (absolute elsewhere, "..", a symlink leading out) or to a file the server owns.
std::optional<std::string> ConfinedClientFile(std::string_view name, const std::string& folder,
                                              const TServerOwnedFiles* owned = nullptr);

// Creates the folder (and its parents) when it is missing; false when it cannot.
bool EnsureClientFolder(const std::string& folder);

// The folder of a confined client file, opened once and checked to be the one the name
// resolved to. The library writes through it ("/proc/self/fd/<n>/<name>"), so a folder on
// the way swapped for a link afterwards cannot lead the write elsewhere; the write replaces a
// link planted at the name itself instead of following it.
class TClientFileHandle {
  public:
    static std::optional<TClientFileHandle> Open(const std::string& confinedFile);
    TClientFileHandle(TClientFileHandle&& other) noexcept;
    TClientFileHandle& operator=(TClientFileHandle&& other) noexcept;
    ~TClientFileHandle();

    const std::string& WritePath() const { return writePath_; }

  private:
    TClientFileHandle(int folder, std::string writePath);
    int folder_ = -1;
    std::string writePath_;
};

// Holds the handle of the scan that unit `port` has just started until its next scan starts:
// by then the library has written the file (one scan per unit at a time).
void KeepUntilNextScan(std::int32_t port, TClientFileHandle handle);

}  // namespace krb::server
