// krb-sim: a virtual lab on pseudo-terminals, built from the server's DriverConfig.lni.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/decimal.h"
#include "sim/control_server.h"
#include "sim/network_bridge.h"
#include "sim/virtual_lab.h"

namespace {

constexpr const char* kDefaultSimFile = "Simulation.lni";

struct NetworkUnit {
    int com = 0;
    int port = 0;  // 0: a free port
    krb::sim::BridgeMode mode = krb::sim::BridgeMode::Raw;
};

struct Options {
    std::vector<NetworkUnit> networkUnits;
    std::string driverConfig;
    std::string simFile;
    std::string portDir;
    std::string controlPath;
    bool help = false;
};

void printUsage(std::ostream& out) {
    out << "usage: krb-sim [--port-dir DIR] [--control SOCKET] [--sim FILE]\n"
           "               [--tcp|--rfc2217 COMn[:PORT]]... DriverConfig.lni\n"
           "  --port-dir  folder for the COMn entries (default: $KRB_PORT_DIR, else a new\n"
           "              temporary folder)\n"
           "  --control   UNIX socket of the control interface (default: "
           "<port-dir>/krb-sim.control)\n"
           "  --sim       simulation file (default: Simulation.lni beside DriverConfig.lni, if "
           "any)\n"
           "  --tcp COMn[:PORT], --rfc2217 COMn[:PORT]\n"
           "              put that port on the network instead: a TCP port on 127.0.0.1 (raw,\n"
           "              or with telnet COM-port control); its entry holds the address\n"
           "  --help      this text\n"
           "\n"
           "Prints the ports, the control socket and \"ready\", then runs until Ctrl-C or "
           "SIGTERM.\n"
           "The control socket takes one line per request, e.g. PLATES, WHERE <barcode>,\n"
           "PUT COM1 3 2 P0042, FAULT COM1 error 7210, CLEAR COM1 (see sim/README.md).\n"
           "KRB_TIME_SCALE scales every motion and pause (default 1).\n";
}

// "COM4", "COM4:4004" or "4:4004".
std::optional<NetworkUnit> parseNetworkUnit(std::string text) {
    if (text.rfind("COM", 0) == 0) text.erase(0, 3);
    const auto colon = text.find(':');
    const auto com = krb::platform::parseInt32(text.substr(0, colon));
    const auto port = colon == std::string::npos
                          ? std::optional<int>(0)
                          : krb::platform::parseInt32(text.substr(colon + 1));
    if (!com || *com < 1 || !port || *port < 0 || *port > 65535) return std::nullopt;
    return NetworkUnit{*com, *port, krb::sim::BridgeMode::Raw};
}

// The unit's entry becomes a file with the bridge's address in place of the device link.
std::unique_ptr<krb::sim::NetworkBridge> putOnNetwork(const std::string& portDir,
                                                      const NetworkUnit& unit) {
    const std::filesystem::path entry = portDir + "/COM" + std::to_string(unit.com);
    auto bridge = std::make_unique<krb::sim::NetworkBridge>(
        std::filesystem::read_symlink(entry).string(), unit.port, unit.mode);
    const std::filesystem::path temporary = entry.string() + ".address";
    std::ofstream(temporary) << bridge->address() << "\n";
    std::filesystem::rename(temporary, entry);
    std::cout << "COM" << unit.com << " on the network: " << bridge->address() << "\n";
    return bridge;
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
        } else if (argument == "--tcp" || argument == "--rfc2217") {
            std::string text;
            auto unit = value(text) ? parseNetworkUnit(text) : std::nullopt;
            if (!unit) return std::nullopt;
            unit->mode =
                argument == "--tcp" ? krb::sim::BridgeMode::Raw : krb::sim::BridgeMode::Rfc2217;
            options.networkUnits.push_back(*unit);
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
            return options;
        } else if (!options.driverConfig.empty() || argument.rfind("--", 0) == 0) {
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
        printUsage(std::cerr);
        return 2;
    }
    if (options->help) {
        printUsage(std::cout);
        return 0;
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
        std::vector<std::unique_ptr<krb::sim::NetworkBridge>> bridges;
        for (const auto& unit : options->networkUnits)
            bridges.push_back(putOnNetwork(lab->portDirectory(), unit));
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
