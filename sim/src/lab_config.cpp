#include "sim/lab_config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <set>

#include "platform/profile_file.h"

namespace krb::sim {
namespace fs = std::filesystem;
namespace {

constexpr int kMaxSystems = 100;

std::optional<int> parseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string withoutBlanks(std::string text) {
    std::erase_if(text, [](unsigned char c) { return std::isspace(c) != 0; });
    return text;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

fs::path matchPart(const fs::path& folder, const std::string& part) {
    const fs::path exact = folder / part;
    std::error_code ignored;
    if (fs::exists(exact, ignored) || !fs::is_directory(folder, ignored)) return exact;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        if (equalsIgnoringCase(entry.path().filename().string(), part)) return entry.path();
    }
    return exact;
}

std::string keyOf(const std::string& line) {
    const auto equals = line.find('=');
    return equals == std::string::npos ? line : line.substr(0, equals);
}

std::string valueOf(const std::string& line) {
    const auto equals = line.find('=');
    return equals == std::string::npos ? "" : line.substr(equals + 1);
}

int portValue(const platform::ProfileFile& file, const std::string& key) {
    const std::string text = file.readString("Unit", key);
    auto port = parseInteger(text);
    if (!port || *port < 1) {
        throw ConfigError(file.path() + ": [Unit] " + key + " is not a port number: \"" + text +
                          "\"");
    }
    return *port;
}

UnitRole roleFrom(const std::string& unitName) {
    if (unitName == "BASE") return UnitRole::Base;
    if (unitName == "EXT") return UnitRole::Extension;
    if (unitName == "CASC") return UnitRole::Cascader;
    return UnitRole::PlateStore;
}

std::vector<CassetteGeometry> readCassettes(const platform::ProfileFile& file) {
    std::map<int, CassetteGeometry> bySlot;
    for (const auto& line : file.readSection("CassettesConfiguration")) {
        if (line.find("UseCassConfTable") != std::string::npos) continue;
        for (const auto& cassette : parseCassetteEntry(line)) bySlot[cassette.slot] = cassette;
    }
    std::vector<CassetteGeometry> cassettes;
    for (const auto& [slot, cassette] : bySlot) cassettes.push_back(cassette);
    return cassettes;
}

bool flagSet(const platform::ProfileFile& file, const std::string& section,
             const std::string& key) {
    return file.readString(section, key) == "1";
}

std::optional<UnitConfig> loadUnit(const std::string& path, const SystemConfig& system,
                                   std::vector<std::string>& warnings) {
    platform::ProfileFile file(path);
    if (file.readString("Unit", "UnitComPort").empty()) {
        warnings.push_back(path + ": no [Unit] UnitComPort, unit skipped");
        return std::nullopt;
    }
    UnitConfig unit;
    unit.file = path;
    unit.systemName = system.name;
    unit.com = portValue(file, "UnitComPort");
    unit.unitId = file.readString("Unit", "UnitId");
    unit.role = roleFrom(file.readString("Unit", "UnitName"));
    if (!file.readString("Unit", "UnitBCRPort").empty())
        unit.readerCom = portValue(file, "UnitBCRPort");
    unit.relayedReader = flagSet(file, "Option Configuration2", "BCR") &&
                         file.readString("Option Configuration2", "Compatibility") == "7";
    unit.transferStation = flagSet(file, "Options", "XFerStation");
    unit.secondStationSensor = flagSet(file, "Sensor Configuration", "pxferSens2") ||
                               flagSet(file, "Sensor Configuration", "PlateXferStSensor2");
    unit.doors = parseInteger(file.readString("Option Configuration", "Door")).value_or(1);
    unit.cassettes = readCassettes(file);
    return unit;
}

void checkPortsUnique(const LabConfig& lab) {
    std::map<int, std::string> owners;
    auto claim = [&](int port, const std::string& what) {
        auto [owner, added] = owners.emplace(port, what);
        if (!added) {
            throw ConfigError("COM" + std::to_string(port) + " is used twice: " + owner->second +
                              " and " + what);
        }
    };
    for (const auto& unit : lab.units) {
        claim(unit.com, unit.file + " [Unit] UnitComPort");
        if (unit.readerCom > 0) claim(unit.readerCom, unit.file + " [Unit] UnitBCRPort");
    }
}

void loadSystem(const fs::path& folder, int number, LabConfig& lab) {
    const fs::path systemFile = matchPart(folder, "System.lni");
    if (!fs::exists(systemFile)) {
        lab.warnings.push_back(systemFile.string() + " has not been found");
        return;
    }
    platform::ProfileFile file(systemFile.string());
    SystemConfig system;
    system.folder = folder.string();
    system.name = file.readString("System", "SystemName");
    system.id = file.readString("System", "SystemId");
    if (system.name.empty()) system.name = "System" + std::to_string(number);
    const auto entries = file.readSection("Unit");
    if (entries.empty())
        lab.warnings.push_back(systemFile.string() + ": [Unit] names no unit file");
    for (const auto& entry : entries) {
        const std::string unitPath = resolveConfigPath(folder.string(), valueOf(entry));
        if (valueOf(entry).empty() || !fs::is_regular_file(unitPath)) {
            lab.warnings.push_back(systemFile.string() + ": unit file \"" + valueOf(entry) +
                                   "\" has not been found");
            continue;
        }
        if (auto unit = loadUnit(unitPath, system, lab.warnings)) {
            system.units.push_back(unit->com);
            lab.units.push_back(std::move(*unit));
        }
    }
    lab.systems.push_back(std::move(system));
}

int nonNegative(const platform::ProfileFile& file, const std::string& section,
                const std::string& key, int fallback) {
    const std::string text = file.readString(section, key);
    if (text.empty()) return fallback;
    auto value = parseInteger(text);
    if (!value || *value < 0) {
        throw ConfigError(file.path() + ": [" + section + "] " + key +
                          " is not a non-negative integer: \"" + text + "\"");
    }
    return *value;
}

std::optional<int> optionalValue(const platform::ProfileFile& file, const std::string& section,
                                 const std::string& key) {
    if (file.readString(section, key).empty()) return std::nullopt;
    return nonNegative(file, section, key, 0);
}

}  // namespace

std::string roleName(UnitRole role) {
    switch (role) {
        case UnitRole::Base:
            return "base";
        case UnitRole::Extension:
            return "extension";
        case UnitRole::Cascader:
            return "cascader";
        case UnitRole::TubeStore:
            return "tube-store";
        case UnitRole::PlateStore:
            break;
    }
    return "plate-store";
}

std::string resolveConfigPath(const std::string& folder, const std::string& value) {
    std::string text = value;
    std::replace(text.begin(), text.end(), '\\', '/');
    fs::path result = !text.empty() && text.front() == '/' ? fs::path("/") : fs::path(folder);
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find('/', start), text.size());
        const std::string part = text.substr(start, end - start);
        if (!part.empty() && part != ".")
            result = part == ".." ? result / ".." : matchPart(result, part);
        start = end + 1;
    }
    return result.lexically_normal().string();
}

