// KRBServer shows its window when a display is there. Without one, or with --headless, it
// runs as KRBServer <DriverConfig.lni> start: configuration errors go to stderr and the log;
// SIGINT and SIGTERM close the server as the window's close does. Without a window nobody can
// fix a configuration or press Start, so a server that cannot listen says why in one line and
// ends with a non-zero status, and so does one whose lab holds no unit at all.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ConfigurationCheck.h"
#include "app/LabServer.h"
#include "lab/ConfigPath.h"
#include "platform/operator_message.h"
#include "history/HistoryCommand.h"
#include "protocol/CommandReference.h"
#include "protocol/UnitCommandThread.h"
#include "sila/FeatureDefinitions.h"
#include "views/LabViews.h"
#include "window/WindowShell.h"

namespace {

constexpr const char* kUsage = "usage: KRBServer <DriverConfig.lni> start";
constexpr const char* kHelp =
    R"(Serves the lab described by DriverConfig.lni to lab software over TCP.

  KRBServer <DriverConfig.lni> start   listen on the [TCP] port of the configuration
  KRBServer --headless <...> start     the same without a window, also when a display is there
  KRBServer [<DriverConfig.lni> [start]]  with a display: the window (Start/Stop, tray icon)
  KRBServer --check <DriverConfig.lni> load the lab without opening a port; print each
                                       problem on one line and a summary (status 1: problems)
  KRBServer --commands                 print the client command reference (docs/commands.md)
  KRBServer --sila-features DIR        write the SiLA 2 feature definitions (FDL) to DIR
  KRBServer --history <DriverConfig.lni> [--plate B] [--unit U] [--client C] [--since T]
            [--until T] [--limit N] [--json]
                                       the audit trail of the lab ([History]): a plate's
                                       journey, or the commands of a unit or a client; times
                                       as 2026-12-09T10:00:00Z (UTC without a zone)
  KRBServer --help                     this text

Without a display the server runs without a window; Ctrl-C or SIGTERM stops it. Each
problem of the configuration is one line on stderr; a lab that loads no unit is not served.
When it cannot listen it says why in one line on stderr and exits with status 1 (2 for a
wrong command line).

Settings in DriverConfig.lni besides the lab ([paths] KrbMainFolder), all described in
docs/configuration.md:
  [TCP]      port, LogFile, BindAddress, AllowedClients, MaxConnections, ClientFileFolder,
             RecordsFollowMoves (unit records follow plates moved between units, default 1)
  [Web]      Port, BindAddress, HostNames: the read-only dashboard and /metrics (off
             without Port)
  [SiLA]     Enabled, BasePort, BindAddress, Insecure, CertificateFile, KeyFile: every unit
             as a SiLA 2 server (off without the section)
  [History]  Enabled (default 1), Database (History.sqlite beside DriverConfig.lni, or a
             postgresql:// address), RetentionDays (365; 0 keeps all), QueueSize (10000):
             the audit trail of moves and commands

Log: the file named by LogFile in the [TCP] section of DriverConfig.lni (relative to that
file's folder; no log when the key is empty or absent). Without a window, messages for the
operator (configuration problems, unit warnings) are printed on stderr.

Environment:
  KRB_PORT_DIR     folder whose entries COMn stand for the serial ports (else /dev/ttyS<n-1>)
  KRB_TIME_SCALE   factor on every pause and time-out (default 1; 0.1 runs ten times faster,
                   for simulated units only)
  KRB_SERIAL_LOG   folder for a byte log of every serial port
)";
constexpr int kUsageStatus = 2;

void ReportState(const krb::server::TServerState& state) {
    static bool wasListening = false;
    if (state.Listening == wasListening) return;
    wasListening = state.Listening;
    if (state.Listening) {
        std::cout << "KRBServer listening on port " << state.LocalPort << std::endl;
    } else {
        std::cout << "KRBServer stopped listening" << std::endl;
    }
}

bool Asks(const std::vector<std::string>& arguments, std::string_view option,
          std::string_view shortOption = {}) {
    for (const auto& argument : arguments) {
        if (argument == option || (!shortOption.empty() && argument == shortOption)) return true;
    }
    return false;
}

int WriteSilaFeatures(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) {
        std::cerr << "KRBServer: usage: KRBServer --sila-features DIR" << std::endl;
        return kUsageStatus;
    }
    std::string error;
    if (krb::sila::writeFeatureDefinitions(arguments[1], error)) return EXIT_SUCCESS;
    std::cerr << "KRBServer: " << error << std::endl;
    return EXIT_FAILURE;
}

int PrintCommandReference() {
    const auto problems = krb::server::WriteCommandReference(std::cout);
    for (const auto& problem : problems) std::cerr << "KRBServer: " << problem << std::endl;
    return problems.empty() ? EXIT_SUCCESS : EXIT_FAILURE;
}

bool FollowsUsage(const std::vector<std::string>& arguments) {
    return arguments.size() == 2 && arguments[1] == "start";
}

int CheckConfiguration(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) {
        std::cerr << "KRBServer: usage: KRBServer --check <DriverConfig.lni>" << std::endl;
        return kUsageStatus;
    }
    return krb::server::ReportConfigurationCheck(krb::server::CheckConfiguration(arguments[1]),
                                                 arguments[1], std::cout);
}

