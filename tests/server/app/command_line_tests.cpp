// KRBServer without a window: what it says and how it ends when it cannot listen.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "frontend_support.h"

namespace krb::server {
namespace {

namespace fs = std::filesystem;
using namespace frontend_testing;

struct Outcome {
    int status = -1;  // -1: still running after the guard, then killed
    std::string output;
};

// Runs KRBServer with `arguments`, stdout and stderr together.
Outcome RunServer(const std::vector<std::string>& arguments) {
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
    RunningServer holder;
    holder.Start(lab.ConfigPath());
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

}  // namespace
}  // namespace krb::server
