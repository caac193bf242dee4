// The [SiLA] section: what it starts, what it refuses, TLS with the server's own certificate
// and plain text.
#include <grpcpp/create_channel.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "SiLAService.grpc.pb.h"
#include "fake_unit_backend.h"
#include "sila/SilaHost.h"
#include "sila_test_support.h"

namespace krb::sila::test {
namespace {

namespace v1 = sila2::org::silastandard::core::silaservice::v1;

// Two consecutive ports nobody listens on at the moment of asking.
int freePortPair() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fds[2] = {::socket(AF_INET, SOCK_STREAM, 0), ::socket(AF_INET, SOCK_STREAM, 0)};
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fds[0], reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fds[0], reinterpret_cast<sockaddr*>(&address), &length);
        const int port = ntohs(address.sin_port);
        address.sin_port = htons(uint16_t(port + 1));
        const bool second =
            ::bind(fds[1], reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fds[0]);
        ::close(fds[1]);
        if (second && port < 65535) return port;
    }
    return 0;
}

class SiLAHostTest : public ::testing::Test {
  protected:
    std::string configure(const std::string& section) {
        return dir_.write("DriverConfig.lni", "[General]\r\nUnits=2\r\n" + section);
    }
    bool startHost(const std::string& configuration) {
        host_ = std::make_unique<SiLAHost>(configuration, [this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_.push_back(line);
        });
        return host_->start(units_);
    }
    std::vector<std::string> log() {
        std::lock_guard lock(logMutex_);
        return log_;
    }
    grpc::Status serverName(std::shared_ptr<grpc::ChannelCredentials> credentials,
                            const std::string& target, std::string& name) {
        auto stub = v1::SiLAService::NewStub(grpc::CreateChannel(target, credentials));
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
        v1::Get_ServerName_Responses responses;
        const auto status = stub->Get_ServerName(&context, {}, &responses);
        name = responses.servername().value();
        return status;
    }

    test_support::TempDir dir_{"krb-sila-host"};
    std::vector<std::shared_ptr<UnitBackend>> units_ = {
        std::make_shared<FakeUnitBackend>(plainUnit("Base1")),
        std::make_shared<FakeUnitBackend>(plainUnit("Ext1"))};
    std::unique_ptr<SiLAHost> host_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

TEST_F(SiLAHostTest, WrongSettingsStartNothingAndSayWhy) {
    struct Case {
        std::string section;
        std::string named;  // in the log line; empty: no line expected
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"[SiLA]\r\nEnabled=0\r\nBasePort=50052\r\n", ""},
        {"[SiLA]\r\nEnabled=yes\r\nBasePort=50052\r\n", "Enabled"},
        {"[SiLA]\r\nEnabled=1\r\n", "BasePort"},
        {"[SiLA]\r\nEnabled=1\r\nBasePort=abc\r\n", "BasePort"},
        {"[SiLA]\r\nEnabled=1\r\nBasePort=70000\r\n", "BasePort"},
        {"[SiLA]\r\nEnabled=1\r\nBasePort=65535\r\nInsecure=1\r\n", "BasePort"},
        {"[SiLA]\r\nEnabled=1\r\nBasePort=50052\r\nInsecure=maybe\r\n", "Insecure"},
        {"[SiLA]\r\nEnabled=1\r\nBasePort=50052\r\nBindAddress=a b\r\n", "BindAddress"},
        {"[SiLA]\r\nEnabled=1\r\nBasePort=50052\r\nCertificateFile=c.pem\r\n", "KeyFile"},
        {"[SiLA]\r\nEnabled=1\r\nBasePort=50052\r\nCertificateFile=none.pem\r\nKeyFile=none."
         "key\r\n",
         "none.pem"},
    };
    for (const auto& c : cases) {
        log_.clear();
        EXPECT_FALSE(startHost(configure(c.section))) << c.section;
        EXPECT_TRUE(host_->servers().empty());
        const auto lines = log();
        if (c.named.empty()) {
            EXPECT_TRUE(lines.empty()) << c.section;
        } else {
            ASSERT_EQ(lines.size(), 1u) << c.section;
            EXPECT_NE(lines.front().find(c.named), std::string::npos) << lines.front();
            EXPECT_NE(lines.front().find("no SiLA servers"), std::string::npos) << lines.front();
        }
    }
}

