#pragma once
// The lab's control interface on a UNIX socket: LF-terminated lines in, the control
// protocol's reply lines out (each LF-terminated). Any number of clients; one thread.
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace krb::sim {

class ControlServer {
  public:
    using Handler = std::function<std::vector<std::string>(const std::string& line)>;

    // Replaces a stale socket file at `path`; throws std::runtime_error on failure.
    ControlServer(std::string path, Handler handler);
    ~ControlServer();  // stops, closes every client, removes the socket file
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    const std::string& path() const { return path_; }

  private:
    struct Client {
        int fd;
        std::string pending;
    };
    void serve();
    bool readFrom(Client& client);  // false: the client is gone
    void answer(Client& client, const std::string& line);

    std::string path_;
    Handler handler_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::vector<Client> clients_;
    std::thread thread_;
};

}  // namespace krb::sim
