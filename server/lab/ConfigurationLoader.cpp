#include "lab/ConfigurationLoader.h"

#include <algorithm>
#include <set>

#include "ControllerRegisters.h"
#include "lab/ConfigPath.h"
#include "lab/ContentsFile.h"
#include "platform/operator_message.h"
#include "platform/profile_file.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

using platform::ProfileFile;
using platform::showOperatorMessage;

constexpr int kMaxSystems = 100;

// The main folder as configured, ending in its own kind of separator ("\" unless the
// folder is written with "/" only).
std::string WithFinalSeparator(const std::string& folder) {
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder;
    bool slashesOnly =
        folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos;
    return folder + (slashesOnly ? '/' : '\\');
}

// Reads the keys of one unit file; a key that must be an integer and is not is reported
// with the file and the key, and reads as absent.
class UnitFileReader {
  public:
    explicit UnitFileReader(const std::string& path) : file_(path) {}

    std::string Text(const std::string& section, const std::string& key) const {
        return file_.readString(section, key);
    }
    bool IsOne(const std::string& section, const std::string& key) const {
        return Text(section, key) == "1";
    }
    bool HasSection(const std::string& section) const { return file_.sectionExists(section); }
    std::vector<std::string> Section(const std::string& section) const {
        return file_.readSection(section);
    }
    std::optional<std::int32_t> Integer(const std::string& section, const std::string& key) const {
        const std::string text = Text(section, key);
        if (text.empty()) return std::nullopt;
        auto value = ParseInt32(text);
        if (!value) Report("[" + section + "] " + key, text, "is not an integer");
        return value;
    }
    void Report(const std::string& where, const std::string& text,
                const std::string& problem) const {
        showOperatorMessage("Error!", "Configuration file:\r\r" + file_.path() + "\r\r" + where +
                                          ": \"" + text + "\" " + problem);
    }
    const std::string& Path() const { return file_.path(); }
    std::string Folder() const { return FolderOf(file_.path()); }

  private:
    ProfileFile file_;
};

void ReadRole(TKRBId& unit, const std::string& unitName) {
    unit.Base = unitName == "BASE";
    unit.Ext = unitName == "EXT";
    unit.Cascader = unitName == "CASC";
    unit.Dll.SetBase(unit.ComPort, unit.Base);
    unit.Dll.SetExt(unit.ComPort, unit.Ext);
    unit.Dll.SetCascader(unit.ComPort, unit.Cascader);
}

void ReadBarcodeReader(TKRBId& unit, const UnitFileReader& file) {
    auto port = file.Integer("Unit", "UnitBCRPort");
    if (!port) return;
    unit.BCRPort = *port;
    if (unit.Dll.BCRPath(unit.ComPort, unit.BCRPort) != 1) {
        showOperatorMessage("Error!",
                            "Filed to open a serial communication for BCR, Unit: " + unit.UnitId);
    }
}

void ReadOptions(TKRBId& unit, const UnitFileReader& file) {
    if (file.HasSection("Options") && file.IsOne("Options", "XFerStation")) {
        unit.AddXferStation().Unit = &unit;
    }
    unit.DoubleDeck = file.IsOne("Options", "DoubleDeck");
}

// The older keys decide; the newer keys can only turn a sensor on.
void ReadSensors(TKRBId& unit, const UnitFileReader& file) {
    const std::string section = "Sensor Configuration";
    struct Sensor {
        bool TKRBId::*flag;
        const char* olderKey;
        const char* newerKey;
    };
    static constexpr Sensor kSensors[] = {
        {&TKRBId::PlatePresenceSensor, "ppSens", "PlatePresenceSensor"},
        {&TKRBId::PlateShovelSensor, "pShovelSen", "PlateShovelSensor"},
        {&TKRBId::PlateXferStSensor1, "pxferSens1", "PlateXferStSensor1"},
        {&TKRBId::PlateXferStSensor2, "pxferSens2", "PlateXferStSensor2"},
    };
    for (const auto& sensor : kSensors) {
        unit.*sensor.flag = file.IsOne(section, sensor.olderKey);
        if (file.IsOne(section, sensor.newerKey)) unit.*sensor.flag = true;
    }
}

void ReadOptionsAndCarousel(TKRBId& unit, const UnitFileReader& file) {
    unit.BCR = file.IsOne("Option Configuration2", "BCR");
    unit.Compatibility = file.Text("Option Configuration2", "Compatibility") == "7";
    unit.ManualAccessOffset =
        file.Integer("Carousel Configuration", "ManualAccessOffset").value_or(0);
    unit.Doors = Int32Or(file.Text("Option Configuration", "Door"), 1);
}

void ReadCassettes(TKRBId& unit, const UnitFileReader& file) {
    const std::string section = "CassettesConfiguration";
    if (!file.HasSection(section)) return;
    unit.UseCassConfTable = file.IsOne(section, "UseCassConfTable");
    for (const auto& line : file.Section(section)) {
        if (line.find("UseCassConfTable") != std::string::npos) continue;
        auto entry = ParseCassetteEntry(line);
        if (!entry) continue;
        for (auto number : entry->Numbers) {
            unit.AddCassette(number, entry->Levels, entry->ZPitch, entry->Type);
        }
    }
}

