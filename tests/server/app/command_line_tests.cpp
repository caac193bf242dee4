// KRBServer without a window: what it says and how it ends when it cannot listen.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "frontend_support.h"

namespace krb::server {
namespace {

namespace fs = std::filesystem;
using namespace frontend_testing;

struct Outcome {
    int status = -1;  // -1: still running after the guard, then killed
    std::string output;
};

// Runs KRBServer with `arguments`, stdout and stderr together; once the output holds
// `stopAfter` (when given) the server is stopped with SIGTERM.
Outcome RunServer(const std::vector<std::string>& arguments, const std::string& stopAfter = {}) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::unsetenv("DISPLAY");  // the program without a window, whatever desktop runs the tests
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::dup2(pipeEnds[1], STDERR_FILENO);
        ::close(pipeEnds[0]);
        std::vector<char*> argv{const_cast<char*>(KRB_SERVER_PATH)};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(KRB_SERVER_PATH, argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    Outcome outcome;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pollfd readable{pipeEnds[0], POLLIN, 0};
    char buffer[4096];
    while (std::chrono::steady_clock::now() < guard) {
        if (::poll(&readable, 1, 100) <= 0) continue;
        const auto n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        outcome.output.append(buffer, static_cast<std::size_t>(n));
        if (!stopAfter.empty() && outcome.output.find(stopAfter) != std::string::npos) {
            ::kill(pid, SIGTERM);
            break;
        }
    }
    ::close(pipeEnds[0]);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= guard) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return outcome;
        }
        ::usleep(10000);
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// A TCP port held by a bare listener: a server in this process would also hold the lab's
// serial lines, which the server under test must open.
class BusyTcpPort {
  public:
    BusyTcpPort() {
        acceptor_.open(asio::ip::tcp::v4());
        acceptor_.bind({asio::ip::address_v4::any(), 0});
        acceptor_.listen();
    }
    int Port() const { return acceptor_.local_endpoint().port(); }

