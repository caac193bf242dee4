#pragma once
// A simulated unit "on the network": a TCP port that relays bytes to and from the unit's
// pseudo-terminal, as a serial device server does, raw or with telnet COM-port control.
#include <atomic>
#include <string>
#include <thread>

namespace krb::sim {

enum class BridgeMode { Raw, Rfc2217 };

class NetworkBridge {
  public:
    // Listens on 127.0.0.1:port (0 picks a free port). Throws std::runtime_error.
    NetworkBridge(std::string devicePath, int port, BridgeMode mode);
    ~NetworkBridge();
    NetworkBridge(const NetworkBridge&) = delete;
    NetworkBridge& operator=(const NetworkBridge&) = delete;

    int port() const { return port_; }
    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT".
    std::string address() const;

  private:
    void serve();
    void relay(int client);

    std::string devicePath_;
    BridgeMode mode_;
    int listener_ = -1;
    int wakeup_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace krb::sim