// Without a window nobody reads a box: each problem is one line on stderr and in the log.
void ReportProblemsOnOneLine(krb::server::LabServer& server) {
    server.Manager().SetProblemReporter([](const krb::server::ConfigurationProblem& problem) {
        krb::platform::noteOperatorEvent("Configuration", problem.Line());
    });
}

// Loads the lab and starts listening; a lab of no unit at all ends the program instead.
void LoadAndStart(krb::server::LabServer& server, const std::string& configPath, int& status) {
    server.LoadConfiguration(configPath);
    if (krb::server::UnitCount(server.Manager().Lab()) == 0) {
        std::cerr << "KRBServer: not serving: " << krb::server::NoUnitLoaded(configPath)
                  << std::endl;
        status = EXIT_FAILURE;
        server.Quit();
        return;
    }
    server.BtnStartClick();
    const krb::server::TServerState state = server.State();
    if (state.Listening) return;
    std::cerr << "KRBServer: not listening: "
              << (state.Problem.empty() ? std::string("the listener did not start") : state.Problem)
              << std::endl;
    status = EXIT_FAILURE;
    server.Quit();
}

}  // namespace

int main(int argc, char** argv) {
    krb::server::KeepLargeViewBuffersInTheHeap();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (Asks(arguments, "--help", "-h")) {
        std::cout << kHelp << "\n" << kUsage << std::endl;
        return EXIT_SUCCESS;
    }
    if (Asks(arguments, "--commands")) return PrintCommandReference();
    if (!arguments.empty() && arguments[0] == "--check") return CheckConfiguration(arguments);
    if (!arguments.empty() && arguments[0] == "--sila-features")
        return WriteSilaFeatures(arguments);
    if (!arguments.empty() && arguments[0] == "--history")
        return krb::server::history::RunHistoryCommand(arguments, std::cout, std::cerr);
    const bool headless = krb::server::TakeHeadlessOption(arguments);
    if (!headless && krb::server::DisplayAvailable()) {
        return krb::server::RunWindowShell(argc, argv, arguments,
                                           [] { return new krb::server::LabServer(); });
    }
    if (!FollowsUsage(arguments)) {
        std::cerr << "KRBServer: " << kUsage << std::endl;
        return kUsageStatus;
    }
    if (!krb::server::IsExistingFile(arguments[0])) {
        std::cerr << "KRBServer: not listening: Configuration File: " << arguments[0]
                  << " Does not exist!" << std::endl;
        return EXIT_FAILURE;
    }
    // Lives until the program ends: command threads still running at exit use the model.
    auto* server = new krb::server::LabServer();
    server->AddStateObserver(ReportState);
    ReportProblemsOnOneLine(*server);

    auto signals = std::make_unique<asio::signal_set>(server->Loop(), SIGINT, SIGTERM);
    signals->async_wait([server](const asio::error_code& error, int) {
        if (!error) server->Quit();
    });
    int status = EXIT_SUCCESS;
    server->Post([server, configPath = arguments[0], &status] {
        LoadAndStart(*server, configPath, status);
    });
    server->Run();
    server->StopHistory();  // also when the program ends without waiting for unit commands

    std::fflush(nullptr);
    if (krb::server::TTHRUnitCommand::RunningCommands() > 0) {
        std::_Exit(status);  // the program ends without waiting for unit commands
    }
    signals.reset();  // before the loop it belongs to
    delete server;
    return status;
}
