// KRBServer without a window: KRBServer <DriverConfig.lni> [start]. Configuration errors go
// to stderr and the log; SIGINT and SIGTERM close the server as the window's close does.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "UnitMain.h"
#include "UnitTHRKRBCommand.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // Lives until the program ends: command threads still running at exit use the model.
    auto* server = new krb::server::ServerCore();
    server->AddStateObserver(ReportState);

    asio::signal_set signals(server->Loop(), SIGINT, SIGTERM);
    signals.async_wait([server](const asio::error_code& error, int) {
        if (!error) server->Quit();
    });
    server->Post([server, arguments] {
        server->FormShow(arguments);
        if (!server->State().Listening) {
            std::cout << "KRBServer is not listening (usage: KRBServer <DriverConfig.lni> start)"
                      << std::endl;
        }
    });
    server->Run();

    std::fflush(nullptr);
    if (krb::server::TTHRUnitCommand::RunningCommands() > 0) {
        std::_Exit(EXIT_SUCCESS);  // the program ends without waiting for unit commands
    }
    delete server;
    return EXIT_SUCCESS;
}
