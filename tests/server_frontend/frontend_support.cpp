#include "frontend_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "KRB_lib.h"

namespace krb::server::frontend_testing {
namespace {

constexpr int kReadGuardMs = 20000;
constexpr auto kLogGuard = std::chrono::seconds(20);

// COM numbers are not reused within one run: the library keeps its registry for the process.
int NextComPort() {
    static std::atomic<int> next{40};
    return next++;
}

}  // namespace

// --- lab -------------------------------------------------------------------------------------

EmulatedLab::EmulatedLab(int units, bool withLog) {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("krb_frontend_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "lab" / "System1");
    std::string unitList;
    for (int i = 0; i < units; ++i) {
        const int com = NextComPort();
        comPorts_.push_back(com);
        controllers_.push_back(std::make_unique<sim::ControllerEmulator>(ports_, com));
        const std::string id = "U" + std::to_string(i + 1);
        unitList += "Unit" + std::to_string(i + 1) + "=" + id + ".lni\r\n";
        WriteFile("lab/System1/" + id + ".lni",
                  "[Unit]\r\nUnitComPort=" + std::to_string(com) + "\r\nUnitId=" + id +
                      "\r\n[Contents]\r\nFileName=" + id +
                      ".txt\r\n[CassettesConfiguration]\r\n1-2=3,25,1\r\n");
    }
    WriteFile("lab/System1/System.lni",
              "[System]\r\nSystemName=Bench\r\nSystemId=1\r\n[Unit]\r\n" + unitList);
    configPath_ =
        WriteFile("DriverConfig.lni", "[paths]\r\nKrbMainFolder=" + (root_ / "lab").string() +
                                          "\r\n[TCP]\r\nport=0\r\n" +
                                          (withLog ? "LogFile=server.log\r\n" : ""));
}

EmulatedLab::~EmulatedLab() {
    for (int com : comPorts_) KRBDisconnect(std::to_string(com).c_str());
    controllers_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void EmulatedLab::MakeReady(int index) {
    auto& registers = Controller(index).registers();
    for (int relay : {6500, 6501, 6502, 6503, 6504, 6505, 1915, 1811}) {
        registers.setRelay(relay, true);
    }
}

std::string EmulatedLab::WriteFile(const std::string& relative, const std::string& content) const {
    const auto path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

// --- server ----------------------------------------------------------------------------------

RunningServer::RunningServer() : loop_([this] { core_.Run(); }) {}

RunningServer::~RunningServer() {
    core_.Quit();
    loop_.join();
}

void RunningServer::Start(const std::string& configPath) {
    core_.Invoke([&] { return core_.FormShow({configPath, "start"}); });
    if (!core_.State().Listening) throw std::runtime_error("the server does not listen");
}

int RunningServer::Port() { return core_.State().LocalPort; }

// --- client ----------------------------------------------------------------------------------

TestClient::TestClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("connect failed");
    }
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    localPort_ = ntohs(local.sin_port);
}

TestClient::~TestClient() { Close(); }

void TestClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TestClient::Send(const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const auto n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("send failed");
        sent += static_cast<std::size_t>(n);
    }
}

std::string TestClient::ReadLine() {
    for (;;) {
        const auto end = pending_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end + 2);
            pending_.erase(0, end + 2);
            return line;
        }
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, kReadGuardMs) <= 0) return "<no reply>";
        char buffer[4096];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return std::exchange(pending_, {});
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string TestClient::ReadToEnd() {
    for (;;) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, kReadGuardMs) <= 0) return pending_ + "<not closed>";
        char buffer[4096];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return std::exchange(pending_, {});
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool TestClient::ClosedByServer() { return ReadToEnd().empty(); }

// --- log -------------------------------------------------------------------------------------

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> WaitForLogLines(const std::string& path, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kLogGuard;
    auto lines = ReadLines(path);
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = ReadLines(path);
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

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

}  // namespace krb::server::frontend_testing
