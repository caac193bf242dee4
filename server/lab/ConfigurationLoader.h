#pragma once
// TKRBManager: loads the lab configuration (DriverConfig.lni, one System.lni per system
// folder, one file per unit), connects every unit through the binding and builds the lab
// model. Configuration errors are shown to the operator and loading goes on.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/LibraryBinding.h"
#include "lab/ClientFiles.h"
#include "lab/Lab.h"
#include "lab/UnitDirectory.h"

namespace krb::server {

// One [CassettesConfiguration] entry: every cassette number of its key, and its values.
struct CassetteEntry {
    std::vector<std::int32_t> Numbers;
    std::int32_t Levels = 0;
    std::int32_t ZPitch = 0;
    std::int32_t Type = 0;
};
// `line` is "key=value" as read from the section; nullopt when the key is no number or range.
std::optional<CassetteEntry> ParseCassetteEntry(std::string_view line);

// One [Partitions] entry: its sector name and the inclusive ranges of its list.
struct PartitionEntry {
    std::string Name;
    struct Range {
        std::int32_t First;
        std::int32_t Last;
    };
    std::vector<Range> Ranges;
    std::vector<std::string> BadTokens;  // tokens that are no number or range
};
PartitionEntry ParsePartitionEntry(std::string_view line);

// One parameter file line as a controller command ("WR name value" or "WS name value").
struct ParameterCommand {
    std::string Command;
    bool GivesDM25 = false;
};
std::optional<ParameterCommand> ParseParameterLine(std::string_view line);

// What is wrong in one place of the configuration. Line() is the one-line form the command
// line and the log use; Caption and Message are what a message box shows.
struct ConfigurationProblem {
    std::string File;
    std::string Key;  // "[Section] Key", "[Section]", or empty when the file itself is at fault
    std::string What;
    std::string Caption;
    std::string Message;
    bool NeedsBox = true;  // false: an event for the log, no box
    bool Warning = false;  // the lab loads as configured, but the operator should know

    std::string Line() const;
};
using ConfigurationProblemReporter = std::function<void(const ConfigurationProblem&)>;
// Shows the problem as a message box (or an operator event when it needs none).
void ShowConfigurationProblem(const ConfigurationProblem& problem);

class TKRBManager {
  public:
    explicit TKRBManager(const KRBExports& exports = LibraryExports(),
                         UnitDirectory* browser = nullptr);

    TKRBLab& Lab() { return lab_; }
    const TKRBLab& Lab() const { return lab_; }
    UnitDirectory* TcpBrowser() const { return tcpBrowser_; }
    void SetTcpBrowser(UnitDirectory* browser) { tcpBrowser_ = browser; }
    TKRBDLL& Dll() { return *dll_; }

    void LoadSystems(const std::string& driverConfigPath);
    void LoadSystem(const std::string& systemFilePath);
    void LoadUnit(const std::string& unitFilePath, const std::string& systemName,
                  TKRBSystem& system);

    static bool IsCassetteInSector(const TKRBId& unit, std::int32_t number);
    const TServerOwnedFiles& OwnedFiles() const { return ownedFiles_; }

    // Every problem of the last loads, each reported once as it was found.
    const std::vector<ConfigurationProblem>& Problems() const { return problems_; }
    void SetProblemReporter(ConfigurationProblemReporter reporter) {
        reporter_ = std::move(reporter);
    }
    // Loads without touching the units' contents files (a check of the configuration).
    void LeaveContentsFilesAlone() { refreshContents_ = false; }
    void Report(ConfigurationProblem problem);

  private:
    TKRBLab lab_;
    std::unique_ptr<TKRBDLL> dll_;
    std::string clientFileFolder_;
    bool recordsFollowMoves_ = true;
    TServerOwnedFiles ownedFiles_;
    UnitDirectory* tcpBrowser_;
    std::vector<ConfigurationProblem> problems_;
    ConfigurationProblemReporter reporter_ = ShowConfigurationProblem;
    bool refreshContents_ = true;
};

}  // namespace krb::server
