#pragma once
// Plain loopback TCP for tests and benchmarks.
#include <string>
#include <string_view>

namespace krb::test_support {

struct LoopbackOptions {
    bool noDelay = false;   // Nagle's delay off
    int receiveBuffer = 0;  // SO_RCVBUF before connecting; 0 leaves the system's size
};

// A socket connected to `port` on the loopback interface, or -1.
int ConnectLoopback(int port, LoopbackOptions options = {});
// A loopback port that was free a moment ago (for a child process to listen on).
int FreeLoopbackPort();
// Sends every byte; false when the connection failed.
bool SendAll(int fd, std::string_view text);

// A blocking client. Reads give up after a generous guard so that a missing reply fails
// the test instead of hanging it.
class TestClient {
  public:
    explicit TestClient(int port, LoopbackOptions options = {});  // throws when refused
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    void Send(const std::string& text);
    std::string ReadLine();   // up to and including CR LF; "" when the server closed
    std::string ReadToEnd();  // everything until the server closes
    bool ClosedByServer();    // true when the next read sees the end of the stream
    void Close();
    int LocalPort() const { return localPort_; }

  private:
    // One read into pending_, waiting up to the guard.
    enum class Read { TimedOut, Data, Closed };
    Read ReadSome();

    int fd_ = -1;
    int localPort_ = -1;
    std::string pending_;
};

}  // namespace krb::test_support