// Key: a number or a range "first-last"; value: levels, z-pitch, type (see the unit file
// format). Entries that do not parse give nothing.
std::vector<CassetteGeometry> parseCassetteEntry(const std::string& line) {
    const std::string key = withoutBlanks(keyOf(line));
    const std::string value = withoutBlanks(valueOf(line));
    int first = 0;
    int last = 0;
    const auto dash = key.find('-', 1);
    if (dash == std::string::npos) {
        auto number = parseInteger(key);
        if (!number) return {};
        first = last = *number;
    } else {
        auto from = parseInteger(key.substr(0, dash));
        auto to = parseInteger(key.substr(dash + 1));
        if (!from || !to) return {};
        first = *from;
        last = *to;
    }
    const auto comma1 = value.find(',');
    const auto comma2 = comma1 == std::string::npos ? comma1 : value.find(',', comma1 + 1);
    const auto comma3 = comma2 == std::string::npos ? comma2 : value.find(',', comma2 + 1);
    auto number = [](const std::string& text) { return parseInteger(text).value_or(0); };
    const int levels = comma1 == std::string::npos ? 0 : number(value.substr(0, comma1));
    int pitch = number(value);
    if (comma1 != std::string::npos) {
        pitch = number(comma2 == std::string::npos ? value.substr(comma1 + 1)
                                                   : value.substr(comma1 + 1, comma2 - comma1 - 1));
    }
    int type = 0;
    if (comma2 != std::string::npos)
        type = number(value.substr((comma3 == std::string::npos ? comma2 : comma3) + 1));
    std::vector<CassetteGeometry> cassettes;
    for (int slot = first; slot <= last && slot - first < 1000; ++slot)
        cassettes.push_back({slot, levels, pitch, type});
    return cassettes;
}