TEST_F(SiLAHostTest, ServesEachUnitAtItsPortInPlainText) {
    const int port = freePortPair();
    ASSERT_TRUE(startHost(configure(
        "[SiLA]\r\nEnabled=1\r\nInsecure=1\r\nBasePort=" + std::to_string(port) + "\r\n")));
    ASSERT_EQ(host_->servers().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        std::string name;
        ASSERT_TRUE(serverName(grpc::InsecureChannelCredentials(),
                               "127.0.0.1:" + std::to_string(port + i), name)
                        .ok());
        EXPECT_EQ(name, i == 0 ? "Base1" : "Ext1");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.file(kCertificateFileName)));
    EXPECT_TRUE(std::filesystem::exists(dir_.file(kIdentityFileName)));
}

TEST_F(SiLAHostTest, MakesItsOwnCertificateOnceAndIsTrustedThroughIt) {
    const int port = freePortPair();
    const auto configuration =
        configure("[SiLA]\r\nEnabled=1\r\nBasePort=" + std::to_string(port) + "\r\n");
    ASSERT_TRUE(startHost(configuration));
    const auto pem = test_support::readWholeFile(dir_.file(kCertificateFileName));
    ASSERT_NE(pem.find("BEGIN CERTIFICATE"), std::string::npos);
    struct stat key {};
    ASSERT_EQ(::stat(dir_.file(kKeyFileName).c_str(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);

    grpc::SslCredentialsOptions trusted;
    trusted.pem_root_certs = pem;
    for (const std::string host : {"localhost", "127.0.0.1"}) {
        std::string name;
        const auto status =
            serverName(grpc::SslCredentials(trusted), host + ":" + std::to_string(port + 1), name);
        ASSERT_TRUE(status.ok()) << host << ": " << status.error_message();
        EXPECT_EQ(name, "Ext1");
    }
    std::string name;
    EXPECT_FALSE(
        serverName(grpc::InsecureChannelCredentials(), "127.0.0.1:" + std::to_string(port), name)
            .ok());

    host_.reset();
    ASSERT_TRUE(startHost(configuration));
    EXPECT_EQ(test_support::readWholeFile(dir_.file(kCertificateFileName)), pem);
    EXPECT_TRUE(
        serverName(grpc::SslCredentials(trusted), "localhost:" + std::to_string(port), name).ok());
}

TEST_F(SiLAHostTest, NeverReplacesACertificateWhoseKeyIsMissing) {
    dir_.write(kCertificateFileName, "operator's certificate");
    const int port = freePortPair();
    EXPECT_FALSE(
        startHost(configure("[SiLA]\r\nEnabled=1\r\nBasePort=" + std::to_string(port) + "\r\n")));
    EXPECT_EQ(test_support::readWholeFile(dir_.file(kCertificateFileName)),
              "operator's certificate");
    ASSERT_EQ(log().size(), 1u);
    EXPECT_NE(log().front().find(kKeyFileName), std::string::npos);
}

TEST_F(SiLAHostTest, APortInUseStartsNoServerAtAll) {
    const int port = freePortPair();
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port + 1));
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    EXPECT_FALSE(startHost(configure(
        "[SiLA]\r\nEnabled=1\r\nInsecure=1\r\nBasePort=" + std::to_string(port) + "\r\n")));
    EXPECT_TRUE(host_->servers().empty());
    ::close(blocker);
    std::string name;
    EXPECT_FALSE(
        serverName(grpc::InsecureChannelCredentials(), "127.0.0.1:" + std::to_string(port), name)
            .ok());
}

TEST_F(SiLAHostTest, WithoutAnAvahiDaemonLogsOneLineAndServesAnyway) {
    if (std::filesystem::exists("/run/avahi-daemon/socket"))
        GTEST_SKIP() << "an Avahi daemon runs here";
    const int port = freePortPair();
    ASSERT_TRUE(startHost(configure(
        "[SiLA]\r\nEnabled=1\r\nInsecure=1\r\nBasePort=" + std::to_string(port) + "\r\n")));
    const auto lines = log();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines.front().find("mDNS"), std::string::npos);
    std::string name;
    EXPECT_TRUE(
        serverName(grpc::InsecureChannelCredentials(), "127.0.0.1:" + std::to_string(port), name)
            .ok());
}

}  // namespace
}  // namespace krb::sila::test
