#pragma once
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace krb::sim {

// The folder named by KRB_PORT_DIR, where "COMn" entries are symlinks to devices.
// Construction points KRB_PORT_DIR at the folder; destruction restores the previous
// value, removes the entries published here and the temporary folder if it made one.
class PortDirectory {
  public:
    PortDirectory();                                  // fresh temporary folder
    explicit PortDirectory(std::string existingDir);  // created when missing, kept afterwards
    ~PortDirectory();
    PortDirectory(const PortDirectory&) = delete;
    PortDirectory& operator=(const PortDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string entryPath(int comNumber) const;

    // Replaces any entry of that name (a stale one from an earlier run, say).
    // Throws std::invalid_argument for comNumber < 1, std::runtime_error on failure.
    void publish(int comNumber, const std::string& devicePath);
    void unpublish(int comNumber);  // only entries published by this object

  private:
    void pointEnvironmentHere();

    std::string path_;
    bool ownsFolder_ = false;
    std::optional<std::string> previousEnvironment_;
    mutable std::mutex mutex_;
    std::set<int> published_;
};

}  // namespace krb::sim
