// The demo lab's base unit behind a real serial device server: ser2net bridges the simulated
// controller (telnet COM-port control) and its barcode reader (raw TCP) to loopback ports, and
// the library reaches them through port folder entries that hold the addresses.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "demo_lab_fixture.h"
#include "support/tcp_client.h"

namespace krb::integration {
namespace {

constexpr int kBase = 1, kBaseReader = 11;
constexpr const char* kSer2net = "/usr/sbin/ser2net";

bool Listening(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// At every time scale: the units' pauses and motions shrink, the transport's round trip does not.
class BehindDeviceServer : public DemoLab, public ::testing::WithParamInterface<double> {
  protected:
    void SetUp() override {
        if (::access(kSer2net, X_OK) != 0) GTEST_SKIP() << "ser2net is not installed";
        platform::setTimeScale(GetParam());
        DemoLab::SetUp();
        folder_ = std::filesystem::path(lab_->portDirectory()).parent_path() /
                  ("net-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        StartSer2net();
        WriteEntry(kBase, "rfc2217://127.0.0.1:" + std::to_string(controllerPort_));
        WriteEntry(kBaseReader, "tcp://127.0.0.1:" + std::to_string(readerPort_));
        ::setenv("KRB_PORT_DIR", folder_.c_str(), 1);
    }
    void TearDown() override {
        if (ser2net_ > 0) {
            ::kill(ser2net_, SIGTERM);
            ::waitpid(ser2net_, nullptr, 0);
        }
        if (lab_) DemoLab::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        platform::setTimeScale(0.1);
    }

    std::string Device(int com) {
        return std::filesystem::read_symlink(lab_->portDirectory() + "/COM" + std::to_string(com));
    }
    void WriteEntry(int com, const std::string& address) {
        std::ofstream(folder_ / ("COM" + std::to_string(com))) << address << "\n";
    }
    void StartSer2net() {
        controllerPort_ = test_support::FreeLoopbackPort();
        readerPort_ = test_support::FreeLoopbackPort();
        const auto config = folder_ / "ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\n"
                              << "connection: &controller\n"
                              << "    accepter: telnet(rfc2217),tcp,127.0.0.1," << controllerPort_
                              << "\n    connector: serialdev," << Device(kBase)
                              << ",9600e81,local\n"
                              << "connection: &reader\n"
                              << "    accepter: tcp,127.0.0.1," << readerPort_
                              << "\n    connector: serialdev," << Device(kBaseReader)
                              << ",9600e71,local\n";
        const std::string pidFile = (folder_ / "ser2net.pid").string();
        ser2net_ = ::fork();
        if (ser2net_ == 0) {
            ::execl(kSer2net, kSer2net, "-n", "-c", config.c_str(), "-P", pidFile.c_str(), nullptr);
            ::_exit(127);
        }
        ASSERT_TRUE(eventually([&] { return Listening(controllerPort_) && Listening(readerPort_); },
                               std::chrono::seconds(10)));
    }

    std::filesystem::path folder_;
    pid_t ser2net_ = -1;
    int controllerPort_ = 0;
    int readerPort_ = 0;
};

TEST_P(BehindDeviceServer, ActivatesMovesAPlateAndReadsItsBarcode) {
    activate(kBase);
    ASSERT_STREQ(KRBBCRPath("1", "11"), "1");
    KRBSetPlateDetector("1", "1");
    EXPECT_STREQ(KRBMovePlate("1", "3", "1", "4", "2"), "1");
    EXPECT_EQ(placeOf("P0003"), Place::slot(kBase, 4, 2));
    EXPECT_STREQ(KRBReadBarcode("1", "4", "2"), "P0003");
    EXPECT_STREQ(KRBIsOperationRunning("1"), "0");
}

INSTANTIATE_TEST_SUITE_P(TimeScales, BehindDeviceServer, ::testing::Values(1.0, 0.1));

}  // namespace
}  // namespace krb::integration
