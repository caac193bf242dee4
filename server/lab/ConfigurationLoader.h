#pragma once
// TKRBManager: loads the lab configuration (DriverConfig.lni, one System.lni per system
// folder, one file per unit), connects every unit through the binding and builds the lab
// model. Configuration errors are shown to the operator and loading goes on.
#include <cstdint>
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

  private:
    TKRBLab lab_;
    std::unique_ptr<TKRBDLL> dll_;
    std::string clientFileFolder_;
    bool recordsFollowMoves_ = true;
    TServerOwnedFiles ownedFiles_;
    UnitDirectory* tcpBrowser_;
};

}  // namespace krb::server
