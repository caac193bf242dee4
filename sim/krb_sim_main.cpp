// krb-sim: a virtual lab on pseudo-terminals, built from the server's DriverConfig.lni.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "sim/control_server.h"
#include "sim/virtual_lab.h"

namespace {

constexpr const char* kDefaultSimFile = "Simulation.lni";

struct Options {
    std::string driverConfig;
    std::string simFile;
    std::string portDir;
    std::string controlPath;
};

void printUsage() {
    std::cerr
        << "usage: krb-sim [--port-dir DIR] [--control SOCKET] [--sim FILE] DriverConfig.lni\n"
           "  --port-dir  folder for the COMn entries (default: $KRB_PORT_DIR, else a new\n"
           "              temporary folder)\n"
           "  --control   UNIX socket of the control interface (default: "
           "<port-dir>/krb-sim.control)\n"
           "  --sim       simulation file (default: Simulation.lni beside DriverConfig.lni, if "
           "any)\n";
}

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        if (argument == "--port-dir") {
            if (!value(options.portDir)) return std::nullopt;
        } else if (argument == "--control") {
            if (!value(options.controlPath)) return std::nullopt;
        } else if (argument == "--sim") {
            if (!value(options.simFile)) return std::nullopt;
        } else if (argument == "-h" || argument == "--help" || !options.driverConfig.empty() ||
                   argument.rfind("--", 0) == 0) {
            return std::nullopt;
        } else {
            options.driverConfig = argument;
        }
    }
    if (options.driverConfig.empty()) return std::nullopt;
    if (options.portDir.empty()) {
        if (const char* fromEnvironment = std::getenv("KRB_PORT_DIR"))
            options.portDir = fromEnvironment;
    }
    if (options.simFile.empty()) {
        const auto beside =
            std::filesystem::path(options.driverConfig).parent_path() / kDefaultSimFile;
        if (std::filesystem::is_regular_file(beside)) options.simFile = beside.string();
    }
    return options;
}

// Blocked before any thread starts, so that every thread inherits the mask and the main
// thread alone takes the signal with sigwait.
sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

}  // namespace

int main(int argc, char** argv) {
    auto options = parseArguments(argc, argv);
    if (!options) {
        printUsage();
        return 2;
    }
    const sigset_t stopSignals = blockStopSignals();
    try {
        auto lab = krb::sim::VirtualLab::fromFiles(options->driverConfig, options->simFile,
                                                   options->portDir);
        for (const auto& warning : lab->config().warnings)
            std::cerr << "warning: " << warning << "\n";
        const std::string controlPath = options->controlPath.empty()
                                            ? lab->portDirectory() + "/krb-sim.control"
                                            : options->controlPath;
        krb::sim::ControlServer control(
            controlPath, [&lab](const std::string& line) { return lab->control(line); });
        for (const auto& line : lab->statusLines()) std::cout << line << "\n";
        std::cout << "ports: " << lab->portDirectory() << "\n"
                  << "control: " << control.path() << "\n"
                  << "simulation: " << (options->simFile.empty() ? "(none)" : options->simFile)
                  << "\n"
                  << "ready" << std::endl;
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::cout << "stopping" << std::endl;
    } catch (const std::exception& failure) {
        std::cerr << "krb-sim: " << failure.what() << std::endl;
        return 2;
    }
    return 0;
}
