#pragma once
// A server on a loopback port chosen at run time, a lab of emulated units for it and a plain
// TCP client.
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "UnitMain.h"
#include "sim/controller_emulator.h"
#include "sim/port_directory.h"

namespace krb::server::frontend_testing {

// A configuration tree in a temporary folder: DriverConfig.lni (port 0: the system picks
// one), System1 with one unit file per emulated unit ("U1", "U2" ...).
class EmulatedLab {
  public:
    explicit EmulatedLab(int units = 1, bool withLog = true);
    ~EmulatedLab();

    const std::string& ConfigPath() const { return configPath_; }
    std::string LogPath() const { return (root_ / "server.log").string(); }
    std::filesystem::path Root() const { return root_; }
    sim::ControllerEmulator& Controller(int index = 0) { return *controllers_.at(index); }
    int ComPort(int index = 0) const { return comPorts_.at(index); }
    // Relays that make the controller's initialisation succeed at once.
    void MakeReady(int index = 0);
    std::string WriteFile(const std::string& relative, const std::string& content) const;

  private:
    std::filesystem::path root_;
    std::string configPath_;
    sim::PortDirectory ports_;
    std::vector<int> comPorts_;
    std::vector<std::unique_ptr<sim::ControllerEmulator>> controllers_;
};

// ServerCore with its event loop on a thread of its own.
class RunningServer {
  public:
    RunningServer();
    ~RunningServer();
    ServerCore& Core() { return core_; }
    // Loads the configuration and starts listening, as "KRBServer <path> start" does.
    void Start(const std::string& configPath);
    int Port();

  private:
    ServerCore core_;
    std::thread loop_;
    bool quit_ = false;
};

// A blocking loopback client. Reads give up after a generous guard so that a missing reply
// fails the test instead of hanging it.
class TestClient {
  public:
    explicit TestClient(int port);
    ~TestClient();
    void Send(const std::string& text);
    std::string ReadLine();   // up to and including CR LF; "" when the server closed
    std::string ReadToEnd();  // everything until the server closes
    bool ClosedByServer();    // true when the next read sees the end of the stream
    void Close();
    int LocalPort() const { return localPort_; }

  private:
    int fd_ = -1;
    int localPort_ = -1;
    std::string pending_;
};

// Lines of the log, waiting until `count` lines exist (or the guard ran out).
std::vector<std::string> WaitForLogLines(const std::string& path, std::size_t count);
std::vector<std::string> ReadLines(const std::string& path);
// Event field of a log line (between the first and the second ";").
std::string EventOf(const std::string& line);
void Pause();  // lets the server take one text before the next is sent

}  // namespace krb::server::frontend_testing
