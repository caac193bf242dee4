#include "demo_lab_server.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "KRB_lib.h"
#include "UnitTCPKRBBrowser.h"
#include "platform/clock.h"
#include "platform/profile_file.h"

namespace krb::server::e2e {
namespace {

// A tenth of real time when the suite runs outside CTest.
const bool kTimeScaleChosen = [] {
    if (std::getenv("KRB_TIME_SCALE") == nullptr) platform::setTimeScale(0.1);
    return true;
}();

constexpr const char* kNoReply = "<no reply>";

std::filesystem::path FreshLabCopy() {
    static std::atomic<int> counter{0};
    const auto root = std::filesystem::temp_directory_path() /
                      ("krb_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(root);
    std::filesystem::copy(KRB_DEMO_LAB_DIR, root, std::filesystem::copy_options::recursive);
    return root;
}

}  // namespace

std::vector<ContentsLine> ReadContents(const std::filesystem::path& file) {
    std::vector<ContentsLine> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string text; std::getline(in, text);) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty()) continue;
        ContentsLine line;
        std::string::size_type start = 0;
        while (line.fields.size() < 9) {
            const auto comma = text.find(',', start);
            if (comma == std::string::npos) break;
            line.fields.push_back(text.substr(start, comma - start));
            start = comma + 1;
        }
        line.fields.push_back(text.substr(start));
        line.fields.resize(10);
        lines.push_back(std::move(line));
    }
    return lines;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void DemoLabServerTest::SetUp() {
    (void)kTimeScaleChosen;
    root_ = FreshLabCopy();
    const std::string config = (root_ / "DriverConfig.lni").string();
    ASSERT_TRUE(platform::ProfileFile(config).writeString("TCP", "port", "0"));
    lab_ = sim::VirtualLab::fromFiles(config, (root_ / "Simulation.lni").string());
    server_ = std::make_unique<frontend_testing::RunningServer>();
    server_->Start(config);
}

void DemoLabServerTest::TearDown() {
    server_.reset();  // waits for every unit command still running
    if (lab_) {
        for (int com : lab_->unitPorts()) KRBDisconnect(std::to_string(com).c_str());
    }
    lab_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void DemoLabServerTest::CloseServer() { server_.reset(); }

std::string DemoLabServerTest::AwaitLine(TestClient& client, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string line = client.ReadLine();
    while (line == kNoReply && std::chrono::steady_clock::now() < deadline) {
        line = client.ReadLine();
    }
    return line;
}

std::string DemoLabServerTest::Ask(TestClient& client, const std::string& command) {
    client.Send(command);
    return AwaitLine(client);
}

void DemoLabServerTest::Activate(TestClient& client, const std::string& unitId,
                                 const std::string& reply) {
    ASSERT_EQ(Ask(client, "KRB2Activate(" + unitId + ")\r"), reply + "\r\n") << unitId;
}

void DemoLabServerTest::Control(const std::string& line) {
    const auto reply = lab_->control(line);
    ASSERT_FALSE(reply.empty()) << line;
    ASSERT_EQ(reply.back().rfind("OK", 0), 0u) << line << ": " << reply.back();
}

TKRBId& DemoLabServerTest::Unit(const std::string& unitId) {
    TKRBId* unit = server_->Core().TcpBrowser().FindUnitById(unitId);
    if (unit == nullptr) throw std::runtime_error("no unit " + unitId);
    return *unit;
}

}  // namespace krb::server::e2e
