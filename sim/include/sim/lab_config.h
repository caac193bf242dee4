#pragma once
// The lab as the server's configuration describes it (DriverConfig.lni, one System.lni per
// system folder, one unit file per unit), read for the simulator, plus the simulator's own
// settings file (motion times, the tube store, per-unit identity and geometry, and the
// initial plates as control lines).
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/plate_store_model.h"
#include "sim/unit_model_base.h"

namespace krb::sim {

class ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class UnitRole { PlateStore, Base, Extension, Cascader, TubeStore };
std::string roleName(UnitRole role);

struct UnitConfig {
    std::string file;
    std::string systemName;
    std::string unitId;
    int com = 0;
    int readerCom = 0;  // 0: no reader on its own port
    UnitRole role = UnitRole::PlateStore;
    bool relayedReader = false;  // BCR "1" and Compatibility "7"
    bool transferStation = false;
    bool secondStationSensor = false;
    int doors = 1;
    std::vector<CassetteGeometry> cassettes;  // in slot order
};

struct SystemConfig {
    std::string folder;
    std::string name;
    std::string id;
    std::vector<int> units;  // COM numbers, in file order
};

struct LabConfig {
    std::string driverConfig;
    std::vector<SystemConfig> systems;
    std::vector<UnitConfig> units;
    std::vector<std::string> warnings;  // items skipped while loading
};

// Throws ConfigError, naming the file and key, when the lab cannot be built: a missing file
// or folder that the lab needs, a port that is not a positive integer, a port used twice.
LabConfig loadLabConfig(const std::string& driverConfigPath);

// A path from a configuration file: "\" separators allowed, relative to `folder`; each part
// matched without regard to case when the exact name does not exist.
std::string resolveConfigPath(const std::string& folder, const std::string& value);

// Cassette entries of a [CassettesConfiguration] section line ("1-10=12,25,2").
std::vector<CassetteGeometry> parseCassetteEntry(const std::string& line);

struct UnitOverrides {
    std::optional<int> slots, levels, carouselPositions, rows, columns;
    std::optional<int> firmware, serial, motionMs;
    std::optional<bool> lockBeforeInit;
    std::optional<bool> locked;  // door lock engaged at power-up
};

struct SimSettings {
    MotionTimes times;
    int tubeStoreCom = 0;
    std::map<int, UnitOverrides> units;
    std::vector<std::string> setup;  // control lines, run in order at start
};

// Sections [Times] (Motion, Init, Turn, Position, Gate, Reader), [Lab] (TubeStore),
// [COMn] per unit (Slots, Levels, CarouselPositions, Rows, Columns, Firmware, Serial,
// Motion, LockBeforeInit) and [Setup] (control lines). Throws ConfigError.
SimSettings loadSimFile(const std::string& path, const std::vector<int>& unitPorts);

}  // namespace krb::sim