// Sector names end up in the comma-separated contents file, so "," cannot be part of one.
void ReadPartitions(TKRBId& unit, const UnitFileReader& file) {
    for (const auto& line : file.Section("Partitions")) {
        if (line.empty()) continue;
        PartitionEntry entry = ParsePartitionEntry(line);
        if (!IsSafeFieldText(entry.Name)) {
            file.Report("[Partitions]", entry.Name, "contains \",\" and cannot name a sector");
            continue;
        }
        for (const auto& token : entry.BadTokens) {
            file.Report("[Partitions] " + entry.Name, token, "is not an integer");
        }
        auto sector = std::make_unique<TKRBSector>(entry.Name, &unit);
        for (const auto& range : entry.Ranges) {
            std::set<std::int32_t> numbers;
            for (const auto& cassette : unit.Cassettes) {
                if (range.First <= cassette->Number && cassette->Number <= range.Last) {
                    numbers.insert(cassette->Number);
                }
            }
            for (auto number : numbers) sector->AddCassette(unit.FindCassette(number));
        }
        unit.AddSector(std::move(sector));
    }
}

void AddRootSector(TKRBId& unit) {
    auto root = std::make_unique<TKRBSector>("ROOT", &unit);
    for (const auto& cassette : unit.Cassettes) {
        if (!TKRBManager::IsCassetteInSector(unit, cassette->Number))
            root->AddCassette(cassette.get());
    }
    if (!root->Cassettes.empty()) unit.AddSector(std::move(root));
}

// A cassette inside a partition's range but in no partition's list belongs to no sector:
// no view shows it, which the operator should be able to find out.
void ReportCassettesOfNoSector(const TKRBId& unit, const UnitFileReader& file) {
    std::string numbers;
    int count = 0;
    for (const auto& cassette : unit.Cassettes) {
        const bool listed = std::any_of(unit.Sectors.begin(), unit.Sectors.end(), [&](auto& s) {
            return std::find(s->Cassettes.begin(), s->Cassettes.end(), cassette.get()) !=
                   s->Cassettes.end();
        });
        if (listed) continue;
        numbers += (count++ == 0 ? "" : ", ") + std::to_string(cassette->Number);
    }
    if (count == 0) return;
    const bool one = count == 1;
    platform::noteOperatorEvent("Configuration",
                                "Unit " + unit.UnitId + " (" + file.Path() +
                                    "): " + (one ? "cassette " : "cassettes ") + numbers +
                                    (one ? " lies" : " lie") +
                                    " in a partition's range but in no partition's list; " +
                                    (one ? "it belongs" : "they belong") +
                                    " to no sector and no view shows " + (one ? "it" : "them"));
}

void ReadClimate(TKRBId& unit, const UnitFileReader& file) {
    const std::string section = "Climate Configuration";
    unit.O2Gassing = file.IsOne(section, "O2Gassing");
    unit.N2Gassing = file.IsOne(section, "N2Gassing");
    unit.CO2Gassing = file.IsOne(section, "CO2Gassing");
    unit.Temperature = file.IsOne(section, "Temperature");
    unit.Humidity = file.IsOne(section, "Humidity");
}

// Parameter file commands, then the maximum level when the file did not set DM25.
void ReadParameters(TKRBId& unit, const UnitFileReader& file) {
    bool dm25Given = false;
    const std::string name = file.Text("ParameterFile", "FileName");
    if (!name.empty()) {
        auto lines = LoadTextLines(ResolveConfigPath(name, file.Folder()));
        if (!lines) {
            showOperatorMessage(
                "Error!", "Can not load the Configuration Parameters!\r\rUnit: " + unit.UnitId);
        }
        for (const auto& line : lines.value_or(std::vector<std::string>())) {
            auto command = ParseParameterLine(line);
            if (!command) continue;
            unit.InitCommands.push_back(command->Command);
            dm25Given = dm25Given || command->GivesDM25;
        }
    }
    const std::int32_t largest = unit.LargestLevels();
    if (!dm25Given && largest > 0)
        unit.InitCommands.push_back(
            controller::writeWord(controller::word::kLevelCount, std::int64_t{largest}));
}

// On unless set to "0"; a value that is neither keeps it on and is reported.
bool ReadRecordsFollowMoves(const ProfileFile& driverConfig) {
    const std::string value = driverConfig.readString("TCP", "RecordsFollowMoves");
    if (value.empty() || value == "1") return true;
    if (value == "0") return false;
    showOperatorMessage("Configuration", driverConfig.path() + " [TCP] RecordsFollowMoves: \"" +
                                             value + "\" is not 0 or 1");
    return true;
}

}  // namespace

TKRBManager::TKRBManager(const KRBExports& exports, UnitDirectory* browser)
    : dll_(std::make_unique<TKRBDLL>(exports)), tcpBrowser_(browser) {}

bool TKRBManager::IsCassetteInSector(const TKRBId& unit, std::int32_t number) {
    return std::any_of(unit.Sectors.begin(), unit.Sectors.end(),
                       [&](const auto& sector) { return sector->RangeHolds(number); });
}