LabConfig loadLabConfig(const std::string& driverConfigPath) {
    if (!fs::is_regular_file(driverConfigPath))
        throw ConfigError(driverConfigPath + ": configuration file not found");
    platform::ProfileFile driver(driverConfigPath);
    const std::string mainFolderText = driver.readString("paths", "KrbMainFolder");
    if (mainFolderText.empty())
        throw ConfigError(driverConfigPath + ": [paths] KrbMainFolder is missing");
    const fs::path configFolder = fs::absolute(driverConfigPath).parent_path();
    const fs::path mainFolder = resolveConfigPath(configFolder.string(), mainFolderText);
    LabConfig lab;
    lab.driverConfig = driverConfigPath;
    for (int number = 1; number <= kMaxSystems; ++number) {
        const fs::path folder = matchPart(mainFolder, "System" + std::to_string(number));
        if (fs::is_directory(folder)) {
            loadSystem(folder, number, lab);
        } else if (number == 1) {
            throw ConfigError(driverConfigPath + ": [paths] KrbMainFolder: the folder " +
                              folder.string() + " has not been found");
        }
    }
    if (lab.units.empty()) throw ConfigError(driverConfigPath + ": the lab has no unit");
    checkPortsUnique(lab);
    return lab;
}

SimSettings loadSimFile(const std::string& path, const std::vector<int>& unitPorts) {
    if (!fs::is_regular_file(path)) throw ConfigError(path + ": simulation file not found");
    platform::ProfileFile file(path);
    SimSettings settings;
    MotionTimes& times = settings.times;
    times.motion = nonNegative(file, "Times", "Motion", times.motion);
    times.init = nonNegative(file, "Times", "Init", times.init);
    times.turn = nonNegative(file, "Times", "Turn", times.turn);
    times.position = nonNegative(file, "Times", "Position", times.position);
    times.gate = nonNegative(file, "Times", "Gate", times.gate);
    times.reader = nonNegative(file, "Times", "Reader", times.reader);
    settings.tubeStoreCom = nonNegative(file, "Lab", "TubeStore", 0);
    if (settings.tubeStoreCom != 0 &&
        std::find(unitPorts.begin(), unitPorts.end(), settings.tubeStoreCom) == unitPorts.end()) {
        throw ConfigError(path + ": [Lab] TubeStore names COM" +
                          std::to_string(settings.tubeStoreCom) + ", which is no unit of the lab");
    }
    for (int port : unitPorts) {
        const std::string section = "COM" + std::to_string(port);
        if (!file.sectionExists(section)) continue;
        UnitOverrides& unit = settings.units[port];
        unit.slots = optionalValue(file, section, "Slots");
        unit.levels = optionalValue(file, section, "Levels");
        unit.carouselPositions = optionalValue(file, section, "CarouselPositions");
        unit.rows = optionalValue(file, section, "Rows");
        unit.columns = optionalValue(file, section, "Columns");
        unit.firmware = optionalValue(file, section, "Firmware");
        unit.serial = optionalValue(file, section, "Serial");
        unit.motionMs = optionalValue(file, section, "Motion");
        if (auto lock = optionalValue(file, section, "LockBeforeInit"))
            unit.lockBeforeInit = *lock != 0;
        if (auto locked = optionalValue(file, section, "Locked")) unit.locked = *locked != 0;
        for (const auto& value : {unit.slots, unit.levels, unit.rows, unit.columns}) {
            if (value && *value > 99)
                throw ConfigError(path + ": [" + section + "] counts above 99 are not supported");
        }
        for (const auto& value : {unit.firmware, unit.serial}) {
            if (value && *value > 65535)
                throw ConfigError(path + ": [" + section + "] words must fit 0 to 65535");
        }
    }
    settings.setup = file.readSection("Setup");
    return settings;
}

}  // namespace krb::sim
