#pragma once
// A benchmark's lab: one system of emulated units in a temporary folder, with a
// DriverConfig.lni whose TCP port 0 lets the system pick one.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "KRB_lib.h"
#include "sim/controller_emulator.h"
#include "sim/port_directory.h"

namespace krb::bench {

class EmulatedLab {
  public:
    explicit EmulatedLab(const std::string& name)
        : root_(std::filesystem::temp_directory_path() /
                ("krb_bench_" + name + "_" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "lab" / "System1");
    }
    ~EmulatedLab() {
        for (int com : coms_) KRBDisconnect(std::to_string(com).c_str());
        controllers_.clear();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    EmulatedLab(const EmulatedLab&) = delete;
    EmulatedLab& operator=(const EmulatedLab&) = delete;

    // An emulated controller on `com` and the unit file of `id`: its [Unit] section, then
    // `sections`.
    void AddUnit(int com, const std::string& id, const std::string& sections) {
        coms_.push_back(com);
        controllers_.push_back(std::make_unique<krb::sim::ControllerEmulator>(ports_, com));
        unitList_ += "Unit" + std::to_string(coms_.size()) + "=" + id + ".lni\r\n";
        Write("lab/System1/" + id + ".lni", "[Unit]\r\nUnitComPort=" + std::to_string(com) +
                                                "\r\nUnitId=" + id + "\r\n" + sections);
    }
    krb::sim::ControllerEmulator& Controller(std::size_t index) { return *controllers_.at(index); }
    std::string Write(const std::string& relative, const std::string& content) const {
        const auto path = root_ / relative;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    // System.lni and DriverConfig.lni for the units added so far; the configuration's path.
    std::string WriteConfiguration() const {
        Write("lab/System1/System.lni",
              "[System]\r\nSystemName=Bench\r\nSystemId=1\r\n[Unit]\r\n" + unitList_);
        return Write("DriverConfig.lni", "[paths]\r\nKrbMainFolder=" + (root_ / "lab").string() +
                                             "\r\n[TCP]\r\nport=0\r\n");
    }

  private:
    std::filesystem::path root_;
    krb::sim::PortDirectory ports_;
    std::vector<int> coms_;
    std::vector<std::unique_ptr<krb::sim::ControllerEmulator>> controllers_;
    std::string unitList_;
};

}  // namespace krb::bench
