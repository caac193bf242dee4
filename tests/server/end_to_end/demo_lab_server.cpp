#include "demo_lab_server.h"

#include <fstream>
#include <thread>

#include "KRB_lib.h"
#include "lab/UnitDirectory.h"
#include "platform/profile_file.h"
#include "support/demo_lab.h"
#include "support/lab_files.h"
#include "support/time_scale.h"

namespace krb::server::e2e {
namespace {

constexpr const char* kNoReply = "<no reply>";

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

void DemoLabServerTest::SetUp() {
    (void)test_support::kTimeScaleChosen;
    test_support::copyDemoLab(root_.path());
    const std::string config = root_.file("DriverConfig.lni");
    platform::ProfileFile file(config);
    ASSERT_TRUE(file.writeString("TCP", "port", "0"));
    EditConfiguration(file);
    lab_ = sim::VirtualLab::fromFiles(config, root_.file("Simulation.lni"));
    server_ = std::make_unique<test_support::RunningServer>();
    server_->Start(config);
}

void DemoLabServerTest::TearDown() {
    client_.reset();
    server_.reset();  // waits for every unit command still running
    if (lab_) {
        for (int com : lab_->unitPorts()) KRBDisconnect(std::to_string(com).c_str());
    }
    lab_.reset();
}

void DemoLabServerTest::ConnectClient(
    const std::vector<std::pair<std::string, std::string>>& activations) {
    client_ = std::make_unique<TestClient>(ServerPort());
    for (const auto& [unitId, reply] : activations) Activate(*client_, unitId, reply);
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
    ASSERT_EQ(test_support::controlRefusal(*lab_, line), "");
}

TKRBId& DemoLabServerTest::Unit(const std::string& unitId) {
    TKRBId* unit = server_->Core().TcpBrowser().FindUnitById(unitId);
    if (unit == nullptr) throw std::runtime_error("no unit " + unitId);
    return *unit;
}

}  // namespace krb::server::e2e
