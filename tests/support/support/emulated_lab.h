#pragma once
// A lab of emulated controllers with the server's configuration for them in a temporary
// folder. The library's registry is left clean: every unit is disconnected at the end.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/controller_emulator.h"
#include "sim/port_directory.h"
#include "support/lab_files.h"
#include "support/temp_dir.h"

namespace krb::test_support {

class EmulatedLab {
  public:
    explicit EmulatedLab(const std::string& name = "krb-lab");
    ~EmulatedLab();
    EmulatedLab(const EmulatedLab&) = delete;
    EmulatedLab& operator=(const EmulatedLab&) = delete;

    // An emulated controller on `com` and the unit file of `id` (see LabFiles::AddUnit).
    sim::ControllerEmulator& AddUnit(int com, const std::string& id, const std::string& sections);
    // The configuration for the units added so far, logging to server.log when `withLog`.
    std::string WriteConfiguration(bool withLog = false);

    const std::string& ConfigPath() const { return configPath_; }
    std::string LogPath() const { return root_.file("server.log"); }
    std::filesystem::path Root() const { return root_.path(); }
    sim::ControllerEmulator& Controller(int index = 0) { return *controllers_.at(index); }
    int ComPort(int index = 0) const { return comPorts_.at(index); }
    // Relays that make the controller's initialisation succeed at once.
    void MakeReady(int index = 0);
    std::string WriteFile(const std::string& relative, const std::string& content) const {
        return files_.WriteFile(relative, content);
    }

  private:
    TempDir root_;
    LabFiles files_;
    std::string configPath_;
    sim::PortDirectory ports_;
    std::vector<int> comPorts_;
    std::vector<std::unique_ptr<sim::ControllerEmulator>> controllers_;
};

}  // namespace krb::test_support