void TKRBManager::LoadSystems(const std::string& driverConfigPath) {
    const ProfileFile driverConfig(driverConfigPath);
    const std::string configFolder = FolderOf(driverConfigPath);
    const std::string clientFolder = driverConfig.readString("TCP", "ClientFileFolder");
    clientFileFolder_ =
        ResolveConfigPath(clientFolder.empty() ? kDefaultClientFolder : clientFolder, configFolder);
    ownedFiles_.Add(driverConfigPath);
    recordsFollowMoves_ = ReadRecordsFollowMoves(driverConfig);
    const std::string logFile = driverConfig.readString("TCP", "LogFile");
    if (!logFile.empty()) ownedFiles_.Add(ResolveConfigPath(logFile, configFolder));
    const std::string configured = driverConfig.readString("paths", "KrbMainFolder");
    const std::string mainFolder = WithFinalSeparator(configured);
    const char separator = mainFolder.back();
    for (int n = 1; n <= kMaxSystems; ++n) {
        const std::string folderText = mainFolder + "System" + std::to_string(n);
        const std::string folder = ResolveConfigPath(folderText, FolderOf(driverConfigPath));
        if (!IsExistingFolder(folder)) {
            if (n > 1) continue;
            showOperatorMessage("Error", "A System Configuration Folder:\r\r" + folderText +
                                             "\r\rhas not been found");
            return;
        }
        const std::string systemFile = ResolveConfigPath("System.lni", folder);
        if (IsExistingFile(systemFile)) {
            LoadSystem(systemFile);
        } else {
            showOperatorMessage("Error", "A System Configuration file:\r\r" + folderText +
                                             separator + "System.lni\r\rhas not been found");
        }
    }
}

void TKRBManager::LoadSystem(const std::string& systemFilePath) {
    if (!IsExistingFile(systemFilePath)) return;
    ownedFiles_.Add(systemFilePath);
    ProfileFile file(systemFilePath);
    TKRBSystem& system = lab_.AddSystem(std::make_unique<TKRBSystem>(
        file.readString("System", "SystemName"), file.readString("System", "SystemId")));
    const auto entries = file.readSection("Unit");
    if (entries.empty()) {
        showOperatorMessage("Error!", "System configuration file - " + systemFilePath +
                                          "\r\rdoesn't contain information about Device "
                                          "configuration files (Unit1.lni ...)");
    }
    for (const auto& entry : entries) {
        auto equals = entry.find('=');
        const std::string value =
            equals == std::string::npos ? std::string() : entry.substr(equals + 1);
        const std::string unitPath = ResolveConfigPath(value, FolderOf(systemFilePath));
        if (!IsExistingFile(unitPath)) {
            showOperatorMessage(
                "Error", "Unit Configuration file:\r\r" + unitPath + "\r\rhas not been found");
        }
        LoadUnit(unitPath, system.Name, system);
    }
    for (const auto& unit : system.Units) unit->RefreshContents();
}

void TKRBManager::LoadUnit(const std::string& unitFilePath, const std::string& systemName,
                           TKRBSystem& system) {
    if (!IsExistingFile(unitFilePath)) return;
    ownedFiles_.Add(unitFilePath);
    UnitFileReader file(unitFilePath);
    auto comPort = file.Integer("Unit", "UnitComPort");
    if (!comPort) return;
    const std::string unitId = file.Text("Unit", "UnitId");
    if (dll_->Connect(*comPort) != 1) {
        showOperatorMessage("Error!", "Filed to open a serial communication for Unit:" + unitId);
        return;
    }
    dll_->SetId(*comPort, unitId);
    dll_->SetIdSys(*comPort, systemName);
    auto created = std::make_unique<TKRBId>(unitId, *comPort, systemName, unitFilePath, *dll_);
    TKRBId& unit = *created;
    unit.ClientFileFolder = clientFileFolder_;
    unit.RecordsFollowMoves = recordsFollowMoves_;
    unit.OwnedFiles = &ownedFiles_;
    ReadRole(unit, file.Text("Unit", "UnitName"));
    const std::string contents = file.Text("Contents", "FileName");
    if (!contents.empty()) unit.ContentsFile = ResolveConfigPath(contents, file.Folder());
    ownedFiles_.Add(unit.ContentsFile);
    ReadBarcodeReader(unit, file);

    system.AddUnit(std::move(created));
    unit.System = &system;
    unit.TcpBrowser = tcpBrowser_;
    if (tcpBrowser_) tcpBrowser_->AddUnit(&unit);

    ReadOptions(unit, file);
    ReadSensors(unit, file);
    ReadOptionsAndCarousel(unit, file);
    ReadCassettes(unit, file);
    ReadPartitions(unit, file);
    AddRootSector(unit);
    ReportCassettesOfNoSector(unit, file);
    ReadClimate(unit, file);
    ReadParameters(unit, file);
    const std::string parameters = file.Text("ParameterFile", "FileName");
    if (!parameters.empty()) ownedFiles_.Add(ResolveConfigPath(parameters, file.Folder()));
}

}  // namespace krb::server
