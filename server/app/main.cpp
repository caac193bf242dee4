// KRBServer shows its window when a display is there. Without one, or with --headless, it
// runs as KRBServer <DriverConfig.lni> start: configuration errors go to stderr and the log;
// SIGINT and SIGTERM close the server as the window's close does. Without a window nobody can
// fix a configuration or press Start, so a server that cannot listen says why in one line and
// ends with a non-zero status.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/LabServer.h"
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
  KRBServer --commands                 print the client command reference (docs/commands.md)
  KRBServer --sila-features DIR        write the SiLA 2 feature definitions (FDL) to DIR
  KRBServer --history <DriverConfig.lni> [--plate B] [--unit U] [--client C] [--since T]
            [--until T] [--limit N] [--json]
                                       the audit trail of the lab ([History]): a plate's
                                       journey, or the commands of a unit or a client; times
                                       as 2026-12-09T10:00:00Z (UTC without a zone)
  KRBServer --help                     this text

Without a display the server runs without a window; Ctrl-C or SIGTERM stops it. When it
cannot listen it says why in one line on stderr and exits with status 1 (2 for a wrong
command line).

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

}  // namespace

int main(int argc, char** argv) {
    krb::server::KeepLargeViewBuffersInTheHeap();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (Asks(arguments, "--help", "-h")) {
        std::cout << kHelp << "\n" << kUsage << std::endl;
        return EXIT_SUCCESS;
    }
    if (Asks(arguments, "--commands")) return PrintCommandReference();
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
    // Lives until the program ends: command threads still running at exit use the model.
    auto* server = new krb::server::LabServer();
    server->AddStateObserver(ReportState);

    auto signals = std::make_unique<asio::signal_set>(server->Loop(), SIGINT, SIGTERM);
    signals->async_wait([server](const asio::error_code& error, int) {
        if (!error) server->Quit();
    });
    int status = EXIT_SUCCESS;
    server->Post([server, arguments, &status] {
        server->FormShow(arguments);
        const krb::server::TServerState state = server->State();
        if (state.Listening) return;
        std::cerr << "KRBServer: not listening: "
                  << (state.Problem.empty() ? std::string("the listener did not start")
                                            : state.Problem)
                  << std::endl;
        status = EXIT_FAILURE;
        server->Quit();
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
