// Serial lines behind a serial device server: the address forms, a raw TCP stream and the
// telnet COM-port control, against a peer on loopback that records what it received.
#include "platform/network_port.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "platform/serial_port.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace krb::platform {
namespace {

using test_support::ScopedEnv;
using test_support::TempDir;
// Telnet bytes (RFC 854) and the COM-port option (RFC 2217), written out independently here.
namespace tn {
constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240,
                        kComPortOption = 44;
}

std::string bytes(std::initializer_list<unsigned char> values) {
    return std::string(values.begin(), values.end());
}

// One connection on a loopback port: what the client sent is kept, replies are sent on demand.
class DeviceServerPeer {
  public:
    DeviceServerPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        reader_ = std::thread([this] { Serve(); });
    }
    ~DeviceServerPeer() {
        Hangup();
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        reader_.join();
    }
    int Port() const { return port_; }
    std::string Address(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }
    void Send(const std::string& data) {
        connected_.wait();
        ::send(connection_, data.data(), data.size(), MSG_NOSIGNAL);
    }
    void Hangup() {
        std::lock_guard lock(mutex_);
        if (connection_ >= 0) ::shutdown(connection_, SHUT_RDWR);
    }
    // Waits until the received bytes contain `expected` (or a second passed).
    std::string ReceivedOnceItHas(const std::string& expected) {
        for (int i = 0; i < 100; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (received_.find(expected) != std::string::npos) return received_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    void Serve() {
        int fd = ::accept(listener_, nullptr, nullptr);
        {
            std::lock_guard lock(mutex_);
            connection_ = fd;
        }
        accepted_.set_value();
        if (fd < 0) return;
        char chunk[512];
        for (ssize_t got; (got = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) {
            std::lock_guard lock(mutex_);
            received_.append(chunk, static_cast<std::size_t>(got));
        }
        ::close(fd);
    }

    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    int connection_ = -1;
    std::string received_;
    std::promise<void> accepted_;
    std::shared_future<void> connected_ = accepted_.get_future().share();
    std::thread reader_;
};

std::string ReadAll(SerialPort& port, std::size_t count, long timeoutMs = 1000) {
    std::string data(count, '\0');
    long got = port.read(data.data(), count, timeoutMs);
    data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return data;
}

TEST(NetworkAddress, AcceptsTheTwoSchemesAndRefusesEverythingElse) {
    struct Case {
        const char* text;
        bool valid;
        NetworkMode mode;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"tcp://10.0.0.7:4001", true, NetworkMode::Raw, "10.0.0.7", 4001},
        {"rfc2217://serial-box.lab:7000", true, NetworkMode::Rfc2217, "serial-box.lab", 7000},
        {"tcp://[::1]:2001", true, NetworkMode::Raw, "::1", 2001},
        {"tcp://host", false, {}, "", 0},
        {"tcp://:4001", false, {}, "", 0},
        {"tcp://host:0", false, {}, "", 0},
        {"tcp://host:65536", false, {}, "", 0},
        {"tcp://host:+80", false, {}, "", 0},
        {"tcp://host:80x", false, {}, "", 0},
        {"tcp://::1:2001", false, {}, "", 0},
        {"tcp://a b:1", false, {}, "", 0},
        {"udp://host:1", false, {}, "", 0},
        {"TCP://host:1", false, {}, "", 0},
        {"", false, {}, "", 0},
    };
    for (const auto& c : cases) {
        const auto address = parseNetworkAddress(c.text);
        ASSERT_EQ(address.has_value(), c.valid) << c.text;
        if (!address) continue;
        EXPECT_EQ(address->mode, c.mode) << c.text;
        EXPECT_EQ(address->host, c.host) << c.text;
        EXPECT_EQ(address->port, c.port) << c.text;
    }
}

TEST(NetworkPort, RawStreamCarriesBytesBothWaysAndReportsAHangupAtOnce) {
    DeviceServerPeer peer;
    auto port = openNetworkPort(*parseNetworkAddress(peer.Address("tcp")), "COM1");
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->configure(kControllerLine));
    const std::string command = "RD DM202\r";
    ASSERT_TRUE(port->write(command.data(), command.size()));
    EXPECT_EQ(peer.ReceivedOnceItHas(command), command);
    peer.Send("00001\r\n\xff");
    EXPECT_EQ(ReadAll(*port, 8), "00001\r\n\xff");

    peer.Send("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port->purgeInput();
    EXPECT_EQ(ReadAll(*port, 5, 50), "");

    peer.Hangup();
    char byte = 0;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(port->read(&byte, 1, 5000), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_FALSE(port->write("x", 1));
}

TEST(NetworkPort, ComPortControlSetsTheLineEscapesDataAndHidesNegotiation) {
    DeviceServerPeer peer;
    auto port = openNetworkPort(*parseNetworkAddress(peer.Address("rfc2217")), "COM14");
    ASSERT_NE(port, nullptr);
    const std::string willComPort = bytes({tn::IAC, tn::WILL, tn::kComPortOption});
    EXPECT_EQ(peer.ReceivedOnceItHas(willComPort).find(willComPort), 0u);
    peer.Send(bytes({tn::IAC, tn::DO, tn::kComPortOption, tn::IAC, tn::DO, 24}));
    ASSERT_TRUE(port->configure(kReaderLine));
    const std::string settings =
        bytes({tn::IAC, tn::SB, 44, 1, 0, 0, 0x25, 0x80, tn::IAC, tn::SE}) +  // 9600 baud
        bytes({tn::IAC, tn::SB, 44, 2, 7, tn::IAC, tn::SE}) +                 // 7 data bits
        bytes({tn::IAC, tn::SB, 44, 3, 3, tn::IAC, tn::SE}) +                 // even parity
        bytes({tn::IAC, tn::SB, 44, 4, 1, tn::IAC, tn::SE});                  // 1 stop bit
    const std::string refusal = bytes({tn::IAC, tn::WONT, 24});  // terminal type: not ours
    EXPECT_NE(peer.ReceivedOnceItHas(settings).find(settings), std::string::npos);
    EXPECT_NE(peer.ReceivedOnceItHas(refusal).find(refusal), std::string::npos);

    ASSERT_TRUE(
        port->write("A\xff"
                    "B",
                    3));
    const std::string escaped = "A" + bytes({0xff, 0xff}) + "B";
    EXPECT_NE(peer.ReceivedOnceItHas(escaped).find(escaped), std::string::npos);

    peer.Send("P0" + bytes({tn::IAC, tn::SB, 44, 101, 0, 0, 0x25, 0x80, tn::IAC, tn::SE}) + "01" +
              bytes({tn::IAC, tn::IAC}) + "\r");
    EXPECT_EQ(ReadAll(*port, 6), "P001\xff\r");
}

TEST(NetworkPort, PortFolderEntryNamesTheDeviceServerAndABadEntryFailsTheOpen) {
    DeviceServerPeer peer;
    TempDir folder;
    ScopedEnv portDir("KRB_PORT_DIR", folder.path().string());
    struct Case {
        const char* entry;
        bool opens;
    };
    const Case cases[] = {
        {"", true},                      // filled in with the peer's address below
        {"tcp://127.0.0.1:1\n", false},  // nothing listens there
        {"serial-box:4001\n", false},
        {"\n", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string text = i == 0 ? "  " + peer.Address("tcp") + " \n" : cases[i].entry;
        const std::string name = "COM" + std::to_string(i + 1);
        std::ofstream(folder.file(name)) << text;
        const auto started = std::chrono::steady_clock::now();
        auto port = openSerialPort(name);
        EXPECT_EQ(port != nullptr, cases[i].opens) << text;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4)) << text;
    }
}

}  // namespace
}  // namespace krb::platform
