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
#include <vector>

#include "UnitMain.h"
#include "UnitMain_Shell.h"
#include "UnitMain_Views.h"
#include "UnitTHRKRBCommand.h"

namespace {

constexpr const char* kUsage = "usage: KRBServer <DriverConfig.lni> start";
constexpr const char* kModes =
    "With a display KRBServer shows its window (arguments: [<DriverConfig.lni> [start]]);\n"
    "with --headless, or without a display, it runs without a window.";
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

bool AsksForHelp(const std::vector<std::string>& arguments) {
    for (const auto& argument : arguments) {
        if (argument == "--help" || argument == "-h") return true;
    }
    return false;
}

bool FollowsUsage(const std::vector<std::string>& arguments) {
    return arguments.size() == 2 && arguments[1] == "start";
}

}  // namespace

int main(int argc, char** argv) {
    krb::server::KeepLargeViewBuffersInTheHeap();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (AsksForHelp(arguments)) {
        std::cout << kModes << "\n" << kUsage << std::endl;
        return EXIT_SUCCESS;
    }
    const bool headless = krb::server::TakeHeadlessOption(arguments);
    if (!headless && krb::server::DisplayAvailable()) {
        return krb::server::RunWindowShell(argc, argv, arguments);
    }
    if (!FollowsUsage(arguments)) {
        std::cerr << "KRBServer: " << kUsage << std::endl;
        return kUsageStatus;
    }
    // Lives until the program ends: command threads still running at exit use the model.
    auto* server = new krb::server::ServerCore();
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

    std::fflush(nullptr);
    if (krb::server::TTHRUnitCommand::RunningCommands() > 0) {
        std::_Exit(status);  // the program ends without waiting for unit commands
    }
    signals.reset();  // before the loop it belongs to
    delete server;
    return status;
}
