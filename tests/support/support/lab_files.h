#pragma once
// The server's configuration for one system of units, written into a folder:
// DriverConfig.lni, lab/System1/System.lni and one file per unit.
#include <filesystem>
#include <string>

namespace krb::test_support {

class LabFiles {
  public:
    explicit LabFiles(std::filesystem::path root, std::string systemName = "Bench");

    // The unit's file: its [Unit] section with `com` and `id`, then `sections`.
    void AddUnit(int com, const std::string& id, const std::string& sections);
    // System.lni for the units added so far, and DriverConfig.lni listening on `port`
    // (0: the system picks one) with `tcpLines` added to its [TCP] section. Gives the
    // configuration's path.
    std::string WriteConfiguration(int port = 0, const std::string& tcpLines = "") const;
    std::string WriteFile(const std::string& relative, const std::string& content) const;

  private:
    std::filesystem::path root_;
    std::string systemName_;
    std::string unitList_;
    int units_ = 0;
};

// A copy of examples/demo-lab under `root`, for tests that let the server write into it.
void copyDemoLab(const std::filesystem::path& root);
std::string demoLabFile(const std::string& name);

}  // namespace krb::test_support
