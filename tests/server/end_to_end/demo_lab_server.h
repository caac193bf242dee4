#pragma once
// The demo lab on the simulator with the server in front of it: a copy of examples/demo-lab
// in a temporary folder (the server writes its contents files and log there), the virtual
// lab built from that copy, and the server listening on a port the system picks. Each test
// gets a lab, a server and a library registry of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lab/Unit.h"
#include "platform/profile_file.h"
#include "sim/virtual_lab.h"
#include "support/eventually.h"
#include "support/running_server.h"
#include "support/tcp_client.h"
#include "support/temp_dir.h"

namespace krb::server::e2e {

using test_support::eventually;
using test_support::TestClient;

// Controller ports of the demo lab's units (Base1, Cascader1, Ext1, Store4).
constexpr int kBase = 1, kCascader = 2, kExtension = 3, kStore = 4;

// One line of a contents file split into its ten fields (the tenth keeps the rest).
struct ContentsLine {
    std::vector<std::string> fields;
    const std::string& Cassette() const { return fields.at(1); }
    const std::string& Level() const { return fields.at(2); }
    const std::string& Present() const { return fields.at(3); }
    const std::string& Barcode() const { return fields.at(4); }
    const std::string& Name() const { return fields.at(5); }
    const std::string& CheckDate() const { return fields.at(7); }
};
std::vector<ContentsLine> ReadContents(const std::filesystem::path& file);

class DemoLabServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Runs on the lab's copy of DriverConfig.lni before the lab and the server start.
    virtual void EditConfiguration(platform::ProfileFile&) {}

    // Sends one command and waits for its reply line (CR LF included).
    std::string Ask(TestClient& client, const std::string& command);
    // The next line, waiting up to `limit`; "<no reply>" when none came.
    static std::string AwaitLine(TestClient& client,
                                 std::chrono::seconds limit = std::chrono::seconds(180));
    // "KRB2Activate" for the unit, expecting `reply`.
    void Activate(TestClient& client, const std::string& unitId, const std::string& reply);
    // One control line of the simulator; it must answer "OK".
    void Control(const std::string& line);
    // Connects client_ and activates each unit, expecting its reply.
    void ConnectClient(const std::vector<std::pair<std::string, std::string>>& activations);

    TKRBId& Unit(const std::string& unitId);
    sim::PlateWorld& World() { return lab_->world(); }
    sim::RegisterStore& Registers(int com) { return lab_->controller(com).registers(); }
    std::filesystem::path LabFile(const std::string& relative) const {
        return root_.path() / relative;
    }
    int ServerPort() { return server_->Port(); }
    // Ends the server as the window's close does (every client closed, "Stop" logged).
    void CloseServer();

    test_support::TempDir root_{"krb_e2e"};
    std::unique_ptr<sim::VirtualLab> lab_;
    std::unique_ptr<test_support::RunningServer> server_;
    std::unique_ptr<TestClient> client_;  // closed before the server stops
};

}  // namespace krb::server::e2e
