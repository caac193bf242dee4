#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace krb::test_support {

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "krb-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& relative) const { return (path_ / relative).string(); }
    // Writes the file (its folders too) and gives its path.
    std::string write(const std::string& relative, const std::string& content) const;

  private:
    std::filesystem::path path_;
};

std::string readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::string& content);
// The file's lines without their CR LF or LF.
std::vector<std::string> readLines(const std::string& path);

}  // namespace krb::test_support
