#include "app/ConfigurationCheck.h"

#include <asio/ip/address.hpp>

#include "lab/ConfigPath.h"
#include "platform/profile_file.h"
#include "protocol/ClientAdmission.h"
#include "sila/HostSettings.h"
#include "text/TextNumbers.h"
#include "web/WebConfig.h"

namespace krb::server {
namespace {

// Every unit connects without its port being opened; every other call does nothing.
const KRBExports& PortlessExports() {
    static const KRBExports exports = [] {
        KRBExports e;
        e.KRBConnect = [](KRBText) -> KRBText { return "1"; };
        e.KRBBCRPath = [](KRBText, KRBText) -> KRBText { return "1"; };
        return e;
    }();
    return exports;
}

std::string KeyProblem(const std::string& file, const std::string& key, const std::string& what) {
    return ConfigurationProblem{file, key, what, {}, {}}.Line();
}

// [TCP]: the keys the listener reads when it starts.
void CheckListenerKeys(const std::string& path, std::vector<std::string>& problems) {
    const platform::ProfileFile file(path);
    const std::string port = file.readString("TCP", "port");
    const auto number = ParseInt32(port);
    if (port.empty()) {
        problems.push_back(KeyProblem(path, "[TCP] port", "is missing; the server cannot listen"));
    } else if (!number || *number < 0 || *number > 65535) {
        problems.push_back(KeyProblem(path, "[TCP] port", "\"" + port + "\" is not a port number"));
    }
    const std::string bindAddress = file.readString("TCP", "BindAddress");
    if (!bindAddress.empty()) {
        asio::error_code error;
        asio::ip::make_address(bindAddress, error);
        if (error) {
            problems.push_back(
                KeyProblem(path, "[TCP] BindAddress", "\"" + bindAddress + "\" is not an address"));
        }
    }
    std::vector<std::string> clientProblems;
    ClientAdmission().SetAllowedClients(file.readString("TCP", "AllowedClients"), clientProblems);
    for (const auto& problem : clientProblems)
        problems.push_back(KeyProblem(path, "[TCP] AllowedClients", problem));
    const std::string bound = file.readString("TCP", "MaxConnections");
    const auto connections = ParseInt32(bound);
    if (!bound.empty() && (!connections || *connections <= 0)) {
        problems.push_back(
            KeyProblem(path, "[TCP] MaxConnections", "\"" + bound + "\" is not a positive number"));
    }
}

void CheckFrontEndSections(const std::string& path, std::vector<std::string>& problems) {
    const std::string web = web::ReadWebConfig(path).Problem;
    if (!web.empty()) problems.push_back(web);
    const std::string sila = sila::readHostSettings(path).error;
    if (!sila.empty()) problems.push_back(sila);
}

}  // namespace

int UnitCount(const TKRBLab& lab) {
    int units = 0;
    for (const auto& system : lab.Systems) units += static_cast<int>(system->Units.size());
    return units;
}

std::string NoUnitLoaded(const std::string& driverConfigPath) {
    return driverConfigPath + ": no unit could be loaded";
}

ConfigurationCheck CheckConfiguration(const std::string& driverConfigPath) {
    ConfigurationCheck check;
    if (!IsExistingFile(driverConfigPath)) {
        check.Problems.push_back(driverConfigPath + ": does not exist");
        return check;
    }
    TKRBManager manager(PortlessExports());
    manager.SetProblemReporter({});
    manager.LeaveContentsFilesAlone();
    manager.LoadSystems(driverConfigPath);
    for (const auto& problem : manager.Problems())
        (problem.Warning ? check.Warnings : check.Problems).push_back(problem.Line());
    check.Systems = static_cast<int>(manager.Lab().Systems.size());
    check.Units = UnitCount(manager.Lab());
    if (check.Units == 0) check.Problems.push_back(NoUnitLoaded(driverConfigPath));
    CheckListenerKeys(driverConfigPath, check.Problems);
    CheckFrontEndSections(driverConfigPath, check.Problems);
    return check;
}

int ReportConfigurationCheck(const ConfigurationCheck& check, const std::string& driverConfigPath,
                             std::ostream& out) {
    for (const auto& problem : check.Problems) out << problem << "\n";
    for (const auto& warning : check.Warnings) out << "warning: " << warning << "\n";
    const std::size_t count = check.Problems.size();
    const std::size_t warnings = check.Warnings.size();
    out << driverConfigPath << ": "
        << (count == 0 ? std::string("no problems")
                       : std::to_string(count) + (count == 1 ? " problem" : " problems"))
        << (warnings == 0
                ? std::string()
                : ", " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings"))
        << "; " << check.Units << (check.Units == 1 ? " unit" : " units") << " in " << check.Systems
        << (check.Systems == 1 ? " system" : " systems") << std::endl;
    return count == 0 ? 0 : 1;
}

}  // namespace krb::server
