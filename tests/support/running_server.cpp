#include "support/running_server.h"

#include <chrono>
#include <stdexcept>

#include "support/temp_dir.h"

namespace krb::test_support {
namespace {

constexpr auto kLogGuard = std::chrono::seconds(20);

}  // namespace

RunningServer::RunningServer(const server::KRBExports& exports)
    : core_(exports), loop_([this] { core_.Run(); }) {}

RunningServer::~RunningServer() { Stop(); }

void RunningServer::Stop() {
    if (!loop_.joinable()) return;
    core_.Quit();
    loop_.join();
}

void RunningServer::Start(const std::string& configPath) {
    core_.Invoke([&] { return core_.FormShow({configPath, "start"}); });
    if (!core_.State().Listening) throw std::runtime_error("the server does not listen");
}

int RunningServer::Port() { return core_.State().LocalPort; }

std::vector<std::string> WaitForLogLines(const std::string& path, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kLogGuard;
    auto lines = readLines(path);
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = readLines(path);
    }
    return lines;
}

std::string EventOf(const std::string& line) {
    const auto first = line.find(';');
    if (first == std::string::npos) return {};
    const auto second = line.find(';', first + 1);
    return line.substr(first + 1,
                       second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace krb::test_support
