#pragma once
// INI ("profile") files with the Windows semantics the configuration relies on:
// case-insensitive section and key names, trimmed values, one outer pair of
// quotes stripped, ';' comment lines, first key / first section wins.
// Writes keep order and spelling and replace the file atomically (CR LF lines).
#include <optional>
#include <string>
#include <vector>

#include "platform/export.h"

namespace krb::platform {

class KRB_PLATFORM_API ProfileFile {
  public:
    explicit ProfileFile(std::string path);

    const std::string& path() const { return path_; }
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& fallback = "") const;
    std::optional<std::string> findString(const std::string& section, const std::string& key) const;
    // Lines of the section in file order ("key=value", or the line as it stands).
    std::vector<std::string> readSection(const std::string& section) const;
    bool sectionExists(const std::string& section) const;
    bool eraseSection(const std::string& section);
    bool writeString(const std::string& section, const std::string& key, const std::string& value);
    // The section's entries replaced by `entries` ("key=value" lines) in one atomic rewrite:
    // the new section stands where the first one stood (at the end when there was none), any
    // later sections of that name go. false, the file untouched, when it cannot be read or an
    // entry cannot be written as one line.
    bool replaceSection(const std::string& section, const std::vector<std::string>& entries);

  private:
    std::string path_;
};

// Writes `content` to a temporary file beside `path` and renames it into place.
KRB_PLATFORM_API bool replaceFileAtomically(const std::string& path, const std::string& content);
// The same for a file in a folder others may write: a symlink or any other entry at `path` is
// itself replaced, never followed.
KRB_PLATFORM_API bool replaceFileWithoutFollowing(const std::string& path,
                                                  const std::string& content);

}  // namespace krb::platform
