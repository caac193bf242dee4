#pragma once
// A whole virtual lab built from the server's configuration: one controller per unit and one
// reader per reader port, each on a pseudo-terminal published as COMn, all units sharing one
// plate world. Tests create it in-process; krb-sim wraps it in a program.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/barcode_reader.h"
#include "sim/controller_emulator.h"
#include "sim/lab_config.h"
#include "sim/plate_world.h"
#include "sim/port_directory.h"
#include "sim/unit_model_base.h"

namespace krb::sim {

class PlateStoreModel;

class VirtualLab {
  public:
    // portDir empty: a fresh temporary folder. KRB_PORT_DIR points at the folder while the
    // lab lives. Throws ConfigError (also for a [Setup] line that fails) or std::runtime_error.
    VirtualLab(LabConfig config, SimSettings settings = {}, const std::string& portDir = "");
    static std::unique_ptr<VirtualLab> fromFiles(const std::string& driverConfig,
                                                 const std::string& simFile = "",
                                                 const std::string& portDir = "");
    ~VirtualLab();
    VirtualLab(const VirtualLab&) = delete;
    VirtualLab& operator=(const VirtualLab&) = delete;

    PlateWorld& world() { return world_; }
    const std::string& portDirectory() const { return ports_->path(); }
    const LabConfig& config() const { return config_; }
    std::vector<int> unitPorts() const;  // controller COM numbers, in configuration order

    // Throw std::out_of_range for a COM number that is no unit.
    const UnitConfig& unit(int com) const;
    ControllerEmulator& controller(int com);
    UnitModelBase& model(int com);
    BarcodeReader* reader(int com);  // the unit's own-port reader, or nullptr
    UnitRole role(int com) const;

    std::vector<std::string> statusLines() const;  // one per unit

    // One line of the control protocol; the reply is zero or more data lines followed by one
    // line starting "OK" or "ERR". Never throws.
    std::vector<std::string> control(const std::string& line);

  private:
    struct Unit {
        UnitConfig config;
        UnitRole role = UnitRole::PlateStore;
        std::unique_ptr<ControllerEmulator> controller;
        std::shared_ptr<UnitModelBase> model;
        std::unique_ptr<BarcodeReader> reader;
    };

    void build(const SimSettings& settings);
    void stopAll();
    std::shared_ptr<UnitModelBase> makeModel(Unit& unit, const SimSettings& settings);
    void wire();
    void runSetup(const std::vector<std::string>& lines);
    Unit& find(int com);
    const Unit& find(int com) const;
    Unit* findByToken(const std::string& token);
    std::vector<std::string> controlCommand(const std::vector<std::string>& words);
    std::vector<std::string> faultCommand(Unit& unit, const std::vector<std::string>& words);
    std::vector<std::string> clearCommand(Unit& unit);
    void powerOn(Unit& unit);
    std::optional<Place> commandPlace(const std::vector<std::string>& words, std::size_t trailing,
                                      std::string& problem);
    std::vector<std::string> putCommand(const std::vector<std::string>& words);
    std::vector<std::string> takeCommand(const std::vector<std::string>& words);
    std::vector<std::string> tubeCommand(const std::vector<std::string>& words);
    std::vector<std::string> statusCommand(Unit& unit);

    LabConfig config_;
    std::unique_ptr<PortDirectory> ports_;
    PlateWorld world_;
    std::vector<Unit> units_;
};

}  // namespace krb::sim