  private:
    asio::io_context context_;
    asio::ip::tcp::acceptor acceptor_{context_};
};

std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < output.size()) {
        auto end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        lines.push_back(output.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A copy of the example lab that a case may break.
struct ExampleLab {
    ExampleLab() { test_support::copyDemoLab(folder.path()); }
    std::string Path(const std::string& relative) const { return folder.file(relative); }
    std::string Config() const { return Path("DriverConfig.lni"); }
    void Replace(const std::string& relative, const std::string& from, const std::string& to) {
        std::string text = test_support::readWholeFile(Path(relative));
        text.replace(text.find(from), from.size(), to);
        test_support::writeWholeFile(Path(relative), text);
    }
    test_support::TempDir folder{"krb-check"};
};

std::string LastLine(const std::string& output) {
    std::string text = output;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
}

TEST(CommandLine, AServerThatCannotListenSaysWhyAndEnds) {
    EmulatedLab lab;
    const std::string folder = fs::path(lab.ConfigPath()).parent_path().string();
    const std::string badPort = folder + "/BadPort.lni";
    std::ofstream(badPort) << "[paths]\r\nKrbMainFolder=lab\\\r\n[TCP]\r\nport=abc\r\n";
    const BusyTcpPort holder;
    const std::string busyPort = folder + "/BusyPort.lni";
    std::ofstream(busyPort) << "[paths]\r\nKrbMainFolder=lab\\\r\n[TCP]\r\nport=" << holder.Port()
                            << "\r\n";
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string lastLine;
    };
    const std::vector<Case> cases{
        {{"--help"}, 0, "usage: KRBServer <DriverConfig.lni> start"},
        {{}, 2, "KRBServer: usage: KRBServer <DriverConfig.lni> start"},
        {{lab.ConfigPath()}, 2, "KRBServer: usage: KRBServer <DriverConfig.lni> start"},
        {{folder + "/Missing.lni", "start"},
         1,
         "KRBServer: not listening: Configuration File: " + folder +
             "/Missing.lni Does not exist!"},
        {{badPort, "start"}, 1, "KRBServer: not listening: The TCP port \"abc\" is not a number"},
        {{busyPort, "start"},
         1,
         "KRBServer: not listening: Port " + std::to_string(holder.Port()) +
             ": bind: Address already in use"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunServer(c.arguments);
        const std::string label = c.arguments.empty() ? "(none)" : c.arguments.front();
        EXPECT_EQ(outcome.status, c.status) << label << "\n" << outcome.output;
        EXPECT_EQ(LastLine(outcome.output), c.lastLine) << label;
    }
}

TEST(CommandLine, LoaderMessagesAreLoggedWhenTheyHappenBeforeTheStart) {
    EmulatedLab lab;
    const std::string config = lab.WriteFile(
        "Broken.lni",
        "[paths]\r\nKrbMainFolder=NoSuchFolder\\\r\n[TCP]\r\nport=0\r\nLogFile=broken.log\r\n");
    RunningServer server;
    server.Start(config);
    const auto lines = WaitForLogLines((lab.Root() / "broken.log").string(), 2);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(EventOf(lines[0]), "Error");
    EXPECT_EQ(EventOf(lines[1]), "Start");
}

// The example lab's Stock sector lists 7-12 and 15: cassettes 13 and 14 load but no view shows
// them.
std::string NoSectorWarning(const ExampleLab& lab) {
    return "warning: " + lab.Path("Lab/System1/Unit1.lni") +
           ": [Partitions]: cassettes 13, 14 lie in a partition's range but in no partition's "
           "list; they belong to no sector and no view shows them";
}

// --check loads the lab without a port: the example lab passes, and each kind of fault is
// one line naming its file and key, then the summary.
TEST(CommandLine, CheckNamesEachProblemOfTheConfigurationOnOneLine) {
    struct Case {
        std::string fault;
        std::function<void(ExampleLab&)> breakLab;
        std::function<std::vector<std::string>(const ExampleLab&)> lines;
        int status;
    };
    const std::vector<Case> cases{
        {"none", [](ExampleLab&) {},
         [](const ExampleLab& lab) {
             return std::vector<std::string>{
                 NoSectorWarning(lab),
                 lab.Config() + ": no problems, 1 warning; 5 units in 2 systems"};
         },
         0},
        {"missing unit file",
         [](ExampleLab& lab) { fs::remove(lab.Path("Lab/System1/Unit2.lni")); },
         [](const ExampleLab& lab) {
             return std::vector<std::string>{
                 lab.Path("Lab/System1/System.lni") + ": [Unit] Unit2: the unit file " +
                     lab.Path("Lab/System1/Unit2.lni") + " does not exist",
                 NoSectorWarning(lab),
                 lab.Config() + ": 1 problem, 1 warning; 4 units in 2 systems"};
         },
         1},
        {"bad number",
         [](ExampleLab& lab) {
             lab.Replace("Lab/System2/Unit4.lni", "UnitComPort=4", "UnitComPort=4x");
         },
         [](const ExampleLab& lab) {
             return std::vector<std::string>{
                 lab.Path("Lab/System2/Unit4.lni") +
                     ": [Unit] UnitComPort: \"4x\" is not an integer",
                 NoSectorWarning(lab),
                 lab.Config() + ": 1 problem, 1 warning; 4 units in 2 systems"};
         },
         1},
        {"missing lab folder", [](ExampleLab& lab) { fs::remove_all(lab.Path("Lab")); },
         [](const ExampleLab& lab) {
             return std::vector<std::string>{
                 lab.Config() + ": [paths] KrbMainFolder: the first system's folder " +
                     lab.Path("Lab/System1") + " does not exist",
                 lab.Config() + ": no unit could be loaded",
                 lab.Config() + ": 2 problems; 0 units in 0 systems"};
         },
         1},
        {"listener and dashboard keys",
         [](ExampleLab& lab) {
             lab.Replace("DriverConfig.lni", "port=3100", "port=31OO\r\n[Web]\r\nPort=x");
         },
         [](const ExampleLab& lab) {
             return std::vector<std::string>{
                 lab.Config() + ": [TCP] port: \"31OO\" is not a port number",
                 lab.Config() +
                     ": [Web] Port=\"x\" is not a port number (0-65535); the dashboard is off",
                 NoSectorWarning(lab),
                 lab.Config() + ": 2 problems, 1 warning; 5 units in 2 systems"};
         },
         1},
    };
    for (const auto& c : cases) {
        ExampleLab lab;
        c.breakLab(lab);
        const Outcome outcome = RunServer({"--check", lab.Config()});
        EXPECT_EQ(outcome.status, c.status) << c.fault << "\n" << outcome.output;
        EXPECT_EQ(Lines(outcome.output), c.lines(lab)) << c.fault;
    }
}

// Without a window: a lab of no unit is not served, and a lab with a fault serves the rest
// and says what is wrong once, on one line.
TEST(CommandLine, AHeadlessServerServesOnlyALabWithUnits) {
    ExampleLab empty;
    fs::remove_all(empty.Path("Lab"));
    const Outcome refused = RunServer({empty.Config(), "start"});
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_EQ(Lines(refused.output),
              (std::vector<std::string>{
                  "Configuration: " + empty.Config() +
                      ": [paths] KrbMainFolder: the first system's folder " +
                      empty.Path("Lab/System1") + " does not exist",
                  "KRBServer: not serving: " + empty.Config() + ": no unit could be loaded"}));

    EmulatedLab partial;
    const std::string broken =
        partial.WriteFile("lab/System1/Broken.lni", "[Unit]\r\nUnitComPort=4x\r\nUnitId=B\r\n");
    const std::string systemFile = (partial.Root() / "lab/System1/System.lni").string();
    test_support::writeWholeFile(systemFile,
                                 test_support::readWholeFile(systemFile) + "Unit2=Broken.lni\r\n");
    const std::string problem =
        "Configuration: " + broken + ": [Unit] UnitComPort: \"4x\" is not an integer";
    const Outcome served =
        RunServer({partial.ConfigPath(), "start"}, "KRBServer listening on port");
    const auto lines = Lines(served.output);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), problem), 1) << served.output;
    EXPECT_NE(served.output.find("KRBServer listening on port"), std::string::npos);
}

}  // namespace
}  // namespace krb::server
